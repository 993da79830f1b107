#pragma once
// The live readings of the measuring page: where the values live in device memory, reading
// them once a second while the page is open with automatic reading on, the dose every tenth
// reading, and the reset of the accumulated dose (carried out by the processing tick). The
// page's texts, bar and indicators are a model here that the window (or kalvo-cli) shows.
//
// User-interface thread only.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "i18n/language.h"
#include "platform/stop_request.h"

namespace kalvo {

class ConnectionWatch;
class DeviceCommands;
class LogSink;
class UiPort;
struct DeviceIdentity;

enum class MeasurementState { Idle, Armed, Running };

inline constexpr const char* kNoValue = "--------";
inline constexpr int kScaleBarMax = 120;
inline constexpr std::uint32_t kReadingIntervalMs = 1000;
inline constexpr std::uint32_t kDoseResetLimitMs = 3000;

struct MeasuringPage {
    std::string rateText = "----";     // Label_Measure_Fon
    std::string doseText = "----";     // Label_Measure_Dose
    int barPosition = 0;               // ProgressBar_Measure_Fon, 0..120
    bool rateIndicatorLit = false;     // yellow, else the window face colour
    bool doseIndicatorLit = false;
    std::string versionMessage;        // Label_Measure_Version_Msg
    bool readButtonEnabled = false;    // BitBtn_Measure_Read
    bool autoRead = true;              // CheckBox_Measure_AutoRead
    bool pagesEnabled = true;          // PageControl1 during the reset question
};

// The number of the rate label by unit code: 0 hundredths with a comma (12,34), 1 whole, 2 the
// count value halved; any other code gives no number.
std::string RateNumberText(std::uint32_t unitCode, std::uint32_t rateValue, std::uint32_t countValue);
// The rate as a number in the page's unit (uSv/h, uR/h, CPM), as the label shows it; nothing for
// a code the label gives no number for.
std::optional<double> RateValue(std::uint32_t unitCode, std::uint32_t rateValue, std::uint32_t countValue);

// One rate reading as the page showed it, with the dose text when it was read with it.
struct RateReading {
    std::uint8_t unitCode = 0;
    double value = 0;
    std::string doseText;
};

// The bar's position for the device's scale byte.
inline int ScaleBarPosition(std::uint8_t scale) { return scale > kScaleBarMax ? kScaleBarMax : scale; }

class LiveMeasurement {
public:
    using Clock = std::function<std::uint32_t()>;

    // The connection watch gives the access check's flags; the identity and the language are
    // read at each use, so they follow the device and the user. `stop`: a termination signal's
    // request, which a dose reset not yet sent gives way to.
    LiveMeasurement(DeviceCommands& commands, LogSink& log, UiPort& ui, const DeviceIdentity& identity,
                    const InterfaceLanguage& language, const ConnectionWatch& connection, StopRequest* stop = nullptr,
                    Clock clock = {});

    void SetClock(Clock clock) { clock_ = std::move(clock); }

    bool MeasurementAccessCheck();
    bool ReadMeasurement(bool withDose);
    // Every processing tick.
    void MeasurementStep();

    void BitBtn_Measure_ReadClick();
    void CheckBox_Measure_AutoReadClick(bool checked);
    void BitBtn_Measure_Dose_ResetClick();

    // Set by the window: the measuring page is the active page.
    bool measuringPageActive = false;
    // Every rate reading with a number, after the page shows it (the trend and the archive).
    std::function<void(const RateReading&)> onReading;

    const MeasuringPage& Page() const { return page_; }
    MeasurementState State() const { return state_; }
    int DoseResetRequest() const { return doseResetRequest_; }
    // The last reset question ended with "Accumulated Dose Reseted".
    bool DoseResetSucceeded() const { return doseResetSucceeded_; }
    // Readings done so far and whether the last one included the dose (for kalvo-cli).
    int Readings() const { return readings_; }
    bool LastReadingHadDose() const { return lastHadDose_; }

private:
    bool Prepare();
    bool FailRate();
    bool ReadValue(std::uint32_t address, std::uint8_t* out, int length);
    std::string Pick(const char* russian, const char* english) const;

    DeviceCommands& commands_;
    LogSink& log_;
    UiPort& ui_;
    const DeviceIdentity& identity_;
    const InterfaceLanguage& language_;
    const ConnectionWatch& connection_;
    StopRequest* stop_;
    Clock clock_;
    MeasuringPage page_;
    MeasurementState state_ = MeasurementState::Idle;
    int counter_ = 0;
    bool firstRunningTick_ = false;
    std::uint32_t lastReading_ = 0;
    int doseResetRequest_ = 0;
    bool doseResetSucceeded_ = false;
    // Device addresses of rate, count, scale block, dose text, dose unit text; 0 = not read.
    std::array<std::uint32_t, 5> addresses_{};
    std::uint32_t unitCode_ = 0;
    int readings_ = 0;
    bool lastHadDose_ = false;
};

}  // namespace kalvo
