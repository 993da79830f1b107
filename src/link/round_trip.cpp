#include "link/round_trip.h"

#include <algorithm>
#include <cmath>

namespace kalvo {

void RoundTripEstimator::Reset() { *this = RoundTripEstimator(); }

double RoundTripEstimator::LineMs(std::size_t bytes) { return static_cast<double>(bytes) * 10.0 * 1000.0 / 230400.0; }

double RoundTripEstimator::TimeoutMs(std::size_t wireBytes) const {
    if (!learnt_) return kCeilingMs;
    double base = std::max(kFloorMs, smoothed_ + 4 * deviation_) * backoff_;
    return std::min(kCeilingMs, base + LineMs(wireBytes));
}

void RoundTripEstimator::Sample(double elapsedMs, std::size_t wireBytes) {
    // What is left once the bytes themselves have crossed the line: the device's own time.
    double rtt = std::max(0.0, elapsedMs - LineMs(wireBytes));
    if (!learnt_) {
        smoothed_ = rtt;
        deviation_ = rtt / 2;
        learnt_ = true;
    } else {
        deviation_ = 0.75 * deviation_ + 0.25 * std::fabs(smoothed_ - rtt);
        smoothed_ = 0.875 * smoothed_ + 0.125 * rtt;
    }
    backoff_ = 1;
}

void RoundTripEstimator::Backoff() {
    if (learnt_) backoff_ = std::min(backoff_ * 2, kCeilingMs / kFloorMs);
}

}  // namespace kalvo
