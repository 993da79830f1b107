// The connection manager against devices on pseudo-terminals that come and go in a private
// ports folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/context.h"
#include "device/connection_manager.h"
#include "support/pty_peer.h"
#include "support/recording_ui_port.h"
#include "support/scripted_device.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using test::Bytes;
using Lines = std::vector<std::string>;

// A device on COM n that echoes the connection test while `answering` is set.
struct EchoDevice {
    EchoDevice(const std::string& folder, int number)
        : peer(folder, number), device(peer, [this](const Bytes& request) {
              if (!answering) return std::vector<Bytes>{};
              return std::vector<Bytes>{test::PtyPeer::AnswerTo(request, Bytes(request.begin() + 6, request.end()))};
          }) {}
    ~EchoDevice() { device.Stop(); }

    std::atomic<bool> answering{true};
    test::PtyPeer peer;
    test::ScriptedDevice device;
};

class ConnectionManagerTest : public ::testing::Test {
protected:
    ConnectionManagerTest() : context(ui, PortDirectory(folder.Path(), false)) {}

    std::unique_ptr<EchoDevice> Plug(int number) { return std::make_unique<EchoDevice>(folder.Path(), number); }
    void Steps(int count) {
        for (int i = 0; i < count; ++i) manager.ConnectionStep();
    }
    Lines PortListLines() {
        Lines lines;
        for (const std::string& line : context.log.Lines())
            if (line.rfind("PORT LIST: ", 0) == 0) lines.push_back(line);
        return lines;
    }

    test::TempFolder folder;
    test::RecordingUiPort ui;
    AppContext context;
    ConnectionManager& manager = context.connection;
};

TEST_F(ConnectionManagerTest, APortPresentAtStartIsNotTriedUntilReplugged) {
    auto device = Plug(4);
    Steps(1);  // AutoCheck without a connection
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoScan);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Nok);
    Steps(3);
    EXPECT_FALSE(manager.DeviceConnected());
    EXPECT_EQ(device->device.Count(), 0);
    EXPECT_EQ(PortListLines(), (Lines{"PORT LIST: 4"}));
    EXPECT_EQ(manager.Panel().comText, "----");

    device.reset();
    Steps(1);
    device = Plug(4);
    Steps(1);
    EXPECT_TRUE(manager.DeviceConnected());
    EXPECT_EQ(manager.ConnectedPort(), 4);
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoCheck);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Ok);
    EXPECT_EQ(manager.Panel().comText, "COM 4");
    EXPECT_EQ(PortListLines(), (Lines{"PORT LIST: 4", "PORT LIST: ", "PORT LIST: 4"}));

    // Supervised from now on, the panel blinking between its two texts.
    std::string first = manager.Panel().text;
    Steps(1);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Ok);
    EXPECT_NE(manager.Panel().text, first);
    EXPECT_TRUE((first == "OK" && manager.Panel().text == "= OK =") || (first == "= OK =" && manager.Panel().text == "OK"));
}

TEST_F(ConnectionManagerTest, NewPortsComeFirstAndUnusablePortNumbersAreNeverTried) {
    Steps(2);  // first scan: nothing there
    std::filesystem::create_symlink("/dev/null", folder.File("com255"));
    auto big = Plug(1000);
    auto quiet = Plug(3);
    quiet->answering = false;
    auto device = Plug(9);
    Steps(1);  // tries 3 (new ports in ascending order): no answer, ERR
    EXPECT_EQ(PortListLines().back(), "PORT LIST: 3,9,1000");
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Err);
    EXPECT_FALSE(context.port.IsOpen());
    Steps(1);
    EXPECT_TRUE(manager.DeviceConnected());
    EXPECT_EQ(manager.ConnectedPort(), 9);
    EXPECT_EQ(big->device.Count(), 0);
}

TEST_F(ConnectionManagerTest, ALostDeviceIsLookedForOnlyOnItsOwnPortWhileItIsThere) {
    Steps(2);
    auto device = Plug(6);
    auto other = Plug(2);
    Steps(1);  // 2 comes first
    ASSERT_EQ(manager.ConnectedPort(), 2);
    other->answering = false;
    Steps(1);  // the test fails: ERR, closed, scanning again
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Err);
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoScan);
    EXPECT_FALSE(manager.DeviceConnected());
    other->answering = true;
    int before = device->device.Count();
    Steps(1);  // the preferred port is the only one tried
    EXPECT_EQ(manager.ConnectedPort(), 2);
    EXPECT_EQ(device->device.Count(), before);
}

TEST_F(ConnectionManagerTest, ManualModeMovesToTheChosenPort) {
    Steps(2);
    auto four = Plug(4);
    auto seven = Plug(7);
    Steps(1);
    ASSERT_EQ(manager.ConnectedPort(), 4);

    manager.Action_Connection_Manual_NumberExecute("7");
    EXPECT_EQ(manager.Mode(), ConnectionMode::Manual);
    EXPECT_EQ(manager.ManualCaption(), "Manual COM7");
    Steps(1);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Err);
    EXPECT_FALSE(context.port.IsOpen());
    Steps(1);
    EXPECT_TRUE(manager.DeviceConnected());
    EXPECT_EQ(manager.ConnectedPort(), 7);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Ok);  // at once
    EXPECT_EQ(context.log.Lines().back(), "Open COM 7 : OK");

    manager.Action_Connection_AutoExecute();
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoCheck);
    Steps(1);
    EXPECT_EQ(manager.ConnectedPort(), 7);  // the connection stays and is supervised
}

TEST_F(ConnectionManagerTest, ThePortNumberDialogValidates) {
    for (const char* bad : {"251", "-1", "abc", "", "7x"}) manager.Action_Connection_Manual_NumberExecute(std::string(bad));
    EXPECT_EQ(ui.calls, Lines(5, "error: COM Port Number Format Error"));
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoCheck);
    EXPECT_EQ(manager.ManualCaption(), "");

    manager.Action_Connection_Manual_NumberExecute(std::nullopt);  // cancelled
    EXPECT_EQ(manager.Mode(), ConnectionMode::AutoCheck);

    context.language = InterfaceLanguage::Russian;
    manager.Action_Connection_Manual_NumberExecute("0");
    EXPECT_EQ(manager.ManualPortNumber(), 0);
    EXPECT_EQ(manager.ManualCaption(), "Вручную COM0");
    Steps(2);  // port 0 never opens
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Nok);
    EXPECT_FALSE(manager.DeviceConnected());
    manager.Action_Connection_Manual_NumberExecute("250");
    EXPECT_EQ(manager.SelectedPort(), 250);
}

TEST_F(ConnectionManagerTest, WithTheLinkTestOffAConnectionIsReportedWithoutTraffic) {
    Steps(2);
    auto device = Plug(5);
    Steps(1);
    ASSERT_TRUE(manager.DeviceConnected());
    int before = device->device.Count();
    device->answering = false;
    manager.linkTestEnabled = false;
    Steps(3);
    EXPECT_TRUE(manager.DeviceConnected());
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Ok);
    EXPECT_EQ(device->device.Count(), before);
    EXPECT_EQ(manager.RunConnectionTest(), 1);
}

TEST_F(ConnectionManagerTest, NoPortsAtAllMeansNok) {
    Steps(3);
    EXPECT_EQ(manager.Panel().kind, ConnectionKind::Nok);
    EXPECT_EQ(manager.SelectedPort(), -1);
    EXPECT_TRUE(PortListLines().empty());  // an empty list is no change from the start
}

}  // namespace
}  // namespace kalvo
