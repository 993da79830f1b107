// Both settings pages, the clock and the calibration against kalvo-devsim through the core,
// with the parameter writes checked in the simulator's trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "app/context.h"
#include "settings/settings_page.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"
#include "support/ticked_sim_test.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;
using Writes = std::vector<std::pair<int, long>>;

class SettingsAgainstSim : public test::TickedSimTest {
protected:
    SettingsAgainstSim() { context.live.SetClock([this] { return now; }); }

    std::unique_ptr<SettingsPage> MakePage(SettingsFamily family) {
        auto page = std::make_unique<SettingsPage>(
            family,
            SettingsLink{context.commands, context.log, ui, context.language, context.identity, context.connectionFlags},
            [] {
                std::tm local{};
                local.tm_year = 124, local.tm_mon = 2, local.tm_mday = 5, local.tm_hour = 9, local.tm_min = 7,
                local.tm_sec = 3;
                return local;
            });
        // The frame shows in the recorded calls, between the questions and messages.
        page->onPagesEnabled = [this](bool enabled) {
            ui.calls.push_back(std::string("pages ") + (enabled ? "on" : "off") +
                               (context.connectionFlags.LinkTestEnabled() ? " test on" : " test off"));
        };
        return page;
    }
    // Requests traced since `from`, as "ch1 01 0E ..." texts.
    Lines RequestsFrom(std::size_t from) const {
        Lines all = TracedRequests();
        return Lines(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
    }
    // The parameter writes among requests: id and value.
    static Writes ParameterWrites(const Lines& requests) {
        Writes writes;
        for (const std::string& request : requests) {
            unsigned b[6];
            if (std::sscanf(request.c_str(), "ch1 01 0F %x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) == 6)
                writes.emplace_back(b[0] | b[1] << 8, static_cast<long>(b[2] | b[3] << 8 | b[4] << 16 | b[5] << 24));
        }
        return writes;
    }
    static bool Asked(const Lines& requests, const std::string& prefix) {
        return std::any_of(requests.begin(), requests.end(), [&](const std::string& r) { return r.rfind(prefix, 0) == 0; });
    }
    // Recorded calls from `from`, leaving out status texts.
    Lines CallsFrom(std::size_t from) const {
        Lines calls;
        for (std::size_t i = from; i < ui.calls.size(); ++i)
            if (ui.calls[i].rfind("status", 0) != 0) calls.push_back(ui.calls[i]);
        return calls;
    }

    const InterfaceLanguage en = InterfaceLanguage::English;
    const InterfaceLanguage ru = InterfaceLanguage::Russian;
};

TEST_F(SettingsAgainstSim, R630ReadRefusedSaveUnitsDefaultThenSaveInOrder) {
    Connect({"--param", "7=20", "--param", "3=1", "--param", "9=0", "--param", "6=1", "--param", "21=23",
             "--clock", "2024-03-05 09:07:03"});
    auto page = MakePage(SettingsFamily::R630);
    const SettingsForm& form = page->Form();
    std::size_t calls = ui.calls.size();
    std::size_t before = TracedRequests().size();
    ASSERT_EQ(page->ReadClick(), PageOutcome::Done);
    EXPECT_EQ(CallsFrom(calls), (Lines{"pages off test off", "pages on test on"}));
    EXPECT_EQ(form.language.Text(en), "English");
    EXPECT_EQ(form.language.Text(ru), "Английский");
    EXPECT_EQ(form.units.Text(en), "Sievert");
    EXPECT_EQ(form.fonLevel.index, -1);  // 20 is not in the list
    EXPECT_EQ(form.doseLevel.Text(en), "100 Sv");
    EXPECT_FALSE(form.sound);  // 3 = 1 is off on this family
    EXPECT_TRUE(form.buttonClick && form.sensorClick && form.thresholdSound);
    EXPECT_EQ(form.brightness.Text(en), "2");
    EXPECT_EQ(form.screenOff.Text(en), "3 minutes");
    EXPECT_EQ(form.powerOff.Text(ru), "10 минут");
    EXPECT_EQ(form.historyMethod.Text(en), "On Change");
    EXPECT_FALSE(form.alarm);
    EXPECT_EQ(form.alarmHour.Text(en), "23");
    EXPECT_EQ(form.alarmMinute.Text(en), "0");
    EXPECT_EQ(form.timeText.rfind("[05.03.2024]-[09:0", 0), 0u) << form.timeText;
    EXPECT_EQ(form.calibrationText, "1,27");
    // Read in the written order, parameter 22 included, then the clock and K.
    Lines requests = RequestsFrom(before);
    std::vector<int> reads;
    for (const std::string& r : requests) {
        unsigned lo, hi;
        if (std::sscanf(r.c_str(), "ch1 01 0E %x %x", &lo, &hi) == 2) reads.push_back(static_cast<int>(lo | hi << 8));
    }
    EXPECT_EQ(reads, (std::vector<int>{6, 9, 7, 8, 3, 14, 13, 15, 16, 17, 18, 19, 20, 21, 22, 4}));
    EXPECT_EQ(requests.size(), reads.size() + 1);
    EXPECT_EQ(requests[15], "ch1 01 0C");

    // Save is refused while the background box has no selection: nothing is sent.
    std::size_t sent = TracedRequests().size();
    calls = ui.calls.size();
    EXPECT_EQ(page->WriteClick(), PageOutcome::Failed);
    EXPECT_EQ(CallsFrom(calls), (Lines{"pages off test off", "error: Some Settings undefined\n\rSaving unavaliable",
                                       "pages on test on"}));
    EXPECT_EQ(TracedRequests().size(), sent);

    // Index 8 in sievert, then roentgen: the same index is 120 uR/h and is saved as 8.
    page->Edit().fonLevel.index = 8;
    page->Edit().units.index = 1;
    page->UnitsChange();
    EXPECT_EQ(form.fonLevel.Text(en), "120 uR/h");
    EXPECT_EQ(form.fonLevel.Text(ru), "120 мкР/ч");
    ui.answers = {true, false};
    ASSERT_EQ(page->WriteClick(), PageOutcome::Done);
    Writes writes = ParameterWrites(RequestsFrom(sent));
    ASSERT_EQ(writes.size(), 15u);
    EXPECT_EQ(writes[1], (std::pair<int, long>{9, 1}));
    EXPECT_EQ(writes[2], (std::pair<int, long>{7, 8}));
    EXPECT_EQ(writes[4], (std::pair<int, long>{3, 1}));

    // Default, then Save: exactly these writes, and No to the restart sends nothing more.
    page->DefaultClick();
    sent = TracedRequests().size();
    calls = ui.calls.size();
    ui.answers = {true, false};
    ASSERT_EQ(page->WriteClick(), PageOutcome::Done);
    Lines after = RequestsFrom(sent);
    EXPECT_EQ(ParameterWrites(after), (Writes{{6, 1}, {9, 0}, {7, 8}, {8, 14}, {3, 0}, {14, 1}, {13, 1}, {15, 1},
                                               {16, 1}, {17, 3}, {18, 10}, {19, 1}, {20, 0}, {21, 0}, {22, 0}}));
    EXPECT_EQ(after.size(), 15u);
    EXPECT_EQ(CallsFrom(calls), (Lines{"pages off test off", "confirm: Save Settings\n\rContinue?",
                                       "confirm warning: Settings successfully saved\n\rIt is reccomended Restart "
                                       "Device\n\rDo it Now?",
                                       "pages on test on"}));
    EXPECT_EQ(TracedRequests().size(), sent + 15);

    // Declining the save question sends nothing either.
    ui.answers = {false};
    EXPECT_EQ(page->WriteClick(), PageOutcome::Declined);
    EXPECT_EQ(TracedRequests().size(), sent + 15);
    EXPECT_TRUE(form.pagesEnabled);
}

TEST_F(SettingsAgainstSim, R630FailuresMidwayKeepWhatWasDone) {
    context.language = InterfaceLanguage::Russian;
    Connect({"--param", "9=1", "--param", "3=0", "--deaf-to", "010E:16", "--deaf-to", "010F:13"});
    auto page = MakePage(SettingsFamily::R630);
    const SettingsForm& form = page->Form();
    std::size_t calls = ui.calls.size();
    EXPECT_EQ(page->ReadClick(), PageOutcome::Failed);
    EXPECT_EQ(CallsFrom(calls), (Lines{"pages off test off", "error: Ошибка получения параметров", "pages on test on"}));
    // Read before the failure: shown; from it on: untouched.
    EXPECT_EQ(form.units.Text(ru), "Рентген");
    EXPECT_EQ(form.fonLevel.Text(ru), "120 мкР/ч");
    EXPECT_TRUE(form.sound);  // 3 = 0 is on
    EXPECT_TRUE(form.thresholdSound);
    EXPECT_EQ(form.brightness.index, -1);
    EXPECT_EQ(form.timeText, "");
    EXPECT_FALSE(Asked(TracedRequests(), "ch1 01 0E 11 00"));
    EXPECT_EQ(context.log.Lines().back(), "# ERROR: \"Read PAR[16]\"");

    // A write failing midway: the earlier ones stay written, the rest are not sent.
    page->DefaultClick();
    page->Edit().alarmHour.index = 5;
    std::size_t sent = TracedRequests().size();
    calls = ui.calls.size();
    ui.answers = {true};
    EXPECT_EQ(page->WriteClick(), PageOutcome::Failed);
    Writes writes = ParameterWrites(RequestsFrom(sent));
    // The unanswered one is sent again after the learnt time, for as long as three fixed waits.
    const auto unanswered = std::count(writes.begin(), writes.end(), std::pair<int, long>{13, 1});
    EXPECT_GE(unanswered, 3);
    writes.erase(std::unique(writes.begin(), writes.end()), writes.end());
    EXPECT_EQ(writes, (Writes{{6, 0}, {9, 0}, {7, 8}, {8, 14}, {3, 0}, {14, 1}, {13, 1}}));
    Lines shown = CallsFrom(calls);
    EXPECT_EQ(shown.front(), "pages off test off");
    EXPECT_EQ(shown[shown.size() - 2], "error: Ошибка сохранения настроек");
    EXPECT_EQ(shown.back(), "pages on test on");
    EXPECT_TRUE(context.connectionFlags.LinkTestEnabled());
}

TEST_F(SettingsAgainstSim, R520LowBitsOneDefaultRefusedBeforeRead) {
    Connect({"--model", "r520", "--param", "6=0", "--param", "3=1", "--param", "21=1"});
    auto page = MakePage(SettingsFamily::R520);
    const SettingsForm& form = page->Form();
    // Before any read the detectors box has no selection: Default then Save is refused.
    page->DefaultClick();
    std::size_t sent = TracedRequests().size();
    EXPECT_EQ(page->WriteClick(), PageOutcome::Failed);
    EXPECT_EQ(ui.calls[ui.calls.size() - 2], "error: Some Settings undefined\n\rSaving unavaliable");
    EXPECT_EQ(TracedRequests().size(), sent);

    ASSERT_EQ(page->ReadClick(), PageOutcome::Done);
    Lines read = RequestsFrom(sent);
    EXPECT_EQ(form.language.Text(en), "English");
    EXPECT_EQ(form.language.Text(ru), "Английский");
    EXPECT_TRUE(form.sound);  // 3 = 1 is on on this family
    EXPECT_TRUE(form.lights);
    EXPECT_EQ(form.measureMethod.Text(en), "Fast");
    EXPECT_EQ(form.sensors.Text(en), "SBM 20");
    EXPECT_FALSE(form.sensors.enabled);
    EXPECT_EQ(form.calibrationText, "1,00");
    EXPECT_TRUE(Asked(read, "ch1 01 0A"));
    EXPECT_FALSE(Asked(read, "ch1 01 0E 16 00"));  // no parameter 22
    EXPECT_FALSE(Asked(read, "ch1 01 0E 1E 00"));  // no parameter 30

    page->Edit().sound = false;
    sent = TracedRequests().size();
    ui.answers = {true, false};
    ASSERT_EQ(page->WriteClick(), PageOutcome::Done);
    Lines saved = RequestsFrom(sent);
    EXPECT_EQ(ParameterWrites(saved), (Writes{{6, 0}, {9, 0}, {7, 8}, {8, 14}, {3, 0}, {14, 1}, {13, 1}, {15, 1},
                                               {16, 1}, {17, 3}, {18, 10}, {19, 1}, {20, 1}, {21, 1}}));
    EXPECT_TRUE(Asked(saved, "ch1 01 0A"));
    EXPECT_EQ(saved.back(), "ch1 01 0A");
}

TEST_F(SettingsAgainstSim, R520LowBitsTwoChoosesTheDetectors) {
    Connect({"--model", "r520", "--variant", "2", "--param", "30=2"});
    auto page = MakePage(SettingsFamily::R520);
    ASSERT_EQ(page->ReadClick(), PageOutcome::Done);
    EXPECT_EQ(page->Form().sensors.Text(en), "SBM 21");
    EXPECT_EQ(page->Form().sensors.Text(ru), "СБМ 21");
    EXPECT_TRUE(page->Form().sensors.enabled);
    EXPECT_EQ(page->Form().language.Text(en), "Russian");
    page->Edit().sensors.index = 0;
    std::size_t sent = TracedRequests().size();
    ui.answers = {true, false};
    ASSERT_EQ(page->WriteClick(), PageOutcome::Done);
    Writes writes = ParameterWrites(RequestsFrom(sent));
    ASSERT_EQ(writes.size(), 15u);
    EXPECT_EQ(writes.back(), (std::pair<int, long>{30, 0}));
}

TEST_F(SettingsAgainstSim, ClockAndCalibration) {
    Connect({"--clock", "2020-01-01 00:00:00", "--deaf-to", "010C"});
    auto page = MakePage(SettingsFamily::R630);
    // Refusing either question sends nothing and gives the page back.
    std::size_t sent = TracedRequests().size();
    std::size_t calls = ui.calls.size();
    ui.answers = {false, false};
    EXPECT_EQ(page->TimeClick(), PageOutcome::Declined);
    EXPECT_EQ(page->CalibrSaveClick(), PageOutcome::Declined);
    EXPECT_EQ(CallsFrom(calls),
              (Lines{"pages off test off", "confirm: Write Time\n\rto Device from PC?", "pages on test on",
                     "pages off test off", "confirm: Calibration Coefficient will changed\n\rContinue?",
                     "pages on test on"}));
    EXPECT_EQ(TracedRequests().size(), sent);

    // The time goes out with the year byte and a zero seventh byte; the read-back is lost, yet
    // the write counts as done and the dashed text is shown.
    calls = ui.calls.size();
    ui.answers = {true};
    EXPECT_EQ(page->TimeClick(), PageOutcome::Done);
    Lines requests = RequestsFrom(sent);
    EXPECT_EQ(requests.front(), "ch1 01 0B 03 07 09 05 03 18 00");
    EXPECT_EQ(page->Form().timeText, "[--.--.----]-[--:--:--]");
    Lines shown = CallsFrom(calls);
    EXPECT_EQ(shown[shown.size() - 2], "info: Time written ti Device\n\r[--.--.----]-[--:--:--]");

    // K: format and range errors send nothing; a good one is rewritten and written.
    struct Case {
        const char* typed;
        const char* message;
    };
    const Case refused[] = {{"1,234", "error: K Format Error [1,234]"},
                            {",5", "error: K Format Error [,5]"},
                            {"0,09", "error: Error: K is to be from 0,1 to 9,99 [0,09]"},
                            {"10", "error: Error: K is to be from 0,1 to 9,99 [10]"}};
    sent = TracedRequests().size();
    for (const Case& c : refused) {
        page->Edit().calibrationText = c.typed;
        ui.answers = {true};
        EXPECT_EQ(page->CalibrSaveClick(), PageOutcome::Failed);
        EXPECT_EQ(ui.calls[ui.calls.size() - 2], c.message);
        EXPECT_EQ(page->Form().calibrationText, c.typed);
    }
    EXPECT_EQ(TracedRequests().size(), sent);
    page->Edit().calibrationText = "1.5";
    ui.answers = {true};
    EXPECT_EQ(page->CalibrSaveClick(), PageOutcome::Done);
    EXPECT_EQ(page->Form().calibrationText, "1,50");
    EXPECT_EQ(ParameterWrites(RequestsFrom(sent)), (Writes{{4, 150}}));
    EXPECT_EQ(ui.calls[ui.calls.size() - 2],
              "info: Calibration successfully saved\n\rIt is reccomended Restart Device");
    EXPECT_EQ(context.log.Lines().back(), "Write PAR[0x0004(4)] : 0x0096(150)");
}

}  // namespace
}  // namespace kalvo
