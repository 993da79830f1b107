#include "history/history_record.h"

namespace kalvo {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint16_t High(std::uint32_t value) { return static_cast<std::uint16_t>(value >> 16); }
std::uint16_t Low(std::uint32_t value) { return static_cast<std::uint16_t>(value); }

}  // namespace

HistoryRecord HistoryRecord::FromBytes(const HistoryRecordBytes& bytes) {
    const std::uint8_t* p = bytes.data();
    return {p[0], p[1], U16(p + 2), U32(p + 4), U32(p + 8), U16(p + 12), U16(p + 14)};
}

HistoryRecordBytes HistoryRecord::ToBytes() const {
    HistoryRecordBytes bytes{};
    std::uint8_t* p = bytes.data();
    p[0] = status;
    p[1] = commit;
    Put16(p + 2, spare2);
    Put32(p + 4, startTime);
    Put32(p + 8, pulses);
    Put16(p + 12, length);
    Put16(p + 14, spare14);
    return bytes;
}

HistoryHeader HistoryHeader::FromParameters(std::uint32_t c020, std::uint32_t c021, std::uint32_t c022,
                                            std::uint32_t c023) {
    HistoryHeader header;
    header.pageSize = High(c020);
    header.areaValue = Low(c020);
    header.ringPages = High(c021);
    header.recordCount = Low(c021);
    header.firstIndex = High(c022);
    header.lastIndex = Low(c022);
    header.extraFlag = (c023 & 0xFF) != 0;
    return header;
}

std::uint32_t HistoryPagePlan::PageAt(std::uint32_t step) const {
    // Only the wrapped plan goes below page 0, and then by less than N.
    return step <= lastPage ? lastPage - step : lastPage + ringPages - step;
}

std::optional<HistoryPagePlan> PlanHistoryRead(const HistoryHeader& header) {
    if (header.pageSize != kHistoryPageSize || header.areaValue > kHistoryMaxAreaValue ||
        header.ringPages > kHistoryMaxPages)
        return std::nullopt;
    HistoryPagePlan plan;
    plan.firstPage = header.firstIndex / kHistoryRecordsPerPage;
    plan.lastPage = header.lastIndex / kHistoryRecordsPerPage;
    plan.ringPages = header.ringPages;
    if (plan.firstPage <= plan.lastPage) {
        plan.pageCount = plan.lastPage - plan.firstPage + 1;
    } else {
        // A wrapped ring runs from the first page up to N - 1 and on from page 0 to the last page;
        // a first page outside the ring cannot be.
        if (plan.firstPage >= plan.ringPages) return std::nullopt;
        plan.pageCount = plan.ringPages - plan.firstPage + plan.lastPage + 1;
    }
    if (header.recordCount / kHistoryRecordsPerPage + 1 != plan.pageCount) return std::nullopt;
    return plan;
}

std::uint32_t LogicalToPhysical(std::uint16_t firstIndex, std::uint32_t logical) {
    std::uint32_t physical = firstIndex + logical;
    return physical >= kHistoryRingRecords ? physical - kHistoryRingRecords : physical;
}

}  // namespace kalvo
