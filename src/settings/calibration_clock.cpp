#include "settings/calibration_clock.h"

#include <charconv>
#include <cstdint>
#include <cstdio>

namespace kalvo {

namespace {
std::string TwoDigits(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u", value);
    return text;
}

// A whole decimal number with an optional sign; nothing else, not even blanks.
bool DecimalInteger(const std::string& text, long long& value) {
    std::size_t start = 0;
    if (!text.empty() && text[0] == '+') start = 1;
    if (start == text.size()) return false;
    if (start == 1 && text[1] == '-') return false;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    // A 32-bit integer, as the device's values are.
    return error == std::errc() && end == last && value >= INT32_MIN && value <= INT32_MAX;
}
}  // namespace

std::string DeviceTimeText(const std::array<std::uint8_t, 7>& record) {
    const unsigned second = record[0], minute = record[1], hour = record[2], day = record[3], month = record[4],
                   year = record[5];
    std::string date = (day >= 1 && day <= 31 ? TwoDigits(day) : "--") + ".";
    date += (month >= 1 && month <= 12 ? TwoDigits(month) : "--") + ".";
    date += year == 255 ? "----" : "20" + TwoDigits(year);
    std::string time = (hour < 24 ? TwoDigits(hour) : "--") + ":";
    time += (minute < 60 ? TwoDigits(minute) : "--") + ":";
    time += second < 60 ? TwoDigits(second) : "--";
    return "[" + date + "]-[" + time + "]";
}

std::string DashedTimeText() {
    std::array<std::uint8_t, 7> dashed;
    dashed.fill(0xFF);
    return DeviceTimeText(dashed);
}

std::array<std::uint8_t, 7> ClockRecordFromLocalTime(const std::tm& local) {
    const int year = local.tm_year + 1900;
    return {static_cast<std::uint8_t>(local.tm_sec > 59 ? 59 : local.tm_sec),  // no leap second on the device
            static_cast<std::uint8_t>(local.tm_min),
            static_cast<std::uint8_t>(local.tm_hour),
            static_cast<std::uint8_t>(local.tm_mday),
            static_cast<std::uint8_t>(local.tm_mon + 1),
            static_cast<std::uint8_t>((year + 48) % 256),
            0};
}

long long ParseCalibration(const std::string& text) {
    std::size_t separator = text.find(',');
    if (separator == std::string::npos) separator = text.find('.');
    long long units = 0;
    if (separator == std::string::npos) {
        if (!DecimalInteger(text, units)) return -1;
        return units < 0 ? -1 : units * 100;
    }
    if (!DecimalInteger(text.substr(0, separator), units)) units = -1;
    const std::string fraction = text.substr(separator + 1);
    long long hundredths = 0;
    if (fraction.size() > 2) {
        hundredths = -1;
    } else if (!fraction.empty()) {
        long long value = 0;
        // "1" in front keeps a leading zero: "05" is 5 hundredths, "5" is 50.
        std::string digits = "1" + fraction + (fraction.size() == 1 ? "0" : "");
        hundredths = DecimalInteger(digits, value) ? value - 100 : -1;
    }
    if (units < 0 || hundredths < 0) return -1;
    return units * 100 + hundredths;
}

std::string CalibrationText(long long hundredths) {
    return std::to_string(hundredths / 100) + "," + TwoDigits(static_cast<unsigned>(hundredths % 100));
}

bool FilterCalibrationKey(char32_t key) {
    return key < 32 || (key >= U'0' && key <= U'9') || key == U',' || key == U'.';
}

}  // namespace kalvo
