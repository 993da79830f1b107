#pragma once
// The constants that turn pulse counts into the dose rate of the chart and the CSV formula:
// pulses per hour x K / (tube sensitivity D x number of tubes S), in micro-roentgen per hour.
#include <cstdint>

#include "link/device_identity.h"

namespace kalvo {

inline constexpr std::uint32_t kCalibrationMinX100 = 10;
inline constexpr std::uint32_t kCalibrationMaxX100 = 999;
inline constexpr std::uint32_t kCalibrationDefaultX100 = 100;

struct DoseConversion {
    std::uint32_t sensors = 1;                                  // S
    std::uint32_t sensitivity = 76;                             // D
    std::uint32_t calibrationX100 = kCalibrationDefaultX100;  // K x 100; 100 means K = 1.00

    bool operator==(const DoseConversion&) const = default;
};

// S = 2 for R630, else 1; D = 86 for R630, else 68 when the low two bits of the board variant
// are 1, else 76.
DoseConversion DoseConversionOf(int boardCode, std::uint8_t boardVariant, std::uint32_t calibrationX100);
DoseConversion DoseConversionOf(const DeviceIdentity& identity, std::uint32_t calibrationX100);

// Parameter 4 as the history uses it: clamped to 10..999.
std::uint32_t ClampCalibrationX100(std::uint32_t value);

}  // namespace kalvo
