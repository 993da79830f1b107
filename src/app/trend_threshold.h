#pragma once
// The device's background threshold (the settings' fon_level choice) in the unit of the live
// trend, for the threshold line and the time above it.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kalvo {

struct SettingsForm;

// A stored threshold entry ("0,3", "-1", "20000": each leading "-" a factor of 1000) as a
// number in the micro unit of its kind (counts per minute for CPM); nothing when malformed.
std::optional<double> ThresholdEntryValue(std::string_view stored);

// An entry of unit kind `kind` (0 sievert, 1 roentgen, 2 counts per minute) in the unit of the
// trend's unit code (0 uSv/h, 1 uR/h, else CPM). Sievert and roentgen convert at 100 uR/h to
// 1 uSv/h, as the device's own tables pair them entry by entry; counts and dose rates do not
// convert (that depends on the detector), so they give nothing.
std::optional<double> ThresholdInTrendUnit(int kind, std::string_view stored, std::uint8_t unitCode);

// The form's chosen background threshold in the trend's unit; nothing until a read has filled
// both the units and the threshold.
std::optional<double> BackgroundThreshold(const SettingsForm& form, std::uint8_t unitCode);

}  // namespace kalvo
