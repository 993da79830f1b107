#pragma once
// Fills the history ring with a background history that ends at the device's clock: pulse
// counts that the program's chart turns back into 0.10-0.18 uSv/h, in intervals of the
// device's history method, laid out as the device's writer leaves them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kalvo::devsim {

class HistoryRing;

enum class HistoryKind {
    Empty,     // nothing recorded
    Short,     // one page, with every irregular record
    Full,      // wrapped, every page in use, all records regular
    Wrapped,   // wrapped, newest page part filled, with every irregular record
    Overfull,  // all 65280 slots in use: a description the program refuses
};

std::optional<HistoryKind> ParseHistoryKind(std::string_view text);
std::string_view HistoryKindName(HistoryKind kind);

struct HistoryShape {
    double pulsesPerUnit = 0.5;  // pulses a second per uR/h on this unit
    bool onChange = true;        // history method: on change (variable intervals) or on time
};

void GenerateHistory(HistoryRing& ring, HistoryKind kind, std::uint64_t now, const HistoryShape& shape,
                     std::uint64_t seed);

// The writer going on: `count` regular records of 60 s after the newest one (from `now` when
// the ring is empty). Returns the end of the last record.
std::uint64_t AppendHistory(HistoryRing& ring, unsigned count, std::uint64_t now, const HistoryShape& shape,
                            std::uint64_t seed);

}  // namespace kalvo::devsim
