#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <fstream>
#include <sstream>

#include "app/report_log.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ReportLog, ConsecutiveDuplicatesCollapseAndSurviveAClear) {
    ReportLog log;
    for (const char* line : {"A", "A", "B", "A"}) log.LogLine(line);
    EXPECT_EQ(log.Lines(), (Lines{"A", "B", "A"}));

    log.Clear();
    log.LogLine("A");
    EXPECT_TRUE(log.Lines().empty());
    log.LogLine("a");  // case matters
    EXPECT_EQ(log.Lines(), (Lines{"a"}));
}

TEST(ReportLog, ErrorLinesHaveTheirExactShape) {
    ReportLog log;
    log.LogError("Reading of Device Information");
    log.LogErrorCode("Connection failed", -3);
    EXPECT_EQ(log.Lines(), (Lines{"# ERROR: \"Reading of Device Information\"", "ERROR=[-3]-\"Connection failed\""}));
}

TEST(ReportLog, MarksTheSoftLimitOnceAndKeepsGoing) {
    ReportLog log;
    std::vector<std::string> seen;
    log.SetObserver([&](const std::string& line) { seen.push_back(line); });
    for (int i = 0; i < 10000; ++i) log.LogLine(std::to_string(i));
    log.LogLine("X");
    ASSERT_EQ(log.Lines().size(), 10002u);
    EXPECT_EQ(log.Lines()[10000], "!!!! LOG FULL !!!");
    EXPECT_EQ(log.Lines()[10001], "X");
    log.LogLine("Y");
    EXPECT_EQ(log.Lines().size(), 10003u);
    EXPECT_EQ(log.Lines().back(), "Y");
    EXPECT_EQ(seen, log.Lines());
    // The marker is not remembered as the last line.
    EXPECT_EQ(log.LastLoggedLine(), "Y");
}

TEST(ReportLog, MarkerComesEvenWhenTheLineIsARepeat) {
    ReportLog log;
    for (int i = 0; i < 9999; ++i) log.LogLine(std::to_string(i));
    log.LogLine("same");
    log.LogLine("same");
    EXPECT_EQ(log.Lines().size(), 10001u);
    EXPECT_EQ(log.Lines().back(), "!!!! LOG FULL !!!");
}

TEST(ReportLog, FileHasOneLineFeedAfterEveryLine) {
    test::TempFolder folder;
    ReportLog log;
    ASSERT_TRUE(log.WriteFile(folder.File("log.txt")));
    EXPECT_EQ(ReadAll(folder.File("log.txt")), "");

    log.LogLine("Open COM 7 : OK");
    log.LogLine("Прибор");
    ASSERT_TRUE(log.WriteFile(folder.File("log.txt")));  // replaces the empty one
    EXPECT_EQ(ReadAll(folder.File("log.txt")), "Open COM 7 : OK\nПрибор\n");

    EXPECT_FALSE(log.WriteFile(folder.File("missing/log.txt")));

    // Through a link to the file it names; a pipe is refused without being opened.
    std::filesystem::create_symlink("log.txt", folder.File("link.txt"));
    log.LogLine("third");
    ASSERT_TRUE(log.WriteFile(folder.File("link.txt")));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.txt")));
    EXPECT_EQ(ReadAll(folder.File("log.txt")), "Open COM 7 : OK\nПрибор\nthird\n");
    ASSERT_EQ(::mkfifo(folder.File("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(log.WriteFile(folder.File("pipe")));
    EXPECT_TRUE(std::filesystem::is_fifo(folder.File("pipe")));
}

}  // namespace
}  // namespace kalvo
