// Parameters, access checks and the live measurement against kalvo-devsim, on clocks the test
// turns in 100 ms steps; and kalvo-cli measure.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/context.h"
#include "app/device_access.h"
#include "i18n/units.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"
#include "support/ticked_sim_test.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

class MeasureAgainstSim : public test::TickedSimTest {
protected:
    MeasureAgainstSim() { context.live.SetClock([this] { return now; }); }
};

TEST_F(MeasureAgainstSim, ParameterTrafficIsLoggedExactly) {
    Connect({"--model", "r520"});
    std::uint32_t value = 99;
    ASSERT_TRUE(GetDeviceParameter(context, param::kRateThreshold, &value));
    EXPECT_EQ(value, 8u);
    EXPECT_TRUE(Logged("Read PAR[0x0007(7)] : 0x0008(8)"));
    ASSERT_TRUE(SetDeviceParameter(context, param::kCommand, command::kEraseHistory));
    EXPECT_TRUE(Logged("Write PAR[0xFF00(65280)] : 0xC0BA0012(-1061552110)"));
    EXPECT_FALSE(GetDeviceParameter(context, param::kRateThreshold, nullptr));
    // Parameter 22 belongs to the other family: no answer.
    EXPECT_FALSE(GetDeviceParameter(context, param::kAlarmMinuteR630, &value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(context.log.Lines().back(), "# ERROR: \"Read PAR[22]\"");
    EXPECT_TRUE(ui.calls.empty() || ui.calls.back().rfind("status", 0) == 0);  // no dialog
}

TEST_F(MeasureAgainstSim, AccessIsRefusedWithoutADevice) {
    EXPECT_EQ(SettingsRefusalCode(context), 1);
    EXPECT_FALSE(SettingsAccessCheck(context, "Read Settings"));
    EXPECT_EQ(ui.calls.back(), "error: Read Settings\n\rError Settings Access\n\rDevice not connected");
    EXPECT_EQ(context.log.Lines().back(), "# ERROR: \"DevAccessCheck Error=1\"");
    EXPECT_FALSE(context.live.MeasurementAccessCheck());
    EXPECT_EQ(context.live.Page().versionMessage, "");
}

TEST_F(MeasureAgainstSim, AnOldR630IsMeasuredButNotSet) {
    context.language = InterfaceLanguage::Russian;
    Connect({"--main-version", "12.8"});
    EXPECT_TRUE(context.live.MeasurementAccessCheck());
    EXPECT_EQ(SettingsRefusalCode(context), 5);
    EXPECT_FALSE(SettingsAccessCheck(context, ""));
    EXPECT_EQ(ui.calls.back(), "error: Ошибка доступа к настройкам\n\rТребуется обновление прошивки\n\r"
                               "Пожалуйста зайдите на страницу \"О приборе\"");
}

TEST_F(MeasureAgainstSim, RefusalsOfBootModeOldFirmwareAndOddBoards) {
    Connect({"--main-version", "0"});
    EXPECT_EQ(SettingsRefusalCode(context), 5);
    EXPECT_FALSE(context.live.MeasurementAccessCheck());
    EXPECT_EQ(context.live.Page().versionMessage, "In BOOT\n\rMode is\n\rUnavaliable");
    // Reading never reaches the device in boot mode.
    int before = static_cast<int>(TracedRequests().size());
    EXPECT_FALSE(context.live.ReadMeasurement(true));
    EXPECT_EQ(static_cast<int>(TracedRequests().size()), before);
    EXPECT_EQ(context.live.Page().rateText, "--------");

    // What identification accepts but the settings do not: an R520 whose variant byte is 5.
    context.identity.boardInfo = {520, 4, 5};
    EXPECT_EQ(SettingsRefusalCode(context), 4);
    context.identity.boardInfo = {415, 0, 0};
    EXPECT_EQ(SettingsRefusalCode(context), 3);
}

TEST_F(MeasureAgainstSim, R630WithTooOldAFirmwareAsksForAnUpdate) {
    Connect({"--main-version", "12.5"});
    EXPECT_FALSE(context.live.MeasurementAccessCheck());
    EXPECT_EQ(context.live.Page().versionMessage, "Need\n\rto Update\n\rFirmware");
    EXPECT_EQ(SettingsRefusalCode(context), 5);
}

TEST_F(MeasureAgainstSim, ReadsOnceASecondWithTheDoseEveryTenthReading) {
    Connect({});
    context.live.measuringPageActive = true;
    std::vector<std::pair<std::uint32_t, bool>> readings;
    int seen = 0;
    for (int i = 0; i < 220; ++i) {
        Tick();
        if (context.live.Readings() > seen) {
            seen = context.live.Readings();
            readings.emplace_back(now, context.live.LastReadingHadDose());
        }
    }
    ASSERT_GE(readings.size(), 21u);
    for (std::size_t i = 0; i < readings.size(); ++i) {
        EXPECT_EQ(readings[i].second, i % 10 == 0) << "reading " << i;
        if (i == 0) continue;
        EXPECT_GE(readings[i].first - readings[i - 1].first, 1000u);
        EXPECT_LE(readings[i].first - readings[i - 1].first, 1100u);
    }
    const MeasuringPage& page = context.live.Page();
    EXPECT_NE(page.rateText.find(" uSv/h"), std::string::npos);
    EXPECT_NE(page.doseText.find(" uSv"), std::string::npos);
    // The trend holds every reading, as the label showed it, with the dose text of every tenth.
    const auto trend = context.trend.Readings();
    ASSERT_EQ(trend.size(), readings.size());
    EXPECT_EQ(RateNumberText(0, static_cast<std::uint32_t>(trend.back().value * 100 + 0.5), 0) + " uSv/h", page.rateText);
    for (std::size_t i = 0; i < trend.size(); ++i) {
        EXPECT_EQ(trend[i].unitCode, 0);
        EXPECT_EQ(trend[i].doseText.empty(), i % 10 != 0) << "reading " << i;
        if (i > 0) {
            EXPECT_GE(trend[i].timeMs, trend[i - 1].timeMs);
        }
    }
    EXPECT_NE(trend.front().doseText.find(" uSv"), std::string::npos);
    EXPECT_TRUE(Logged("Write PAR[0xFF00(65280)] : 0xC0BA0021(-1061552095)"));

    // Leaving the page clears the values at the next tick; coming back reads at once.
    context.live.measuringPageActive = false;
    Tick();
    Tick();
    EXPECT_EQ(page.rateText, "--------");
    EXPECT_EQ(page.doseText, "--------");
    EXPECT_EQ(page.barPosition, 0);
    context.live.measuringPageActive = true;
    int before = context.live.Readings();
    Tick();
    Tick();
    EXPECT_EQ(context.live.Readings(), before + 1);
    EXPECT_TRUE(context.live.LastReadingHadDose());
}

TEST_F(MeasureAgainstSim, AFailedReadingRecoversWithinThreeTicks) {
    Connect({});
    context.live.measuringPageActive = true;
    ASSERT_TRUE(TickUntil([this] { return context.live.Readings() > 0; }));
    // The port goes away for one reading, as a loose cable would.
    context.port.Close();
    ASSERT_TRUE(TickUntil([this] { return context.live.State() == MeasurementState::Idle; }, 20));
    EXPECT_EQ(context.live.Page().rateText, "--------");
    context.port.SetPortNumber(7);
    ASSERT_TRUE(context.port.Open(kBaudRate));
    int before = context.live.Readings();
    for (int i = 0; i < 3; ++i) context.live.MeasurementStep();
    EXPECT_EQ(context.live.Readings(), before + 1);
    EXPECT_EQ(context.live.State(), MeasurementState::Running);
}

TEST_F(MeasureAgainstSim, DoseResetAsTheButtonDoesIt) {
    // No device: refused at once, without waiting.
    ui.answers = {true};
    context.live.BitBtn_Measure_Dose_ResetClick();
    EXPECT_EQ(ui.calls.back(), "error: Error Reseting Accumulated Dose");
    EXPECT_FALSE(context.live.DoseResetSucceeded());

    Connect({});
    // Carried out by the tick while the question's wait lets it run.
    ui.onWait = [this](int ms) {
        now += static_cast<std::uint32_t>(ms);
        context.tick.Run();
    };
    ui.answers = {true};
    context.live.BitBtn_Measure_Dose_ResetClick();
    EXPECT_EQ(ui.calls.back(), "info: Accumulated Dose\nReseted");
    EXPECT_TRUE(context.live.DoseResetSucceeded());
    EXPECT_TRUE(Logged("Write PAR[0xFF00(65280)] : 0xC0BA0020(-1061552096)"));
    EXPECT_TRUE(context.live.Page().pagesEnabled);

    // No tick runs: the request is not done within 3000 ms.
    ui.onWait = [this](int ms) { now += static_cast<std::uint32_t>(ms); };
    ui.answers = {true};
    context.live.BitBtn_Measure_Dose_ResetClick();
    EXPECT_EQ(ui.calls.back(), "error: Error Reseting Accumulated Dose");
    EXPECT_EQ(context.live.DoseResetRequest(), 0);

    // Answered No: nothing at all.
    std::size_t calls = ui.calls.size();
    ui.answers = {false};
    context.live.BitBtn_Measure_Dose_ResetClick();
    EXPECT_EQ(ui.calls.size(), calls + 1);
    EXPECT_EQ(ui.calls.back(), "confirm warning: RESET ACCUMULATED DOSE\n\rContinue?");
}

TEST(LiveValueTexts, UnitTablesKeepTheirBlanks) {
    EXPECT_EQ(DoseRateUnitText(InterfaceLanguage::Russian, 1, 2), "  Р/ч");
    EXPECT_EQ(DoseRateUnitText(InterfaceLanguage::English, 1, 2), "R/h");
    EXPECT_EQ(DoseRateUnitText(InterfaceLanguage::Russian, 1, 1), " мР/ч");
    EXPECT_EQ(DoseUnitText(InterfaceLanguage::Russian, 2, 1), "ИМП");
    EXPECT_EQ(DoseUnitText(InterfaceLanguage::English, 2, 1), "PULSES*E3");
    EXPECT_EQ(DoseUnitText(InterfaceLanguage::Russian, 5, -1), "мкЗв");
    EXPECT_EQ(DoseUnitText(InterfaceLanguage::English, 5, -1), "uSv");
    EXPECT_EQ(DoseRateUnitText(InterfaceLanguage::English, 2, 2), "CPM");
}

TEST(LiveValueTexts, NumbersPerUnit) {
    EXPECT_EQ(RateNumberText(0, 5, 0), "0,05");
    EXPECT_EQ(RateNumberText(0, 1234, 0), "12,34");
    EXPECT_EQ(RateNumberText(1, 1234, 0), "1234");
    EXPECT_EQ(RateNumberText(2, 0, 61), "30");
    EXPECT_EQ(RateNumberText(7, 5, 61), "");
    EXPECT_EQ(ScaleBarPosition(200), 120);
    EXPECT_EQ(ScaleBarPosition(37), 37);
    EXPECT_EQ(ParameterText(0xC0BA0010), "0xC0BA0010(-1061552112)");
    EXPECT_EQ(ParameterText(7), "0x0007(7)");
}

// kalvo-cli measure: the page's texts on the console.
class MeasureCli : public ::testing::Test, public test::SimFixture {};

TEST_F(MeasureCli, PrintsReadingsAndResetsTheDose) {
    auto device = StartSim(5);
    auto cli = Cli({"measure", "--port", "5", "--count", "2", "--dose-reset", "--yes"});
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();
    Lines out = test::SplitLines(cli->Out());
    ASSERT_GE(out.size(), 2u);
    std::string first = out[out.size() - 2];
    EXPECT_NE(first.find(" uSv/h; "), std::string::npos) << first;  // the first reading has the dose
    EXPECT_EQ(out.back().find(';'), std::string::npos) << out.back();
    EXPECT_NE(cli->Err().find("Accumulated Dose\nReseted"), std::string::npos);

    auto refused = Cli({"measure", "--port", "5", "--dose-reset"});  // no --yes: the answer is No
    EXPECT_EQ(refused->Wait(), 1);
}

TEST_F(MeasureCli, ABootModeDeviceGetsThePagesNotice) {
    auto device = StartSim(6, {"--main-version", "0", "--model", "r520"});
    auto cli = Cli({"measure", "--port", "6", "--lang", "ru"});
    EXPECT_EQ(cli->Wait(), 1);
    EXPECT_NE(cli->Err().find("В режиме\nBOOT\nнедоступно"), std::string::npos) << cli->Err();
}

}  // namespace
}  // namespace kalvo
