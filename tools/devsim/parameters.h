#pragma once
// The device's numbered 32-bit parameters: the settings of each family with their ranges, the
// fixed addresses of the live values, the history ring description and the command parameter.
#include <cstdint>
#include <map>
#include <optional>

namespace kalvo::devsim {

struct SimOptions;
class SimDevice;

inline constexpr std::uint16_t kParamSound = 3;
inline constexpr std::uint16_t kParamCalibration = 4;
inline constexpr std::uint16_t kParamUnits = 9;
inline constexpr std::uint16_t kParamHistoryMethod = 19;
inline constexpr std::uint16_t kParamRateAddress = 0xC001;
inline constexpr std::uint16_t kParamScaleAddress = 0xC002;
inline constexpr std::uint16_t kParamCountAddress = 0xC004;
inline constexpr std::uint16_t kParamDoseTextAddress = 0xC015;
inline constexpr std::uint16_t kParamDoseUnitAddress = 0xC016;
inline constexpr std::uint16_t kParamRingGeometry = 0xC020;  // to 0xC023
inline constexpr std::uint16_t kParamRingFlags = 0xC023;
inline constexpr std::uint16_t kCommandParameter = 0xFF00;

// Values of the command parameter.
inline constexpr std::uint32_t kExchangeBegin = 0xC0BA0010;
inline constexpr std::uint32_t kExchangeEnd = 0xC0BA0011;
inline constexpr std::uint32_t kEraseHistory = 0xC0BA0012;
inline constexpr std::uint32_t kResetDose = 0xC0BA0020;
inline constexpr std::uint32_t kPrepareDoseText = 0xC0BA0021;

class ParameterStore {
public:
    struct Setting {
        std::uint32_t value;
        std::uint32_t low, high;  // a write outside keeps the old value
    };

    // The family's settings at their factory values, then the unit's presets.
    static ParameterStore ForDevice(const SimOptions& options);

    std::optional<std::uint32_t> SettingValue(std::uint16_t id) const;
    // The value kept after the write; nothing when the device has no such setting.
    std::optional<std::uint32_t> Write(std::uint16_t id, std::uint32_t value);
    // A setting takes the value as given, range or not; any other id then answers this value
    // for good (for a unit that reports odd addresses or ring descriptions).
    void Preset(std::uint16_t id, std::uint32_t value);
    std::optional<std::uint32_t> Fixed(std::uint16_t id) const;
    const std::map<std::uint16_t, Setting>& Settings() const { return settings_; }

private:
    std::map<std::uint16_t, Setting> settings_;
    std::map<std::uint16_t, std::uint32_t> fixed_;
    std::map<std::uint16_t, std::uint32_t> kept_;  // writes land as this value instead
};

// What ReadParameter answers for id; nothing when the device does not know it.
std::optional<std::uint32_t> ParameterValue(const SimDevice& device, std::uint16_t id);

}  // namespace kalvo::devsim
