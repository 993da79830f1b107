#pragma once
// What the device measures right now, where the address parameters say it is: a background
// dose rate with counting noise, the pulses of the last minute, a bar value and the growing
// accumulated dose with its text. Driven by the device's uptime in whole seconds, so a seed
// and a second give the same values every time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "devsim/random_source.h"

namespace kalvo::devsim {

inline constexpr std::uint32_t kRamBase = 0x20000000;
inline constexpr std::uint32_t kRamSize = 0x2000;
inline constexpr std::uint32_t kRateAddress = 0x20000400;        // u32
inline constexpr std::uint32_t kCountAddress = 0x20000404;       // u32
inline constexpr std::uint32_t kScaleBlockAddress = 0x20000408;  // scale byte at +2
inline constexpr std::uint32_t kDoseTextAddress = 0x20000410;    // 10 bytes
inline constexpr std::uint32_t kDoseUnitAddress = 0x20000420;    // 10 bytes
inline constexpr std::size_t kDoseTextSize = 10;

class LiveValues {
public:
    // pulsesPerUnit: pulses a second that 1 uR/h gives on this unit's tubes.
    LiveValues(std::uint64_t seed, double pulsesPerUnit);

    // Runs the instrument up to this second of uptime; earlier seconds change nothing.
    void AdvanceTo(std::uint64_t second);

    std::uint32_t RateValue() const;   // uR/h, which is also hundredths of uSv/h
    std::uint32_t CountValue() const { return 2 * windowSum_; }  // twice the pulses a minute
    std::uint8_t ScaleByte() const;    // bar position, 0..120
    double DoseMicrosievert() const { return doseMicrosievert_; }
    std::uint64_t DosePulses() const { return dosePulses_; }

    void ResetDose();
    // Fills the dose text and unit text for the units setting (0 Sv, 1 R, else pulses).
    void PrepareDoseText(std::uint32_t units);
    std::span<const char> DoseText() const { return doseText_; }
    std::span<const char> DoseUnit() const { return doseUnit_; }

    // Writes the values at their addresses into the RAM image (kRamSize bytes from kRamBase).
    void Publish(std::span<std::uint8_t> ram) const;

private:
    static constexpr std::size_t kWindow = 60;
    void Step();

    RandomSource random_;
    double pulsesPerUnit_;
    double baseRate_;  // uR/h the rate wanders around
    double trueRate_;
    std::array<std::uint32_t, kWindow> window_{};
    std::size_t windowAt_ = 0;
    std::uint32_t windowSum_ = 0;
    std::uint64_t second_ = 0;
    double doseMicrosievert_ = 0;
    std::uint64_t dosePulses_ = 0;
    std::array<char, kDoseTextSize> doseText_{};
    std::array<char, kDoseTextSize> doseUnit_{};
};

}  // namespace kalvo::devsim
