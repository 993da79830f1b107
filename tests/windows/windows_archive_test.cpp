// The history archive on Windows: its folder under %LOCALAPPDATA%, and damaged files set aside
// with their -wal and -shm by moves that never replace a file (no link/unlink there).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/report_log.h"
#include "archive/history_archive.h"
#include "history/record_source.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(WindowsArchiveTest, LivesUnderLocalAppData) {
    test::TempFolder folder;
    const std::wstring saved = _wgetenv(L"LOCALAPPDATA") ? _wgetenv(L"LOCALAPPDATA") : L"";
    ASSERT_EQ(_wputenv_s(L"LOCALAPPDATA", fs::path(folder.Path()).wstring().c_str()), 0);
    EXPECT_EQ(DefaultArchivePath(), folder.Path() + "\\kalvo\\history.sqlite");
    ASSERT_EQ(_wputenv_s(L"LOCALAPPDATA", L""), 0);
    EXPECT_EQ(DefaultArchivePath(), "");
    _wputenv_s(L"LOCALAPPDATA", saved.c_str());
}

TEST(WindowsArchiveTest, DamagedFilesAreSetAsideWithTheirWalUnderFreeNames) {
    test::TempFolder folder;
    const std::string path = folder.Path() + "\\kalvo\\history.sqlite";
    test::RecordingUiPort ui;
    ReportLog log;
    std::vector<std::string> setAside;
    // Twice within a second or so: the second must not take the first one's name.
    for (const char* damaged : {"not an archive at all", "TIME_IN_SECOND_FROM_2000;DATE\r\n"}) {
        SCOPED_TRACE(damaged);
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, damaged);
        WriteFile(path + "-wal", "its last transactions");
        WriteFile(path + "-shm", "");
        std::string error;
        auto archive = HistoryArchive::Open(path, {&ui, &log, InterfaceLanguage::English}, &error);
        ASSERT_TRUE(archive) << error;
        const std::string aside = archive->SetAsideName();
        EXPECT_EQ(aside.rfind(path + ".damaged-", 0), 0u) << aside;
        EXPECT_EQ(ReadFile(aside), damaged);
        EXPECT_EQ(ReadFile(aside + "-wal"), "its last transactions");
        EXPECT_TRUE(fs::exists(aside + "-shm"));
        for (const std::string& earlier : setAside) EXPECT_NE(earlier, aside);
        setAside.push_back(aside);

        // The new archive works and is the one kept at the path.
        ArchiveDownload download;
        download.serial = "123-45678";
        download.boardCode = kBoardCodeR630;
        download.identityText = "Orbelan RKD-630.41.0";
        download.conversion = DoseConversionOf(kBoardCodeR630, 0, 127);
        download.records = {test::Rec(880000000, 60, 5), test::Rec(880000060, 60, 7)};
        download.deviceTime = 880000200;
        ASSERT_TRUE(archive->Merge(download));
        ASSERT_EQ(archive->Devices().size(), 1u);
        archive.reset();
        fs::remove(path + "-wal");
        fs::remove(path + "-shm");
        fs::remove(path);
    }
    EXPECT_EQ(ui.calls.size(), 2u);
}

}  // namespace
}  // namespace kalvo
