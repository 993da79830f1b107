// kalvo-cli settings, clock and calibration: the settings page driven as a user would.
#include <algorithm>
#include <charconv>

#include "app/device_access.h"
#include "cli/cli_commands.h"
#include "settings/calibration_clock.h"
#include "settings/settings_page.h"

namespace kalvo {

namespace {

constexpr SettingsFamily kFamilies[] = {SettingsFamily::R630, SettingsFamily::R520};

// An item's exact text in either language first (brightness "2" is the item "2"), else its index.
int ResolveChoice(const std::vector<ChoiceText>& items, std::string_view value) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].russian == value || items[i].english == value) return static_cast<int>(i);
    int index = -1;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), index);
    if (ec != std::errc() || end != value.data() + value.size() || index < 0 ||
        index >= static_cast<int>(items.size()))
        return -1;
    return index;
}

bool IsThreshold(std::string_view key) { return key == "fon_level" || key == "dose_level"; }

bool CheckValue(const SettingsField& field, const SettingsForm& form, std::string_view value) {
    if (field.check) return value == "0" || value == "1";
    if (field.text) {
        if (field.key != "calibration" || value.size() > kCalibrationMaxLength) return false;
        for (char c : value)
            if (!FilterCalibrationKey(static_cast<unsigned char>(c))) return false;
        return true;
    }
    if (IsThreshold(field.key)) {
        for (int kind = 0; kind < 3; ++kind)
            if (ResolveChoice(ThresholdItems(field.key == "dose_level", kind), value) >= 0) return true;
        return false;
    }
    return ResolveChoice((form.*field.box).items, value) >= 0;
}

std::optional<SettingsField> FieldOf(SettingsFamily family, std::string_view key) {
    for (const SettingsField& field : SettingsFields(family))
        if (field.key == key) return field;
    return std::nullopt;
}

SettingsFamily FamilyOf(const AppContext& context) {
    return context.identity.boardInfo.boardCode == kBoardCodeR520 ? SettingsFamily::R520 : SettingsFamily::R630;
}

SettingsLink LinkOf(AppContext& context, ConsoleUiPort& ui) {
    return SettingsLink{context.commands, context.log, ui, context.language, context.identity, context.connectionFlags,
                        &context.stop};
}

void PrintForm(const SettingsPage& page, InterfaceLanguage language, std::ostream& out) {
    const SettingsForm& form = page.Form();
    for (const SettingsField& field : SettingsFields(page.Family())) {
        out << field.key << '=';
        if (field.box) out << (form.*field.box).Text(language);
        if (field.check) out << ((form.*field.check) ? 1 : 0);
        if (field.text) out << form.*field.text;
        out << '\n';
    }
    out << std::flush;
}

// Applies one edit as the user would; false (with the reason) for what this page cannot take.
bool ApplyEdit(SettingsPage& page, std::string_view edit, std::ostream& err) {
    const std::size_t equals = edit.find('=');
    const std::string_view key = edit.substr(0, equals), value = edit.substr(equals + 1);
    std::optional<SettingsField> field = FieldOf(page.Family(), key);
    if (!field) {
        err << "kalvo-cli: this device's settings have no " << key << '\n';
        return false;
    }
    SettingsForm& form = page.Edit();
    if (field->check) {
        form.*field->check = value == "1";
        return true;
    }
    if (field->text) {
        form.*field->text = value;
        return true;
    }
    ChoiceBox& box = form.*field->box;
    int index = ResolveChoice(box.items, value);
    if (!box.enabled || index < 0) {
        err << "kalvo-cli: " << key << (box.enabled ? " has no item " : " cannot be changed on this device: ") << value
            << '\n';
        return false;
    }
    box.index = index;
    if (key == "units") page.UnitsChange();
    return true;
}

}  // namespace

bool CheckSettingsEdit(std::string_view edit, std::ostream& err) {
    const std::size_t equals = edit.find('=');
    if (equals == std::string_view::npos) {
        err << "kalvo-cli: --set takes KEY=VALUE\n";
        return false;
    }
    const std::string_view key = edit.substr(0, equals), value = edit.substr(equals + 1);
    bool known = false;
    for (SettingsFamily family : kFamilies) {
        std::optional<SettingsField> field = FieldOf(family, key);
        if (!field || key == "time") continue;
        known = true;
        if (CheckValue(*field, NewSettingsForm(family), value)) return true;
    }
    err << "kalvo-cli: " << (known ? "bad value for " + std::string(key) + ": " + std::string(value)
                                   : "unknown setting " + std::string(key))
        << '\n';
    return false;
}

bool CheckCalibrationText(const std::string& text, InterfaceLanguage language, std::ostream& err) {
    const long long k = ParseCalibration(text);
    if (k < 0) {
        err << "kalvo-cli: " << PickText(language, "Ошибка формата коэффициента [", "K Format Error [") << text << "]\n";
        return false;
    }
    if (k < kCalibrationMin || k > kCalibrationMax) {
        err << "kalvo-cli: "
            << PickText(language, "Ошибка: K должен быть от 0,1 до 9,99 [", "Error: K is to be from 0,1 to 9,99 [")
            << text << "]\n";
        return false;
    }
    return true;
}

int RunSettings(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                std::ostream& err) {
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;
    const SettingsFamily family = FamilyOf(context);
    for (const std::string& edit : options.settingsEdits) {
        if (!FieldOf(family, edit.substr(0, edit.find('=')))) {
            err << "kalvo-cli: this device's settings have no " << edit.substr(0, edit.find('=')) << '\n';
            return kExitUsage;
        }
    }
    SettingsPage page(family, LinkOf(context, ui));
    const PageOutcome read = page.ReadClick();
    const bool change = options.settingsDefault || !options.settingsEdits.empty();
    // A form that was not read whole holds defaults, not the device's values: only the error.
    if (read != PageOutcome::Done) return kExitFailure;
    if (!change) {
        PrintForm(page, context.language, out);
        return kExitOk;
    }
    if (options.settingsDefault) page.DefaultClick();
    for (const std::string& edit : options.settingsEdits)
        if (!ApplyEdit(page, edit, err)) return kExitUsage;
    const std::string restartQuestion = SettingsRestartQuestion(context.language);
    ui.answer = [&](const std::string& text) -> std::optional<bool> {
        if (text == restartQuestion) return options.restart;
        return std::nullopt;
    };
    const PageOutcome saved = page.WriteClick();
    ui.answer = nullptr;
    // After a failed save the form says what was asked, not what the device holds.
    if (saved != PageOutcome::Done) return kExitFailure;
    PrintForm(page, context.language, out);
    return kExitOk;
}

int RunClock(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out, std::ostream& err) {
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;
    if (!options.setClock) {
        TimeRecord time{};
        if (!context.commands.ReadDeviceTime(time)) return kExitFailure;
        out << DeviceTimeText(time) << '\n';
        return kExitOk;
    }
    SettingsPage page(FamilyOf(context), LinkOf(context, ui));
    const PageOutcome outcome = page.TimeClick();
    if (outcome == PageOutcome::Done) out << page.Form().timeText << '\n';
    return outcome == PageOutcome::Done ? kExitOk : kExitFailure;
}

int RunCalibration(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                   std::ostream& err) {
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;
    if (!options.calibration) {
        std::uint32_t value = 0;
        if (!GetDeviceParameter(context, param::kCalibration, &value)) return kExitFailure;
        value = std::min<std::uint32_t>(std::max<std::uint32_t>(value, kCalibrationMin), kCalibrationMax);
        out << CalibrationText(value) << '\n';
        return kExitOk;
    }
    SettingsPage page(FamilyOf(context), LinkOf(context, ui));
    page.Edit().calibrationText = *options.calibration;
    const PageOutcome outcome = page.CalibrSaveClick();
    if (outcome == PageOutcome::Done) out << page.Form().calibrationText << '\n';
    return outcome == PageOutcome::Done ? kExitOk : kExitFailure;
}

}  // namespace kalvo
