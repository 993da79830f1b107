#include "live/live_measurement.h"

#include <cstring>

#include "device/connection_watch.h"
#include "device/device_parameters.h"
#include "device/history_access.h"
#include "link/device_commands.h"
#include "platform/log_sink.h"
#include "platform/tick_clock.h"
#include "platform/ui_port.h"

namespace kalvo {

namespace {
enum AddressSlot { Rate, Count, ScaleBlock, DoseText, DoseUnit };
constexpr std::uint16_t kAddressParameters[] = {param::kRateAddress, param::kCountAddress, param::kScaleBlockAddress,
                                                param::kDoseTextAddress, param::kDoseUnitAddress};
constexpr int kTextLength = 10;

std::uint32_t Le32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Up to the first zero byte of a fixed 10-byte field.
std::string FieldText(const std::uint8_t* bytes) {
    const void* zero = std::memchr(bytes, 0, kTextLength);
    std::size_t length = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes) : kTextLength;
    return std::string(reinterpret_cast<const char*>(bytes), length);
}
}  // namespace

std::string RateNumberText(std::uint32_t unitCode, std::uint32_t rateValue, std::uint32_t countValue) {
    switch (unitCode) {
    case 0: {
        char text[24];
        std::snprintf(text, sizeof text, "%u,%02u", rateValue / 100, rateValue % 100);
        return text;
    }
    case 1: return std::to_string(rateValue);
    case 2: return std::to_string(countValue >> 1);
    default: return {};
    }
}

std::optional<double> RateValue(std::uint32_t unitCode, std::uint32_t rateValue, std::uint32_t countValue) {
    switch (unitCode) {
    case 0: return rateValue / 100.0;
    case 1: return static_cast<double>(rateValue);
    case 2: return static_cast<double>(countValue >> 1);
    default: return std::nullopt;
    }
}

LiveMeasurement::LiveMeasurement(DeviceCommands& commands, LogSink& log, UiPort& ui, const DeviceIdentity& identity,
                                 const InterfaceLanguage& language, const ConnectionWatch& connection,
                                 StopRequest* stop, Clock clock)
    : commands_(commands),
      log_(log),
      ui_(ui),
      identity_(identity),
      language_(language),
      connection_(connection),
      stop_(stop),
      clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return static_cast<std::uint32_t>(TickCount()); };
}

std::string LiveMeasurement::Pick(const char* russian, const char* english) const {
    return PickText(language_, russian, english);
}

bool LiveMeasurement::MeasurementAccessCheck() {
    // The live values ask the same of the device as the history does, with the same notices.
    HistoryAccess access =
        HistoryAccessCheck(connection_.DeviceConnected(), connection_.DeviceRecognised(), identity_, language_);
    if (access.label) page_.versionMessage = *access.label;
    return access.passes;
}

bool LiveMeasurement::FailRate() {
    page_.rateText = kNoValue;
    page_.barPosition = 0;
    return false;
}

bool LiveMeasurement::ReadValue(std::uint32_t address, std::uint8_t* out, int length) {
    return commands_.ReadMemory(address, out, length, false) == length;
}

bool LiveMeasurement::Prepare() {
    if (!MeasurementAccessCheck()) return false;
    for (std::size_t slot = 0; slot < addresses_.size(); ++slot) {
        if (addresses_[slot] == 0 && !GetDeviceParameter(commands_, log_, kAddressParameters[slot], &addresses_[slot]))
            return false;
    }
    std::uint32_t units = 0;
    if (!GetDeviceParameter(commands_, log_, param::kUnits, &units)) return false;
    unitCode_ = units & 0xFF;
    return true;
}

bool LiveMeasurement::ReadMeasurement(bool withDose) {
    if (!Prepare()) return FailRate();
    std::string unit = unitCode_ == 0   ? Pick("мкЗв/ч", "uSv/h")
                       : unitCode_ == 1 ? Pick("мкР/ч", "uR/h")
                                        : std::string("CPM");

    std::uint8_t value[4];
    if (!ReadValue(addresses_[unitCode_ <= 1 ? Rate : Count], value, 4)) return FailRate();
    std::uint32_t raw = Le32(value);
    page_.rateText = RateNumberText(unitCode_, raw, raw) + " " + unit;

    std::uint8_t scale = 0;
    if (!ReadValue(addresses_[ScaleBlock] + 2, &scale, 1)) return FailRate();
    page_.barPosition = ScaleBarPosition(scale);
    page_.rateIndicatorLit = !page_.rateIndicatorLit;
    ++readings_;
    lastHadDose_ = false;
    const std::optional<double> number = RateValue(unitCode_, raw, raw);
    auto report = [&](std::string doseText) {
        if (onReading && number) onReading(RateReading{static_cast<std::uint8_t>(unitCode_), *number, std::move(doseText)});
    };
    if (!withDose) {
        report("");
        return true;
    }

    std::uint8_t dose[kTextLength] = {};
    std::uint8_t doseUnit[kTextLength] = {};
    if (!SetDeviceParameter(commands_, log_, param::kCommand, command::kPrepareDoseText) ||
        !ReadValue(addresses_[DoseText], dose, kTextLength) || !ReadValue(addresses_[DoseUnit], doseUnit, kTextLength)) {
        page_.doseText = kNoValue;
        report("");
        return false;
    }
    page_.doseText = FieldText(dose) + " " + FieldText(doseUnit);
    page_.doseIndicatorLit = !page_.doseIndicatorLit;
    lastHadDose_ = true;
    report(page_.doseText);
    return true;
}

void LiveMeasurement::MeasurementStep() {
    if (doseResetRequest_ > 0) {
        doseResetRequest_ = SetDeviceParameter(commands_, log_, param::kCommand, command::kResetDose) ? 0 : -1;
        counter_ = 0;
    }
    switch (state_) {
    case MeasurementState::Idle:
        page_.rateText = page_.doseText = kNoValue;
        page_.barPosition = 0;
        page_.rateIndicatorLit = page_.doseIndicatorLit = false;
        state_ = MeasurementState::Armed;
        break;
    case MeasurementState::Armed:
        if (measuringPageActive && page_.autoRead) {
            counter_ = 0;
            addresses_.fill(0);
            state_ = MeasurementState::Running;
            firstRunningTick_ = true;
        }
        break;
    case MeasurementState::Running: {
        if (!measuringPageActive || !page_.autoRead) {
            state_ = MeasurementState::Idle;
            break;
        }
        std::uint32_t now = clock_();
        if (!firstRunningTick_ && now - lastReading_ < kReadingIntervalMs) break;
        firstRunningTick_ = false;
        lastReading_ = now;
        if (ReadMeasurement(counter_ == 0)) {
            counter_ = (counter_ + 1) % 10;
        } else {
            state_ = MeasurementState::Idle;
        }
        break;
    }
    }
}

void LiveMeasurement::BitBtn_Measure_ReadClick() {
    bool enabled = page_.readButtonEnabled;
    page_.readButtonEnabled = false;
    ReadMeasurement(true);
    page_.readButtonEnabled = enabled;
}

void LiveMeasurement::CheckBox_Measure_AutoReadClick(bool checked) {
    page_.autoRead = checked;
    page_.readButtonEnabled = !checked;
}

void LiveMeasurement::BitBtn_Measure_Dose_ResetClick() {
    bool pagesEnabled = page_.pagesEnabled;
    page_.pagesEnabled = false;
    doseResetSucceeded_ = false;
    const std::string failure = Pick("Ошибка сброса накопленной дозы", "Error Reseting Accumulated Dose");
    if (ui_.ConfirmWarning(Pick("СБРОС НАКОПЛЕННОЙ ДОЗЫ\n\rПродолжить?", "RESET ACCUMULATED DOSE\n\rContinue?"))) {
        StopRequest::WriteInProgress writing(stop_);
        if (stop_ && stop_->Requested()) {
            log_.LogError("Dose reset stopped: dose not reset");
        } else if (!MeasurementAccessCheck()) {
            ui_.ShowMessage(MessageKind::Error, failure);
        } else {
            doseResetRequest_ = 1;
            std::uint32_t start = clock_();
            bool timedOut = false;
            // The processing tick carries the command out while the front end runs its events.
            while (doseResetRequest_ > 0) {
                if (clock_() - start > kDoseResetLimitMs) {
                    doseResetRequest_ = 0;
                    timedOut = true;
                    break;
                }
                ui_.Wait(20);
            }
            if (timedOut || doseResetRequest_ < 0) {
                ui_.ShowMessage(MessageKind::Error, failure);
            } else {
                doseResetSucceeded_ = true;
                ui_.ShowMessage(MessageKind::Information,
                                Pick("Накопленная доза\n\rСброшена", "Accumulated Dose\nReseted"));
            }
        }
    }
    page_.pagesEnabled = pagesEnabled;
}

}  // namespace kalvo
