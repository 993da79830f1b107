// History chart: Draw of each level over a full ring of 65280 records held in the 1 MiB image,
// the way the history page redraws after a download or a navigation click (painting excluded).
#include <benchmark/benchmark.h>

#include <algorithm>

#include "history/history_chart.h"
#include "history/history_image.h"

namespace {

using namespace kalvo;

constexpr std::uint32_t kRecords = kHistoryRingRecords;  // 65280
constexpr std::uint16_t kFirstIndex = 0x8000;            // oldest record mid-ring: the walk wraps
constexpr std::uint16_t kRecordLength = 480;             // the ring spans 362 days of 2024

// The device side: record i of the ring (logical) starts 480 s after record i - 1.
class SyntheticFlash : public HistoryPairSource {
public:
    explicit SyntheticFlash(std::uint32_t firstTime) : firstTime_(firstTime) {}
    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
        const std::uint32_t physical = (address - kHistoryBaseAddress) / kHistoryRecordSize;
        for (std::uint32_t k = 0; k < 2; ++k) {
            const std::uint32_t p = physical + k;
            const std::uint32_t logical = p >= kFirstIndex ? p - kFirstIndex : p + kHistoryRingRecords - kFirstIndex;
            HistoryRecord record;
            record.status = 0xFE;
            record.commit = 0;
            record.startTime = firstTime_ + logical * kRecordLength;
            record.length = kRecordLength;
            record.pulses = 200 + (logical * 7919u) % 97u;
            HistoryRecordBytes bytes = record.ToBytes();
            std::copy(bytes.begin(), bytes.end(), buffer + kHistoryRecordSize * k);
        }
        return length;
    }

private:
    std::uint32_t firstTime_;
};

DeviceDateTime At(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute) {
    DeviceDateTime time;
    time.year = static_cast<std::uint8_t>(year - 2000);
    time.month = static_cast<std::uint8_t>(month);
    time.day = static_cast<std::uint8_t>(day);
    time.hour = static_cast<std::uint8_t>(hour);
    time.minute = static_cast<std::uint8_t>(minute);
    return time;
}

const HistoryStore& FullRing() {
    static const HistoryStore store = [] {
        HistoryStore ring;
        ring.BeginDownload();
        SyntheticFlash flash(DateTimeToSeconds(At(2024, 1, 1, 0, 0)));
        for (std::uint32_t page = 0; page < kHistoryMaxPages; ++page) ring.ReadPage(page, flash);
        HistoryHeader header;
        header.pageSize = kHistoryPageSize;
        header.ringPages = kHistoryMaxPages;
        header.recordCount = static_cast<std::uint16_t>(kRecords);
        header.firstIndex = kFirstIndex;
        header.lastIndex = kFirstIndex - 1;
        ring.SetHeader(header);
        ring.MarkLoaded();
        return ring;
    }();
    return store;
}

void BM_Draw(benchmark::State& state) {
    const HistoryStore& ring = FullRing();
    ChartRequest request;
    request.level = static_cast<HistoryLevel>(state.range(0));
    request.position = At(2024, 7, 15, 12, 30);
    request.conversion = DoseConversionOf(kBoardCodeR630, 0, 100);
    request.showMaximum = true;
    std::size_t bars = 0;
    for (auto _ : state) {
        ChartModel model = DrawHistoryChart(ring, request);
        bars = model.bars.size();
        benchmark::DoNotOptimize(model);
    }
    state.counters["bars"] = static_cast<double>(bars);
}
// 0 minute, 1 hour, 2 day, 3 month, 4 year (walks all 65280 records).
BENCHMARK(BM_Draw)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// The year view with a front-end pump called once per record, as the page may pass one.
void BM_DrawYearWithPump(benchmark::State& state) {
    const HistoryStore& ring = FullRing();
    ChartRequest request;
    request.level = HistoryLevel::Year;
    request.position = At(2024, 7, 15, 12, 30);
    request.conversion = DoseConversionOf(kBoardCodeR630, 0, 100);
    std::uint64_t pumps = 0;
    const std::function<void()> pump = [&pumps] { ++pumps; };
    for (auto _ : state) benchmark::DoNotOptimize(DrawHistoryChart(ring, request, pump));
    state.counters["pumps/draw"] = static_cast<double>(pumps) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DrawYearWithPump)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
