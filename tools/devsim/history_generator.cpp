#include "devsim/history_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "devsim/history_ring.h"
#include "devsim/random_source.h"

namespace kalvo::devsim {

namespace {

// Irregular records, mixed into the Short and Wrapped rings one every kIrregularPeriod slots.
enum class Irregular { None, Uncommitted, AltStatus, BlankStatus, ZeroLength, GapAfter, Straddling };
constexpr std::array kIrregulars = {Irregular::Uncommitted, Irregular::AltStatus, Irregular::BlankStatus,
                                    Irregular::ZeroLength,  Irregular::GapAfter, Irregular::Straddling};

constexpr std::uint32_t kOnTimeInterval = 60;

RingState LayoutFor(HistoryKind kind, RandomSource& random) {
    RingState state;
    auto wrappedAt = [&](std::uint32_t newestPage, std::uint32_t newestSlot) {
        // The writer erased the oldest page when it opened the newest, so the oldest page is
        // the one right after it.
        state.first = static_cast<std::uint16_t>((newestPage + 1) * kSlotsPerPage);
        state.last = static_cast<std::uint16_t>(newestPage * kSlotsPerPage + newestSlot);
        state.count = static_cast<std::uint16_t>((kRingPages - 1) * kSlotsPerPage + newestSlot + 1);
        state.wrapped = true;
    };
    switch (kind) {
    case HistoryKind::Empty: break;
    case HistoryKind::Short:
        state.last = static_cast<std::uint16_t>(120 + random.Below(60));
        state.count = static_cast<std::uint16_t>(state.last + 1);
        break;
    case HistoryKind::Full: wrappedAt(random.Below(kRingPages - 2), kSlotsPerPage - 2); break;
    case HistoryKind::Wrapped: wrappedAt(1 + random.Below(kRingPages - 3), 1 + random.Below(kSlotsPerPage - 3)); break;
    case HistoryKind::Overfull:
        state.last = static_cast<std::uint16_t>(kRingSlots - 1);
        state.count = static_cast<std::uint16_t>(kRingSlots);
        break;
    }
    return state;
}

Irregular IrregularAt(HistoryKind kind, std::uint32_t logical) {
    std::uint32_t period = kind == HistoryKind::Short ? 17 : kind == HistoryKind::Wrapped ? 211 : 0;
    if (period == 0 || logical % period != 5) return Irregular::None;
    return kIrregulars[logical / period % kIrregulars.size()];
}

// The ambient rate in uR/h: a daily swing around the unit's background and a slow wander.
class BackgroundRate {
public:
    explicit BackgroundRate(RandomSource& random) : random_(random), base_(10.0 + 8.0 * random.Uniform()) {}
    double At(std::uint32_t time) {
        wander_ = std::clamp(wander_ * std::exp(0.02 * random_.Normal()), 0.7, 1.4);
        return base_ * wander_ * (1.0 + 0.1 * std::sin(2 * std::numbers::pi * (time % 86400) / 86400.0));
    }

private:
    RandomSource& random_;
    double base_;
    double wander_ = 1.0;
};

}  // namespace

std::optional<HistoryKind> ParseHistoryKind(std::string_view text) {
    for (HistoryKind kind : {HistoryKind::Empty, HistoryKind::Short, HistoryKind::Full, HistoryKind::Wrapped,
                             HistoryKind::Overfull}) {
        if (text == HistoryKindName(kind)) return kind;
    }
    return std::nullopt;
}

std::string_view HistoryKindName(HistoryKind kind) {
    switch (kind) {
    case HistoryKind::Empty: return "empty";
    case HistoryKind::Short: return "short";
    case HistoryKind::Full: return "full";
    case HistoryKind::Wrapped: return "wrapped";
    case HistoryKind::Overfull: return "overfull";
    }
    return "";
}

// Walks from the newest slot back to the oldest, so every time is known when it is written:
// the newest record ends a few seconds before `now`, each earlier one ends where the next
// begins unless the device was off in between.
void GenerateHistory(HistoryRing& ring, HistoryKind kind, std::uint64_t now, const HistoryShape& shape,
                     std::uint64_t seed) {
    RandomSource random(seed, kHistoryStream);
    RingState state = LayoutFor(kind, random);
    ring.SetState(state);
    BackgroundRate rate(random);
    std::uint64_t cursor = now > 5 ? now - 5 - random.Below(25) : 0;
    std::uint32_t laterStart = static_cast<std::uint32_t>(cursor);
    for (std::uint32_t logical = state.count; logical-- > 0;) {
        std::uint32_t physical = ring.PhysicalOf(logical);
        HistoryRecord record;
        if (physical % kSlotsPerPage == 0) {
            record.status = kStatusPageHeader;
            record.commit = kPageHeaderCommit;
            record.tag = static_cast<std::uint16_t>(physical / kSlotsPerPage);
            record.start = laterStart;
            ring.Write(physical, record);
            continue;
        }
        Irregular irregular = IrregularAt(kind, logical);
        std::uint64_t end = cursor;
        std::uint32_t length = shape.onChange
            ? static_cast<std::uint32_t>(std::lround(10.0 * std::pow(180.0, random.Uniform())))  // 10 s .. 30 min
            : kOnTimeInterval;
        if (irregular == Irregular::GapAfter) {
            end -= std::min<std::uint64_t>(end, 5400 + random.Below(6 * 3600));  // switched off for hours
        } else if (irregular == Irregular::Straddling && end >= 3660) {
            end = (end - 60) / 3600 * 3600 + 60;  // a minute either side of a full hour
            length = 120;
        } else if (irregular == Irregular::ZeroLength) {
            length = 0;
        }
        std::uint64_t start = end - std::min<std::uint64_t>(end, length);
        record.start = static_cast<std::uint32_t>(start);
        record.length = static_cast<std::uint16_t>(end - start);
        record.pulses = random.Poisson(rate.At(record.start) * shape.pulsesPerUnit * std::max(record.length, std::uint16_t{1}));
        if (irregular == Irregular::Uncommitted) record.commit = 0xFF;  // power lost before the commit
        if (irregular == Irregular::AltStatus) record.status = kStatusMeasurementAlt;
        if (irregular == Irregular::BlankStatus) record.status = 0xFF;
        ring.Write(physical, record);
        cursor = start;
        laterStart = record.start;
    }
}

std::uint64_t AppendHistory(HistoryRing& ring, unsigned count, std::uint64_t now, const HistoryShape& shape,
                            std::uint64_t seed) {
    const RingState& state = ring.State();
    std::uint64_t start = now;
    if (state.count > 0) {
        HistoryRecord newest = ring.Read(state.last);
        start = std::uint64_t{newest.start} + newest.length;
    }
    // Its own stream per run of appends, so each one adds other counts.
    RandomSource random(seed + start, kHistoryStream);
    BackgroundRate rate(random);
    for (unsigned i = 0; i < count; ++i) {
        HistoryRecord record;
        record.start = static_cast<std::uint32_t>(start);
        record.length = kOnTimeInterval;
        record.pulses = random.Poisson(rate.At(record.start) * shape.pulsesPerUnit * kOnTimeInterval);
        ring.Append(record);
        start += kOnTimeInterval;
    }
    return start;
}

}  // namespace kalvo::devsim
