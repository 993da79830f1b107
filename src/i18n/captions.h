#pragma once
// The captions of the main window in both languages, applied at start-up and at every
// language switch. The controls are named as the window's components are.
#include <string>
#include <string_view>
#include <vector>

#include "i18n/language.h"

namespace kalvo {

inline constexpr int kProgramVersionMajor = 1;
inline constexpr int kProgramVersionMinor = 7;
inline constexpr std::string_view kProgramDate = "15.09.2024";
inline constexpr std::string_view kApplicationTitle = "KalvoExplorer 1.4";

// "1.7"
std::string ProgramVersionText();
// "Kalvo Explorer 1.7 (15.09.2024)" in both languages.
std::string MainWindowCaption();

struct Caption {
    std::string_view control;
    std::string_view russian;
    std::string_view english;
};

// The table, in the order it is applied. BitBtn_HIS_Read has two rows; CaptionOf picks by the
// running download.
const std::vector<Caption>& CaptionTable();

// The caption of one control in a language; historyReadRunning picks the Cancel text of the
// history read button.
std::string CaptionOf(std::string_view control, InterfaceLanguage language, bool historyReadRunning = false);

// The language item of the menu: "ENG" while English is active, else "RUS".
std::string LanguageActionCaption(InterfaceLanguage language);

// The picture (an index into the window's picture list) of the menu items that change it: the
// log item by whether the log is shown, the language item by the language, the data-source item
// by its choice.
inline int LogVisibleImageIndex(bool shown) { return shown ? 3 : 2; }
inline int LanguageImageIndex(InterfaceLanguage language) { return language == InterfaceLanguage::English ? 11 : 10; }
inline int DataSourceImageIndex(bool internet) { return internet ? 6 : 8; }

inline InterfaceLanguage Toggled(InterfaceLanguage language) {
    return language == InterfaceLanguage::Russian ? InterfaceLanguage::English : InterfaceLanguage::Russian;
}

// Stored values: 1 Russian, 2 English; anything but 2 reads as Russian.
inline int LanguageOptionValue(InterfaceLanguage language) { return language == InterfaceLanguage::English ? 2 : 1; }
inline InterfaceLanguage LanguageFromOption(int value) {
    return value == 2 ? InterfaceLanguage::English : InterfaceLanguage::Russian;
}

}  // namespace kalvo
