#include "history/calendar.h"

#include <algorithm>

namespace kalvo {

DeviceDateTime MakeDeviceDateTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                  unsigned second) {
    DeviceDateTime time;
    time.year = static_cast<std::uint8_t>(year - 2000);
    time.month = static_cast<std::uint8_t>(month);
    time.day = static_cast<std::uint8_t>(day);
    time.hour = static_cast<std::uint8_t>(hour);
    time.minute = static_cast<std::uint8_t>(minute);
    time.second = static_cast<std::uint8_t>(second);
    return time;
}

namespace {

constexpr std::array<std::uint16_t, 12> kCommonCumulative{31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr std::array<std::uint16_t, 12> kLeapCumulative{31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

const std::array<std::uint16_t, 12>& Cumulative(bool leap) { return leap ? kLeapCumulative : kCommonCumulative; }

std::uint8_t Byte(unsigned value) { return static_cast<std::uint8_t>(value); }

void ClampDay(DeviceDateTime& time) {
    unsigned last = std::max(DaysInMonth(time.month, time.year), 1u);
    time.day = Byte(std::clamp<unsigned>(time.day, 1, last));
}

void Normalise(DeviceDateTime& time) {
    time.minute = std::min<std::uint8_t>(time.minute, 59);
    time.hour = std::min<std::uint8_t>(time.hour, 23);
    time.month = std::clamp<std::uint8_t>(time.month, 1, 12);
    ClampDay(time);
}

// Each step returns false, leaving the time untouched, when it would need a year out of bounds.
bool StepYearBack(DeviceDateTime& time) {
    if (time.year <= kLowestStepYear) return false;
    --time.year;
    ClampDay(time);
    return true;
}

bool StepYearForward(DeviceDateTime& time) {
    if (time.year >= kHighestStepYear) return false;
    ++time.year;
    ClampDay(time);
    return true;
}

bool StepMonthBack(DeviceDateTime& time) {
    if (time.month == 1) {
        if (!StepYearBack(time)) return false;
        time.month = 12;
    } else {
        --time.month;
    }
    ClampDay(time);
    return true;
}

bool StepMonthForward(DeviceDateTime& time) {
    if (time.month == 12) {
        if (!StepYearForward(time)) return false;
        time.month = 1;
    } else {
        ++time.month;
    }
    ClampDay(time);
    return true;
}

bool StepDayBack(DeviceDateTime& time) {
    if (time.day == 1) {
        if (!StepMonthBack(time)) return false;
        time.day = Byte(DaysInMonth(time.month, time.year));
    } else {
        --time.day;
    }
    return true;
}

bool StepDayForward(DeviceDateTime& time) {
    if (time.day >= DaysInMonth(time.month, time.year)) {
        if (!StepMonthForward(time)) return false;
        time.day = 1;
    } else {
        ++time.day;
    }
    return true;
}

bool StepHourBack(DeviceDateTime& time) {
    if (time.hour == 0) {
        if (!StepDayBack(time)) return false;
        time.hour = 23;
    } else {
        --time.hour;
    }
    return true;
}

bool StepHourForward(DeviceDateTime& time) {
    if (time.hour == 23) {
        if (!StepDayForward(time)) return false;
        time.hour = 0;
    } else {
        ++time.hour;
    }
    return true;
}

bool StepMinuteBack(DeviceDateTime& time) {
    if (time.minute == 0) {
        if (!StepHourBack(time)) return false;
        time.minute = 59;
    } else {
        --time.minute;
    }
    return true;
}

bool StepMinuteForward(DeviceDateTime& time) {
    if (time.minute == 59) {
        if (!StepHourForward(time)) return false;
        time.minute = 0;
    } else {
        ++time.minute;
    }
    return true;
}

DeviceDateTime Step(DeviceDateTime time, bool (*step)(DeviceDateTime&)) {
    DeviceDateTime moved = time;
    Normalise(moved);
    return step(moved) ? moved : time;
}

}  // namespace

DeviceDateTime DeviceDateTime::FromBytes(const DeviceTimeBytes& bytes) {
    return {bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6]};
}

DeviceTimeBytes DeviceDateTime::ToBytes() const { return {second, minute, hour, day, month, year, extra}; }

bool IsLeapYear(unsigned year) { return year % 4 == 0; }

unsigned DaysInMonth(unsigned month, unsigned year) {
    static constexpr std::array<std::uint8_t, 12> kLengths{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return kLengths[month - 1] + (month == 2 && IsLeapYear(year) ? 1u : 0u);
}

std::uint32_t DayNumber(const DeviceDateTime& date) {
    unsigned m = date.month >= 1 && date.month <= 12 ? date.month - 1u : 0u;
    std::uint32_t d = date.day < 32 ? date.day : 0u;
    if (m > 0) d += Cumulative(IsLeapYear(date.year))[m - 1];
    if (date.year == 0) return d;
    return date.year * 365u + (date.year + 3u) / 4u + d;
}

DeviceDateTime DateFromDays(std::uint16_t days) {
    unsigned q = days / 1461u;
    unsigned r = days % 1461u;
    unsigned y = (std::max(r, 1u) - 1u) / 365u;
    unsigned dayOfYear = r < 366 ? r : r < 731 ? r - 366 : r < 1096 ? r - 731 : r - 1096;
    const auto& table = Cumulative(y == 0);
    unsigned month = 1;
    while (month < 12 && table[month - 1] <= dayOfYear) ++month;
    unsigned day = month == 1 ? dayOfYear + 1 : dayOfYear - table[month - 2] + 1;
    DeviceDateTime date;
    date.day = Byte(day);
    date.month = Byte(month);
    date.year = Byte(4 * q + y);
    return date;
}

DeviceDateTime SecondsToDateTime(std::uint32_t seconds) {
    DeviceDateTime time = DateFromDays(static_cast<std::uint16_t>(seconds / 86400u));
    time.second = Byte(seconds % 60u);
    time.minute = Byte(seconds / 60u % 60u);
    time.hour = Byte(seconds / 3600u % 24u);
    return time;
}

std::uint32_t DateTimeToSeconds(const DeviceDateTime& time) {
    std::uint32_t dayNumber = DayNumber(time);
    std::uint64_t days = dayNumber > 0 ? dayNumber - 1u : 0u;
    std::uint64_t seconds = days * 86400u + time.hour * 3600u + time.minute * 60u + time.second;
    return static_cast<std::uint32_t>(seconds);
}

std::string TwoDigitText(unsigned value) {
    std::string text = std::to_string(value);
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    return text;
}

std::string DateText(const DeviceDateTime& date) {
    std::string text;
    text += date.day == 0 || date.day >= 32 ? "--" : TwoDigitText(date.day);
    text += '.';
    text += date.month == 0 || date.month >= 13 ? "--" : TwoDigitText(date.month);
    text += '.';
    text += date.year == 255 ? "----" : "20" + TwoDigitText(date.year);
    return text;
}

std::string TimeText(const DeviceDateTime& time) {
    std::string text;
    text += time.hour >= 24 ? "--" : TwoDigitText(time.hour);
    text += ':';
    text += time.minute >= 60 ? "--" : TwoDigitText(time.minute);
    text += ':';
    text += time.second >= 60 ? "--" : TwoDigitText(time.second);
    return text;
}

DeviceDateTime MinuteBack(DeviceDateTime time) { return Step(time, StepMinuteBack); }
DeviceDateTime MinuteForward(DeviceDateTime time) { return Step(time, StepMinuteForward); }
DeviceDateTime HourBack(DeviceDateTime time) { return Step(time, StepHourBack); }
DeviceDateTime HourForward(DeviceDateTime time) { return Step(time, StepHourForward); }
DeviceDateTime DayBack(DeviceDateTime time) { return Step(time, StepDayBack); }
DeviceDateTime DayForward(DeviceDateTime time) { return Step(time, StepDayForward); }
DeviceDateTime MonthBack(DeviceDateTime time) { return Step(time, StepMonthBack); }
DeviceDateTime MonthForward(DeviceDateTime time) { return Step(time, StepMonthForward); }
DeviceDateTime YearBack(DeviceDateTime time) { return Step(time, StepYearBack); }
DeviceDateTime YearForward(DeviceDateTime time) { return Step(time, StepYearForward); }

}  // namespace kalvo
