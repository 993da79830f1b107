// The settings pages without a device: K parsing, clock texts, key filter, threshold lists,
// the list rebuild by unit kind, Default, and the page captions.
#include <gtest/gtest.h>

#include "app/context.h"
#include "settings/calibration_clock.h"
#include "settings/settings_page.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

TEST(Calibration, InputsParseAsTheUserMeantThem) {
    struct Case {
        const char* text;
        long long k;
    };
    const Case cases[] = {
        {"1,27", 127}, {"1.27", 127}, {"1,", 100},   {"2", 200},     {"0,1", 10},    {"0,09", 9},  {"10", 1000},
        {"9,99", 999}, {"1,5", 150},  {"1,05", 105}, {"1,234", -1},  {",5", -1},     {"", -1},     {"a", -1},
        {"-1", -1},    {"-1,5", -1},  {"1,-5", -1},  {"1,+5", -1},   {" 1", -1},     {"1.2,5", -1}, {"+2", 200},
        {"1,2.", -1},  {"99999999999", -1},          {"3000000", 300000000},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseCalibration(c.text), c.k) << c.text;
    EXPECT_EQ(CalibrationText(127), "1,27");
    EXPECT_EQ(CalibrationText(150), "1,50");
    EXPECT_EQ(CalibrationText(10), "0,10");
    EXPECT_EQ(CalibrationText(999), "9,99");
}

TEST(Calibration, OnlyDigitsSeparatorsAndControlKeysPass) {
    for (char32_t key : {U'0', U'5', U'9', U',', U'.', U'\b', U'\r', U'\x1B', U'\x1F'}) EXPECT_TRUE(FilterCalibrationKey(key));
    for (char32_t key : {U'a', U'Z', U' ', U'-', U'+', U'е', U'Ж', U'я', U'€', U'/', U':', U'\x7F'})
        EXPECT_FALSE(FilterCalibrationKey(key)) << static_cast<unsigned>(key);
}

TEST(DeviceClock, TextsRecordsAndTheYearByte) {
    EXPECT_EQ(DeviceTimeText({3, 7, 9, 5, 3, 24, 0}), "[05.03.2024]-[09:07:03]");
    EXPECT_EQ(DeviceTimeText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "[--.--.----]-[--:--:--]");
    EXPECT_EQ(DashedTimeText(), "[--.--.----]-[--:--:--]");
    EXPECT_EQ(DeviceTimeText({59, 59, 23, 31, 12, 99, 7}), "[31.12.2099]-[23:59:59]");
    EXPECT_EQ(DeviceTimeText({60, 60, 24, 0, 13, 0, 0}), "[--.--.2000]-[--:--:--]");
    EXPECT_EQ(DeviceTimeText({0, 0, 0, 32, 0, 254, 0}), "[--.--.20254]-[00:00:00]");

    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 9;
    local.tm_min = 7;
    local.tm_sec = 3;
    EXPECT_EQ(ClockRecordFromLocalTime(local), (std::array<std::uint8_t, 7>{3, 7, 9, 5, 3, 24, 0}));
    local.tm_year = 2300 - 1900;  // (2300 + 48) mod 256
    EXPECT_EQ(ClockRecordFromLocalTime(local)[5], 44);
    local.tm_year = 1999 - 1900;
    EXPECT_EQ(ClockRecordFromLocalTime(local)[5], (1999 + 48) % 256);
}

TEST(ThresholdLists, StoredScalesBecomeUnitNames) {
    EXPECT_EQ(BackgroundThresholdTable()[1][12], "-1");
    EXPECT_EQ(DoseThresholdTable()[0][14], "--100");
    struct Case {
        bool dose;
        int kind, index;
        const char* russian;
        const char* english;
    };
    const Case cases[] = {
        {false, 0, 0, "0,3 мкЗв/ч", "0,3 uSv/h"},   {false, 0, 8, "1,2 мкЗв/ч", "1,2 uSv/h"},
        {false, 1, 8, "120 мкР/ч", "120 uR/h"},     {false, 1, 12, "1  мР/ч", "1 mR/h"},
        {false, 1, 15, "10  мР/ч", "10 mR/h"},      {false, 2, 15, "20000 CPM", "20000 CPM"},
        {true, 0, 0, "0,01 мЗв", "0,01 mSv"},       {true, 0, 8, "0,1 Зв", "0,1 Sv"},
        {true, 0, 14, "100 Зв", "100 Sv"},          {true, 1, 6, "1,0   Р", "1,0 R"},
        {true, 1, 14, "10000   Р", "10000 R"},      {true, 2, 0, "100e3 ИМП", "100e3 PULSES"},
        {true, 2, 14, "1e12 ИМП", "1e12 PULSES"},
    };
    for (const Case& c : cases) {
        std::vector<ChoiceText> list = ThresholdItems(c.dose, c.kind);
        ASSERT_EQ(list.size(), c.dose ? 15u : 16u);
        EXPECT_EQ(list[static_cast<std::size_t>(c.index)].russian, c.russian);
        EXPECT_EQ(list[static_cast<std::size_t>(c.index)].english, c.english);
    }
}

// A page with no device connected: the form-only operations and the refusals.
class OfflinePage : public ::testing::Test {
protected:
    SettingsPage MakePage(SettingsFamily family) {
        return SettingsPage(family, SettingsLink{context.commands, context.log, ui, context.language, context.identity,
                                                 context.connectionFlags});
    }
    test::TempFolder folder;
    test::RecordingUiPort ui;
    AppContext context{ui, PortDirectory(folder.File("ports"), false)};
    InterfaceLanguage& language = context.language;
};

TEST_F(OfflinePage, ListsRebuildDefaultsAndCaptions) {
    SettingsPage r630 = MakePage(SettingsFamily::R630);
    const SettingsForm& form = r630.Form();
    // Nothing is selected at start; the lists are there in both languages.
    for (const ChoiceBox* box : {&form.language, &form.units, &form.fonLevel, &form.doseLevel, &form.brightness,
                                 &form.screenOff, &form.powerOff, &form.historyMethod, &form.alarmHour, &form.alarmMinute})
        EXPECT_EQ(box->index, -1);
    EXPECT_EQ(form.language.items.size(), 4u);
    EXPECT_EQ(form.language.items[3].english, "Polish");
    EXPECT_EQ(form.screenOff.items.size(), 61u);
    EXPECT_EQ(form.screenOff.items[0].Pick(InterfaceLanguage::Russian), "Всегда ВКЛ");
    EXPECT_EQ(form.powerOff.items[60].Pick(InterfaceLanguage::Russian), "60 минут");
    EXPECT_EQ(form.powerOff.items[1].english, "1 minutes");
    EXPECT_EQ(form.alarmHour.items.size(), 24u);
    EXPECT_EQ(form.alarmMinute.items.size(), 60u);
    EXPECT_EQ(form.calibrationText, "1,27");

    // Kinds above 2 are 2; negative ones mean the remembered kind, which stays.
    r630.Edit().fonLevel.index = 8;
    r630.RebuildThresholds(7);
    EXPECT_EQ(r630.RememberedKind(), 2);
    EXPECT_EQ(form.fonLevel.Text(language), "240 CPM");
    r630.RebuildThresholds(1);
    r630.RebuildThresholds(-1);
    EXPECT_EQ(r630.RememberedKind(), 1);
    EXPECT_EQ(form.fonLevel.Text(InterfaceLanguage::Russian), "120 мкР/ч");
    r630.Edit().units.index = -1;
    r630.UnitsChange();
    EXPECT_EQ(r630.RememberedKind(), 1);

    r630.Edit().calibrationText = "5";
    r630.DefaultClick();
    EXPECT_EQ(form.units.index, 0);
    EXPECT_EQ(r630.RememberedKind(), 0);
    EXPECT_EQ(form.fonLevel.Text(language), "1,2 uSv/h");
    EXPECT_EQ(form.doseLevel.Text(language), "100 Sv");
    EXPECT_EQ(form.brightness.Text(language), "2");
    EXPECT_EQ(form.screenOff.Text(language), "3 minutes");
    EXPECT_EQ(form.powerOff.Text(language), "10 minutes");
    EXPECT_EQ(form.historyMethod.Text(language), "On Change");
    EXPECT_TRUE(form.sound && form.buttonClick && form.sensorClick && form.thresholdSound);
    EXPECT_FALSE(form.alarm);
    EXPECT_EQ(form.alarmHour.index, 0);
    EXPECT_EQ(form.alarmMinute.index, 0);
    EXPECT_EQ(form.calibrationText, "1,27");
    EXPECT_EQ(form.language.index, -1);  // not touched

    SettingsPage r520 = MakePage(SettingsFamily::R520);
    EXPECT_EQ(r520.Form().calibrationText, "1,00");
    EXPECT_FALSE(r520.Form().sensors.enabled);
    EXPECT_EQ(r520.Form().language.items[0].Pick(InterfaceLanguage::Russian), "Английский");
    EXPECT_EQ(r520.Form().sensors.items[2].Pick(InterfaceLanguage::Russian), "СБМ 21");
    EXPECT_EQ(r520.Form().sensors.Find("SBM 20"), 1);
    EXPECT_EQ(r520.Form().measureMethod.Find("Быстрое"), 1);
    r520.DefaultClick();
    EXPECT_TRUE(r520.Form().lights);
    EXPECT_EQ(r520.Form().measureMethod.Text(language), "Average");
    EXPECT_EQ(r520.Form().sensors.index, -1);
    EXPECT_TRUE(ui.calls.empty());  // form only

    // The access check stops every device operation inside the frame.
    EXPECT_EQ(r520.ReadClick(), PageOutcome::Failed);
    EXPECT_EQ(ui.calls.back(), "error: Read Settings\n\rError Settings Access\n\rDevice not connected");
    EXPECT_TRUE(context.connectionFlags.LinkTestEnabled());
    EXPECT_TRUE(r520.Form().pagesEnabled);
    language = InterfaceLanguage::Russian;
    EXPECT_EQ(r520.WriteClick(), PageOutcome::Failed);
    EXPECT_EQ(ui.calls.back(), "error: Сохранение настроек\n\rОшибка доступа к настройкам\n\rСоединение не установлено");

    std::vector<Caption> captions = SettingsCaptions(SettingsFamily::R630);
    EXPECT_EQ(captions.size(), 26u);
    EXPECT_EQ(captions.front().control, "TabSheet_DevControl_R630");
    EXPECT_EQ(captions.front().english, "Settings");
    EXPECT_EQ(SettingsCaptions(SettingsFamily::R520).size(), 25u);
}

}  // namespace
}  // namespace kalvo
