#pragma once
// The simulator's only source of chance. Its own generator (splitmix64) rather than the standard
// distributions, so one seed gives the same device on every compiler and library.
#include <cstdint>

namespace kalvo::devsim {

class RandomSource {
public:
    // stream: which use of the seed this is, so faults, history and live values do not share a
    // sequence and adding draws to one leaves the others unchanged.
    explicit RandomSource(std::uint64_t seed, std::uint64_t stream = 0);

    std::uint64_t Next();
    double Uniform();                       // [0, 1)
    std::uint32_t Below(std::uint32_t n);   // [0, n); 0 when n is 0
    double Normal();                        // mean 0, deviation 1
    std::uint32_t Poisson(double mean);     // counts of a radioactive source
    bool Percent(double percent) { return Uniform() * 100.0 < percent; }

private:
    std::uint64_t state_;
};

// Named streams of one seed.
inline constexpr std::uint64_t kFaultStream = 1;
inline constexpr std::uint64_t kHistoryStream = 2;
inline constexpr std::uint64_t kLiveStream = 3;
inline constexpr std::uint64_t kIdentityStream = 4;

}  // namespace kalvo::devsim
