// The device page's text, the caption table and the page rules, in both languages.
#include <gtest/gtest.h>

#include "app/pages.h"
#include "app/session.h"
#include "app/status_style.h"
#include "device/device_information.h"
#include "i18n/captions.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

DeviceIdentity Identified(int boardCode, std::uint16_t main, const char* model) {
    DeviceIdentity identity;
    identity.identified = true;
    identity.boardInfo.boardCode = static_cast<std::uint16_t>(boardCode);
    identity.softInfo = {0x0401, main, 0};
    identity.modelText = model;
    identity.inf1[9] = 0x21;
    identity.inf1[10] = 0x43;
    identity.inf1[11] = 0x65;
    identity.inf1[12] = 0x87;
    return identity;
}

const std::string kRule(30, '-');

TEST(DeviceInformation, AnOlderR630IsOfferedTheUpgradeInBothLanguages) {
    DeviceIdentity r630 = Identified(630, 0x0C06, "Orbelan RKD-630.41.0");
    EXPECT_EQ(ShowDeviceInformation(r630, InterfaceLanguage::English),
              (Lines{"Connected Device Information", "Device: Orbelan RKD-630.41.0", "S/N: 123-45678", kRule,
                     "SW BOOT: 4.1", "SW MAIN: 1.20.12.6", kRule, "Upgrade to Version 1.20.12.9", "is avaliable"}));
    Lines russian = ShowDeviceInformation(r630, InterfaceLanguage::Russian);
    EXPECT_EQ(russian[0], "Информация о подключенном приборе");
    EXPECT_EQ(russian[1], "Версия прибора: Orbelan RKD-630.41.0");
    EXPECT_EQ(Lines(russian.end() - 2, russian.end()), (Lines{"Доступно обновление", "до версии 1.20.12.9"}));
}

TEST(DeviceInformation, VerdictsAtTheEdges) {
    // Up to date, and later than the built-in release (two-digit minor).
    EXPECT_EQ(ShowDeviceInformation(Identified(630, 0x0C09, "x"), InterfaceLanguage::English).back(), kRule);
    Lines later = ShowDeviceInformation(Identified(630, 0x0C0A, "x"), InterfaceLanguage::English);
    EXPECT_EQ(later[5], "SW MAIN: 1.20.12.10");
    EXPECT_EQ(later.back(), kRule);
    EXPECT_EQ(ShowDeviceInformation(Identified(520, 0x0C03, "x"), InterfaceLanguage::English).back(), kRule);
    Lines r520 = ShowDeviceInformation(Identified(520, 0x0C02, "x"), InterfaceLanguage::Russian);
    EXPECT_EQ(Lines(r520.end() - 2, r520.end()), (Lines{"Доступно обновление", "до версии 12.3"}));

    // Boot mode: the versions as 0.0 and no offer.
    Lines boot = ShowDeviceInformation(Identified(630, 0, "x"), InterfaceLanguage::English);
    EXPECT_EQ(boot[5], "SW MAIN: 1.20.0.0");
    EXPECT_EQ(boot.back(), "Your Device is in BOOT Mode");
    EXPECT_EQ(ShowDeviceInformation(Identified(520, 0, "x"), InterfaceLanguage::Russian).back(),
              "Прибор находится в режиме BOOT");

    // Another board: no main line, no offer.
    Lines other = ShowDeviceInformation(Identified(415, 0x0101, "RKD-415.0.0"), InterfaceLanguage::English);
    EXPECT_EQ(other.size(), 6u);
    EXPECT_EQ(other[4], "SW BOOT: 4.1");
    EXPECT_EQ(other[5], kRule);

    DeviceIdentity none = Identified(630, 0x0C06, "x");
    none.identified = false;
    EXPECT_TRUE(ShowDeviceInformation(none, InterfaceLanguage::English).empty());
}

TEST(Captions, TableVersionAndLanguageItem) {
    EXPECT_EQ(ProgramVersionText(), "1.7");
    EXPECT_EQ(MainWindowCaption(), "Kalvo Explorer 1.7 (15.09.2024)");
    EXPECT_EQ(CaptionOf("Action_Log_Visible", InterfaceLanguage::Russian), "Скрыть//Показать ЛОГ");
    EXPECT_EQ(CaptionOf("Action_Help_About", InterfaceLanguage::English), "About Programm");
    EXPECT_EQ(CaptionOf("BitBtn_HIS_Read", InterfaceLanguage::English), "Read");
    EXPECT_EQ(CaptionOf("BitBtn_HIS_Read", InterfaceLanguage::Russian, true), "Отмена");
    EXPECT_EQ(CaptionOf("BitBtn_HIS_Read", InterfaceLanguage::English, true), "Cancel");
    EXPECT_EQ(CaptionOf("CheckBox_HIS_Show_MaxVal", InterfaceLanguage::Russian), "Показывать всплески");
    EXPECT_EQ(CaptionOf("NoSuchControl", InterfaceLanguage::English), "");
    EXPECT_EQ(CaptionTable().size(), 31u);
    EXPECT_EQ(LanguageActionCaption(InterfaceLanguage::English), "ENG");
    EXPECT_EQ(LanguageActionCaption(InterfaceLanguage::Russian), "RUS");
    EXPECT_EQ(Toggled(Toggled(InterfaceLanguage::Russian)), InterfaceLanguage::Russian);
    EXPECT_EQ(LanguageFromOption(7), InterfaceLanguage::Russian);
    EXPECT_EQ(LanguageFromOption(0), InterfaceLanguage::Russian);
    EXPECT_EQ(LanguageFromOption(2), InterfaceLanguage::English);
    EXPECT_EQ(LanguageOptionValue(InterfaceLanguage::English), 2);
}

TEST(Pages, StoredIndexAndHiddenActiveTab) {
    EXPECT_EQ(PageFromOption(99), 5);
    EXPECT_EQ(PageFromOption(6), 5);
    EXPECT_EQ(PageFromOption(-3), 0);
    std::array<bool, kPageCount> visible{true, true, false, false, true, false};
    EXPECT_EQ(ActivePageAfterHide(1, visible), 1);
    EXPECT_EQ(ActivePageAfterHide(2, visible), 4);  // the next visible takes its place
    EXPECT_EQ(ActivePageAfterHide(5, visible), 4);  // or else the last visible one
    EXPECT_EQ(ActivePageAfterHide(2, {}), -1);
}

TEST(StatusStyles, PanelsFollowTheirTables) {
    EXPECT_EQ(StatusAppearance(1).background, (Rgb{0, 128, 0}));
    EXPECT_EQ(StatusAppearance(2).text, (Rgb{255, 255, 0}));
    EXPECT_TRUE(StatusAppearance(3).bold);
    EXPECT_FALSE(StatusAppearance(4).background);  // above 3 is 0
    EXPECT_FALSE(StatusAppearance(0).bold);
    EXPECT_EQ(ConnectionAppearance(ConnectionKind::Ok).background, (Rgb{0, 255, 0}));
    EXPECT_EQ(ConnectionAppearance(ConnectionKind::Nok).background, (Rgb{255, 255, 255}));
}

TEST(Session, TimestampAndFrames) {
    std::time_t when = 1733635267;  // some moment; only the shape is checked
    std::string stamp = LogTimestamp(when);
    ASSERT_EQ(stamp.size(), 19u);
    EXPECT_EQ(stamp[2], '.');
    EXPECT_EQ(stamp[5], '.');
    EXPECT_EQ(stamp[10], ' ');
    ReportLog log;
    LogStartFrame(log, when);
    log.LogLine("PORT LIST: 7");
    LogEndFrame(log, when);
    EXPECT_EQ(log.Lines(), (Lines{std::string(42, '#'), "# START: " + stamp, "# APP VERSION = 1.7", std::string(42, '#'),
                                  "PORT LIST: 7", std::string(42, '#'), "# END: " + stamp, std::string(42, '#')}));
    EXPECT_FALSE(SaveReport(log, ""));  // a run that never started writes nothing
}

}  // namespace
}  // namespace kalvo
