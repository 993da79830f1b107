#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "history/history_csv.h"
#include "history/record_source.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using test::Rec;

constexpr auto kEnglish = InterfaceLanguage::English;
constexpr auto kRussian = InterfaceLanguage::Russian;
const std::string kHeader =
    "TIME_IN_SECOND_FROM_2000;DATE;TIME;TIME_LENGTH_SECOND;NUMBER_OF_PULSES;SENSOR_COUNT;CALIBRATION_x100;MUL_VALUE;"
    "DIV_VALUE;RESULT_FORMULE\r\n";

DoseConversion R630() { return DoseConversionOf(kBoardCodeR630, 0, 100); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
    return lines;
}

TEST(HistoryCsvLine, TheDocumentedExampleRow) {
    EXPECT_EQ(HistoryCsvLine(2, 283900000, 60, 42, R630()),
              "283900000;29.12.2008;21:06:40;60;42;2;100;36;86;=E2*G2*H2/(D2*F2*I2)");
    EXPECT_EQ(HistoryCsvLine(17, 283900000, 60, 42, DoseConversionOf(520, 1, 127)),
              "283900000;29.12.2008;21:06:40;60;42;1;127;36;68;=E17*G17*H17/(D17*F17*I17)");
    EXPECT_EQ(HistoryCsvLine(3, 0, 10, 0, DoseConversionOf(520, 2, 100)),
              "0;01.01.2000;00:00:00;10;0;1;100;36;76;=E3*G3*H3/(D3*F3*I3)");
}

TEST(HistoryCsvLine, LengthZeroGivesZero) {
    EXPECT_EQ(HistoryCsvLine(5, 283900000, 0, 42, R630()), "283900000;29.12.2008;21:06:40;0;42;2;100;36;86;0");
}

TEST(HistoryCsvLine, LargeValuesAreWrittenAsTheyAre) {
    EXPECT_EQ(HistoryCsvLine(2, 0x80000000, 65535, 0xFFFFFFFF, R630()),
              "2147483648;19.01.2068;03:14:08;65535;4294967295;2;100;36;86;=E2*G2*H2/(D2*F2*I2)");
}

TEST(HistoryCsvLine, OtherFamiliesWriteOneSensorAndKeepEveryColumn) {
    std::string line = HistoryCsvLine(2, 1, 1, 1, DoseConversionOf(415, 0, 100));
    EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 9);
    EXPECT_EQ(line, "1;01.01.2000;00:00:01;1;1;1;100;36;76;=E2*G2*H2/(D2*F2*I2)");
}

TEST(HistoryCsv, ResetLeavesTheHeaderOnly) {
    HistoryCsv csv;
    EXPECT_EQ(csv.UsedLength(), 0u);
    csv.Reset();
    EXPECT_EQ(csv.Text(), kHeader);
    EXPECT_EQ(csv.Row(), 1u);
    ASSERT_TRUE(csv.AddRecord(1, 1, 1, R630()));
    EXPECT_EQ(csv.Row(), 2u);
    csv.Reset();
    EXPECT_EQ(csv.Text(), kHeader);
    EXPECT_EQ(csv.Row(), 1u);
}

TEST(HistoryCsv, PagesAreHandedOverNewestFirstWithTheirOwnRowNumbers) {
    HistoryImage image;
    // Page 3: slots 0..255 oldest to newest; page 4 holds a few newer ones.
    for (std::uint32_t slot = 0; slot < 256; ++slot)
        image.Store(static_cast<std::uint16_t>(3 * 256 + slot), Rec(1000 + slot, 1, slot).ToBytes());
    image.Store(4 * 256 + 0, Rec(5000, 10, 7).ToBytes());
    image.Store(4 * 256 + 1, Rec(5010, 10, 8, 0, 0xFC).ToBytes());
    image.Store(4 * 256 + 2, Rec(5020, 10, 9, 0, 0xFF).ToBytes());  // status not exported
    image.Store(4 * 256 + 3, Rec(5030, 10, 9, 1, 0xFE).ToBytes());  // not committed
    image.Store(4 * 256 + 4, Rec(5040, 0, 9).ToBytes());

    HistoryCsv csv;
    csv.Reset();
    csv.AddPage(image, 4, R630());
    csv.AddPage(image, 3, R630());
    std::vector<std::string> lines = Lines(csv.Text());
    ASSERT_EQ(lines.size(), 1u + 3 + 256);
    EXPECT_EQ(lines[0] + "\r\n", kHeader);
    EXPECT_EQ(lines[1], HistoryCsvLine(2, 5040, 0, 9, R630()));
    EXPECT_EQ(lines[2], HistoryCsvLine(3, 5010, 10, 8, R630()));
    EXPECT_EQ(lines[3], HistoryCsvLine(4, 5000, 10, 7, R630()));
    EXPECT_EQ(lines[4], HistoryCsvLine(5, 1255, 1, 255, R630()));
    // Slot 0 of a page is exported like every other slot.
    EXPECT_EQ(lines.back(), HistoryCsvLine(260, 1000, 1, 0, R630()));
    EXPECT_EQ(csv.Row(), 260u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        if (lines[i].back() == '0') continue;
        ASSERT_NE(lines[i].find("=E" + n + "*G" + n + "*H" + n + "/(D" + n + "*F" + n + "*I" + n + ")"),
                  std::string::npos)
            << lines[i];
    }
    csv.AddPage(image, 256, R630());  // beyond the image: nothing
    EXPECT_EQ(csv.Row(), 260u);
}

TEST(HistoryCsv, AnEmptyRingGivesTheHeaderOnly) {
    HistoryImage image;
    HistoryCsv csv;
    csv.Reset();
    for (std::uint32_t page = 0; page < 255; ++page) csv.AddPage(image, page, R630());
    EXPECT_EQ(csv.Text(), kHeader);
}

TEST(HistoryCsv, StopsShortOf8MiB) {
    HistoryCsv csv;
    csv.Reset();
    std::uint32_t added = 0;
    std::uint32_t start = 0;
    while (csv.AddRecord(start, 60, 123456, R630())) {
        ++added;
        start += 60;
    }
    EXPECT_LT(csv.UsedLength(), kCsvCapacity);
    EXPECT_EQ(csv.DroppedLines(), 1u);
    EXPECT_EQ(csv.Row(), added + 1);
    const std::string next = HistoryCsvLine(csv.Row() + 1, start, 60, 123456, R630());
    EXPECT_GE(csv.UsedLength() + next.size() + 2, kCsvCapacity);

    // A shorter line still fits and names its own row.
    std::size_t before = csv.UsedLength();
    const std::string shorter = HistoryCsvLine(csv.Row() + 1, 1, 0, 1, R630());
    if (before + shorter.size() + 2 < kCsvCapacity) {
        EXPECT_TRUE(csv.AddRecord(1, 0, 1, R630()));
        EXPECT_EQ(csv.Text().substr(before), shorter + "\r\n");
    }
    std::vector<std::string> lines = Lines(csv.Text());
    EXPECT_EQ(lines.size(), csv.Row());
    const std::string& last60 = lines[added];
    const std::string n = std::to_string(added + 1);
    EXPECT_NE(last60.find("=E" + n + "*"), std::string::npos);

    csv.Reset();
    EXPECT_EQ(csv.DroppedLines(), 0u);
    EXPECT_EQ(csv.Text(), kHeader);
}

// The device's ring as ReadEflash gives it: record i (physical) starts at 100 + 10 i.
class RingFlash : public HistoryPairSource {
public:
    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
        const std::uint32_t physical = (address - kHistoryBaseAddress) / kHistoryRecordSize;
        for (std::uint32_t k = 0; k < 2; ++k) {
            const std::uint32_t p = physical + k;
            HistoryRecord record = p < used ? Rec(100 + 10 * p, 10, p) : HistoryRecord{};
            HistoryRecordBytes bytes = record.ToBytes();
            std::copy(bytes.begin(), bytes.end(), buffer + 16 * k);
        }
        return length;
    }
    std::uint32_t used = 0;
};

TEST(HistoryCsv, ADownloadInPlanOrderListsTheNewestRecordFirst) {
    RingFlash flash;
    flash.used = 600;  // pages 0..2, the last one partly written
    HistoryStore store;
    HistoryCsv csv;
    store.BeginDownload();
    csv.Reset();
    store.SetHeader(HistoryHeader::FromParameters(0x10000700, 0x00FF0000 | 600, 599, 0));
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(store.Header());
    ASSERT_TRUE(plan);
    for (std::uint32_t j = 0; j < plan->pageCount; ++j) {
        ASSERT_TRUE(store.ReadPage(plan->PageAt(j), flash));
        csv.AddPage(store.Image(), plan->PageAt(j), R630());
    }
    store.MarkLoaded();

    std::vector<std::string> lines = Lines(csv.Text());
    ASSERT_EQ(lines.size(), 601u);
    for (std::uint32_t row = 2; row <= 601; ++row) {
        const std::uint32_t physical = 601 - row;  // newest first
        EXPECT_EQ(lines[row - 1], HistoryCsvLine(row, 100 + 10 * physical, 10, physical, R630()));
    }
    EXPECT_EQ(store.RecordCount(), 600u);
    EXPECT_EQ(store.RecordAt(599)->startTime, 100u + 10 * 599);
}

// Scripted file system: records the calls, fails where told.
class FakeFiles : public CsvFileAccess {
public:
    FileTarget Inspect(const std::string& path) override {
        calls.push_back("inspect " + path);
        return target;
    }
    bool CanReplace(const std::string& path) override {
        calls.push_back("can-replace " + path);
        return replaceOk;
    }
    bool Create(const std::string& path) override {
        calls.push_back("create " + path);
        return createOk;
    }
    bool Write(std::string_view data) override {
        calls.push_back("write " + std::to_string(data.size()));
        written = std::string(data);
        return writeOk;
    }
    bool Close(bool keep) override {
        calls.push_back(keep ? "close keep" : "close drop");
        return keep && closeOk;
    }

    FileTarget target = FileTarget::Missing;
    bool replaceOk = true;
    bool createOk = true;
    bool writeOk = true;
    bool closeOk = true;
    std::vector<std::string> calls;
    std::string written;
};

struct SaveFixture : ::testing::Test {
    SaveFixture() {
        csv.Reset();
        csv.AddRecord(283900000, 60, 42, R630());
    }
    CsvSaveResult Save(InterfaceLanguage language = kEnglish, bool loaded = true) {
        return saver.Save(loaded, csv, language, [this](const CsvSaveDialog& dialog) -> std::optional<std::string> {
            dialogs.push_back(dialog);
            return chosen;
        });
    }

    test::RecordingUiPort ui;
    FakeFiles files;
    HistoryCsvSaver saver{ui, files};
    HistoryCsv csv;
    std::optional<std::string> chosen = "/home/u/history.csv";
    std::vector<CsvSaveDialog> dialogs;
};

TEST_F(SaveFixture, RefusesBeforeADownload) {
    EXPECT_EQ(Save(kEnglish, false), CsvSaveResult::NotLoaded);
    EXPECT_EQ(Save(kRussian, false), CsvSaveResult::NotLoaded);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"error: First read History from Device",
                                                  "error: Сначала считайте историю"}));
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(files.calls.empty());
}

TEST_F(SaveFixture, DialogOffersTheLastFileName) {
    chosen.reset();
    EXPECT_EQ(Save(), CsvSaveResult::Cancelled);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].fileName, "");
    EXPECT_EQ(dialogs[0].defaultExtension, "csv");
    EXPECT_EQ(dialogs[0].filter, "CSV Files(*.csv)|*.CSV");
    EXPECT_EQ(dialogs[0].title, "CSV History saving");
    EXPECT_TRUE(files.calls.empty());
    EXPECT_TRUE(ui.calls.empty());

    chosen = "/home/u/a.csv";
    EXPECT_EQ(Save(kRussian), CsvSaveResult::Saved);
    EXPECT_EQ(dialogs[1].filter, "Файлы CSV (*.csv)|*.CSV");
    EXPECT_EQ(dialogs[1].title, "Сохранение истории в формате CSV");
    chosen.reset();
    Save();
    EXPECT_EQ(dialogs[2].fileName, "/home/u/a.csv");
}

TEST_F(SaveFixture, NewFileIsCreatedAndWrittenInOneWrite) {
    EXPECT_EQ(Save(), CsvSaveResult::Saved);
    EXPECT_EQ(files.calls, (std::vector<std::string>{"inspect /home/u/history.csv", "create /home/u/history.csv",
                                                     "write " + std::to_string(csv.UsedLength()), "close keep"}));
    EXPECT_EQ(files.written, csv.Text());
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(saver.LastFileName(), "/home/u/history.csv");
}

TEST_F(SaveFixture, ExistingFileIsRewrittenOnlyOnYes) {
    files.target = FileTarget::Regular;
    ui.answers = {false};
    EXPECT_EQ(Save(), CsvSaveResult::NotRewritten);
    EXPECT_EQ(ui.calls,
              std::vector<std::string>{"confirm warning: File\r\n/home/u/history.csv\r\nalready exists\r\nRewrite?"});
    EXPECT_EQ(files.calls, std::vector<std::string>{"inspect /home/u/history.csv"});
    EXPECT_EQ(saver.LastFileName(), "");

    ui.calls.clear();
    files.calls.clear();
    ui.answers = {true};
    EXPECT_EQ(Save(kRussian), CsvSaveResult::Saved);
    EXPECT_EQ(ui.calls, std::vector<std::string>{
                            "confirm warning: Файл\r\n/home/u/history.csv\r\nуже существует\r\nПерезаписать?"});
    EXPECT_EQ(files.calls, (std::vector<std::string>{"inspect /home/u/history.csv", "can-replace /home/u/history.csv",
                                                     "create /home/u/history.csv",
                                                     "write " + std::to_string(csv.UsedLength()), "close keep"}));
}

TEST_F(SaveFixture, NoAccessWhenTheOldFileCannotBeReplaced) {
    files.target = FileTarget::Regular;
    files.replaceOk = false;
    ui.answers = {true, true};
    EXPECT_EQ(Save(), CsvSaveResult::NoAccess);
    EXPECT_EQ(Save(kRussian), CsvSaveResult::NoAccess);
    ASSERT_EQ(ui.calls.size(), 4u);
    EXPECT_EQ(ui.calls[1], "error: Error\n\rnoaccess to file\r\n/home/u/history.csv");
    EXPECT_EQ(ui.calls[3], "error: Ошибка\r\nНет доступа к файлу\r\n/home/u/history.csv");
    EXPECT_EQ(saver.LastFileName(), "");
}

TEST_F(SaveFixture, OpenErrorWhenTheRewrittenFileCannotBeCreated) {
    files.target = FileTarget::Regular;
    files.createOk = false;
    ui.answers = {true, true};
    EXPECT_EQ(Save(), CsvSaveResult::OpenFailed);
    EXPECT_EQ(Save(kRussian), CsvSaveResult::OpenFailed);
    ASSERT_EQ(ui.calls.size(), 4u);
    EXPECT_EQ(ui.calls[1], "error: File open Error\r\n/home/u/history.csv");
    EXPECT_EQ(ui.calls[3], "error: Ошибка открытия файла\r\n/home/u/history.csv");
    EXPECT_EQ(saver.LastFileName(), "");
}

TEST_F(SaveFixture, CreateErrorForANewFile) {
    files.createOk = false;
    EXPECT_EQ(Save(), CsvSaveResult::CreateFailed);
    EXPECT_EQ(Save(kRussian), CsvSaveResult::CreateFailed);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"error: File creating Error\r\n/home/u/history.csv\r\n",
                                                  "error: Ошибка создания файла\r\n/home/u/history.csv\r\n"}));
    EXPECT_EQ(saver.LastFileName(), "");
}

TEST_F(SaveFixture, WriteErrorDropsTheNewTextAndRemembersTheName) {
    files.writeOk = false;
    EXPECT_EQ(Save(), CsvSaveResult::WriteFailed);
    EXPECT_EQ(files.calls.back(), "close drop");
    EXPECT_EQ(ui.calls, std::vector<std::string>{"error: File write Error\r\n/home/u/history.csv"});
    EXPECT_EQ(saver.LastFileName(), "/home/u/history.csv");
    ui.calls.clear();
    EXPECT_EQ(Save(kRussian), CsvSaveResult::WriteFailed);
    EXPECT_EQ(ui.calls, std::vector<std::string>{"error: Ошибка записи файла\r\n/home/u/history.csv"});
}

TEST_F(SaveFixture, AFailedCloseIsAFailedWrite) {
    files.closeOk = false;
    EXPECT_EQ(Save(), CsvSaveResult::WriteFailed);
    EXPECT_EQ(ui.calls, std::vector<std::string>{"error: File write Error\r\n/home/u/history.csv"});
}

TEST_F(SaveFixture, WhatIsNoRegularFileIsRefusedWithoutAQuestion) {
    files.target = FileTarget::NotRegular;
    EXPECT_EQ(Save(), CsvSaveResult::OpenFailed);
    EXPECT_EQ(files.calls, std::vector<std::string>{"inspect /home/u/history.csv"});
    EXPECT_EQ(ui.calls, std::vector<std::string>{"error: File open Error\r\n/home/u/history.csv"});
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LocalCsvFileAccess, SavesRewritesAndReportsFailures) {
    test::TempFolder folder;
    test::RecordingUiPort ui;
    LocalCsvFileAccess files;
    HistoryCsvSaver saver(ui, files);
    HistoryCsv csv;
    csv.Reset();
    csv.AddRecord(283900000, 60, 42, R630());
    const std::string path = folder.File("history.csv");
    auto choose = [](std::string name) {
        return [name](const CsvSaveDialog&) -> std::optional<std::string> { return name; };
    };

    ASSERT_EQ(saver.Save(true, csv, kEnglish, choose(path)), CsvSaveResult::Saved);
    EXPECT_EQ(ReadAll(path), kHeader + "283900000;29.12.2008;21:06:40;60;42;2;100;36;86;=E2*G2*H2/(D2*F2*I2)\r\n");

    csv.Reset();
    ui.answers = {true};
    ASSERT_EQ(saver.Save(true, csv, kEnglish, choose(path)), CsvSaveResult::Saved);
    EXPECT_EQ(ReadAll(path), kHeader);

    // A folder, a pipe or a device of that name is refused and left as it is.
    const std::string folderName = folder.File("sub");
    std::filesystem::create_directory(folderName);
    const std::string fifo = folder.File("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {folderName, fifo, std::string("/dev/null")}) {
        ui.calls.clear();
        EXPECT_EQ(saver.Save(true, csv, kEnglish, choose(name)), CsvSaveResult::OpenFailed) << name;
        EXPECT_EQ(ui.calls, std::vector<std::string>{"error: File open Error\r\n" + name}) << name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folderName));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));

    EXPECT_EQ(saver.Save(true, csv, kEnglish, choose(folder.File("missing/history.csv"))),
              CsvSaveResult::CreateFailed);
    EXPECT_EQ(ui.calls.back(), "error: File creating Error\r\n" + folder.File("missing/history.csv") + "\r\n");
    EXPECT_EQ(saver.LastFileName(), path);
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The old file stays whole until the new text is complete; links are written through.
TEST(LocalCsvFileAccess, ReplacesOnlyWithACompleteFileAndFollowsLinks) {
    test::TempFolder folder;
    test::RecordingUiPort ui;
    LocalCsvFileAccess files;
    HistoryCsvSaver saver(ui, files);
    HistoryCsv csv;
    csv.Reset();
    for (std::uint32_t i = 0; i < 200; ++i) csv.AddRecord(283900000 + 60 * i, 60, i, R630());
    auto choose = [](std::string name) {
        return [name](const CsvSaveDialog&) -> std::optional<std::string> { return name; };
    };
    const std::string real = folder.File("real.csv");
    const std::string link = folder.File("link.csv");
    std::ofstream(real) << "old text";
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    std::filesystem::create_symlink("real.csv", link);

    // Through the link: the link stays, the file it names gets the text and keeps its mode.
    ui.answers = {true};
    ASSERT_EQ(saver.Save(true, csv, kEnglish, choose(link)), CsvSaveResult::Saved);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadAll(real), csv.Text());
    EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640));
    // A link to a file not there yet creates that file.
    const std::string dangling = folder.File("dangling.csv");
    std::filesystem::create_symlink("made.csv", dangling);
    ASSERT_EQ(saver.Save(true, csv, kEnglish, choose(dangling)), CsvSaveResult::Saved);
    EXPECT_EQ(ReadAll(folder.File("made.csv")), csv.Text());
    EXPECT_EQ(FolderNames(folder.Path()), (std::vector<std::string>{"dangling.csv", "link.csv", "made.csv", "real.csv"}));

    // A write cut short by the file size limit: the old file stays whole, nothing else is left.
    std::ofstream(real, std::ios::trunc) << "old text";
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        test::RecordingUiPort childUi;
        childUi.answers = {true};
        LocalCsvFileAccess childFiles;
        HistoryCsvSaver childSaver(childUi, childFiles);
        CsvSaveResult result = childSaver.Save(true, csv, kEnglish, choose(real));
        bool told = childUi.calls.size() == 2 && childUi.calls[1] == "error: File write Error\r\n" + real;
        ::_exit(result == CsvSaveResult::WriteFailed && told ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadAll(real), "old text");
    EXPECT_EQ(FolderNames(folder.Path()), (std::vector<std::string>{"dangling.csv", "link.csv", "made.csv", "real.csv"}));

    // A folder that takes no new file: the old one cannot be replaced (root may write anywhere).
    if (::geteuid() != 0) {
        std::filesystem::permissions(folder.Path(), std::filesystem::perms(0500));
        ui.answers = {true};
        EXPECT_EQ(saver.Save(true, csv, kEnglish, choose(real)), CsvSaveResult::NoAccess);
        std::filesystem::permissions(folder.Path(), std::filesystem::perms(0700));
        EXPECT_EQ(ReadAll(real), "old text");
    }
}

}  // namespace
}  // namespace kalvo
