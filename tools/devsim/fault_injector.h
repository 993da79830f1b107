#pragma once
// Line and device faults for the tests: lost requests, corrupted answers, slow answers and a
// device that is unplugged after a while. The transport asks this one object at each step.
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "devsim/random_source.h"

namespace kalvo::devsim {

struct FaultOptions {
    unsigned dropRequestEvery = 0;  // 0: off; N: requests N, 2N, 3N... are ignored
    unsigned flipBitEvery = 0;      // 0: off; N: answers N, 2N... arrive with one bit flipped
    std::chrono::milliseconds answerDelay{0};
    std::optional<unsigned> vanishAfter;  // answers delivered before the device disappears
    double dropPercent = 0;     // each request is lost with this chance
    double corruptPercent = 0;  // each answer arrives with one bit flipped with this chance
    std::uint64_t seed = 1;     // makes the chances repeatable
    // Requests whose payload starts with one of these are never answered (a command the device
    // does not take, whatever the retries): --ignore-request HEX, or --deaf-to CODE[:ID].
    std::vector<std::vector<std::uint8_t>> ignoredRequests;
    // Single answers (counted from 1 as they are produced) sent this much later than the rest.
    std::vector<std::pair<unsigned, std::chrono::milliseconds>> lateAnswers;
    // The chances apply only to requests first..last (counted from 1; last 0: to the end) and
    // their answers, so a long exchange can be hit in one stretch only.
    unsigned chanceFirst = 0;
    unsigned chanceLast = 0;
};

class FaultInjector {
public:
    explicit FaultInjector(FaultOptions options = {}) : options_(options), random_(options.seed, kFaultStream) {}

    const FaultOptions& Options() const { return options_; }

    // Counts a decoded request; true when this one is to be ignored (every Nth, or by chance).
    bool DropRequest();
    unsigned RequestsSeen() const { return requests_; }

    // Counts an answer frame about to be written; when it is due, flips one bit of its wire
    // bytes so that the receiver's check fails, and returns the index of the changed byte.
    std::optional<std::size_t> CorruptAnswer(std::vector<std::uint8_t>& wire);
    unsigned AnswersSeen() const { return answers_; }

    // True for a request on the ignored list.
    bool Ignored(const std::vector<std::uint8_t>& payload) const;

    // The delay of answer `number` (counted from 1).
    std::chrono::milliseconds AnswerDelay(unsigned number) const;

    // True once the device may answer no more: `answersQueued` have been produced.
    bool AnswersExhausted(unsigned answersQueued) const {
        return options_.vanishAfter && answersQueued >= *options_.vanishAfter;
    }

private:
    bool ChanceWindow() const {
        return requests_ >= options_.chanceFirst && (options_.chanceLast == 0 || requests_ <= options_.chanceLast);
    }

    FaultOptions options_;
    RandomSource random_;
    unsigned requests_ = 0;
    unsigned answers_ = 0;
};

// Flips one bit of an encoded frame, in the first byte past the header that is neither a
// frame byte nor part of an escape pair, choosing the bit so that no frame or escape byte
// appears. Returns the index of the changed byte, or nothing when there is no such byte.
std::optional<std::size_t> FlipOneBit(std::vector<std::uint8_t>& wire);

}  // namespace kalvo::devsim
