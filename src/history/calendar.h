#pragma once
// Calendar arithmetic on device times: seconds since 2000-01-01 00:00:00 on the device clock,
// and the seven-byte date and time record the device reports. Every year whose number from 2000
// is divisible by 4 is a leap year, as on the device.
#include <array>
#include <cstdint>
#include <string>

namespace kalvo {

// Seven bytes as ReadDeviceTime returns them (the same layout as TimeRecord).
using DeviceTimeBytes = std::array<std::uint8_t, 7>;

struct DeviceDateTime {
    std::uint8_t second = 0;
    std::uint8_t minute = 0;
    std::uint8_t hour = 0;
    std::uint8_t day = 0;
    std::uint8_t month = 0;
    std::uint8_t year = 0;   // counted from 2000
    std::uint8_t extra = 0;  // the seventh byte, carried along unchanged

    static DeviceDateTime FromBytes(const DeviceTimeBytes& bytes);
    DeviceTimeBytes ToBytes() const;
    bool operator==(const DeviceDateTime&) const = default;
};

// The years the chart can step to: 2001 .. 2059.
inline constexpr std::uint8_t kLowestStepYear = 1;
inline constexpr std::uint8_t kHighestStepYear = 59;

// A date and time from its full year (2000 .. 2255) and fields, unchecked.
DeviceDateTime MakeDeviceDateTime(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
                                  unsigned second = 0);

bool IsLeapYear(unsigned year);
// 0 for a month outside 1..12.
unsigned DaysInMonth(unsigned month, unsigned year);

// 2000-01-01 is day 1; a day above 31 counts as 0 and a month outside 1..12 as January.
std::uint32_t DayNumber(const DeviceDateTime& date);
// Date of the day `days` after 2000-01-01; the time fields are 0.
DeviceDateTime DateFromDays(std::uint16_t days);

DeviceDateTime SecondsToDateTime(std::uint32_t seconds);
// Modulo 2^32 like the device counter; a day number of 0 counts as no days.
std::uint32_t DateTimeToSeconds(const DeviceDateTime& time);

// 07.12.2026; invalid fields as "--" and a year byte of 255 as "----".
std::string DateText(const DeviceDateTime& date);
// 09:05:00; invalid fields as "--".
std::string TimeText(const DeviceDateTime& time);
// At least two digits, padded with "0".
std::string TwoDigitText(unsigned value);

// One step of the chart position. Where the month or year changes the day is clamped to the
// month's length. A step that would need a year beyond 2001..2059 leaves the position as it is,
// so Back never lands later and Forward never earlier. Minute, hour, day and month fields out
// of range are first clamped into range (the device clock may report anything).
DeviceDateTime MinuteBack(DeviceDateTime time);
DeviceDateTime MinuteForward(DeviceDateTime time);
DeviceDateTime HourBack(DeviceDateTime time);
DeviceDateTime HourForward(DeviceDateTime time);
DeviceDateTime DayBack(DeviceDateTime time);
DeviceDateTime DayForward(DeviceDateTime time);
DeviceDateTime MonthBack(DeviceDateTime time);
DeviceDateTime MonthForward(DeviceDateTime time);
DeviceDateTime YearBack(DeviceDateTime time);
DeviceDateTime YearForward(DeviceDateTime time);

}  // namespace kalvo
