#pragma once
// The live readings as a semicolon-separated file, in the manner of the history CSV: one header
// line, then one line a reading, CR LF after every line, ASCII only. The time is the PC's local
// time, in seconds since 2000-01-01 00:00:00 and as date and time texts; the value is written as
// the page shows it (a comma before the decimals).
#include <cstdint>
#include <span>
#include <string>

#include "live/live_trend.h"

namespace kalvo {

inline constexpr const char* kLiveCsvHeader = "TIME_IN_SECOND_FROM_2000;DATE;TIME;UNIT;VALUE";

// "uSv/h", "uR/h" or "CPM" by unit code.
std::string LiveUnitText(std::uint8_t unitCode);
// Sievert with two decimals (0,15); the others whole, or with two decimals when they are not
// (a minute's mean).
std::string LiveValueText(std::uint8_t unitCode, double value);
// 283900000;29.12.2008;21:06:40;uSv/h;0,15 (without the line end). `utcOffsetSeconds`: the
// PC's local offset at that moment.
std::string LiveCsvLine(const LiveReading& reading, std::int64_t utcOffsetSeconds);
// The local offset of the PC's time zone at `timeMs` (daylight saving included).
std::int64_t LocalUtcOffsetSeconds(std::int64_t timeMs);

// Header and lines, each with CR LF, in the PC's local time.
std::string LiveCsvText(std::span<const LiveReading> readings);

}  // namespace kalvo
