#pragma once
// The device's numbered parameters: identifiers, command values, the two logged wrappers that
// every page reads and writes them through, and the access check that guards the settings.
//
// User-interface thread only.
#include <cstdint>
#include <string>

#include "i18n/language.h"
#include "link/device_answers.h"

namespace kalvo {

class DeviceCommands;
class LogSink;
class UiPort;
struct DeviceIdentity;

namespace param {
inline constexpr std::uint16_t kSound = 3;
inline constexpr std::uint16_t kCalibration = 4;  // coefficient x 100, 10..999
inline constexpr std::uint16_t kDeviceLanguage = 6;
inline constexpr std::uint16_t kRateThreshold = 7;
inline constexpr std::uint16_t kDoseThreshold = 8;
inline constexpr std::uint16_t kUnits = 9;  // 0 sievert, 1 roentgen, 2 counts per minute
inline constexpr std::uint16_t kDetectorClicks = 13;
inline constexpr std::uint16_t kButtonClicks = 14;
inline constexpr std::uint16_t kThresholdSound = 15;
inline constexpr std::uint16_t kBrightness = 16;
inline constexpr std::uint16_t kDisplayOff = 17;
inline constexpr std::uint16_t kDeviceOff = 18;
inline constexpr std::uint16_t kHistoryMethod = 19;
inline constexpr std::uint16_t kAlarmClockOnR630 = 20;
inline constexpr std::uint16_t kAlarmHourR630 = 21;
inline constexpr std::uint16_t kAlarmMinuteR630 = 22;
inline constexpr std::uint16_t kLightsR520 = 20;
inline constexpr std::uint16_t kMeasuringMethodR520 = 21;
inline constexpr std::uint16_t kDetectorsR520 = 30;
inline constexpr std::uint16_t kRateAddress = 0xC001;
inline constexpr std::uint16_t kScaleBlockAddress = 0xC002;
inline constexpr std::uint16_t kCountAddress = 0xC004;
inline constexpr std::uint16_t kDoseTextAddress = 0xC015;
inline constexpr std::uint16_t kDoseUnitAddress = 0xC016;
inline constexpr std::uint16_t kRingGeometry = 0xC020;
inline constexpr std::uint16_t kRingCounts = 0xC021;
inline constexpr std::uint16_t kRingIndices = 0xC022;
inline constexpr std::uint16_t kRingFlags = 0xC023;
inline constexpr std::uint16_t kCommand = kCommandParameterId;
}  // namespace param

// Values of the command parameter.
namespace command {
inline constexpr std::uint32_t kExchangeBegin = 0xC0BA0010;
inline constexpr std::uint32_t kExchangeEnd = 0xC0BA0011;
inline constexpr std::uint32_t kEraseHistory = 0xC0BA0012;
inline constexpr std::uint32_t kResetDose = 0xC0BA0020;
inline constexpr std::uint32_t kPrepareDoseText = 0xC0BA0021;
}  // namespace command

// Lowest main firmware for the settings (live values and history: see history_access.h).
inline constexpr std::uint16_t kSettingsMinimumR630 = 0x0C09;
inline constexpr std::uint16_t kSettingsMinimumR520 = 0x0C03;

// "0x0007(7)": at least four upper-case hex digits and the signed decimal.
std::string ParameterText(std::uint32_t value);

// Reads silently; logs "Read PAR[...] : ..." or the error line. A null output fails unsent.
bool GetDeviceParameter(DeviceCommands& commands, LogSink& log, std::uint16_t id, std::uint32_t* value);
// Logs the value asked for, as "Write PAR[...]" or the error line. A device that keeps another
// value than the one sent fails the write, and the error line names both.
bool SetDeviceParameter(DeviceCommands& commands, LogSink& log, std::uint16_t id, std::uint32_t value);

// 0 when access is granted, else the refusal code 1..5.
int SettingsRefusalCode(bool connected, bool recognised, const DeviceIdentity& identity);
// The message box and log line of a refusal code; true for code 0.
bool SettingsAccessCheck(int code, UiPort& ui, LogSink& log, InterfaceLanguage language, const std::string& title);

}  // namespace kalvo
