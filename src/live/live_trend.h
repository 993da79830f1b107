#pragma once
// The dose rate over time on the measuring page: the readings of the current series (one unit),
// what a plot of a span draws, one minimum and maximum per pixel column so that no spike is
// lost however many readings the span holds, and the span's statistics.
//
// User-interface thread only.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kalvo {

// One live reading as the page showed it: the rate in the page's unit (uSv/h, uR/h or CPM).
struct LiveReading {
    std::int64_t timeMs = 0;  // milliseconds since 1970, the PC's clock
    std::uint8_t unitCode = 0;
    double value = 0;
    std::string doseText;  // empty when the dose was not read with it
};

enum class TrendSpan { TenMinutes, OneHour, OneDay };
std::int64_t TrendSpanMs(TrendSpan span);

// A reading stands for the time until the next one, but no longer than this: a pause in the
// readings is not time spent above the threshold.
inline constexpr std::int64_t kReadingPeriodMs = 1000;
inline constexpr std::int64_t kLongestReadingGapMs = 3000;

struct TrendStatistics {
    std::size_t count = 0;
    double mean = 0;
    double minimum = 0;
    double maximum = 0;
    double deviation = 0;  // the sample standard deviation; 0 below two readings
    std::int64_t aboveMs = 0;
};

// The readings of one pixel column.
struct TrendColumn {
    double minimum = 0;
    double maximum = 0;
    std::size_t count = 0;  // 0: no reading falls in the column
};

// Sorted readings (by time); [from, to) of them, found by binary search.
std::span<const LiveReading> ReadingsBetween(std::span<const LiveReading> readings, std::int64_t fromMs,
                                             std::int64_t toMs);

// Statistics of `readings` (one span, sorted); time above counts readings above `threshold`.
TrendStatistics ComputeStatistics(std::span<const LiveReading> readings, std::optional<double> threshold);

// `columns` columns over [fromMs, toMs); each reading goes to the column of its time.
std::vector<TrendColumn> DecimateColumns(std::span<const LiveReading> readings, std::int64_t fromMs,
                                         std::int64_t toMs, int columns);

class LiveTrend {
public:
    // Readings older than a day before the newest are dropped.
    static constexpr std::int64_t kKeptMs = 24 * 3600 * 1000LL;

    // A reading of another unit than the series' starts a new series; one that goes back in
    // time (the PC's clock set back) too, so the readings stay sorted.
    void Append(const LiveReading& reading);
    // Stored readings of the connected device, oldest first: the last series among them.
    void Restore(std::span<const LiveReading> readings);
    void Clear();

    std::span<const LiveReading> Readings() const {
        return std::span<const LiveReading>(readings_).subspan(first_);
    }
    std::optional<std::uint8_t> UnitCode() const;
    // Counts the series started, so a view knows when to start its plot afresh.
    std::uint64_t Series() const { return series_; }

    // The span ending at the newest reading (or at `nowMs` when given).
    std::span<const LiveReading> Shown(TrendSpan span, std::int64_t nowMs) const;

private:
    void Trim();

    std::vector<LiveReading> readings_;
    std::size_t first_ = 0;  // readings before it are dropped, erased in batches
    std::uint64_t series_ = 0;
};

}  // namespace kalvo
