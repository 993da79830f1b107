#include "app/trend_threshold.h"

#include <charconv>
#include <string>

#include "settings/settings_page.h"

namespace kalvo {

namespace {

// 0 sievert, 1 roentgen, 2 counts.
int TrendKind(std::uint8_t unitCode) { return unitCode <= 1 ? unitCode : 2; }

constexpr double kMicroRoentgenPerMicroSievert = 100;

}  // namespace

std::optional<double> ThresholdEntryValue(std::string_view stored) {
    double factor = 1;
    while (!stored.empty() && stored.front() == '-') {
        stored.remove_prefix(1);
        factor *= 1000;
    }
    if (stored.empty()) return std::nullopt;
    std::string number(stored);
    for (char& c : number)
        if (c == ',') c = '.';
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value * factor;
}

std::optional<double> ThresholdInTrendUnit(int kind, std::string_view stored, std::uint8_t unitCode) {
    const std::optional<double> value = ThresholdEntryValue(stored);
    if (!value || kind < 0 || kind > 2) return std::nullopt;
    const int target = TrendKind(unitCode);
    if (kind == target) return value;
    if (kind == 0 && target == 1) return *value * kMicroRoentgenPerMicroSievert;
    if (kind == 1 && target == 0) return *value / kMicroRoentgenPerMicroSievert;
    return std::nullopt;
}

std::optional<double> BackgroundThreshold(const SettingsForm& form, std::uint8_t unitCode) {
    if (!form.units.Defined() || !form.fonLevel.Defined()) return std::nullopt;
    const auto& table = BackgroundThresholdTable();
    const auto kind = static_cast<std::size_t>(form.units.index);
    const auto index = static_cast<std::size_t>(form.fonLevel.index);
    if (kind >= table.size() || index >= table[kind].size()) return std::nullopt;
    return ThresholdInTrendUnit(static_cast<int>(kind), table[kind][index], unitCode);
}

}  // namespace kalvo
