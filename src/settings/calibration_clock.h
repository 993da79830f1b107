#pragma once
// The calibration coefficient K as the user types it and the device clock as the pages show it:
// pure functions, shared by both settings pages and kalvo-cli.
#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace kalvo {

inline constexpr int kCalibrationMin = 10;    // 0,10
inline constexpr int kCalibrationMax = 999;   // 9,99
inline constexpr int kCalibrationMaxLength = 10;

// "[05.03.2024]-[09:07:03]"; fields out of their range are dashed.
std::string DeviceTimeText(const std::array<std::uint8_t, 7>& record);
// Seven 0xFF bytes: what a failed clock read shows.
std::string DashedTimeText();

// The record the Write Time button sends for a local time: the year byte is (year + 48) mod 256,
// and the seventh byte, whose meaning the device does not define for us, is 0.
std::array<std::uint8_t, 7> ClockRecordFromLocalTime(const std::tm& local);

// K in hundredths from the box's text, or -1 for a format error (range not checked).
long long ParseCalibration(const std::string& text);
// K in hundredths shown as "1,27" (the value must be non-negative).
std::string CalibrationText(long long hundredths);
// Digits, "," and "." and control characters pass; every other key is dropped.
bool FilterCalibrationKey(char32_t key);

}  // namespace kalvo
