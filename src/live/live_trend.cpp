#include "live/live_trend.h"

#include <algorithm>
#include <cmath>

namespace kalvo {

std::int64_t TrendSpanMs(TrendSpan span) {
    switch (span) {
        case TrendSpan::TenMinutes: return 10 * 60 * 1000LL;
        case TrendSpan::OneHour: return 3600 * 1000LL;
        case TrendSpan::OneDay: break;
    }
    return 24 * 3600 * 1000LL;
}

std::span<const LiveReading> ReadingsBetween(std::span<const LiveReading> readings, std::int64_t fromMs,
                                             std::int64_t toMs) {
    auto before = [](const LiveReading& r, std::int64_t t) { return r.timeMs < t; };
    auto first = std::lower_bound(readings.begin(), readings.end(), fromMs, before);
    auto last = std::lower_bound(first, readings.end(), toMs, before);
    return {first, last};
}

TrendStatistics ComputeStatistics(std::span<const LiveReading> readings, std::optional<double> threshold) {
    TrendStatistics stats;
    stats.count = readings.size();
    if (readings.empty()) return stats;
    stats.minimum = stats.maximum = readings.front().value;
    // Welford's running mean and sum of squares: no cancellation over a day of readings.
    double mean = 0, squares = 0;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const double v = readings[i].value;
        stats.minimum = std::min(stats.minimum, v);
        stats.maximum = std::max(stats.maximum, v);
        const double delta = v - mean;
        mean += delta / static_cast<double>(i + 1);
        squares += delta * (v - mean);
        if (threshold && v > *threshold) {
            const std::int64_t gap =
                i + 1 < readings.size() ? readings[i + 1].timeMs - readings[i].timeMs : kReadingPeriodMs;
            stats.aboveMs += std::clamp<std::int64_t>(gap, 0, kLongestReadingGapMs);
        }
    }
    stats.mean = mean;
    if (readings.size() > 1) stats.deviation = std::sqrt(squares / static_cast<double>(readings.size() - 1));
    return stats;
}

std::vector<TrendColumn> DecimateColumns(std::span<const LiveReading> readings, std::int64_t fromMs,
                                         std::int64_t toMs, int columns) {
    std::vector<TrendColumn> out(columns > 0 ? static_cast<std::size_t>(columns) : 0);
    if (out.empty() || toMs <= fromMs) return out;
    const auto width = static_cast<double>(toMs - fromMs);
    for (const LiveReading& r : ReadingsBetween(readings, fromMs, toMs)) {
        auto c = static_cast<std::size_t>(static_cast<double>(r.timeMs - fromMs) / width * columns);
        c = std::min(c, out.size() - 1);
        TrendColumn& column = out[c];
        if (column.count == 0) {
            column.minimum = column.maximum = r.value;
        } else {
            column.minimum = std::min(column.minimum, r.value);
            column.maximum = std::max(column.maximum, r.value);
        }
        ++column.count;
    }
    return out;
}

void LiveTrend::Append(const LiveReading& reading) {
    const auto kept = Readings();
    if (kept.empty() || kept.back().unitCode != reading.unitCode || reading.timeMs < kept.back().timeMs) {
        readings_.clear();
        first_ = 0;
        ++series_;
    }
    readings_.push_back(reading);
    Trim();
}

void LiveTrend::Restore(std::span<const LiveReading> readings) {
    Clear();
    for (const LiveReading& r : readings) Append(r);
}

void LiveTrend::Clear() {
    readings_.clear();
    first_ = 0;
    ++series_;
}

std::optional<std::uint8_t> LiveTrend::UnitCode() const {
    if (Readings().empty()) return std::nullopt;
    return Readings().back().unitCode;
}

std::span<const LiveReading> LiveTrend::Shown(TrendSpan span, std::int64_t nowMs) const {
    const auto kept = Readings();
    if (kept.empty()) return kept;
    const std::int64_t end = std::max(nowMs, kept.back().timeMs);
    return ReadingsBetween(kept, end - TrendSpanMs(span), end + 1);
}

void LiveTrend::Trim() {
    const std::int64_t oldest = readings_.back().timeMs - kKeptMs;
    while (first_ < readings_.size() && readings_[first_].timeMs < oldest) ++first_;
    // Erased in batches, so appending stays cheap at a day of readings.
    if (first_ > 4096 && first_ * 2 > readings_.size()) {
        readings_.erase(readings_.begin(), readings_.begin() + static_cast<std::ptrdiff_t>(first_));
        first_ = 0;
    }
}

}  // namespace kalvo
