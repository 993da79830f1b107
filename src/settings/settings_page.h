#pragma once
// The settings page of each family as a model: what every control shows (item index or none,
// check state, the clock and calibration texts), the choice lists in both languages, the
// threshold lists rebuilt by unit kind, and the Read, Save, Default, Units change, Restart,
// Write Time and Save Calibration flows with their message boxes. The window and kalvo-cli
// show the model and write the user's choices into it.
//
// User-interface thread only. Device operations are framed: the pages are disabled and the
// link test is off while they run, both restored on every path.
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/captions.h"
#include "i18n/language.h"

namespace kalvo {

class ConnectionWatch;
class DeviceCommands;
class LogSink;
class StopRequest;
class UiPort;
struct DeviceIdentity;

enum class SettingsFamily { R630, R520 };

struct ChoiceText {
    std::string russian;
    std::string english;
    std::string Pick(InterfaceLanguage language) const { return PickText(language, russian, english); }
};

// A drop-down list: its items in both languages, the selected index (-1: none), enabled.
struct ChoiceBox {
    std::vector<ChoiceText> items;
    int index = -1;
    bool enabled = true;

    bool Defined() const { return index >= 0; }
    // A device value outside the list leaves no selection.
    void Select(std::uint32_t value) { index = value < items.size() ? static_cast<int>(value) : -1; }
    // The selected item's text, empty for none.
    std::string Text(InterfaceLanguage language) const;
    // The index of an item by its text in either language, -1 if none.
    int Find(std::string_view text) const;
};

struct SettingsForm {
    ChoiceBox language, units, fonLevel, doseLevel, brightness, screenOff, powerOff, historyMethod;
    ChoiceBox alarmHour, alarmMinute;   // R630 only
    ChoiceBox measureMethod, sensors;   // R520 only
    bool sound = false;                 // CheckBox_Setup_*_Sound_EN
    bool buttonClick = false;           // parameter 14
    bool sensorClick = false;           // parameter 13
    bool thresholdSound = false;        // parameter 15
    bool alarm = false;                 // R630: parameter 20
    bool lights = false;                // R520: parameter 20
    std::string timeText;               // Edit_Setup_*_Time, read-only
    std::string calibrationText;        // Edit_Setup_*_Calibr
    bool pagesEnabled = true;           // PageControl1
    bool resetEnabled = true;           // BitBtn_Setup_*_Reset
};

// A new page's form: the lists filled (thresholds for sievert), nothing selected, the
// family's design-time calibration text, the detectors box disabled.
SettingsForm NewSettingsForm(SettingsFamily family);

// The controls by fixed key, in the page's order (kalvo-cli prints and sets them by these):
// exactly one of box, check and text is set; text fields other than calibration are read-only.
struct SettingsField {
    std::string_view key;
    ChoiceBox SettingsForm::*box = nullptr;
    bool SettingsForm::*check = nullptr;
    std::string SettingsForm::*text = nullptr;
};
std::vector<SettingsField> SettingsFields(SettingsFamily family);

// What the page needs of the program.
struct SettingsLink {
    DeviceCommands& commands;
    LogSink& log;
    UiPort& ui;
    const InterfaceLanguage& language;
    DeviceIdentity& identity;      // its BoardInfo is refreshed by the R520 read and save
    ConnectionWatch& connection;   // access check flags, LinkTestEnabled, the restart
    StopRequest* stop = nullptr;   // none: writes always run to their end
};

enum class PageOutcome { Done, Declined, Failed };

// The threshold tables as stored: the number of leading "-" is the scale (none micro, one
// milli, two whole). Indexed [kind][index].
const std::array<std::array<std::string_view, 16>, 3>& BackgroundThresholdTable();
const std::array<std::array<std::string_view, 15>, 3>& DoseThresholdTable();
// One list for a unit kind (0..2): number, a blank, the unit name of the entry's scale.
std::vector<ChoiceText> ThresholdItems(bool dose, int kind);

// The messages of the pages.
std::string SettingsRestartQuestion(InterfaceLanguage language);

// The captions of a page's controls, named as the window's components are.
std::vector<Caption> SettingsCaptions(SettingsFamily family);

class SettingsPage {
public:
    using LocalTime = std::function<std::tm()>;

    // localTime: the PC clock for Write Time (empty: the system's local time).
    SettingsPage(SettingsFamily family, SettingsLink link, LocalTime localTime = {});

    SettingsFamily Family() const { return family_; }
    const SettingsForm& Form() const { return form_; }
    // The user's edits go here; after changing the units call UnitsChange.
    SettingsForm& Edit() { return form_; }
    int RememberedKind() const { return rememberedKind_; }

    // Called with false at the start and true at the end of every device operation.
    std::function<void(bool)> onPagesEnabled;

    PageOutcome ReadClick();
    PageOutcome WriteClick();
    void DefaultClick();
    void UnitsChange();
    PageOutcome ResetClick();
    PageOutcome TimeClick();         // SetDeviceClock
    PageOutcome CalibrSaveClick();   // SaveCalibration

    // Rebuilds both threshold lists for a kind (above 2: 2; negative: the remembered one),
    // keeping their selected indexes.
    void RebuildThresholds(int kind);

private:
    class Frame;

    std::string Pick(std::string_view russian, std::string_view english) const;
    bool AccessCheck(std::string_view russian, std::string_view english);
    bool Get(std::uint16_t id, std::uint32_t& value);
    bool Set(std::uint16_t id, std::uint32_t value);
    bool ReadFamilyTail();
    bool RefreshBoardInfo();
    bool AllDefined() const;
    bool WriteAll();
    // A stop asked for before the next write: logs what is left unwritten.
    bool Stopped(std::string_view what, std::string_view left);
    PageOutcome ReadFailed();

    SettingsFamily family_;
    SettingsLink link_;
    LocalTime localTime_;
    SettingsForm form_;
    int rememberedKind_ = 0;
    std::array<std::vector<ChoiceText>, 3> backgroundTexts_;
    std::array<std::vector<ChoiceText>, 3> doseTexts_;
};

}  // namespace kalvo
