// kalvo-cli settings, clock and calibration against kalvo-devsim, end to end.
#include <gtest/gtest.h>

#include <map>

#include "support/sim_fixture.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

class SettingsCli : public ::testing::Test, public test::SimFixture {
protected:
    // The key=value lines of a settings run, by key.
    static std::map<std::string, std::string> Settings(const std::string& out) {
        static const Lines keys{"language",     "units",      "fon_level",   "dose_level",     "sound",
                                "button_click", "sensor_click", "threshold_sound", "brightness", "screen_off",
                                "power_off",    "history_method", "alarm",   "alarm_hour",     "alarm_minute",
                                "lights",       "measure_method", "sensors", "time",           "calibration"};
        std::map<std::string, std::string> values;
        for (const std::string& line : test::SplitLines(out)) {
            std::size_t equals = line.find('=');
            if (equals == std::string::npos) continue;
            std::string key = line.substr(0, equals);
            if (std::find(keys.begin(), keys.end(), key) != keys.end()) values[key] = line.substr(equals + 1);
        }
        return values;
    }
    // Parameter writes traced from request `from` on, as "id=value".
    Lines WritesFrom(std::size_t from) const {
        Lines writes;
        Lines requests = TracedRequests();
        for (std::size_t i = from; i < requests.size(); ++i) {
            unsigned b[6];
            if (std::sscanf(requests[i].c_str(), "ch1 01 0F %x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3], &b[4],
                            &b[5]) == 6)
                writes.push_back(std::to_string(b[0] | b[1] << 8) + "=" +
                                 std::to_string(b[2] | b[3] << 8 | b[4] << 16 | b[5] << 24));
        }
        return writes;
    }
};

TEST_F(SettingsCli, R630ReadEditSaveDefaultClockAndCalibration) {
    auto sim = StartSim(7, {"--param", "7=20"});
    // Unknown keys and values stop before the port is opened.
    for (Lines bad : {Lines{"--set", "bogus=1"}, Lines{"--set", "units=Furlong"}, Lines{"--set", "sound=2"},
                      Lines{"--set", "time=1"}, Lines{"--set", "calibration=1x"}, Lines{"--set", "units"}}) {
        bad.insert(bad.begin(), {"settings", "--port", "7", "--yes"});
        auto cli = Cli(bad);
        EXPECT_EQ(cli->Wait(), 2) << bad[5];
        EXPECT_NE(cli->Err().find("kalvo-cli: "), std::string::npos);
    }
    EXPECT_TRUE(TracedRequests().empty());

    auto read = Cli({"settings", "--port", "7"});
    ASSERT_EQ(read->Wait(), 0) << read->Err();
    auto values = Settings(read->Out());
    EXPECT_EQ(values.size(), 17u);
    EXPECT_EQ(values["language"], "Russian");
    EXPECT_EQ(values["units"], "Sievert");
    EXPECT_EQ(values["fon_level"], "");
    EXPECT_EQ(values["dose_level"], "100 Sv");
    EXPECT_EQ(values["sound"], "1");
    EXPECT_EQ(values["screen_off"], "3 minutes");
    EXPECT_EQ(values["alarm_hour"], "7");
    EXPECT_EQ(values["time"].size(), 23u);
    EXPECT_EQ(values["calibration"], "1,27");

    // The empty background box refuses the save; picking a value lets it through.
    std::size_t sent = TracedRequests().size();
    auto refused = Cli({"settings", "--port", "7", "--set", "units=1", "--yes"});
    EXPECT_EQ(refused->Wait(), 1);
    EXPECT_NE(refused->Err().find("error: Some Settings undefined\nSaving unavaliable\n"), std::string::npos);
    EXPECT_TRUE(WritesFrom(sent).empty());

    sent = TracedRequests().size();
    auto saved = Cli({"settings", "--port", "7", "--set", "fon_level=8", "--set", "units=Рентген", "--set",
                      "brightness=4", "--set", "alarm=1", "--yes"});
    ASSERT_EQ(saved->Wait(), 0) << saved->Err();
    values = Settings(saved->Out());
    EXPECT_EQ(values["units"], "Roentgen");
    EXPECT_EQ(values["fon_level"], "120 uR/h");
    EXPECT_EQ(values["brightness"], "4");
    EXPECT_NE(saved->Err().find("Save Settings\nContinue? [yes]\n"), std::string::npos);
    EXPECT_NE(saved->Err().find("Settings successfully saved\nIt is reccomended Restart Device\nDo it Now? [no]\n"),
              std::string::npos);
    EXPECT_EQ(WritesFrom(sent), (Lines{"6=0", "9=1", "7=8", "8=14", "3=0", "14=1", "13=1", "15=1", "16=3", "17=3",
                                       "18=10", "19=1", "20=1", "21=7", "22=0"}));

    sent = TracedRequests().size();
    auto defaults = Cli({"settings", "--port", "7", "--default", "--yes", "--lang", "ru"});
    ASSERT_EQ(defaults->Wait(), 0) << defaults->Err();
    values = Settings(defaults->Out());
    EXPECT_EQ(values["units"], "Зиверт");
    EXPECT_EQ(values["fon_level"], "1,2 мкЗв/ч");
    EXPECT_EQ(values["power_off"], "10 минут");
    EXPECT_EQ(values["alarm"], "0");
    EXPECT_EQ(WritesFrom(sent), (Lines{"6=0", "9=0", "7=8", "8=14", "3=0", "14=1", "13=1", "15=1", "16=1", "17=3",
                                       "18=10", "19=1", "20=0", "21=0", "22=0"}));

    auto clock = Cli({"clock", "--port", "7"});
    ASSERT_EQ(clock->Wait(), 0) << clock->Err();
    Lines out = test::SplitLines(clock->Out());
    EXPECT_EQ(out.back().size(), 23u);
    EXPECT_EQ(out.back().front(), '[');
    auto setClock = Cli({"clock", "--port", "7", "--set", "--yes"});
    ASSERT_EQ(setClock->Wait(), 0) << setClock->Err();
    EXPECT_NE(setClock->Err().find("Write Time\nto Device from PC? [yes]\nTime written ti Device\n["), std::string::npos);
    EXPECT_EQ(test::SplitLines(setClock->Out()).back().substr(0, 1), "[");

    sent = TracedRequests().size();
    // A K the page would refuse is refused before the device is asked anything.
    auto badK = Cli({"calibration", "--port", "7", "--set", "1,234", "--yes"});
    EXPECT_EQ(badK->Wait(), 2);
    EXPECT_EQ(badK->Err(), "kalvo-cli: K Format Error [1,234]\n");
    auto farK = Cli({"calibration", "--port", "7", "--set", "0,09", "--yes", "--lang", "ru"});
    EXPECT_EQ(farK->Wait(), 2);
    EXPECT_EQ(farK->Err(), "kalvo-cli: Ошибка: K должен быть от 0,1 до 9,99 [0,09]\n");
    EXPECT_EQ(TracedRequests().size(), sent);
    auto goodK = Cli({"calibration", "--port", "7", "--set", "2", "--yes"});
    ASSERT_EQ(goodK->Wait(), 0) << goodK->Err();
    EXPECT_EQ(test::SplitLines(goodK->Out()).back(), "2,00");
    EXPECT_EQ(WritesFrom(sent), (Lines{"4=200"}));
    auto readK = Cli({"calibration", "--port", "7"});
    ASSERT_EQ(readK->Wait(), 0);
    EXPECT_EQ(test::SplitLines(readK->Out()).back(), "2,00");
}

// A unit that keeps another value than the one sent: the save and the calibration fail, the
// report log names both values, and no form is printed as if it were the device's.
TEST_F(SettingsCli, ADeviceKeepingAnotherValueFailsTheSave) {
    auto sim = StartSim(9, {"--keep-param", "16=0", "--keep-param", "4=100"});
    const std::string log = folder.File("report.txt");
    auto saved = Cli({"settings", "--port", "9", "--set", "brightness=4", "--yes", "--log", log});
    EXPECT_EQ(saved->Wait(), 1);
    EXPECT_NE(saved->Err().find("error: Error saving Settings\n"), std::string::npos) << saved->Err();
    EXPECT_TRUE(Settings(saved->Out()).empty()) << saved->Out();
    // Stopped at the write that did not take.
    Lines writes = WritesFrom(0);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "16=3");
    Lines logged = test::SplitLines(test::ReadFile(log));
    EXPECT_NE(std::find(logged.begin(), logged.end(), "Write PAR[0x000F(15)] : 0x0001(1)"), logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), "# ERROR: \"Write PAR[16] : 0x0003(3), device kept 0x0000(0)\""),
              logged.end());

    auto calibration = Cli({"calibration", "--port", "9", "--set", "1,5", "--yes", "--log", log});
    EXPECT_EQ(calibration->Wait(), 1);
    EXPECT_NE(calibration->Err().find("error: Error saving Calibration\n"), std::string::npos) << calibration->Err();
    EXPECT_EQ(calibration->Out().find("1,50"), std::string::npos);
    logged = test::SplitLines(test::ReadFile(log));
    EXPECT_NE(std::find(logged.begin(), logged.end(), "# ERROR: \"Write PAR[4] : 0x0096(150), device kept 0x0064(100)\""),
              logged.end());

    // A value the unit keeps as sent still saves.
    auto kept = Cli({"settings", "--port", "9", "--set", "brightness=1", "--set", "fon_level=8", "--yes"});
    EXPECT_EQ(kept->Wait(), 0) << kept->Err();
    EXPECT_EQ(Settings(kept->Out())["brightness"], "1");
}

TEST_F(SettingsCli, R520DetectorsAndARestartAfterSaving) {
    auto sim = StartSim(8, {"--model", "r520", "--variant", "2", "--reset-downtime-ms", "300"});
    auto alarm = Cli({"settings", "--port", "8", "--set", "alarm=1", "--yes"});
    EXPECT_EQ(alarm->Wait(), 2);
    EXPECT_NE(alarm->Err().find("kalvo-cli: this device's settings have no alarm\n"), std::string::npos);
    EXPECT_TRUE(WritesFrom(0).empty());

    auto saved = Cli({"settings", "--port", "8", "--set", "sensors=SBM 21", "--set", "lights=0", "--set",
                      "measure_method=Быстрое", "--yes", "--restart"});
    ASSERT_EQ(saved->Wait(), 0) << saved->Err();
    auto values = Settings(saved->Out());
    EXPECT_EQ(values.size(), 17u);
    EXPECT_EQ(values["sensors"], "SBM 21");
    EXPECT_EQ(values["lights"], "0");
    EXPECT_EQ(values["measure_method"], "Fast");
    EXPECT_EQ(values["language"], "Russian");
    EXPECT_EQ(values["calibration"], "1,00");
    EXPECT_NE(saved->Err().find("Do it Now? [yes]\n"), std::string::npos);
    Lines writes = WritesFrom(0);
    ASSERT_EQ(writes.size(), 15u);
    EXPECT_EQ(writes[12], "20=0");
    EXPECT_EQ(writes[13], "21=1");
    EXPECT_EQ(writes[14], "30=2");
    Lines requests = TracedRequests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "ch1 01 05 02 00 00 00 0A"), requests.end());
}

}  // namespace
}  // namespace kalvo
