#pragma once
// Hand-made record sets for the aggregation tests.
#include <functional>
#include <vector>

#include "history/history_image.h"

namespace kalvo::test {

inline HistoryRecord Rec(std::uint32_t start, std::uint16_t length, std::uint32_t pulses, std::uint8_t commit = 0,
                         std::uint8_t status = 0xFE) {
    HistoryRecord record;
    record.status = status;
    record.commit = commit;
    record.startTime = start;
    record.length = length;
    record.pulses = pulses;
    return record;
}

class VectorRecordSource : public HistoryRecordSource {
public:
    VectorRecordSource() = default;
    explicit VectorRecordSource(std::vector<HistoryRecord> list) : records(std::move(list)) {}

    std::uint32_t RecordCount() const override { return static_cast<std::uint32_t>(records.size()); }
    std::optional<HistoryRecord> RecordAt(std::uint32_t logical) const override {
        ++reads;
        if (logical >= records.size()) return std::nullopt;
        return records[logical];
    }

    std::vector<HistoryRecord> records;
    mutable int reads = 0;
};

}  // namespace kalvo::test
