#pragma once
// The device's real-time clock: seconds since 2000-01-01 00:00:00 on the device's calendar
// (every year divisible by four from 2000 is a leap year), running with the PC's steady clock
// from whatever it was set to.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kalvo::devsim {

struct DateTime {
    std::uint8_t second = 0, minute = 0, hour = 0, day = 1, month = 1;
    std::uint8_t year = 0;  // from 2000
};

bool IsValid(const DateTime& time);
std::uint64_t ToDeviceSeconds(const DateTime& time);
DateTime FromDeviceSeconds(std::uint64_t seconds);
// The PC's local time now, as the program would write it into the clock.
std::uint64_t PcLocalDeviceSeconds();
// "YYYY-MM-DD hh:mm:ss" (or with a T), years 2000 to 2135.
std::optional<std::uint64_t> ParseClockText(std::string_view text);

class DeviceClock {
public:
    using Clock = std::chrono::steady_clock;

    DeviceClock(std::uint64_t seconds, Clock::time_point at) : base_(seconds), at_(at) {}

    std::uint64_t SecondsAt(Clock::time_point now) const;
    // seventh: the record's last byte, kept as written and read back unchanged.
    void Set(std::uint64_t seconds, std::uint8_t seventh, Clock::time_point now);
    std::uint8_t Seventh() const { return seventh_; }

private:
    std::uint64_t base_;
    Clock::time_point at_;
    std::uint8_t seventh_ = 0;
};

}  // namespace kalvo::devsim
