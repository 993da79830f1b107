// kalvo-cli --upload against kalvo-devsim and a real FTP server: the run's report log ends up in
// the device's folder on the server, a second run appends to it, without a configured server
// nothing is sent at all, and a report that was not sent is kept where stderr says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/ftp_server.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;

class UploadE2eTest : public ::testing::Test {
protected:
    UploadE2eTest() {
        fs::create_directories(sim.folder.File("config/kalvo"));
        fs::create_directories(Temp());
    }
    // The runs' temporary folder (TMPDIR), so that what is left there can be seen.
    std::string Temp() const { return sim.folder.File("tmp"); }
    std::vector<std::string> LeftInTemp() const {
        std::vector<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(Temp())) left.push_back(entry.path().string());
        std::sort(left.begin(), left.end());
        return left;
    }

    // kalvo-cli with the private ports folder, config home and, when given, the server address.
    std::unique_ptr<test::Process> Cli(std::vector<std::string> args, const std::string& server) {
        args.insert(args.begin(), KALVO_CLI_PATH);
        test::Environment env = sim.Env();
        env["XDG_CONFIG_HOME"] = sim.folder.File("config");
        env["KALVO_UPDATE_SERVER"] = server;  // empty counts as unset
        env["KALVO_UPDATE_SERVER_CA"] = "";
        env["TMPDIR"] = Temp();
        auto cli = std::make_unique<test::Process>(args, env);
        cli->Wait();
        return cli;
    }

    test::SimFixture sim;
};

TEST_F(UploadE2eTest, TheRunsReportIsFiledByTheDevicesSerialAndAppended) {
    test::FtpServer ftp;
    auto device = sim.StartSim(7);
    const std::string log1 = sim.folder.File("run1.txt");
    auto first = Cli({"identify", "--port", "7", "--upload", "--log", log1}, ftp.Url());
    ASSERT_EQ(first->Wait(), 0) << first->Err();
    const std::string report = ftp.Root() + "/log5/1_23/45xxx/6xx/rep.txt";
    std::string sent = test::ReadFile(report);
    // Sent with success, so the log has no line of its own about the upload.
    EXPECT_EQ(sent, test::ReadFile(log1));
    EXPECT_NE(sent.find("# S/N   : 123-45678\n"), std::string::npos);

    // The second run finds the server in kalvo.conf.
    test::WriteFileForTest(sim.folder.File("config/kalvo/kalvo.conf"), "update_server = " + ftp.Url() + "\n");
    const std::string log2 = sim.folder.File("run2.txt");
    auto second = Cli({"identify", "--port", "7", "--upload", "--log", log2}, "");
    ASSERT_EQ(second->Wait(), 0) << second->Err();
    EXPECT_EQ(test::ReadFile(report), sent + test::ReadFile(log2));
    EXPECT_EQ(ftp.Commands({"MKD"}), (std::vector<std::string>{"MKD log5", "MKD 1_23", "MKD 45xxx", "MKD 6xx"}));
}

TEST_F(UploadE2eTest, FailuresAndNoServer) {
    // A server that refuses APPE: the exit status says so, and the log file has the line.
    test::FtpServer refusing({.perm = "elrdfmwMT"});
    const std::string log1 = sim.folder.File("run1.txt");
    auto refused = Cli({"ports", "--upload", "--log", log1}, refusing.Url());
    EXPECT_EQ(refused->Wait(), 1);
    EXPECT_NE(refused->Err().find("The report did not reach the update server"), std::string::npos);
    EXPECT_EQ(test::SplitLines(test::ReadFile(log1)).back(),
              "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений [log5\\__no_number\\rep.txt]\"");
    EXPECT_EQ(refusing.Commands({"APPE"}).size(), 3u);
    // The --log file holds the report: nothing is left in the temporary folder.
    EXPECT_TRUE(LeftInTemp().empty());

    // Without --log the report is kept in its temporary folder, and stderr names it.
    auto unlogged = Cli({"ports", "--upload"}, refusing.Url());
    EXPECT_EQ(unlogged->Wait(), 1);
    std::vector<std::string> left = LeftInTemp();
    ASSERT_EQ(left.size(), 2u);
    const std::string kept = left[1];
    EXPECT_EQ(fs::path(kept).filename(), "log.txt");
    EXPECT_EQ(fs::path(kept).parent_path().filename().string().rfind("kalvo-cli-", 0), 0u) << kept;
    EXPECT_EQ(unlogged->Err(), "The report did not reach the update server\nThe report is kept in " + kept + "\n");
    const std::vector<std::string> keptLines = test::SplitLines(test::ReadFile(kept));
    ASSERT_FALSE(keptLines.empty());
    EXPECT_EQ(keptLines.back(),
              "ERROR=[-1]-\"Ошибка добавления файла на сервера обновлений [log5\\__no_number\\rep.txt]\"");
    fs::remove_all(fs::path(kept).parent_path());

    // A port where nothing listens, in Russian.
    auto closed = Cli({"ports", "--upload", "--lang", "ru"}, "ftp://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
    EXPECT_EQ(closed->Wait(), 1);
    left = LeftInTemp();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(closed->Err(), "Отчёт не отправлен на сервер обновлений\nОтчёт сохранён в " + left[1] + "\n");
    EXPECT_NE(test::ReadFile(left[1]).find("PORT LIST: "), std::string::npos);
    fs::remove_all(fs::path(left[1]).parent_path());

    // No server set: nothing reaches the (running) server, and no line is added.
    test::FtpServer idle;
    const std::string log2 = sim.folder.File("run2.txt");
    auto plain = Cli({"ports", "--log", log2}, "");
    auto unset = Cli({"ports", "--upload", "--log", sim.folder.File("run3.txt")}, "");
    EXPECT_EQ(plain->Wait(), 0);
    EXPECT_EQ(unset->Wait(), 1);
    EXPECT_NE(unset->Err().find("No update server set"), std::string::npos);
    EXPECT_EQ(test::ReadFile(sim.folder.File("run3.txt")), test::ReadFile(log2));
    EXPECT_TRUE(idle.Log().empty());
    // Nor without --log: the report stays in the temporary folder.
    auto unsetUnlogged = Cli({"ports", "--upload"}, "");
    EXPECT_EQ(unsetUnlogged->Wait(), 1);
    left = LeftInTemp();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(unsetUnlogged->Err(),
              "No update server set (KALVO_UPDATE_SERVER, or update_server in kalvo.conf)\nThe report is kept in " +
                  left[1] + "\n");
    EXPECT_TRUE(idle.Log().empty());
}

}  // namespace
}  // namespace kalvo
