#include "settings/settings_page.h"

#include <chrono>

#include "device/device_parameters.h"
#include "device/device_restart.h"
#include "i18n/units.h"
#include "link/device_commands.h"
#include "platform/stop_request.h"
#include "settings/calibration_clock.h"

namespace kalvo {

namespace {
using Table16 = std::array<std::array<std::string_view, 16>, 3>;
using Table15 = std::array<std::array<std::string_view, 15>, 3>;

constexpr Table16 kBackgroundTable{{
    {"0,3", "0,4", "0,5", "0,6", "0,7", "0,8", "0,9", "1,0", "1,2", "1,5", "2,0", "5,0", "10", "30", "60", "100"},
    {"30", "40", "50", "60", "70", "80", "90", "100", "120", "150", "200", "500", "-1", "-3", "-6", "-10"},
    {"60", "80", "100", "120", "140", "160", "180", "200", "240", "300", "400", "1000", "2000", "6000", "12000",
     "20000"},
}};

constexpr Table15 kDoseTable{{
    {"-0,01", "-0,05", "-0,1", "-0,5", "-1,0", "-5,0", "-10,0", "-50,0", "--0,1", "--0,5", "--1,0", "--5,0", "--10",
     "--50", "--100"},
    {"-1,0", "-5,0", "-10", "-50", "-100", "-500", "--1,0", "--5,0", "--10", "--50", "--100", "--500", "--1000",
     "--5000", "--10000"},
    {"100e3", "500e3", "1e6", "5e6", "10e6", "50e6", "100e6", "500e6", "1e9", "5e9", "10e9", "50e9", "100e9",
     "500e9", "1e12"},
}};

std::vector<ChoiceText> Plain(std::initializer_list<std::pair<const char*, const char*>> items) {
    std::vector<ChoiceText> list;
    for (const auto& [russian, english] : items) list.push_back({russian, english});
    return list;
}

std::vector<ChoiceText> Numbers(int first, int last) {
    std::vector<ChoiceText> list;
    for (int n = first; n <= last; ++n) list.push_back({std::to_string(n), std::to_string(n)});
    return list;
}

std::vector<ChoiceText> Minutes() {
    std::vector<ChoiceText> list{{"Всегда ВКЛ", "Always ON"}};
    for (int n = 1; n <= 60; ++n) list.push_back({std::to_string(n) + " минут", std::to_string(n) + " minutes"});
    return list;
}

std::uint32_t Bit(bool checked) { return checked ? 1 : 0; }
std::uint32_t Index(const ChoiceBox& box) { return static_cast<std::uint32_t>(box.index); }
}  // namespace

std::string ChoiceBox::Text(InterfaceLanguage language) const {
    return Defined() && index < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(index)].Pick(language)
                                                                : std::string();
}

int ChoiceBox::Find(std::string_view text) const {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].russian == text || items[i].english == text) return static_cast<int>(i);
    return -1;
}

const Table16& BackgroundThresholdTable() { return kBackgroundTable; }
const Table15& DoseThresholdTable() { return kDoseTable; }

std::vector<ChoiceText> ThresholdItems(bool dose, int kind) {
    std::vector<ChoiceText> list;
    auto add = [&](std::string_view stored) {
        int scale = 0;
        while (!stored.empty() && stored.front() == '-') {
            stored.remove_prefix(1);
            ++scale;
        }
        auto unit = [&](InterfaceLanguage language) {
            return dose ? DoseUnitText(language, kind, scale) : DoseRateUnitText(language, kind, scale);
        };
        std::string number(stored);
        list.push_back({number + " " + unit(InterfaceLanguage::Russian), number + " " + unit(InterfaceLanguage::English)});
    };
    if (dose) {
        for (std::string_view stored : kDoseTable[static_cast<std::size_t>(kind)]) add(stored);
    } else {
        for (std::string_view stored : kBackgroundTable[static_cast<std::size_t>(kind)]) add(stored);
    }
    return list;
}

std::string SettingsRestartQuestion(InterfaceLanguage language) {
    return PickText(language, "Настройки успешно сохранены\n\rРекомендуется перезагрузить прибор\n\rСделать это сейчас?",
                    "Settings successfully saved\n\rIt is reccomended Restart Device\n\rDo it Now?");
}

std::vector<Caption> SettingsCaptions(SettingsFamily family) {
    if (family == SettingsFamily::R630) {
        return {
            {"TabSheet_DevControl_R630", "Настройки", "Settings"},
            {"Label_Setup_R630_Language", "Язык интерфейса прибора", "Language of Device"},
            {"Label_Setup_R630_Units", "Единицы измерения", "Units of Measurement"},
            {"Label_Setup_R630_Fon_Level", "Порог радиационного фона", "Threshold of Background"},
            {"Label_Setup_R630_Dose_Level", "Порог накопленной дозы", "Threshold of Radiation Dose"},
            {"GroupBox_Setup_R630_Sound", "Настрока звука", "Sound Settings"},
            {"CheckBox_Setup_R630_Sound_EN", "Звук включен", "Sound ON"},
            {"CheckBox_Setup_R630_Sound_BTN", "Щелчки кнопок", "Button Click"},
            {"CheckBox_Setup_R630_Sound_Sensor", "Щелчки датчика", "Sensod"},
            {"CheckBox_Setup_R630_Sound_Threshold", "Превышение порога фона", "Background Threshold"},
            {"Label_Setup_R630_Screen_Bright", "Яркость экрана", "Display Brightness"},
            {"Label_Setup_R630_Screen_TOff", "Время до отключения экрана", "Time to Display OFF"},
            {"Label_Setup_R630_Power_TOff", "Время до выключения", "Time to Device OFF"},
            {"Label_Setup_R630_History_M", "Метод сохранения истории", "History Saving Method"},
            {"GroupBox_Setup_R630_Alarm", "Установка будильника", "Alarm Settings"},
            {"CheckBox_Setup_R630_Alarm_En", "Будильник включен", "Alarm ON"},
            {"Label_Setup_R630_Alarm_H", "Часов", "Hour"},
            {"Label_Setup_R630_Alarm_M", "Минут", "Minutes"},
            {"GroupBox_Setup_R630_Time", "Время в приборе", "Time in Device"},
            {"Group_Setup_R630_Calibr", "Калибровочный коэффициент", "Calibration Coefficient"},
            {"BitBtn_Setup_R630_Read", "Прочитать", "Read"},
            {"BitBtn_Setup_R630_Write", "Сохранить", "Save"},
            {"BitBtn_Setup_R630_Default", "По умолчанию", "Default"},
            {"BitBtn_Setup_R630_Time", "Записать время", "Write Time"},
            {"BitBtn_Setup_R630_Reset", "Перезапустить", "Restart"},
            {"BitBtn_Setup_R630_Calibr_Save", "Записать калибровку", "Save Calibration"},
        };
    }
    return {
        {"TabSheet_DevControl_R520", "Настройки", "Settings"},
        {"Label_Setup_R520_Language", "Язык интерфейса прибора", "Language of Device"},
        {"Label_Setup_R520_Units", "Единицы измерения", "Units of Measurement"},
        {"Label_Setup_R520_Fon_Level", "Порог радиационного фона", "Threshold of Background"},
        {"Label_Setup_R520_Dose_Level", "Порог накопленной дозы", "Threshold of Radiation Dose"},
        {"GroupBox_Setup_R520_Sound", "Настрока звука", "Sound Settings"},
        {"CheckBox_Setup_R520_Sound_EN", "Звук включен", "Sound ON"},
        {"CheckBox_Setup_R520_Sound_BTN", "Щелчки кнопок", "Button Click"},
        {"CheckBox_Setup_R520_Sound_Sensor", "Щелчки датчика", "Sensod"},
        {"CheckBox_Setup_R520_Sound_Threshold", "Превышение порога фона", "Background Threshold"},
        {"Label_Setup_R520_Screen_Bright", "Яркость экрана", "Display Brightness"},
        {"Label_Setup_R520_Screen_TOff", "Время до отключения экрана", "Time to Display OFF"},
        {"Label_Setup_R520_Power_TOff", "Время до выключения", "Time to Device OFF"},
        {"Label_Setup_R520_History_M", "Метод сохранения истории", "History Saving Method"},
        {"CheckBox_Setup_R520_Led_Lights", "Подсветка", "Lights"},
        {"Label_Setup_R520_Measure_Method", "Метод измерения", "Measure Method"},
        {"Label_Setup_R520_Sensor", "Датчики", "Sensors"},
        {"GroupBox_Setup_R520_Time", "Время в приборе", "Time in Device"},
        {"Group_Setup_R520_Calibr", "Калибровочный коэффициент", "Calibration Coefficient"},
        {"BitBtn_Setup_R520_Read", "Прочитать", "Read"},
        {"BitBtn_Setup_R520_Write", "Сохранить", "Save"},
        {"BitBtn_Setup_R520_Default", "По умолчанию", "Default"},
        {"BitBtn_Setup_R520_Time", "Записать время", "Write Time"},
        {"BitBtn_Setup_R520_Reset", "Перезапустить", "Restart"},
        {"BitBtn_Setup_R520_Calibr_Save", "Записать калибровку", "Save Calibration"},
    };
}

SettingsForm NewSettingsForm(SettingsFamily family) {
    SettingsForm form;
    const bool r630 = family == SettingsFamily::R630;
    form.language.items = r630 ? Plain({{"Русский", "Russian"}, {"Английский", "English"}, {"Немецкий", "Deutsch"},
                                        {"Польский", "Polish"}})
                               : Plain({{"Английский", "English"}, {"Русский", "Russian"}});
    form.units.items = Plain({{"Зиверт", "Sievert"}, {"Рентген", "Roentgen"}, {"CPM", "CPM"}});
    form.fonLevel.items = ThresholdItems(false, 0);
    form.doseLevel.items = ThresholdItems(true, 0);
    form.brightness.items = Numbers(1, 4);
    form.screenOff.items = Minutes();
    form.powerOff.items = Minutes();
    form.historyMethod.items = Plain({{"По времени", "On Time"}, {"По изменению", "On Change"}});
    if (r630) {
        form.alarmHour.items = Numbers(0, 23);
        form.alarmMinute.items = Numbers(0, 59);
        form.calibrationText = "1,27";
    } else {
        form.measureMethod.items = Plain({{"Усреднение", "Average"}, {"Быстрое", "Fast"}});
        form.sensors.items = Plain({{"СБМ 20+21", "SBM 20+21"}, {"СБМ 20", "SBM 20"}, {"СБМ 21", "SBM 21"}});
        form.sensors.enabled = false;
        form.calibrationText = "1,00";
    }
    return form;
}

std::vector<SettingsField> SettingsFields(SettingsFamily family) {
    using F = SettingsForm;
    std::vector<SettingsField> fields{
        {"language", &F::language},       {"units", &F::units},
        {"fon_level", &F::fonLevel},      {"dose_level", &F::doseLevel},
        {"sound", nullptr, &F::sound},    {"button_click", nullptr, &F::buttonClick},
        {"sensor_click", nullptr, &F::sensorClick}, {"threshold_sound", nullptr, &F::thresholdSound},
        {"brightness", &F::brightness},   {"screen_off", &F::screenOff},
        {"power_off", &F::powerOff},      {"history_method", &F::historyMethod},
    };
    if (family == SettingsFamily::R630) {
        fields.push_back({"alarm", nullptr, &F::alarm});
        fields.push_back({"alarm_hour", &F::alarmHour});
        fields.push_back({"alarm_minute", &F::alarmMinute});
    } else {
        fields.push_back({"lights", nullptr, &F::lights});
        fields.push_back({"measure_method", &F::measureMethod});
        fields.push_back({"sensors", &F::sensors});
    }
    fields.push_back({"time", nullptr, nullptr, &F::timeText});
    fields.push_back({"calibration", nullptr, nullptr, &F::calibrationText});
    return fields;
}

// Pages off and link test off for the life of one device operation; the previous states come
// back however the operation ends.
class SettingsPage::Frame {
public:
    explicit Frame(SettingsPage& page)
        : page_(page), pages_(page.form_.pagesEnabled), linkTest_(page.link_.connection.LinkTestEnabled()) {
        page_.link_.connection.SetLinkTestEnabled(false);
        SetPages(false);
    }
    ~Frame() {
        page_.link_.connection.SetLinkTestEnabled(linkTest_);
        SetPages(pages_);
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

private:
    void SetPages(bool enabled) {
        page_.form_.pagesEnabled = enabled;
        if (page_.onPagesEnabled) page_.onPagesEnabled(enabled);
    }
    SettingsPage& page_;
    bool pages_;
    bool linkTest_;
};

SettingsPage::SettingsPage(SettingsFamily family, SettingsLink link, LocalTime localTime)
    : family_(family), link_(link), localTime_(std::move(localTime)) {
    if (!localTime_) {
        localTime_ = [] {
            std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
            std::tm local{};
#ifdef _WIN32
            localtime_s(&local, &now);
#else
            localtime_r(&now, &local);
#endif
            return local;
        };
    }
    for (int kind = 0; kind < 3; ++kind) {
        backgroundTexts_[static_cast<std::size_t>(kind)] = ThresholdItems(false, kind);
        doseTexts_[static_cast<std::size_t>(kind)] = ThresholdItems(true, kind);
    }
    form_ = NewSettingsForm(family_);
    RebuildThresholds(0);
}

std::string SettingsPage::Pick(std::string_view russian, std::string_view english) const {
    return PickText(link_.language, russian, english);
}

bool SettingsPage::AccessCheck(std::string_view russian, std::string_view english) {
    const ConnectionWatch& connection = link_.connection;
    int code = SettingsRefusalCode(connection.DeviceConnected(), connection.DeviceRecognised(), link_.identity);
    return SettingsAccessCheck(code, link_.ui, link_.log, link_.language, Pick(russian, english));
}

bool SettingsPage::Get(std::uint16_t id, std::uint32_t& value) {
    return GetDeviceParameter(link_.commands, link_.log, id, &value);
}

bool SettingsPage::Set(std::uint16_t id, std::uint32_t value) {
    return SetDeviceParameter(link_.commands, link_.log, id, value);
}

void SettingsPage::RebuildThresholds(int kind) {
    if (kind > 2) kind = 2;
    if (kind < 0) {
        kind = rememberedKind_;
    } else {
        rememberedKind_ = kind;
    }
    form_.fonLevel.items = backgroundTexts_[static_cast<std::size_t>(kind)];
    form_.doseLevel.items = doseTexts_[static_cast<std::size_t>(kind)];
}

void SettingsPage::UnitsChange() { RebuildThresholds(form_.units.index); }

PageOutcome SettingsPage::ReadFailed() {
    link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка получения параметров", "Error reading Parameters"));
    return PageOutcome::Failed;
}

bool SettingsPage::RefreshBoardInfo() {
    BoardInfo board;
    if (!link_.commands.ReadBoardInfo(board, false)) return false;
    link_.identity.boardInfo = board;
    return true;
}

PageOutcome SettingsPage::ReadClick() {
    Frame frame(*this);
    if (!AccessCheck("Чтение настроек", "Read Settings")) return PageOutcome::Failed;
    std::uint32_t value = 0;
    // Each value goes into the form at once, so a failure keeps what was read before it.
    if (!Get(param::kDeviceLanguage, value)) return ReadFailed();
    form_.language.Select(value);
    if (!Get(param::kUnits, value)) return ReadFailed();
    form_.units.Select(value);
    RebuildThresholds(value > 2 ? 2 : static_cast<int>(value));
    const std::pair<std::uint16_t, ChoiceBox*> thresholds[] = {{param::kRateThreshold, &form_.fonLevel},
                                                               {param::kDoseThreshold, &form_.doseLevel}};
    for (const auto& [id, box] : thresholds) {
        if (!Get(id, value)) return ReadFailed();
        box->Select(value);
    }
    if (!Get(param::kSound, value)) return ReadFailed();
    // The R630 keeps 0 for sound on, the R520 1.
    form_.sound = family_ == SettingsFamily::R630 ? value == 0 : value != 0;
    const std::pair<std::uint16_t, bool*> checks[] = {{param::kButtonClicks, &form_.buttonClick},
                                                      {param::kDetectorClicks, &form_.sensorClick},
                                                      {param::kThresholdSound, &form_.thresholdSound}};
    for (const auto& [id, check] : checks) {
        if (!Get(id, value)) return ReadFailed();
        *check = value != 0;
    }
    const std::pair<std::uint16_t, ChoiceBox*> lists[] = {{param::kBrightness, &form_.brightness},
                                                          {param::kDisplayOff, &form_.screenOff},
                                                          {param::kDeviceOff, &form_.powerOff},
                                                          {param::kHistoryMethod, &form_.historyMethod}};
    for (const auto& [id, box] : lists) {
        if (!Get(id, value)) return ReadFailed();
        box->Select(value);
    }
    if (!ReadFamilyTail()) return ReadFailed();

    TimeRecord time{};
    if (!link_.commands.ReadDeviceTime(time)) {
        form_.timeText = DashedTimeText();
        return ReadFailed();
    }
    form_.timeText = DeviceTimeText(time);
    if (!Get(param::kCalibration, value)) return ReadFailed();
    if (value < kCalibrationMin) value = kCalibrationMin;
    if (value > kCalibrationMax) value = kCalibrationMax;
    form_.calibrationText = CalibrationText(value);
    return PageOutcome::Done;
}

bool SettingsPage::ReadFamilyTail() {
    std::uint32_t value = 0;
    if (family_ == SettingsFamily::R630) {
        if (!Get(param::kAlarmClockOnR630, value)) return false;
        form_.alarm = value != 0;
        if (!Get(param::kAlarmHourR630, value)) return false;
        form_.alarmHour.Select(value);
        if (!Get(param::kAlarmMinuteR630, value)) return false;
        form_.alarmMinute.Select(value);
        return true;
    }
    if (!Get(param::kLightsR520, value)) return false;
    form_.lights = value != 0;
    if (!Get(param::kMeasuringMethodR520, value)) return false;
    form_.measureMethod.Select(value);
    if (!RefreshBoardInfo()) return false;
    // Only the model with both tube sets lets the user choose.
    if ((link_.identity.boardInfo.variant & 3) == 2) {
        if (!Get(param::kDetectorsR520, value)) return false;
        form_.sensors.Select(value);
        form_.sensors.enabled = true;
    } else {
        form_.sensors.index = 1;
        form_.sensors.enabled = false;
    }
    return true;
}

bool SettingsPage::AllDefined() const {
    const ChoiceBox* common[] = {&form_.language,   &form_.units,    &form_.fonLevel, &form_.doseLevel,
                                 &form_.brightness, &form_.screenOff, &form_.powerOff, &form_.historyMethod};
    for (const ChoiceBox* box : common)
        if (!box->Defined()) return false;
    if (family_ == SettingsFamily::R630) return form_.alarmHour.Defined() && form_.alarmMinute.Defined();
    return form_.measureMethod.Defined() && form_.sensors.Defined();
}

bool SettingsPage::Stopped(std::string_view what, std::string_view left) {
    if (!StopRequested(link_.stop)) return false;
    link_.log.LogError(std::string(what) + " stopped: " + std::string(left));
    return true;
}

bool SettingsPage::WriteAll() {
    const bool r630 = family_ == SettingsFamily::R630;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> values = {
        {param::kDeviceLanguage, Index(form_.language)},
        {param::kUnits, Index(form_.units)},
        {param::kRateThreshold, Index(form_.fonLevel)},
        {param::kDoseThreshold, Index(form_.doseLevel)},
        {param::kSound, r630 ? Bit(!form_.sound) : Bit(form_.sound)},
        {param::kButtonClicks, Bit(form_.buttonClick)},
        {param::kDetectorClicks, Bit(form_.sensorClick)},
        {param::kThresholdSound, Bit(form_.thresholdSound)},
        {param::kBrightness, Index(form_.brightness)},
        {param::kDisplayOff, Index(form_.screenOff)},
        {param::kDeviceOff, Index(form_.powerOff)},
        {param::kHistoryMethod, Index(form_.historyMethod)},
    };
    if (r630) {
        values.insert(values.end(), {{param::kAlarmClockOnR630, Bit(form_.alarm)},
                                     {param::kAlarmHourR630, Index(form_.alarmHour)},
                                     {param::kAlarmMinuteR630, Index(form_.alarmMinute)}});
    } else {
        values.insert(values.end(), {{param::kLightsR520, Bit(form_.lights)},
                                     {param::kMeasuringMethodR520, Index(form_.measureMethod)}});
    }
    // The R520's detectors go last, and only to the model with both tube sets.
    auto detectorsToo = [this, r630] { return !r630 && (link_.identity.boardInfo.variant & 3) == 2; };
    auto notWritten = [&](std::size_t from) {
        std::string list = "not written ";
        for (std::size_t i = from; i < values.size(); ++i) list += "PAR[" + std::to_string(values[i].first) + "] ";
        if (detectorsToo()) list += "PAR[" + std::to_string(param::kDetectorsR520) + "] ";
        list += "(" + std::to_string(from) + " of " + std::to_string(values.size() + (detectorsToo() ? 1 : 0)) +
                " written)";
        return list;
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (Stopped("Save Settings", notWritten(i))) return false;
        if (!Set(values[i].first, values[i].second)) return false;
    }
    if (r630) return true;
    if (Stopped("Save Settings", notWritten(values.size()))) return false;
    if (!RefreshBoardInfo()) return false;
    if (!detectorsToo()) return true;
    if (Stopped("Save Settings", notWritten(values.size()))) return false;
    return Set(param::kDetectorsR520, Index(form_.sensors));
}

PageOutcome SettingsPage::WriteClick() {
    Frame frame(*this);
    if (!AccessCheck("Сохранение настроек", "Save Settings")) return PageOutcome::Failed;
    if (!AllDefined()) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Некоторые настройки не определены\n\rСохранение невозможно",
                                                      "Some Settings undefined\n\rSaving unavaliable"));
        return PageOutcome::Failed;
    }
    if (!link_.ui.Confirm(Pick("Будут записаны настройки\n\rПродолжить?", "Save Settings\n\rContinue?")))
        return PageOutcome::Declined;
    StopRequest::WriteInProgress writing(link_.stop);
    if (!WriteAll()) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка сохранения настроек", "Error saving Settings"));
        return PageOutcome::Failed;
    }
    if (Stopped("Restart", "device not restarted")) return PageOutcome::Done;
    if (!link_.ui.ConfirmWarning(SettingsRestartQuestion(link_.language))) return PageOutcome::Done;
    DeviceRestart restart(link_.commands, link_.log, link_.ui, link_.connection);
    // Back in the boot loader is no success either: the settings take effect in the main firmware.
    if (restart.RestartToMain() != 0) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка перезагрузки прибора", "Error restarting Device"));
        return PageOutcome::Failed;
    }
    return PageOutcome::Done;
}

void SettingsPage::DefaultClick() {
    form_.units.index = 0;
    RebuildThresholds(0);
    form_.fonLevel.index = 8;
    form_.doseLevel.index = 14;
    form_.brightness.index = 1;
    form_.screenOff.index = 3;
    form_.powerOff.index = 10;
    form_.historyMethod.index = 1;
    form_.sound = form_.buttonClick = form_.sensorClick = form_.thresholdSound = true;
    if (family_ == SettingsFamily::R630) {
        form_.alarm = false;
        form_.alarmHour.index = 0;
        form_.alarmMinute.index = 0;
        form_.calibrationText = "1,27";
    } else {
        form_.lights = true;
        form_.measureMethod.index = 0;
        form_.calibrationText = "1,00";
    }
}

PageOutcome SettingsPage::ResetClick() {
    Frame frame(*this);
    StopRequest::WriteInProgress writing(link_.stop);
    if (Stopped("Restart", "device not restarted")) return PageOutcome::Failed;
    form_.resetEnabled = false;
    DeviceRestart restart(link_.commands, link_.log, link_.ui, link_.connection);
    int result = restart.RestartToMain();
    form_.resetEnabled = true;
    return result == 0 ? PageOutcome::Done : PageOutcome::Failed;
}

PageOutcome SettingsPage::TimeClick() {
    Frame frame(*this);
    if (!link_.ui.Confirm(Pick("Записать время\n\rв прибор из ПК?", "Write Time\n\rto Device from PC?")))
        return PageOutcome::Declined;
    StopRequest::WriteInProgress writing(link_.stop);
    if (Stopped("Write Time", "device clock not written")) return PageOutcome::Failed;
    TimeRecord record = ClockRecordFromLocalTime(localTime_());
    if (!link_.commands.WriteDeviceTime(record)) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка установки времени", "Error writing Time"));
        return PageOutcome::Failed;
    }
    if (StopRequested(link_.stop)) return PageOutcome::Done;
    // The write went through; a lost read-back only costs the displayed time.
    if (!link_.commands.ReadDeviceTime(record)) record.fill(0xFF);
    form_.timeText = DeviceTimeText(record);
    link_.ui.ShowMessage(MessageKind::Information,
                         Pick("Время установлено\n\r", "Time written ti Device\n\r") + form_.timeText);
    return PageOutcome::Done;
}

PageOutcome SettingsPage::CalibrSaveClick() {
    Frame frame(*this);
    if (!link_.ui.Confirm(Pick("Будет изменен калибровочный коэффициент\n\rПродолжить?",
                               "Calibration Coefficient will changed\n\rContinue?")))
        return PageOutcome::Declined;
    const std::string typed = form_.calibrationText;
    long long k = ParseCalibration(typed);
    if (k < 0) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка формата коэффициента [", "K Format Error [") + typed + "]");
        return PageOutcome::Failed;
    }
    if (k < kCalibrationMin || k > kCalibrationMax) {
        link_.ui.ShowMessage(MessageKind::Error,
                             Pick("Ошибка: K должен быть от 0,1 до 9,99 [", "Error: K is to be from 0,1 to 9,99 [") +
                                 typed + "]");
        return PageOutcome::Failed;
    }
    form_.calibrationText = CalibrationText(k);
    if (!AccessCheck("Сохранение калибровки", "Save Calibration")) return PageOutcome::Failed;
    StopRequest::WriteInProgress writing(link_.stop);
    if (Stopped("Save Calibration", "not written PAR[" + std::to_string(param::kCalibration) + "]")) return PageOutcome::Failed;
    if (!Set(param::kCalibration, static_cast<std::uint32_t>(k))) {
        link_.ui.ShowMessage(MessageKind::Error, Pick("Ошибка сохранения калибровки", "Error saving Calibration"));
        return PageOutcome::Failed;
    }
    link_.ui.ShowMessage(MessageKind::Information, Pick("Калибровка успешно сохранена\n\rРекомендуется перезагрузить прибор",
                                                        "Calibration successfully saved\n\rIt is reccomended Restart Device"));
    return PageOutcome::Done;
}

}  // namespace kalvo
