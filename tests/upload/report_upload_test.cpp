// The report upload against a real FTP server on 127.0.0.1 (pyftpdlib): where the report goes,
// what the server is told, and what a failure leaves in the report log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/report_log.h"
#include "app/session.h"
#include "support/ftp_server.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"
#include "upload/report_upload.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// INF_1 holds the serial as BCD, low nibble first: 12345678 -> 21 43 65 87.
DeviceIdentity WithSerial(std::uint32_t digits) {
    DeviceIdentity identity;
    identity.identified = true;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t high = (digits >> (28 - 8 * i)) & 0x0F;
        std::uint8_t low = (digits >> (24 - 8 * i)) & 0x0F;
        identity.inf1[static_cast<std::size_t>(9 + i)] = static_cast<std::uint8_t>(high | (low << 4));
    }
    return identity;
}

const std::string kNoConnection = "ERROR=[0]-\"Ошибка: Нет соединения с сервером обновлений\"";
const std::string kNoFolder = "ERROR=[0]-\"Ошибка FTP: не создан каталог\"";

TEST(ServerLogPath, FilesByTheSerialNumber) {
    struct Case {
        DeviceIdentity identity;
        std::string path;
    } cases[] = {
        {WithSerial(0x12345678), "log5\\1_23\\45xxx\\6xx\\"},
        {WithSerial(0x98765432), "log5\\9_87\\65xxx\\4xx\\"},
        {DeviceIdentity{}, "log5\\__no_number\\"},
        {WithSerial(0xFFFFFFFF), "log5\\__no_number\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(ServerLogPath("log5", c.identity), c.path);
    EXPECT_EQ(FormatSerialForFolder(WithSerial(0x12345678).inf1), "1-23-45678");
}

class UploadTest : public ::testing::Test {
protected:
    UpdateServer Server(int port) const {
        UpdateServer server;
        server.host = "127.0.0.1";
        server.port = port;
        // Short, so the failing cases stay quick; the defaults are measured in bench/.
        server.timeouts = {1000, 1000, 10000};
        return server;
    }

    // One shutdown's upload; returns its result and leaves the lines it added in `added`.
    bool Upload(std::optional<UpdateServer> server, const DeviceIdentity& identity) {
        std::size_t before = log.Lines().size();
        ui.calls.clear();
        ReportUpload upload(log, log.Lines(), ui, identity, ReportFilePath(temp.Path()), std::move(server));
        bool ok = upload.UploadReport("", kServerLogBase, kServerReportName);
        added.assign(log.Lines().begin() + static_cast<std::ptrdiff_t>(before), log.Lines().end());
        return ok;
    }

    std::string LocalReport() const { return test::ReadFile(temp.File("log.txt")); }

    Lines Statuses() const {
        Lines shown;
        for (const std::string& call : ui.calls)
            if (call.rfind("status", 0) == 0 || call.rfind("wait", 0) == 0) shown.push_back(call);
        return shown;
    }

    test::TempFolder temp;
    test::RecordingUiPort ui;
    ReportLog log;
    Lines added;
};

TEST_F(UploadTest, StoresUnderTheSerialFoldersAndAppendsOnTheNextRun) {
    struct Case {
        DeviceIdentity identity;
        Lines existing;
        std::string file;
        Lines made;
    } cases[] = {
        {WithSerial(0x12345678), {}, "log5/1_23/45xxx/6xx/rep.txt",
         {"MKD log5", "MKD 1_23", "MKD 45xxx", "MKD 6xx"}},
        {WithSerial(0x12345678), {"log5/1_23"}, "log5/1_23/45xxx/6xx/rep.txt", {"MKD 45xxx", "MKD 6xx"}},
        {DeviceIdentity{}, {"log5"}, "log5/__no_number/rep.txt", {"MKD __no_number"}},
        {WithSerial(0xFFFFFFFF), {}, "log5/__no_number/rep.txt", {"MKD log5", "MKD __no_number"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        test::FtpServer ftp;
        for (const std::string& folder : c.existing) fs::create_directories(ftp.Root() + "/" + folder);
        log.LogLine("# START: first run");
        log.LogLine("Первая строка");

        ASSERT_TRUE(Upload(Server(ftp.Port()), c.identity));
        EXPECT_TRUE(added.empty()) << added.front();
        std::string first = LocalReport();
        EXPECT_EQ(first.back(), '\n');
        EXPECT_EQ(test::ReadFile(ftp.Root() + "/" + c.file), first);
        EXPECT_EQ(ftp.Commands({"MKD"}), c.made);
        EXPECT_EQ(Statuses(), (Lines{"status 0: Добавление на сервер", "status 0: "}));
        EXPECT_EQ(ui.calls.back(), "status 0: ");
        EXPECT_NE(std::find(ui.calls.begin(), ui.calls.end(), "progress: 100/100"), ui.calls.end());
        EXPECT_GT(ui.pumps.load(), 0);

        // Each level is entered by its own CWD; the server offers no TLS, so plain FTP.
        Lines cwd = ftp.Commands({"CWD"});
        EXPECT_NE(std::find(cwd.begin(), cwd.end(), "CWD " + fs::path(c.file).parent_path().filename().string()),
                  cwd.end());
        EXPECT_EQ(ftp.Commands({"APPE"}), (Lines{"APPE rep.txt"}));
        EXPECT_EQ(ftp.Commands({"USER", "PASS"}), (Lines{"USER kalvo", "PASS ***", "USER kalvo", "PASS ***"}));

        log.LogLine("# START: second run");
        ASSERT_TRUE(Upload(Server(ftp.Port()), c.identity));
        EXPECT_EQ(test::ReadFile(ftp.Root() + "/" + c.file), first + LocalReport());
        EXPECT_EQ(ftp.Commands({"MKD"}), c.made) << "folders that exist are entered without MKD";
        EXPECT_EQ(ftp.Commands({"APPE"}), (Lines{"APPE rep.txt", "APPE rep.txt"}));
        for (const std::string& line : ftp.Log()) EXPECT_EQ(line.rfind("TLS", 0), std::string::npos) << line;
    }
}

TEST_F(UploadTest, FailuresLeaveTheirLinesAndShutdownGoesOn) {
    const std::string refused = "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений [log5\\1_23\\45xxx\\6xx\\rep.txt]\"";
    const Lines oneAttempt{"status 0: Добавление на сервер", "status 0: "};
    const Lines threeAttempts{"status 0: Добавление на сервер",
                              "status 0: ",
                              "wait: 500",
                              "status 0: Добавление на сервер Попытка 2",
                              "status 0: ",
                              "wait: 500",
                              "status 0: Добавление на сервер Попытка 3",
                              "status 0: "};
    struct Case {
        const char* name;
        test::FtpServerOptions options;
        bool down;
        Lines lines;
        Lines statuses;
        std::size_t mkd, appe;
    } cases[] = {
        {"server down", {}, true, {kNoConnection}, {}, 0, 0},
        // The three refusals give the same line, which the log writes once.
        {"APPE refused", {"elrdfmwMT"}, false, {refused}, threeAttempts, 4, 3},
        {"MKD refused", {"elradfwMT"}, false, {kNoFolder}, {}, 1, 0},
        {"silent server", {.silent = true}, false, {kNoConnection}, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<test::FtpServer> ftp;
        if (!c.down) ftp.emplace(c.options);
        log.LogLine(std::string("# before ") + c.name);
        EXPECT_FALSE(Upload(Server(ftp ? ftp->Port() : test::ClosedPort()), WithSerial(0x12345678)));
        EXPECT_EQ(added, c.lines);
        EXPECT_EQ(Statuses(), c.statuses);
        if (ftp && !c.options.silent) {
            EXPECT_EQ(ftp->Commands({"MKD"}).size(), c.mkd);
            EXPECT_EQ(ftp->Commands({"APPE"}).size(), c.appe);
        }
        // The local report is written whatever the server does, and has none of these lines.
        EXPECT_EQ(test::SplitLines(LocalReport()).back(), std::string("# before ") + c.name);
    }
}

TEST_F(UploadTest, TlsWhenOfferedAndNothingInClearWhenTheCertificateDoesNotVerify) {
    test::FtpServer ftp({.tls = true});
    UpdateServer server = Server(ftp.Port());
    server.caFile = ftp.CaFile();
    log.LogLine("secret report");
    ASSERT_TRUE(Upload(server, WithSerial(0x12345678)));
    EXPECT_TRUE(added.empty());
    EXPECT_EQ(test::ReadFile(ftp.Root() + "/log5/1_23/45xxx/6xx/rep.txt"), LocalReport());
    // Only AUTH goes in clear; every command after it, and the data, are encrypted.
    Lines seen = ftp.Log();
    for (const std::string& line : seen) {
        if (line == "CONNECT" || line == "CLEAR AUTH TLS") continue;
        EXPECT_TRUE(line.rfind("TLS ", 0) == 0 || line.rfind("RECEIVED ", 0) == 0) << line;
    }
    EXPECT_NE(std::find(seen.begin(), seen.end(), "TLS PROT P"), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "RECEIVED log5/1_23/45xxx/6xx/rep.txt DATA TLS"), seen.end());

    // The same server checked against the system's store: its certificate does not verify.
    test::FtpServer untrusted({.tls = true});
    EXPECT_FALSE(Upload(Server(untrusted.Port()), WithSerial(0x12345678)));
    EXPECT_EQ(added, (Lines{"# ERROR: \"Update server certificate does not verify\"", kNoConnection}));
    for (const std::string& line : untrusted.Log())
        EXPECT_TRUE(line == "CONNECT" || line == "CLEAR AUTH TLS") << line;
    EXPECT_FALSE(fs::exists(untrusted.Root() + "/log5"));

    // A server that takes AUTH TLS but will not protect the data gets no data at all.
    test::FtpServer clearData({.tls = true, .refuse = "PROT"});
    server = Server(clearData.Port());
    server.caFile = clearData.CaFile();
    log.LogLine("third run");  // the same error line again would be written once
    EXPECT_FALSE(Upload(server, WithSerial(0x12345678)));
    EXPECT_EQ(added, (Lines{kNoConnection}));
    for (const std::string& line : clearData.Log()) EXPECT_EQ(line.find("CLEAR USER"), std::string::npos) << line;
    EXPECT_TRUE(clearData.Commands({"APPE", "MKD", "CWD"}).empty());
    EXPECT_FALSE(fs::exists(clearData.Root() + "/log5"));
}

TEST_F(UploadTest, WithoutAServerOnlyTheLocalReportIsWritten) {
    log.LogLine("one");
    log.LogLine("two");
    EXPECT_FALSE(Upload(std::nullopt, WithSerial(0x12345678)));
    EXPECT_TRUE(added.empty());
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(LocalReport(), "one\ntwo\n");

    // No temporary folder (start-up stopped early): nothing written anywhere.
    ReportUpload upload(log, log.Lines(), ui, DeviceIdentity{}, "", std::nullopt);
    EXPECT_FALSE(upload.UploadReport("", kServerLogBase, kServerReportName));
}

}  // namespace
}  // namespace kalvo
