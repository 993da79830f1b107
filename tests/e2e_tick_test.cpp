// The processing tick against kalvo-devsim, on a clock the test turns in 100 ms steps as
// Timer_Proc would: connection, identification a second later, loss and its reset.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/context.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

class TickAgainstSim : public ::testing::Test, public test::SimFixture {
protected:
    TickAgainstSim() : context(ui, PortDirectory(PortsFolder(), false)) { tick.SetClock([this] { return now; }); }

    // One Timer_Proc period.
    void Tick() {
        now += 100;
        tick.Run();
    }
    // Ticks until `done` or the step limit; true when done.
    bool TickUntil(const std::function<bool()>& done, int limit = 100) {
        for (int i = 0; i < limit && !done(); ++i) Tick();
        return done();
    }
    // Runs the first scan with no device present, so the next port to appear is tried.
    void PastFirstScan() { ASSERT_TRUE(TickUntil([this] { return context.connection.ScanList().FirstScanDone(); })); }
    int Identifications() {
        const auto& lines = context.log.Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), "# Read Device Information:"));
    }

    test::RecordingUiPort ui;
    AppContext context;
    std::uint32_t now = 5000;
    ProcessingTick& tick = context.tick;
};

TEST_F(TickAgainstSim, IdentifiesASecondAfterConnectingAndResetsWhenTheDeviceGoes) {
    PastFirstScan();
    auto sim = StartSim(7);
    ASSERT_TRUE(TickUntil([this] { return context.connection.DeviceConnected(); }));
    std::uint32_t connectedAt = now;
    EXPECT_EQ(tick.State(), IdentificationState::NotIdentified);
    ASSERT_TRUE(TickUntil([this] { return tick.State() == IdentificationState::Identified; }));
    EXPECT_GE(now - connectedAt, 900u);
    EXPECT_LE(now - connectedAt, 1100u);

    EXPECT_TRUE(tick.DeviceRecognised());
    EXPECT_EQ(ui.calls.back(), "status 1: Orbelan RKD-630.41.0 S/N: 123-45678");
    EXPECT_TRUE(tick.Pages().r630TabVisible);
    EXPECT_FALSE(tick.Pages().r520TabVisible);
    EXPECT_TRUE(tick.Pages().renewEnabled);
    EXPECT_EQ(tick.Pages().infoLines.front(), "Connected Device Information");

    // A long operation switches the link test off and marks the connection lost: nothing resets.
    context.connection.linkTestEnabled = false;
    context.connection.SetDeviceConnected(false);
    Tick();
    EXPECT_TRUE(tick.DeviceRecognised());
    EXPECT_TRUE(context.identity.identified);
    context.connection.SetDeviceConnected(true);
    context.connection.linkTestEnabled = true;

    // A restart sends the device away with the link test on: it is identified afresh even when
    // the connection step of the very next tick finds it again.
    context.connectionFlags.ClearDeviceConnected();
    EXPECT_FALSE(tick.DeviceRecognised());
    now += kConnectionStepMs;
    ASSERT_TRUE(TickUntil([this] { return tick.DeviceRecognised(); }, 50));
    EXPECT_EQ(Identifications(), 2);

    // The trend is the device's: the next device's readings never join its series.
    context.trend.Append({1000, 0, 0.12, ""});
    sim.reset();  // unplugged
    ASSERT_TRUE(TickUntil([this] { return !tick.DeviceRecognised(); }, 200));
    EXPECT_TRUE(context.trend.Readings().empty());
    EXPECT_EQ(ui.calls.back(), "status 0: Waiting Connection");
    EXPECT_EQ(tick.State(), IdentificationState::NotIdentified);
    EXPECT_FALSE(tick.Pages().r630TabVisible);
    EXPECT_FALSE(tick.Pages().renewEnabled);
    EXPECT_TRUE(tick.Pages().infoLines.empty());
    EXPECT_FALSE(context.identity.identified);
    EXPECT_FALSE(context.identification.KnownSoftInfo());
}

TEST_F(TickAgainstSim, AnUnknownDeviceStaysRedAndIsNotAskedAgain) {
    context.language = InterfaceLanguage::Russian;
    PastFirstScan();
    auto sim = StartSim(3, {"--revision", "40"});
    ASSERT_TRUE(TickUntil([this] { return tick.State() == IdentificationState::Identified; }));
    EXPECT_EQ(ui.calls.back(), "status 2: Неизвестный прибор [Orbelan RKD-630.40.0]");
    EXPECT_FALSE(tick.DeviceRecognised());
    EXPECT_FALSE(tick.Pages().renewEnabled);
    EXPECT_TRUE(tick.Pages().infoLines.empty());
    for (int i = 0; i < 30; ++i) Tick();
    EXPECT_EQ(Identifications(), 1);
    EXPECT_TRUE(context.connection.DeviceConnected());
}

TEST_F(TickAgainstSim, AnR520ShowsItsOwnSettingsTab) {
    PastFirstScan();
    auto sim = StartSim(4, {"--model", "r520", "--main-version", "12.1"});
    ASSERT_TRUE(TickUntil([this] { return tick.DeviceRecognised(); }));
    EXPECT_TRUE(tick.Pages().r520TabVisible);
    EXPECT_FALSE(tick.Pages().r630TabVisible);
    const auto& info = tick.Pages().infoLines;
    EXPECT_EQ(info[5], "SW MAIN: 12.1");
    EXPECT_EQ(info[info.size() - 2], "Upgrade to Version 12.3");
    EXPECT_EQ(info.back(), "is avaliable");
}

TEST_F(TickAgainstSim, ATickInsideATickReturnsAtOnce) {
    int measurements = 0;
    tick.measurementStep = [&] {
        ++measurements;
        tick.Run();  // as a Pump() inside a device transaction would
        EXPECT_TRUE(tick.Active());
    };
    Tick();
    EXPECT_EQ(measurements, 1);
    EXPECT_FALSE(tick.Active());
}

}  // namespace
}  // namespace kalvo
