// Live trend: what one redraw of the 24-hour plot costs at a reading a second (86,400
// readings): the span, one minimum and maximum per pixel column for ~800 columns, and the
// statistics under the plot; and what appending one reading to a full day costs.
#include <benchmark/benchmark.h>

#include <cmath>

#include "live/live_trend.h"

namespace {

using namespace kalvo;

constexpr std::int64_t kDayReadings = 86400;
constexpr std::int64_t kStartMs = 1'700'000'000'000;

LiveTrend FullDay() {
    LiveTrend trend;
    for (std::int64_t i = 0; i < kDayReadings; ++i) {
        const double value = 0.12 + 0.03 * std::sin(static_cast<double>(i) / 97) + (i % 3600 == 0 ? 5.0 : 0.0);
        trend.Append(LiveReading{kStartMs + i * 1000, 0, value, ""});
    }
    return trend;
}

void BM_DayRedraw(benchmark::State& state) {
    const LiveTrend trend = FullDay();
    const int columns = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto shown = trend.Shown(TrendSpan::OneDay, 0);
        const std::int64_t to = shown.back().timeMs + 1;
        auto decimated = DecimateColumns(shown, to - 1 - TrendSpanMs(TrendSpan::OneDay), to, columns);
        const TrendStatistics stats = ComputeStatistics(shown, 0.3);
        benchmark::DoNotOptimize(decimated.data());
        benchmark::DoNotOptimize(stats);
    }
    state.SetItemsProcessed(state.iterations() * kDayReadings);
}
BENCHMARK(BM_DayRedraw)->Arg(800)->Arg(1600)->Unit(benchmark::kMillisecond);

void BM_AppendToFullDay(benchmark::State& state) {
    LiveTrend trend = FullDay();
    std::int64_t next = kStartMs + kDayReadings * 1000;
    for (auto _ : state) {
        trend.Append(LiveReading{next, 0, 0.15, ""});
        next += 1000;
    }
}
BENCHMARK(BM_AppendToFullDay)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
