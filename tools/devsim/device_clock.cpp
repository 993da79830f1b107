// The clock and its commands: WriteDeviceTime (01 0B) and ReadDeviceTime (01 0C), seven bytes
// of second, minute, hour, day, month, year from 2000 and a byte kept as written.
#include "devsim/device_clock.h"

#include <ctime>
#include <string>

#include "devsim/device_commands.h"
#include "devsim/device_model.h"

namespace kalvo::devsim {

namespace {

constexpr std::uint64_t kDay = 86400;
constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int DaysInMonth(int month, int year) { return kMonthDays[month - 1] + (month == 2 && year % 4 == 0 ? 1 : 0); }
int DaysInYear(int year) { return year % 4 == 0 ? 366 : 365; }

}  // namespace

bool IsValid(const DateTime& time) {
    return time.second < 60 && time.minute < 60 && time.hour < 24 && time.month >= 1 && time.month <= 12 &&
           time.day >= 1 && time.day <= DaysInMonth(time.month, time.year);
}

std::uint64_t ToDeviceSeconds(const DateTime& time) {
    std::uint64_t days = 0;
    for (int year = 0; year < time.year; ++year) days += static_cast<std::uint64_t>(DaysInYear(year));
    for (int month = 1; month < time.month; ++month) days += static_cast<std::uint64_t>(DaysInMonth(month, time.year));
    days += time.day - 1u;
    return days * kDay + time.hour * 3600u + time.minute * 60u + time.second;
}

DateTime FromDeviceSeconds(std::uint64_t seconds) {
    DateTime time;
    time.second = static_cast<std::uint8_t>(seconds % 60);
    time.minute = static_cast<std::uint8_t>(seconds / 60 % 60);
    time.hour = static_cast<std::uint8_t>(seconds / 3600 % 24);
    std::uint64_t days = seconds / kDay;
    int year = 0;
    while (days >= static_cast<std::uint64_t>(DaysInYear(year))) days -= static_cast<std::uint64_t>(DaysInYear(year++));
    int month = 1;
    while (days >= static_cast<std::uint64_t>(DaysInMonth(month, year))) days -= static_cast<std::uint64_t>(DaysInMonth(month++, year));
    time.year = static_cast<std::uint8_t>(year);
    time.month = static_cast<std::uint8_t>(month);
    time.day = static_cast<std::uint8_t>(days + 1);
    return time;
}

std::uint64_t PcLocalDeviceSeconds() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    DateTime time;
    time.second = static_cast<std::uint8_t>(std::min(local.tm_sec, 59));
    time.minute = static_cast<std::uint8_t>(local.tm_min);
    time.hour = static_cast<std::uint8_t>(local.tm_hour);
    time.day = static_cast<std::uint8_t>(local.tm_mday);
    time.month = static_cast<std::uint8_t>(local.tm_mon + 1);
    time.year = static_cast<std::uint8_t>(local.tm_year + 1900 - 2000);
    return ToDeviceSeconds(time);
}

std::optional<std::uint64_t> ParseClockText(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    int consumed = 0;
    std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &separator, &hour, &minute,
                    &second, &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != copy.size() || (separator != ' ' && separator != 'T') || year < 2000 ||
        year > 2135) {
        return std::nullopt;
    }
    DateTime time{static_cast<std::uint8_t>(second), static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(hour),
                  static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(month),
                  static_cast<std::uint8_t>(year - 2000)};
    if (month < 1 || month > 12 || second > 59 || minute > 59 || hour > 23 || !IsValid(time)) return std::nullopt;
    return ToDeviceSeconds(time);
}

std::uint64_t DeviceClock::SecondsAt(Clock::time_point now) const {
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - at_).count();
    return base_ + static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0));
}

void DeviceClock::Set(std::uint64_t seconds, std::uint8_t seventh, Clock::time_point now) {
    base_ = seconds;
    at_ = now;
    seventh_ = seventh;
}

namespace {

using Fields = std::span<const std::uint8_t>;

// A record the clock cannot hold is not taken, and not answered.
AnswerData WriteDeviceTime(SimDevice& device, int, Fields fields) {
    if (fields.size() < 7) return std::nullopt;
    DateTime time{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
    if (!IsValid(time)) {
        device.Note("WriteDeviceTime: not a date and time, no answer");
        return std::nullopt;
    }
    device.Rtc().Set(ToDeviceSeconds(time), fields[6], device.Now());
    return std::vector<std::uint8_t>{};
}

AnswerData ReadDeviceTime(SimDevice& device, int, Fields) {
    DateTime time = FromDeviceSeconds(device.Rtc().SecondsAt(device.Now()));
    return std::vector<std::uint8_t>{time.second, time.minute, time.hour, time.day, time.month, time.year,
                                     device.Rtc().Seventh()};
}

}  // namespace

void RegisterClockCommands(CommandTable& table) {
    table.Register(MakeCode(0x01, 0x0B), "WriteDeviceTime", WriteDeviceTime);
    table.Register(MakeCode(0x01, 0x0C), "ReadDeviceTime", ReadDeviceTime);
}

}  // namespace kalvo::devsim
