#include "devsim/answer_writer.h"

#include <algorithm>
#include <cerrno>

namespace kalvo::devsim {

void AnswerWriter::Queue(Clock::time_point due, OutgoingAnswer answer) {
    queue_.push_back(Pending{due, std::move(answer)});
}

AnswerWriter::Clock::duration AnswerWriter::TimeOf(std::size_t bytes) const {
    if (baud_ <= 0) return Clock::duration::zero();
    // 8N1: start bit, eight data bits, stop bit.
    auto nanoseconds = static_cast<std::int64_t>(bytes) * 10'000'000'000LL / baud_;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

AnswerWriter::Clock::time_point AnswerWriter::StartOfFront() const {
    return frontStart_ ? *frontStart_ : std::max(queue_.front().due, lineFree_);
}

std::optional<AnswerWriter::Clock::time_point> AnswerWriter::NextDeadline() const {
    if (queue_.empty() || waitingForRoom_) return std::nullopt;
    return StartOfFront() + TimeOf(sent_ + NextCount());
}

std::size_t AnswerWriter::NextCount() const {
    if (!deliverAtEnd_ || baud_ <= 0 || queue_.empty()) return 0;
    return std::min(queue_.front().answer.wire.size() - sent_, kChunk);
}

std::vector<OutgoingAnswer> AnswerWriter::Service(Clock::time_point now, const WriteFn& write) {
    std::vector<OutgoingAnswer> complete;
    waitingForRoom_ = false;
    while (!queue_.empty()) {
        Clock::time_point start = StartOfFront();
        if (now < start + TimeOf(sent_ + NextCount())) break;
        frontStart_ = start;
        const std::vector<std::uint8_t>& wire = queue_.front().answer.wire;
        std::size_t left = wire.size() - sent_;
        std::size_t count = baud_ > 0 ? std::min(left, kChunk) : left;
        ssize_t written = count ? write(wire.data() + sent_, count) : 0;
        if (written <= 0) {
            if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                waitingForRoom_ = true;
            } else {
                Clear();
            }
            break;
        }
        sent_ += static_cast<std::size_t>(written);
        if (sent_ < wire.size()) continue;
        lineFree_ = start + TimeOf(wire.size());
        complete.push_back(std::move(queue_.front().answer));
        queue_.pop_front();
        frontStart_.reset();
        sent_ = 0;
    }
    return complete;
}

void AnswerWriter::Clear() {
    queue_.clear();
    frontStart_.reset();
    sent_ = 0;
    waitingForRoom_ = false;
}

}  // namespace kalvo::devsim
