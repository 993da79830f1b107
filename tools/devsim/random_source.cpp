#include "devsim/random_source.h"

#include <cmath>
#include <numbers>

namespace kalvo::devsim {

RandomSource::RandomSource(std::uint64_t seed, std::uint64_t stream)
    : state_(seed ^ (stream * 0xD1B54A32D192ED03ULL)) {}

std::uint64_t RandomSource::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double RandomSource::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

std::uint32_t RandomSource::Below(std::uint32_t n) {
    return n == 0 ? 0 : static_cast<std::uint32_t>(Next() % n);
}

double RandomSource::Normal() {
    double u1 = 1.0 - Uniform();  // (0, 1]: log stays finite
    double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

std::uint32_t RandomSource::Poisson(double mean) {
    if (mean <= 0) return 0;
    if (mean < 30) {
        // Knuth: exact, and cheap at background rates.
        double limit = std::exp(-mean), product = Uniform();
        std::uint32_t count = 0;
        while (product > limit) {
            ++count;
            product *= Uniform();
        }
        return count;
    }
    double value = std::round(mean + std::sqrt(mean) * Normal());
    return value <= 0 ? 0 : static_cast<std::uint32_t>(value);
}

}  // namespace kalvo::devsim
