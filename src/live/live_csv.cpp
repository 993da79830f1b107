#include "live/live_csv.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace kalvo {

namespace {

// 2000-01-01 00:00:00 in seconds since 1970.
constexpr std::int64_t kEpoch2000 = 946684800;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Civil date of a day count since 1970-01-01 (H. Hinnant's algorithm).
void CivilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

}  // namespace

std::string LiveUnitText(std::uint8_t unitCode) {
    return unitCode == 0 ? "uSv/h" : unitCode == 1 ? "uR/h" : "CPM";
}

std::string LiveValueText(std::uint8_t unitCode, double value) {
    const long long hundredths = std::llround(value * 100);
    char text[48];
    const char* sign = hundredths < 0 ? "-" : "";
    const long long magnitude = hundredths < 0 ? -hundredths : hundredths;
    if (unitCode != 0 && magnitude % 100 == 0)
        std::snprintf(text, sizeof text, "%s%lld", sign, magnitude / 100);
    else
        std::snprintf(text, sizeof text, "%s%lld,%02lld", sign, magnitude / 100, magnitude % 100);
    return text;
}

std::string LiveCsvLine(const LiveReading& reading, std::int64_t utcOffsetSeconds) {
    const std::int64_t local = FloorDiv(reading.timeMs, 1000) + utcOffsetSeconds;
    const std::int64_t days = FloorDiv(local, 86400);
    const std::int64_t second = local - days * 86400;
    int year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[96];
    std::snprintf(text, sizeof text, "%lld;%02u.%02u.%04d;%02lld:%02lld:%02lld;", static_cast<long long>(local - kEpoch2000),
                  day, month, year, static_cast<long long>(second / 3600), static_cast<long long>(second / 60 % 60),
                  static_cast<long long>(second % 60));
    return text + LiveUnitText(reading.unitCode) + ";" + LiveValueText(reading.unitCode, reading.value);
}

std::int64_t LocalUtcOffsetSeconds(std::int64_t timeMs) {
    const std::time_t t = static_cast<std::time_t>(FloorDiv(timeMs, 1000));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return 0;
#else
    if (!localtime_r(&t, &local)) return 0;
#endif
    // The local broken-down time read back as if it were UTC, less the moment itself.
    const std::int64_t days = [&] {
        const int y = local.tm_year + 1900 - (local.tm_mon < 2);
        const std::int64_t era = FloorDiv(y, 400);
        const auto yoe = static_cast<unsigned>(y - era * 400);
        const unsigned m = static_cast<unsigned>(local.tm_mon + 1);
        const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(local.tm_mday) - 1;
        const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    }();
    const std::int64_t asUtc = days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return asUtc - static_cast<std::int64_t>(t);
}

std::string LiveCsvText(std::span<const LiveReading> readings) {
    std::string text = kLiveCsvHeader;
    text += "\r\n";
    for (const LiveReading& reading : readings) {
        text += LiveCsvLine(reading, LocalUtcOffsetSeconds(reading.timeMs));
        text += "\r\n";
    }
    return text;
}

}  // namespace kalvo
