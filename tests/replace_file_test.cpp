// Replacing a user's file through a temporary file beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/replace_file.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Replace(const std::string& path, const std::string& text, std::string& error) {
    return ReplaceFile(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, error);
}

TEST(ReplaceFile, WritesNewAndOldFilesWholeKeepsModesAndFollowsLinks) {
    namespace fs = std::filesystem;
    test::TempFolder folder;
    std::string error;
    const std::string file = folder.File("a.bin");
    ASSERT_TRUE(Replace(file, "first", error)) << error;
    EXPECT_EQ(Read(file), "first");

    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(Replace(file, "second, longer", error)) << error;
    EXPECT_EQ(Read(file), "second, longer");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // A link stays a link; its target gets the bytes.
    const std::string link = folder.File("link.bin");
    fs::create_symlink(file, link);
    ASSERT_TRUE(Replace(link, "through the link", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(file), "through the link");

    EXPECT_FALSE(Replace(folder.File(""), "x", error));  // a folder
    EXPECT_EQ(error, "not a regular file");
    EXPECT_FALSE(Replace(folder.File("missing/a.bin"), "x", error));

    // Nothing left beside the files.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.File(""))) entries += entry.path().filename() != "" ? 1 : 0;
    EXPECT_EQ(entries, 2);
}

}  // namespace
}  // namespace kalvo
