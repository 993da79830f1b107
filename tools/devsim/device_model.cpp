#include "devsim/device_model.h"

#include <algorithm>

namespace kalvo::devsim {

namespace {

// The ring must fit, whatever size was asked.
constexpr std::uint32_t kSmallestEflash = 0x200000;

std::uint32_t RoundUp(std::uint32_t value, std::uint32_t unit) { return (value + unit - 1) / unit * unit; }

std::uint32_t CpuFlashBytes(const SimOptions& options, const IdentityLayout& layout) {
    std::uint32_t boot = layout.firmwareStart - kCpuFlashBase;
    return std::max(RoundUp(options.flashSize, layout.pageSize), boot + layout.pageSize);
}

}  // namespace

SimOptions SimOptions::ForModel(Model model) {
    SimOptions options;
    options.model = model;
    if (model == Model::R520) {
        // KALVO 51T ORA on a revision 4 board with a 256-byte page CPU.
        options.revision = 4;
        options.variant = 1;
        options.cpuCode = 5;
        options.mainVersion = 0x0C03;
        options.flashSize = 0x20000;
        options.boardType = 4;
        options.boardNumber = 4;
    }
    return options;
}

std::string_view ModelName(Model model) { return model == Model::R630 ? "r630" : "r520"; }

std::uint16_t ReleaseVersion(Model model) { return model == Model::R630 ? 0x0C09 : 0x0C03; }

// The inverse of what the program's chart does with a record: R630 has two tubes of 86 pulses
// an hour per uR/h, R520 one tube of 68 (handheld variant 1) or 76.
double PulsesPerUnit(const SimOptions& options, std::uint32_t calibration) {
    double perTube = options.model == Model::R630 ? 86 : (options.variant & 3) == 1 ? 68 : 76;
    double tubes = options.model == Model::R630 ? 2 : 1;
    return perTube * tubes / 3600.0 / (std::max<std::uint32_t>(calibration, 1) / 100.0);
}

SimDevice::SimDevice(SimOptions options, TimeSource now)
    : options_(std::move(options)),
      now_(now ? std::move(now) : TimeSource([] { return Clock::now(); })),
      poweredOn_(now_()),
      layout_(IdentityLayout::For(options_)),
      cpuFlash_(kCpuFlashBase, CpuFlashBytes(options_, layout_), layout_.pageSize),
      eflash_(0, std::max(RoundUp(options_.eflashSize, kEflashSector), kSmallestEflash), kEflashSector),
      ram_(kRamSize, 0),
      uid_(UidOf(options_)),
      parameters_(ParameterStore::ForDevice(options_)),
      history_(eflash_),
      rtc_(options_.clock.value_or(PcLocalDeviceSeconds()), poweredOn_),
      live_(options_.seed, PulsesPerUnit(options_, parameters_.SettingValue(kParamCalibration).value_or(100))),
      bootMode_(options_.mainVersion == 0),
      runningMain_(options_.mainVersion) {
    WriteFactoryFlash();
    HistoryShape shape;
    shape.pulsesPerUnit = PulsesPerUnit(options_, parameters_.SettingValue(kParamCalibration).value_or(100));
    shape.onChange = parameters_.SettingValue(kParamHistoryMethod).value_or(1) != 0;
    GenerateHistory(history_, options_.history, rtc_.SecondsAt(poweredOn_), shape, options_.seed);
}

void SimDevice::AdvanceHistory(unsigned count) {
    HistoryShape shape;
    shape.pulsesPerUnit = PulsesPerUnit(options_, parameters_.SettingValue(kParamCalibration).value_or(100));
    const std::uint64_t clock = rtc_.SecondsAt(Now());
    const std::uint64_t end = AppendHistory(history_, count, clock, shape, options_.seed);
    if (end + 5 > clock) rtc_.Set(end + 5, rtc_.Seventh(), Now());
    Note("history: " + std::to_string(count) + " records appended");
}

// Boot loader code with the descriptor and INF_1 in it; the main firmware after it when the
// unit has one, erased flash when it is to start in its boot loader.
void SimDevice::WriteFactoryFlash() {
    std::vector<std::uint8_t> code(cpuFlash_.Size());
    for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>((i * 0x9E3779B1u) >> 24);
    std::uint32_t bootBytes = layout_.firmwareStart - kCpuFlashBase;
    cpuFlash_.Fill(kCpuFlashBase, std::span(code).first(bootBytes));
    cpuFlash_.Fill(kDescriptorAddress, DescriptorBytes(options_, layout_));
    cpuFlash_.Fill(layout_.inf1Address, Inf1Bytes(options_));
    if (options_.mainVersion != 0) cpuFlash_.Fill(layout_.firmwareStart, std::span(code).subspan(bootBytes));
}

SimDevice::WriteFault SimDevice::CountFlashWrite() {
    ++flashWrites_;
    if (options_.powerCutAtWrite == flashWrites_) return WriteFault::PowerCut;
    if (options_.corruptWrite == flashWrites_) return WriteFault::Corrupt;
    return WriteFault::None;
}

bool SimDevice::MainFirmwarePresent() const {
    if (!mainAreaComplete_) return false;
    auto first = cpuFlash_.Read(layout_.firmwareStart, 4);
    return std::any_of(first.begin(), first.end(), [](std::uint8_t byte) { return byte != kErased; });
}

LiveValues& SimDevice::RefreshLive() {
    auto uptime = std::chrono::duration_cast<std::chrono::seconds>(Now() - poweredOn_).count();
    live_.AdvanceTo(static_cast<std::uint64_t>(std::max<std::int64_t>(uptime, 0)));
    return live_;
}

std::optional<std::vector<std::uint8_t>> SimDevice::ReadMemory(std::uint32_t address, std::size_t length) {
    auto within = [&](std::uint32_t base, std::size_t size) {
        return address >= base && address - base <= size && length <= size - (address - base);
    };
    if (cpuFlash_.Contains(address, length)) {
        auto bytes = cpuFlash_.Read(address, length);
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
    if (within(kRamBase, ram_.size())) {
        RefreshLive().Publish(ram_);
        auto from = ram_.begin() + (address - kRamBase);
        return std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(length));
    }
    if (within(layout_.uidAddress, uid_.size())) {
        auto from = uid_.begin() + (address - layout_.uidAddress);
        return std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(length));
    }
    return std::nullopt;
}

void SimDevice::CompleteReset() {
    if (!pendingReset_) return;
    bool toBoot = *pendingReset_;
    pendingReset_.reset();
    powerCut_ = false;
    exchange_ = false;
    if (!toBoot && !MainFirmwarePresent()) {
        Note("no complete main firmware to start: the boot loader stays");
        toBoot = true;
    }
    bootMode_ = toBoot;
    if (!toBoot && (mainRewritten_ || options_.mainVersion == 0)) runningMain_ = ReleaseVersion(options_.model);
}

}  // namespace kalvo::devsim
