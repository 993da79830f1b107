// The history as it comes from the device: the header parameters, the records of the ring,
// the device clock, then the chart with its navigation and the CSV text.
// Input: parameters 0xC020..0xC023 (16 bytes), the device time (7), options (1: level, show
// maximum, language), calibration (4), board code choice and variant (2), the read that fails
// (1, 0 for none), eight navigation clicks (8), then 16-byte records, placed oldest first from
// the header's first index on. Rings of more than three pages are only planned, not read.
// Checks: an accepted header plans distinct pages inside the ring's 255; the page reads store
// exactly what the device sent; the CSV has a line per exportable record with CR LF; every
// chart has its level's bar count and consistent bars, and for records in time order each bar
// holds exactly the seconds and pulses of the records it overlaps.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "history/history_chart.h"
#include "history/history_csv.h"
#include "history/history_image.h"

namespace {

using namespace kalvo;

using kalvo::fuzz::Check;

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr std::size_t kFixedBytes = 16 + 7 + 1 + 4 + 2 + 1 + 8;
// A whole ring is 255 pages; a few show everything the page logic does, and keep runs fast.
constexpr std::uint32_t kPagesRead = 3;
constexpr std::size_t kMaxRecords = 3 * kHistoryRecordsPerPage;

// The device's external flash as far as the history needs it: the given records at their
// physical slots, erased bytes elsewhere, and optionally one failing read.
class ScriptedFlash : public HistoryPairSource {
public:
    std::vector<HistoryRecordBytes> records;  // oldest first
    std::uint16_t firstIndex = 0;
    int failingRead = 0;  // 1-based; 0: none
    int reads = 0;
    bool failed = false;

    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
        ++reads;
        Check(length == HistoryStore::kPairBytes);
        Check(address >= kHistoryBaseAddress && (address - kHistoryBaseAddress) % HistoryStore::kPairBytes == 0);
        if (reads == failingRead) {
            failed = true;
            return reads % 2 ? -1 : length / 2;  // no answer, or a short one
        }
        std::uint32_t first = (address - kHistoryBaseAddress) / kHistoryRecordSize;
        for (std::uint32_t k = 0; k < 2; ++k) std::memcpy(buffer + k * kHistoryRecordSize, Slot(first + k).data(), kHistoryRecordSize);
        return length;
    }

    HistoryRecordBytes Slot(std::uint32_t physical) const {
        if (physical < kHistoryRingRecords) {
            std::uint32_t logical = (physical + kHistoryRingRecords - firstIndex) % kHistoryRingRecords;
            if (firstIndex < kHistoryRingRecords && logical < records.size()) return records[logical];
        }
        HistoryRecordBytes erased;
        erased.fill(0xFF);
        return erased;
    }
};

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Counting records of at least a second each, one after another in time; the rest erased.
bool InTimeOrder(const std::vector<HistoryRecord>& records) {
    std::uint64_t end = 0;
    for (const HistoryRecord& record : records) {
        if (!record.Counts()) {
            if (record.startTime != 0xFFFFFFFF) return false;
            continue;
        }
        if (record.length == 0 || record.startTime < end) return false;
        end = std::uint64_t{record.startTime} + record.length;
    }
    return true;
}

// For records in time order each bar is plainly the sum over the records it overlaps.
// `records`: the counting ones, in time order.
void CheckAgainstRecords(const ChartModel& model, const ChartRequest& request,
                         const std::vector<HistoryRecord>& records) {
    std::uint64_t windowStart = model.startTime;
    std::size_t first = 0;  // the first record that does not end before the window
    for (const ChartBar& bar : model.bars) {
        const std::uint64_t windowEnd = windowStart + bar.seconds - 1;
        std::uint64_t covered = 0;
        std::uint64_t pulses = 0;
        std::uint64_t maximumRate = 0;
        while (first < records.size() && std::uint64_t{records[first].startTime} + records[first].length <= windowStart)
            ++first;
        for (std::size_t k = first; k < records.size() && records[k].startTime <= windowEnd; ++k) {
            const HistoryRecord& record = records[k];
            const std::uint64_t start = record.startTime;
            const std::uint64_t end = start + record.length - 1;
            if (end < windowStart || start > windowEnd) continue;
            const std::uint64_t overlap = std::min(end, windowEnd) - std::max(start, windowStart) + 1;
            covered += overlap;
            pulses += std::uint64_t{record.pulses} * overlap / record.length;
            if (record.length >= 10) maximumRate = std::max<std::uint64_t>(maximumRate, std::uint64_t{record.pulses} * 10 / record.length);
        }
        Check(bar.coveredSeconds == covered);
        if (covered != 0) {
            const DoseConversion& c = request.conversion;
            const std::uint64_t average = pulses * 36 * c.calibrationX100 / covered / c.sensitivity / c.sensors;
            const std::uint64_t maximum = maximumRate * 36 * c.calibrationX100 / (c.sensitivity * 10) / c.sensors;
            Check(bar.average == std::min<std::uint64_t>(average, 0xFFFFFFFF));
            Check(bar.maximum == std::min<std::uint64_t>(std::max(maximum, average), 0xFFFFFFFF));
        }
        windowStart += bar.seconds;
    }
}

void CheckChart(const ChartModel& model, const ChartRequest& request) {
    Check(model.title.size() == 2);
    Check(model.level == request.level);
    Check(model.bars.size() == BarCount(request.level, request.position));
    for (const ChartBar& bar : model.bars) {
        Check(!bar.label.empty());
        Check(bar.maximum >= bar.average);
        if (bar.coverage == BarCoverage::Empty) {
            Check(bar.coveredSeconds == 0 && bar.average == 0 && bar.maximum == 0);
            Check(bar.series1 == ChartPoint{} && bar.series2 == ChartPoint{} && bar.series3 == ChartPoint{});
        } else {
            Check(bar.coveredSeconds != 0);
            Check((bar.coverage == BarCoverage::Full) == (bar.coveredSeconds == bar.seconds));
            Check(bar.series2.value == bar.average);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kFixedBytes) return 0;
    // One image for every run: a fresh 1 MiB store per input would cost more than the rest.
    static HistoryStore store;

    const HistoryHeader header = HistoryHeader::FromParameters(U32(data), U32(data + 4), U32(data + 8), U32(data + 12));
    DeviceTimeBytes clock;
    std::memcpy(clock.data(), data + 16, clock.size());
    const std::uint8_t options = data[23];
    const std::uint32_t calibration = ClampCalibrationX100(U32(data + 24));
    const int boardCodes[] = {kBoardCodeR630, kBoardCodeR520, kBoardCode415, 0};
    const DoseConversion conversion = DoseConversionOf(boardCodes[data[28] % 4], data[29], calibration);
    const std::uint8_t* clicks = data + 31;
    const std::uint8_t* recordBytes = data + kFixedBytes;
    const std::size_t recordCount = std::min((size - kFixedBytes) / kHistoryRecordSize, kMaxRecords);

    const HistoryLevel level = static_cast<HistoryLevel>((options & 0x07) % 5);
    ScriptedFlash flash;
    flash.failingRead = data[30];
    flash.firstIndex = header.firstIndex;
    if (options & 0x20) {
        // Records in time order, each given as gap, length and pulses, from shortly before the
        // period shown: the case whose bars can be worked out independently below.
        const std::size_t steps = std::min((size - kFixedBytes) / 8, kMaxRecords);
        std::uint64_t t = DateTimeToSeconds(PeriodStart(level, DeviceDateTime::FromBytes(clock)));
        t -= std::min<std::uint64_t>(t, steps ? U16(recordBytes) * 4u : 0);
        for (std::size_t k = 0; k < steps; ++k) {
            const std::uint8_t* step = recordBytes + 8 * k;
            HistoryRecord record;
            record.status = kHistoryStatusExported1;
            record.commit = 0;
            record.startTime = static_cast<std::uint32_t>(t + (k ? U16(step) % 4096 : 0));
            record.length = static_cast<std::uint16_t>(std::max(1, U16(step + 2) % 4096));
            record.pulses = U32(step + 4);
            t = std::uint64_t{record.startTime} + record.length;
            if (t > 0xFFFFFFFFu) break;
            flash.records.push_back(record.ToBytes());
        }
    } else {
        for (std::uint32_t k = 0; k < recordCount; ++k) {
            HistoryRecordBytes bytes;
            std::memcpy(bytes.data(), recordBytes + k * kHistoryRecordSize, kHistoryRecordSize);
            Check(HistoryRecord::FromBytes(bytes).ToBytes() == bytes);
            flash.records.push_back(bytes);
        }
    }

    std::optional<HistoryPagePlan> plan = PlanHistoryRead(header);
    if (!plan) return 0;
    Check(plan->pageCount >= 1 && plan->pageCount <= 256);
    std::set<std::uint32_t> pages;
    for (std::uint32_t step = 0; step < plan->pageCount; ++step) {
        std::uint32_t page = plan->PageAt(step);
        Check(page < 256);
        Check(pages.insert(page).second);
    }

    // Longer rings add nothing but time: every page and chart step below is seen in three.
    if (plan->pageCount > kPagesRead) return 0;
    store.BeginDownload();
    store.SetHeader(header);

    HistoryCsv csv;
    csv.Reset();
    Check(csv.Text() == std::string(kCsvHeaderLine) + "\r\n" && csv.Row() == 1);
    std::uint32_t exportable = 0;
    for (std::uint32_t step = 0; step < plan->pageCount; ++step) {
        const std::uint32_t page = plan->PageAt(step);
        const bool read = store.ReadPage(page, flash);
        // Only a failed read, or a page past the ring's last record slot, fails a page.
        Check(read == !(flash.failed || page >= kHistoryMaxPages));
        if (!read) return 0;
        for (std::uint32_t slot = 0; slot < kHistoryRecordsPerPage; ++slot) {
            const std::uint32_t physical = page * kHistoryRecordsPerPage + slot;
            Check(store.Image().Slot(static_cast<std::uint16_t>(physical)) == flash.Slot(physical));
            if (store.Image().Record(static_cast<std::uint16_t>(physical)).Exportable()) ++exportable;
        }
        csv.AddPage(store.Image(), page, conversion);
    }
    const std::string& text = csv.Text();
    Check(csv.Row() == 1 + exportable && csv.DroppedLines() == 0);
    Check(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == csv.Row());
    Check(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')) == csv.Row());
    Check(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    // Ten fields a line.
    Check(static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) == 9u * csv.Row());

    store.MarkLoaded();
    Check(store.RecordCount() == header.recordCount);
    std::vector<HistoryRecord> visible;
    for (std::uint32_t k = 0; k < store.RecordCount(); ++k) visible.push_back(*store.RecordAt(k));
    const bool wellFormed = InTimeOrder(visible);
    std::erase_if(visible, [](const HistoryRecord& record) { return !record.Counts(); });
    HistoryChartState state;
    StartChartAt(state, DeviceDateTime::FromBytes(clock));
    state.level = level;
    state.showMaximum = (options & 0x08) != 0;
    const InterfaceLanguage language = (options & 0x10) ? InterfaceLanguage::Russian : InterfaceLanguage::English;
    ChartModel model;
    auto draw = [&] {
        ChartRequest request = state.Request(conversion, language);
        model = DrawHistoryChart(store, request);
        CheckChart(model, request);
        if (wellFormed) CheckAgainstRecords(model, request, visible);
    };
    draw();
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t click = clicks[i];
        bool moved = false;
        switch (click % 5) {
        case 0: moved = NavigateUp(state); break;
        case 1: moved = NavigateBack(state); break;
        case 2: moved = NavigateForward(state); break;
        case 3: moved = NavigateToLast(state); break;
        case 4: moved = NavigateDrillDown(state, click / 5 - 1); break;
        }
        if (moved) draw();
    }
    std::string chart = ChartModelText(model);
    Check(static_cast<std::size_t>(std::count(chart.begin(), chart.end(), '\n')) == 2 + model.bars.size());
    return 0;
}
