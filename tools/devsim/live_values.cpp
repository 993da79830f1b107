#include "devsim/live_values.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "devsim/byte_io.h"

namespace kalvo::devsim {

namespace {

// A week of seconds at most is simulated one by one; a longer silence adds its mean dose.
constexpr std::uint64_t kLongestStepRun = 7 * 86400;
constexpr double kMicroroentgenPerMicrosievert = 100.0;

void CopyText(std::array<char, kDoseTextSize>& target, const std::string& text) {
    target.fill(0);
    std::copy_n(text.begin(), std::min(text.size(), target.size()), target.begin());
}

// The device writes decimal commas, as the program shows numbers.
std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string result = text;
    std::replace(result.begin(), result.end(), '.', ',');
    return result;
}

struct Shown {
    std::string text, unit;
};

// A dose in micro units as the device shows it: micro, milli or whole, ten characters at most.
Shown Scaled(double micro, const std::array<const char*, 3>& units, int microDecimals) {
    if (micro < 1e3) return {Number(micro, microDecimals), units[0]};
    if (micro < 1e6) return {Number(micro / 1e3, 3), units[1]};
    return {Number(std::min(micro / 1e6, 99999.0), 3), units[2]};
}

}  // namespace

LiveValues::LiveValues(std::uint64_t seed, double pulsesPerUnit)
    : random_(seed, kLiveStream), pulsesPerUnit_(pulsesPerUnit) {
    baseRate_ = 10.0 + 8.0 * random_.Uniform();  // 0.10 .. 0.18 uSv/h
    trueRate_ = baseRate_;
    doseMicrosievert_ = 5.0 + 45.0 * random_.Uniform();
    dosePulses_ = static_cast<std::uint64_t>(doseMicrosievert_ * kMicroroentgenPerMicrosievert * pulsesPerUnit_ * 3600);
    // The device has been counting for a while before it is plugged in: the window is full.
    for (std::size_t i = 0; i < kWindow; ++i) Step();
}

void LiveValues::Step() {
    trueRate_ += 0.01 * (baseRate_ - trueRate_) + 0.15 * random_.Normal();
    trueRate_ = std::clamp(trueRate_, 3.0, 60.0);
    std::uint32_t pulses = random_.Poisson(trueRate_ * pulsesPerUnit_);
    windowSum_ = windowSum_ - window_[windowAt_] + pulses;
    window_[windowAt_] = pulses;
    windowAt_ = (windowAt_ + 1) % kWindow;
    dosePulses_ += pulses;
    doseMicrosievert_ += pulses / (pulsesPerUnit_ * 3600) / kMicroroentgenPerMicrosievert;
}

void LiveValues::AdvanceTo(std::uint64_t second) {
    if (second <= second_) return;
    if (second - second_ > kLongestStepRun) {
        std::uint64_t skipped = second - second_ - kLongestStepRun;
        doseMicrosievert_ += baseRate_ * static_cast<double>(skipped) / 3600 / kMicroroentgenPerMicrosievert;
        dosePulses_ += static_cast<std::uint64_t>(baseRate_ * pulsesPerUnit_ * static_cast<double>(skipped));
        second_ += skipped;
    }
    for (; second_ < second; ++second_) Step();
}

std::uint32_t LiveValues::RateValue() const {
    return static_cast<std::uint32_t>(std::lround(windowSum_ / (kWindow * pulsesPerUnit_)));
}

std::uint8_t LiveValues::ScaleByte() const { return static_cast<std::uint8_t>(std::min<std::uint32_t>(RateValue(), 120)); }

void LiveValues::ResetDose() {
    doseMicrosievert_ = 0;
    dosePulses_ = 0;
}

void LiveValues::PrepareDoseText(std::uint32_t units) {
    Shown shown;
    if (units == 0) {
        shown = Scaled(doseMicrosievert_, {"uSv", "mSv", "Sv"}, 2);
    } else if (units == 1) {
        shown = Scaled(doseMicrosievert_ * kMicroroentgenPerMicrosievert, {"uR", "mR", "R"}, 1);
    } else if (dosePulses_ < 1'000'000'000) {
        shown = {std::to_string(dosePulses_), "PULSES"};
    } else {
        shown = {std::to_string(std::min<std::uint64_t>(dosePulses_ / 1000, 999'999'999)), "PULSES*E3"};
    }
    CopyText(doseText_, shown.text);
    CopyText(doseUnit_, shown.unit);
}

void LiveValues::Publish(std::span<std::uint8_t> ram) const {
    PutU32(ram, kRateAddress - kRamBase, RateValue());
    PutU32(ram, kCountAddress - kRamBase, CountValue());
    std::uint32_t scale = kScaleBlockAddress - kRamBase;
    ram[scale] = 0x01;  // block in use
    ram[scale + 1] = 0;
    ram[scale + 2] = ScaleByte();
    ram[scale + 3] = 0;
    std::copy(doseText_.begin(), doseText_.end(), ram.begin() + (kDoseTextAddress - kRamBase));
    std::copy(doseUnit_.begin(), doseUnit_.end(), ram.begin() + (kDoseUnitAddress - kRamBase));
}

}  // namespace kalvo::devsim
