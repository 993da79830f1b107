#pragma once
// The answer time of the current connection, learnt as TCP learns its retransmission time-out:
// a smoothed mean and mean deviation of the round trips of requests that were sent once (an
// answer to a repeated request could belong to either sending, so it teaches nothing). Idempotent
// reads repeat after this time instead of the fixed 700 ms, so a lost frame costs milliseconds.
//
// User-interface thread only.
#include <cstddef>

namespace kalvo {

class RoundTripEstimator {
public:
    // Never waits less than this for an answer...
    static constexpr double kFloorMs = 20;
    // ...nor longer than the fixed answer time.
    static constexpr double kCeilingMs = 700;

    // A new connection: nothing learnt, the fixed time until the first answer.
    void Reset();
    // How long to wait for the answer to a request whose frames take `wireBytes` on the line,
    // both ways together.
    double TimeoutMs(std::size_t wireBytes) const;
    // The answer to a request sent once came after `elapsedMs`.
    void Sample(double elapsedMs, std::size_t wireBytes);
    // A wait ran out: the time doubles until the next clean answer.
    void Backoff();

    bool Learnt() const { return learnt_; }
    double SmoothedMs() const { return smoothed_; }
    double DeviationMs() const { return deviation_; }

    // The time of `bytes` at 230400 baud, ten bits a byte.
    static double LineMs(std::size_t bytes);

private:
    bool learnt_ = false;
    double smoothed_ = 0;
    double deviation_ = 0;
    double backoff_ = 1;
};

}  // namespace kalvo
