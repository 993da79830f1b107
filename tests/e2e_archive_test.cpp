// kalvo-cli's history archive against kalvo-devsim: two downloads of a ring that advanced and
// wrapped in between, the archive's CSV and bars against the download's, the import of a saved
// CSV, a failed or damaged archive, a healthy archive on a full disk or a read-only file system,
// and bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/sim_fixture.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines Fields(const std::string& line) {
    Lines fields(1);
    for (char c : line) {
        if (c == ';')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// "YYYY-MM-DD hh:mm:ss" of a CSV line's date and time (without its CR).
std::string TimeOfCsvLine(const std::string& line) {
    Lines fields = Fields(line);
    const std::string& date = fields.at(1);  // dd.mm.yyyy
    return date.substr(6, 4) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2) + " " + fields.at(2);
}

class ArchiveCli : public ::testing::Test, public test::SimFixture {
protected:
    std::unique_ptr<test::Process> CliWith(const std::string& dataHome, std::vector<std::string> args) {
        return Cli(std::move(args), dataHome);
    }
    // The lines from the chart's title on (history --chart prints the identification first).
    static Lines Chart(const std::string& out) {
        Lines lines = test::SplitLines(out);
        auto title = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.rfind("Hostory for ", 0) == 0; });
        return Lines(title, lines.end());
    }
    static std::string ArchiveLine(const std::string& logFile) {
        for (const std::string& line : test::SplitLines(test::ReadFile(logFile)))
            if (line.rfind("# ARCHIVE: ", 0) == 0) return line;
        return {};
    }
    // archive list's row of the one device: SERIAL;FAMILY;RECORDS;FIRST;LAST;DOWNLOADS;DEVICE
    Lines ListRow(const std::string& dataHome) {
        auto list = CliWith(dataHome, {"archive", "list"});
        EXPECT_EQ(list->Wait(), 0) << list->Err();
        Lines lines = test::SplitLines(list->Out());
        EXPECT_EQ(lines.at(0), "SERIAL;FAMILY;RECORDS;FIRST;LAST;DOWNLOADS;DEVICE");
        return lines.size() == 2 ? Fields(lines[1]) : Lines{};
    }
    std::string ArchiveCsv(const std::string& dataHome, std::vector<std::string> extra = {}) {
        const std::string file = folder.File("archive.csv");
        std::vector<std::string> args{"archive", "csv", "--serial", "123-45678", file, "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto cli = CliWith(dataHome, args);
        EXPECT_EQ(cli->Wait(), 0) << cli->Err();
        return test::ReadFile(file);
    }
    std::string Data() const { return folder.File("data"); }
};

TEST_F(ArchiveCli, TwoDownloadsOfAnAdvancedRingAreKeptOnceWithWhatTheDeviceOverwrote) {
    auto device = StartSim(4, {"--baud", "0", "--history", "wrapped", "--seed", "3", "--clock", "2026-12-08 10:00:00",
                               "--append-at-exchange-end", "700"});
    const std::string dl1 = folder.File("dl1.csv"), dl2 = folder.File("dl2.csv");
    auto first = Cli({"history", "--port", "4", "--csv", dl1, "--log", folder.File("log1.txt")});
    ASSERT_EQ(first->Wait(), 0) << first->Err();
    Lines row = ListRow(Data());
    ASSERT_EQ(row.size(), 7u);
    const std::string held1 = row[2];
    EXPECT_EQ(row[0], "123-45678");
    EXPECT_EQ(row[1], "R630");
    EXPECT_EQ(row[5], "1");
    EXPECT_EQ(row[6], "Orbelan RKD-630.41.0");
    const std::string line1 = "# ARCHIVE: " + held1 + " new records of 123-45678 (0 updated, 0 unchanged)";
    EXPECT_EQ(ArchiveLine(folder.File("log1.txt")), line1);
    EXPECT_NE(first->Err().find("\n" + line1 + "\n"), std::string::npos) << first->Err();
    const std::string text1 = test::ReadFile(dl1);
    const Lines lines1 = test::SplitLines(text1);
    EXPECT_EQ(row[3], TimeOfCsvLine(lines1.back()));
    // The archive's CSV is the download's, byte for byte.
    EXPECT_EQ(ArchiveCsv(Data()), text1);

    // The device went on writing 700 records and dropped its oldest pages. The day's bars of a
    // time the ring still holds, from this download.
    const std::string at = TimeOfCsvLine(lines1[lines1.size() / 2]);
    auto second = Cli({"history", "--port", "4", "--csv", dl2, "--log", folder.File("log2.txt"), "--chart", "day",
                       "--at", at});
    ASSERT_EQ(second->Wait(), 0) << second->Err();
    const std::string line2 = ArchiveLine(folder.File("log2.txt"));
    const std::string prefix = "# ARCHIVE: 700 new records of 123-45678 (0 updated, ";
    ASSERT_EQ(line2.rfind(prefix, 0), 0u) << line2;
    const unsigned long unchanged = std::stoul(line2.substr(prefix.size()));
    EXPECT_EQ(line2, prefix + std::to_string(unchanged) + " unchanged)");
    EXPECT_LT(unchanged, std::stoul(held1));  // part of the first download is gone from the ring
    row = ListRow(Data());
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(std::stoul(row[2]), std::stoul(held1) + 700);
    EXPECT_EQ(row[3], TimeOfCsvLine(lines1.back()));
    EXPECT_EQ(row[5], "2");

    // The union once: the second download's records, then the first's older ones, which the
    // device has overwritten.
    const std::string text2 = test::ReadFile(dl2);
    const Lines lines2 = test::SplitLines(text2);
    const unsigned long oldest2 = std::stoul(lines2.back());
    const auto older = std::count_if(lines1.begin() + 1, lines1.end(),
                                     [&](const std::string& l) { return std::stoul(l) < oldest2; });
    EXPECT_GT(older, 0);
    EXPECT_EQ(text2.find("\n" + lines1.back()), std::string::npos);
    const Lines all = test::SplitLines(ArchiveCsv(Data()));
    ASSERT_EQ(all.size(), lines2.size() + static_cast<std::size_t>(older));
    EXPECT_EQ(Fields(all.back()).at(0), Fields(lines1.back()).at(0));
    // From the second download's oldest record on, the archive's CSV is that download's.
    EXPECT_EQ(ArchiveCsv(Data(), {"--from", TimeOfCsvLine(lines2.back())}), text2);

    // The bars over the archive are those of the download (every level is compared over the
    // same records in the unit tests).
    const Lines bars = Chart(second->Out());
    ASSERT_EQ(bars.size(), 2u + 24u);
    auto chart = Cli({"archive", "chart", "--serial", "123-45678", "day", "--at", at});
    ASSERT_EQ(chart->Wait(), 0) << chart->Err();
    EXPECT_EQ(test::SplitLines(chart->Out()), bars);
    // Without --at: the period of the newest record.
    auto newest = Cli({"archive", "chart", "--serial", "123-45678", "year"});
    ASSERT_EQ(newest->Wait(), 0) << newest->Err();
    EXPECT_EQ(test::SplitLines(newest->Out()).at(0), "Hostory for Year : 2026");
}

TEST_F(ArchiveCli, ASavedCsvImportsIntoTheSameArchiveAndAFailedArchiveFailsNoDownload) {
    auto device = StartSim(4, {"--baud", "0", "--history", "short", "--seed", "6", "--clock", "2026-12-08 10:00:00"});
    const std::string saved = folder.File("saved.csv");
    // The data folder cannot be made: the download and its CSV still succeed.
    test::WriteFileForTest(folder.File("blocked"), "");
    auto blocked = CliWith(folder.File("blocked"), {"history", "--port", "4", "--csv", saved, "--log",
                                                    folder.File("log.txt")});
    ASSERT_EQ(blocked->Wait(), 0) << blocked->Err();
    const std::string failure = "# ERROR: \"Archive: cannot create the folder of " + folder.File("blocked") +
                                "/kalvo/history.sqlite\"";
    const Lines log = test::SplitLines(test::ReadFile(folder.File("log.txt")));
    EXPECT_NE(std::find(log.begin(), log.end(), failure), log.end());
    EXPECT_NE(blocked->Err().find(failure), std::string::npos);
    const std::string text = test::ReadFile(saved);
    ASSERT_GT(test::SplitLines(text).size(), 50u);

    auto download = Cli({"history", "--port", "4", "--chart", "day"});
    ASSERT_EQ(download->Wait(), 0) << download->Err();
    EXPECT_EQ(ArchiveCsv(Data()), text);

    const std::string other = folder.File("other");
    auto import = CliWith(other, {"archive", "import", saved, "--serial", "123-45678", "--log", folder.File("i.txt")});
    ASSERT_EQ(import->Wait(), 0) << import->Err();
    const std::string exported = std::to_string(test::SplitLines(text).size() - 1);
    EXPECT_EQ(import->Out(), exported + " new, 0 updated, 0 unchanged\n");
    EXPECT_EQ(ArchiveLine(folder.File("i.txt")),
              "# ARCHIVE: " + exported + " new records of 123-45678 (0 updated, 0 unchanged)");
    EXPECT_EQ(ArchiveCsv(other), text);
    Lines row = ListRow(other);
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[1], "R630");
    EXPECT_EQ(row[2], exported);
}

TEST_F(ArchiveCli, RefusesBadInputAndSetsADamagedArchiveAside) {
    const std::string bad = folder.File("bad.csv");
    test::WriteFileForTest(bad, "TIME_IN_SECOND_FROM_2000;DATE;TIME;TIME_LENGTH_SECOND;NUMBER_OF_PULSES;SENSOR_COUNT;"
                                "CALIBRATION_x100;MUL_VALUE;DIV_VALUE;RESULT_FORMULE\r\n"
                                "283900000;29.12.2008;21:06:40;60;42;2;100;36;86;=E2*G2*H2/(D2*F2*I2)\r\n"
                                "283899940;29.12.2008;21:05:40;60;42;2;100;36;86;=E2*G2*H2/(D2*F2*I2)\r\n");
    const std::vector<std::vector<std::string>> usage = {
        {"archive"},
        {"archive", "show"},
        {"archive", "csv", "out.csv"},
        {"archive", "csv", "--serial", "12345678", "out.csv"},
        {"archive", "csv", "--serial", "123-4567a", "out.csv"},
        {"archive", "csv", "--serial", "123-45678"},
        {"archive", "csv", "--serial", "123-45678", "--from", "2026-13-01 00:00:00", "out.csv"},
        {"archive", "csv", "--serial", "123-45678", "--from", "2026-12-02 00:00:00", "--to", "2026-12-01 00:00:00",
         "out.csv"},
        {"archive", "csv", "--serial", "123-45678", "--at", "2026-12-01 00:00:00", "out.csv"},
        {"archive", "chart", "--serial", "123-45678", "week"},
        {"archive", "chart", "--serial", "123-45678"},
        {"archive", "chart", "day"},
        {"archive", "list", "extra"},
        {"archive", "list", "--port", "4"},
        {"archive", "import", "--serial", "123-45678"},
        {"archive", "import", folder.File("missing.csv"), "--serial", "123-45678"},
        {"archive", "import", bad, "--serial", "123-45678"},
    };
    for (const auto& args : usage) {
        auto cli = Cli(args);
        EXPECT_EQ(cli->Wait(), 2) << args.back() << "\n" << cli->Err();
        EXPECT_EQ(cli->Err().rfind("kalvo-cli: ", 0), 0u) << cli->Err();
    }
    auto refused = Cli({"archive", "import", bad, "--serial", "123-45678"});
    EXPECT_EQ(refused->Err(), "kalvo-cli: archive import: " + bad +
                                  ":3: the line is not as the program writes it (date, time, constant or formula); "
                                  "nothing imported\n");
    EXPECT_TRUE(ListRow(Data()).empty());
    auto unknown = Cli({"archive", "chart", "--serial", "123-45678", "day"});
    EXPECT_EQ(unknown->Wait(), 1);
    EXPECT_EQ(unknown->Err(), "kalvo-cli: no device 123-45678 in the archive " + Data() + "/kalvo/history.sqlite\n");

    // A damaged file: moved aside with the message, a new archive in its place.
    const std::string path = Data() + "/kalvo/history.sqlite";
    test::WriteFileForTest(path, "not an archive at all");
    auto list = Cli({"archive", "list", "--log", folder.File("log.txt")});
    ASSERT_EQ(list->Wait(), 0) << list->Err();
    std::string aside;
    for (const auto& entry : fs::directory_iterator(Data() + "/kalvo"))
        if (entry.path().filename().string().rfind("history.sqlite.damaged-", 0) == 0) aside = entry.path();
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(test::ReadFile(aside), "not an archive at all");
    EXPECT_EQ(list->Err(), "warning: The history archive is damaged;\r\nthe file was moved to\r\n" + aside +
                               "\r\nA new archive was started\n");
    EXPECT_EQ(test::SplitLines(test::ReadFile(folder.File("log.txt"))).at(0),
              "# ARCHIVE: damaged file moved to " + aside + ", new archive started");
    EXPECT_TRUE(ListRow(Data()).empty());
}

// Runs `body` in a child with a user and mount namespace of its own, so that it may mount a
// small tmpfs or make a folder read-only without privileges; the mounts go with the child. The
// body's result is the exit status; 77 when the system allows no such namespace.
int InPrivateMounts(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(77);
        auto write = [](const char* file, const std::string& text) {
            std::ofstream out(file);
            out << text;
            return static_cast<bool>(out.flush());
        };
        if (!write("/proc/self/setgroups", "deny") || !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A full disk or a read-only file system is not a damaged archive: archive list fails with what
// is wrong, and the file stays as it was, under its name, with every record.
TEST_F(ArchiveCli, AHealthyArchiveIsLeftAsItWasOnAFullDiskAndAReadOnlyFileSystem) {
    {
        auto device = StartSim(4, {"--baud", "0", "--seed", "5"});
        auto download = Cli({"history", "--port", "4", "--csv", folder.File("dl.csv")});
        ASSERT_EQ(download->Wait(), 0) << download->Err();
    }
    const Lines row = ListRow(Data());
    ASSERT_EQ(row.size(), 7u);
    const std::string archive = Data() + "/kalvo/history.sqlite";
    const std::string healthy = test::ReadFile(archive);
    ASSERT_FALSE(healthy.empty());

    struct Case {
        std::string name;
        std::string dataHome;  // XDG_DATA_HOME of the run
        std::string expectedErr;
    };
    const std::string full = folder.File("full");
    const std::vector<Case> cases = {
        {"full", full,
         "kalvo-cli: archive: The disk of the history archive is full: " + full +
             "/kalvo/history.sqlite; the file was left as it was (disk I/O error)\n"},
        {"read-only", Data(),
         "kalvo-cli: archive: The history archive is read-only: " + archive +
             "; the file was left as it was (unable to open database file)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = folder.File(c.name + ".out"), err = folder.File(c.name + ".err");
        const std::string names = folder.File(c.name + ".names"), bytes = folder.File(c.name + ".bytes");
        const int status = InPrivateMounts([&] {
            const std::string kalvo = c.dataHome + "/kalvo";
            if (c.name == "full") {
                // A disk that holds the archive and little more, then nothing more.
                fs::create_directories(kalvo);
                const std::string size = "size=" + std::to_string(healthy.size() / 1024 + 64) + "k";
                if (::mount("tmpfs", kalvo.c_str(), "tmpfs", 0, (size + ",nr_inodes=64").c_str()) != 0) return 77;
                fs::copy_file(archive, kalvo + "/history.sqlite");
                const int filler = ::open((kalvo + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
                const std::string block(4096, 'x');
                while (::write(filler, block.data(), block.size()) > 0) {
                }
                ::close(filler);
            } else if (::mount(kalvo.c_str(), kalvo.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                       ::mount(nullptr, kalvo.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
                return 77;
            }
            test::Environment env = Env();
            env["XDG_DATA_HOME"] = c.dataHome;
            test::Process cli({KALVO_CLI_PATH, "archive", "list"}, env);
            const int exit = cli.Wait();
            test::WriteFileForTest(out, cli.Out());
            test::WriteFileForTest(err, cli.Err());
            std::string listed;
            for (const std::string& name : Names(kalvo)) {
                listed += name;
                if (name.ends_with("-wal")) listed += " " + std::to_string(fs::file_size(kalvo + "/" + name));
                listed += "\n";
            }
            test::WriteFileForTest(names, listed);
            test::WriteFileForTest(bytes, test::ReadFile(kalvo + "/history.sqlite"));
            return exit;
        });
        if (status == 77) GTEST_SKIP() << "no user and mount namespace here";
        EXPECT_EQ(status, 1);
        EXPECT_EQ(test::ReadFile(out), "");
        EXPECT_EQ(test::ReadFile(err), c.expectedErr);
        // On the full disk SQLite's open made an empty WAL and its index, and cannot remove them;
        // nothing else may, as another program could be opening the file at the same moment. The
        // lock file of the archive's connections stays for good.
        EXPECT_EQ(test::ReadFile(names),
                  c.name == "full" ? "filler\nhistory.sqlite\nhistory.sqlite-shm\nhistory.sqlite-wal 0\nhistory.sqlite.lock\n"
                                   : "history.sqlite\nhistory.sqlite.lock\n");
        EXPECT_TRUE(test::ReadFile(bytes) == healthy);
    }
    // And the same file, where it can be written, lists as before.
    EXPECT_EQ(ListRow(Data()), row);
    EXPECT_EQ(Names(Data() + "/kalvo"), (Lines{"history.sqlite", "history.sqlite.lock"}));
}

}  // namespace
}  // namespace kalvo
