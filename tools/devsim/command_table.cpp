#include "devsim/command_table.h"

namespace kalvo::devsim {

void CommandTable::Register(CommandCode code, std::string name, CommandHandler handler) {
    entries_[code] = Entry{std::move(name), std::move(handler)};
}

DispatchResult CommandTable::Dispatch(SimDevice& device, int channel,
                                      std::span<const std::uint8_t> payload) const {
    DispatchResult result;
    if (payload.size() < 2) return result;
    auto found = entries_.find(MakeCode(payload[0], payload[1]));
    if (found == entries_.end()) return result;
    result.name = found->second.name;
    AnswerData data = found->second.handler(device, channel, payload.subspan(2));
    if (data) {
        result.outcome = DispatchResult::Outcome::Answered;
        result.data = std::move(*data);
    } else {
        result.outcome = DispatchResult::Outcome::Silent;
    }
    return result;
}

}  // namespace kalvo::devsim
