#include "devsim/fault_injector.h"

#include "devsim/frame_io.h"
#include "link/frame_codec.h"

namespace kalvo::devsim {

namespace {

bool Special(std::uint8_t byte) { return byte == FrameCodec::kFrameEnd || byte == FrameCodec::kEscape; }

}  // namespace

bool FaultInjector::DropRequest() {
    ++requests_;
    bool nth = options_.dropRequestEvery != 0 && requests_ % options_.dropRequestEvery == 0;
    // Drawn only when asked for, so the every-Nth faults alone stay as they were.
    bool chance = options_.dropPercent > 0 && ChanceWindow() && random_.Percent(options_.dropPercent);
    return nth || chance;
}

bool FaultInjector::DeafTo(const std::vector<std::uint8_t>& payload) const {
    if (payload.size() < 2) return false;
    const auto code = static_cast<std::uint16_t>(payload[0] << 8 | payload[1]);
    for (const FaultOptions::Deaf& deaf : options_.deafTo) {
        if (deaf.code != code) continue;
        if (!deaf.parameter) return true;
        if (payload.size() >= 4 && (payload[2] | payload[3] << 8) == *deaf.parameter) return true;
    }
    return false;
}

std::optional<std::size_t> FaultInjector::CorruptAnswer(std::vector<std::uint8_t>& wire) {
    ++answers_;
    bool nth = options_.flipBitEvery != 0 && answers_ % options_.flipBitEvery == 0;
    bool chance = options_.corruptPercent > 0 && ChanceWindow() && random_.Percent(options_.corruptPercent);
    if (!nth && !chance) return std::nullopt;
    return FlipOneBit(wire);
}

std::optional<std::size_t> FlipOneBit(std::vector<std::uint8_t>& wire) {
    // Start byte and header come first; the header never needs escaping.
    for (std::size_t i = 1 + kHeaderSize; i + 1 < wire.size(); ++i) {
        if (Special(wire[i]) || Special(wire[i - 1])) continue;
        for (unsigned bit = 0; bit < 8; ++bit) {
            auto flipped = static_cast<std::uint8_t>(wire[i] ^ (1u << bit));
            if (!Special(flipped)) {
                wire[i] = flipped;
                return i;
            }
        }
    }
    return std::nullopt;
}

}  // namespace kalvo::devsim
