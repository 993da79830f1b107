#pragma once
// Commands the simulated device understands, keyed by their two code bytes. A code that is not
// in the table gets no answer at all, as on the real device: the program times out.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "devsim/device_model.h"

namespace kalvo::devsim {

// First payload byte in the high half: 01 00 is 0x0100.
using CommandCode = std::uint16_t;

constexpr CommandCode MakeCode(std::uint8_t first, std::uint8_t second) {
    return static_cast<CommandCode>(first << 8 | second);
}

// Answer data (the answer payload after its two code bytes), or nothing to stay silent.
using AnswerData = std::optional<std::vector<std::uint8_t>>;
// channel: id of the requesting channel (1..31); fields: the request payload after the code.
using CommandHandler =
    std::function<AnswerData(SimDevice& device, int channel, std::span<const std::uint8_t> fields)>;

struct DispatchResult {
    enum class Outcome { Answered, Silent, Unknown };
    Outcome outcome = Outcome::Unknown;
    std::string name;                 // of the command, empty when unknown
    std::vector<std::uint8_t> data;   // answer data when answered
};

class CommandTable {
public:
    // A later registration of the same code replaces the earlier one.
    void Register(CommandCode code, std::string name, CommandHandler handler);
    bool Contains(CommandCode code) const { return entries_.count(code) != 0; }
    std::size_t Size() const { return entries_.size(); }

    // payload: the whole request payload, code first (at least 2 bytes; shorter is Unknown).
    DispatchResult Dispatch(SimDevice& device, int channel, std::span<const std::uint8_t> payload) const;

private:
    struct Entry {
        std::string name;
        CommandHandler handler;
    };
    std::map<CommandCode, Entry> entries_;
};

}  // namespace kalvo::devsim
