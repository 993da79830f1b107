#include "history/history_window.h"

#include <algorithm>

namespace kalvo {

int CompareRecordTime(const HistoryRecord& record, std::uint32_t t) {
    if (t < record.startTime) return -1;
    // In 64 bits: a record near the end of the device's time range must not wrap.
    if (std::uint64_t{t} < std::uint64_t{record.startTime} + record.length) return 0;
    return 1;
}

HistoryRecord HistoryWindow::Record(std::uint32_t logical) const {
    // An index without a record reads like an erased slot.
    return records_.RecordAt(logical).value_or(HistoryRecord{});
}

std::optional<std::uint32_t> HistoryWindow::Find(std::uint32_t t) const {
    std::uint32_t n = records_.RecordCount();
    if (n == 0) return std::nullopt;
    std::uint32_t lo = 0;
    std::uint32_t hi = n - 1;
    for (;;) {
        if (n == 1) return lo;
        if (CompareRecordTime(Record(lo), t) <= 0) return lo;
        int atHi = CompareRecordTime(Record(hi), t);
        if (atHi == 0) return hi;
        if (atHi > 0) return std::nullopt;
        if (n == 2) return hi;
        std::uint32_t mid = lo + n / 2;
        if (CompareRecordTime(Record(mid), t) > 0) {
            lo = mid + 1;
            n = hi - mid;
        } else {
            hi = mid;
            n = mid - lo + 1;
        }
    }
}

void HistoryWindow::Begin(std::uint32_t t) {
    active_ = false;
    std::optional<std::uint32_t> first = Find(t);
    if (!first) return;
    cursor_ = *first;
    windowStart_ = t;
    active_ = true;
}

void HistoryWindow::Next(std::uint32_t seconds) {
    pulseSum_ = 0;
    coveredSeconds_ = 0;
    maximumRate_ = 0;
    std::uint32_t count = records_.RecordCount();
    if (!active_ || cursor_ >= count || seconds == 0) return;
    // Times in 64 bits so that nothing near the top of the 32-bit range wraps.
    const std::uint64_t ws = windowStart_;
    const std::uint64_t we = ws + seconds - 1;
    std::uint64_t previousStart = 0;
    std::uint32_t i = cursor_;
    for (; i < count; ++i) {
        if (pump_) pump_();
        HistoryRecord record = Record(i);
        if (!record.Counts()) continue;
        const std::uint64_t start = record.startTime;
        if (start + kGapStopSeconds < previousStart) break;
        previousStart = start;
        const std::uint64_t f = record.length == 0 ? 1 : record.length;
        const std::uint64_t rend = start + f - 1;
        if (ws > rend) continue;
        if (we < start) break;
        const std::uint64_t overlap = std::min(we, rend) - std::max(ws, start) + 1;
        pulseSum_ += record.pulses * overlap / f;
        coveredSeconds_ += static_cast<std::uint32_t>(overlap);
        if (f >= 10) {
            // Fits: at most the pulse count itself.
            auto rate = static_cast<std::uint32_t>(std::uint64_t{record.pulses} * 10 / f);
            maximumRate_ = std::max(maximumRate_, rate);
        }
        if (we <= rend) {
            if (we == rend) ++i;
            break;
        }
    }
    windowStart_ += seconds;
    cursor_ = std::min(i, count - 1);
}

}  // namespace kalvo
