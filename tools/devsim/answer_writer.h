#pragma once
// Puts answer frames on the line at the pace of a real UART: 10 bit times per byte, written in
// small chunks at computed deadlines, one frame after the other. It never sleeps; the event
// loop asks NextDeadline() and calls Service() when that time has come (or when the line has
// room again after a full buffer).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace kalvo::devsim {

struct OutgoingAnswer {
    int channel = 0;
    std::vector<std::uint8_t> payload;  // for the trace
    std::vector<std::uint8_t> wire;     // encoded frame as it goes out
};

class AnswerWriter {
public:
    using Clock = std::chrono::steady_clock;
    // Writes up to `count` bytes; returns the number taken, or -1 with errno (EAGAIN: full).
    using WriteFn = std::function<ssize_t(const std::uint8_t* bytes, std::size_t count)>;

    static constexpr std::size_t kChunk = 16;

    // baud 0: no pacing, each frame goes out in one write as soon as it is due.
    explicit AnswerWriter(int baud) : baud_(baud) {}

    // Transmission starts at `due` or when the previous frame has left the line.
    void Queue(Clock::time_point due, OutgoingAnswer answer);
    bool Idle() const { return queue_.empty(); }
    // When Service() has something to write; nothing when idle or waiting for room.
    std::optional<Clock::time_point> NextDeadline() const;
    bool WaitingForRoom() const { return waitingForRoom_ && !queue_.empty(); }
    // When the last byte written so far has left the line.
    Clock::time_point LineFreeAt() const { return lineFree_; }

    // Writes everything that is due at `now`; returns the frames that are now complete. A write
    // error other than EAGAIN discards the queue (the line is gone).
    std::vector<OutgoingAnswer> Service(Clock::time_point now, const WriteFn& write);
    void Clear();

    Clock::duration TimeOf(std::size_t bytes) const;
    // Each chunk is handed over once its last byte has crossed the line, as a receiver would
    // get it, instead of when its first byte starts.
    void SetDeliverAtEnd(bool atEnd) { deliverAtEnd_ = atEnd; }

private:
    struct Pending {
        Clock::time_point due;
        OutgoingAnswer answer;
    };
    Clock::time_point StartOfFront() const;
    // Bytes whose line time must pass before the next write: 0 unless delivering at the end.
    std::size_t NextCount() const;

    int baud_;
    std::deque<Pending> queue_;
    std::optional<Clock::time_point> frontStart_;  // set once the front frame has begun
    std::size_t sent_ = 0;                         // bytes of the front frame written
    bool waitingForRoom_ = false;
    bool deliverAtEnd_ = false;
    Clock::time_point lineFree_{};
};

}  // namespace kalvo::devsim
