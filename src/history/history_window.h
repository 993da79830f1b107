#pragma once
// The aggregation cursor of the chart: finds the first record of a period by bisection and then
// walks consecutive windows forwards, attributing each record's pulses to the windows in
// proportion to the seconds it shares with them.
//
// User-interface thread only.
#include <cstdint>
#include <functional>
#include <optional>

#include "history/history_image.h"

namespace kalvo {

// -1: t is before the record's start; 0: inside it; +1: at or after its end (raw length).
int CompareRecordTime(const HistoryRecord& record, std::uint32_t t);

class HistoryWindow {
public:
    // A record that starts more than this before the one before it ends the window (the device
    // clock was set back).
    static constexpr std::uint32_t kGapStopSeconds = 3600;

    // `pump` runs once per record walked, so a front end may process its events.
    explicit HistoryWindow(const HistoryRecordSource& records, std::function<void()> pump = {})
        : records_(records), pump_(std::move(pump)) {}

    // Logical index of the first record that does not end before t; nullopt when there are no
    // records or t lies after the newest one.
    std::optional<std::uint32_t> Find(std::uint32_t t) const;

    void Begin(std::uint32_t t);
    // Aggregates the next window of `seconds` seconds.
    void Next(std::uint32_t seconds);
    void End() { active_ = false; }

    bool Active() const { return active_; }
    std::uint32_t Cursor() const { return cursor_; }
    std::uint32_t WindowStart() const { return windowStart_; }
    std::uint64_t PulseSum() const { return pulseSum_; }
    std::uint32_t CoveredSeconds() const { return coveredSeconds_; }
    // Largest pulses per 10 s of a record of at least 10 s touching the window.
    std::uint32_t MaximumRate() const { return maximumRate_; }

private:
    HistoryRecord Record(std::uint32_t logical) const;

    const HistoryRecordSource& records_;
    std::function<void()> pump_;
    bool active_ = false;
    std::uint32_t cursor_ = 0;
    std::uint32_t windowStart_ = 0;
    std::uint64_t pulseSum_ = 0;
    std::uint32_t coveredSeconds_ = 0;
    std::uint32_t maximumRate_ = 0;
};

}  // namespace kalvo
