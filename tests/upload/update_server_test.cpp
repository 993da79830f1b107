// Where the update server comes from: the environment, else kalvo.conf, else nowhere.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/config_file.h"
#include "support/sim_fixture.h"
#include "upload/update_server.h"

namespace kalvo {
namespace {

using Folders = std::vector<std::string>;

TEST(UpdateServerAddress, CredentialsPortAndFolders) {
    struct Case {
        const char* address;
        bool valid;
        std::string host, user, password;
        int port;
        Folders folders;
    } cases[] = {
        {"ftp://u:p@example.org:2121/", true, "example.org", "u", "p", 2121, {}},
        {"ftp://example.org/", true, "example.org", "kalvo", "Pwd_41736", 21, {}},
        {"ftp://example.org", true, "example.org", "kalvo", "Pwd_41736", 21, {}},
        {"ftp://a%40b:p%3Aq@[::1]:21/reports/x%20y/", true, "::1", "a@b", "p:q", 21, {"reports", "x y"}},
        {"ftp://only@127.0.0.1/", true, "127.0.0.1", "only", "Pwd_41736", 21, {}},
        {"http://example.org/", false, "", "", "", 0, {}},
        {"example.org", false, "", "", "", 0, {}},
        {"", false, "", "", "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::optional<UpdateServer> server = ParseUpdateServer(c.address);
        ASSERT_EQ(server.has_value(), c.valid);
        if (!server) continue;
        EXPECT_EQ(server->host, c.host);
        EXPECT_EQ(server->user, c.user);
        EXPECT_EQ(server->password, c.password);
        EXPECT_EQ(server->port, c.port);
        EXPECT_EQ(server->baseFolders, c.folders);
    }
}

TEST(UpdateServerAddress, EnvironmentThenConfigurationFileThenNone) {
    test::TempFolder folder;
    const std::string path = folder.File("kalvo.conf");
    test::WriteFileForTest(path,
                           "# our own settings\n"
                           "; also a comment\n"
                           "[General]\n"
                           "update_server = ftp://file@127.0.0.1:2100/\n"
                           "update_server_ca = \" /etc/ca.pem \"\n"
                           "[other]\n"
                           "update_server = ftp://wrong/\n"
                           "verify=1\n");
    ConfigFile config = ConfigFile::Load(path);
    EXPECT_EQ(config.Value("other/verify"), "1");
    EXPECT_EQ(config.Value("verify"), std::nullopt);

    ::unsetenv("KALVO_UPDATE_SERVER");
    ::unsetenv("KALVO_UPDATE_SERVER_CA");
    std::optional<UpdateServer> fromFile = ConfiguredUpdateServer(path);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->user, "file");
    EXPECT_EQ(fromFile->port, 2100);
    EXPECT_EQ(fromFile->caFile, " /etc/ca.pem ");

    ::setenv("KALVO_UPDATE_SERVER", "ftp://env@127.0.0.1:2200/", 1);
    ::setenv("KALVO_UPDATE_SERVER_CA", "/tmp/ca.pem", 1);
    std::optional<UpdateServer> fromEnvironment = ConfiguredUpdateServer(path);
    ASSERT_TRUE(fromEnvironment);
    EXPECT_EQ(fromEnvironment->user, "env");
    EXPECT_EQ(fromEnvironment->port, 2200);
    EXPECT_EQ(fromEnvironment->caFile, "/tmp/ca.pem");

    // An empty variable counts as unset; no file and no variable: no server.
    ::setenv("KALVO_UPDATE_SERVER", "", 1);
    ::unsetenv("KALVO_UPDATE_SERVER_CA");
    EXPECT_EQ(ConfiguredUpdateServer(path)->user, "file");
    EXPECT_FALSE(ConfiguredUpdateServer(folder.File("missing.conf")));
    EXPECT_FALSE(ConfiguredUpdateServer(""));
    ::unsetenv("KALVO_UPDATE_SERVER");
}

}  // namespace
}  // namespace kalvo
