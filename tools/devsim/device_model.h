#pragma once
// The simulated dosimeter itself: what it is (SimOptions) and what it holds (SimDevice). The
// transport and the command table only see this; commands read and change it through their
// handlers. One object per area: flashes, RAM with the live values, parameters, history ring,
// clock, screen; the device ties them together and keeps its running mode.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devsim/device_clock.h"
#include "devsim/device_control.h"
#include "devsim/flash_memory.h"
#include "devsim/history_generator.h"
#include "devsim/history_ring.h"
#include "devsim/identity_memory.h"
#include "devsim/live_values.h"
#include "devsim/parameters.h"

namespace kalvo::devsim {

enum class Model { R630, R520 };

// Identity and starting state of the simulated unit. ForModel() gives a unit that the program
// accepts for that family; every field can then be overridden from the command line.
struct SimOptions {
    Model model = Model::R630;
    std::uint8_t revision = 41;
    std::uint8_t variant = 0;
    std::uint16_t cpuCode = 9;
    std::uint16_t bootVersion = 0x0401;   // major in the high byte: 4.1
    std::uint16_t mainVersion = 0x0C09;   // 0: only the boot loader runs; R630 shows 12.9 as 1.20.12.9
    std::uint32_t flashSize = 0x10000;    // CPU flash, as the CPU descriptor reports it
    std::uint32_t eflashSize = 0x800000;  // external flash (data image, history ring)
    std::string serialNumber = "12345678";  // eight hex digits, as INF_1 stores them
    std::uint8_t boardType = 6;           // INF_1 byte 1: 6 R630, 4 R520
    std::uint8_t boardNumber = 41;        // INF_1 byte 2
    std::array<std::uint8_t, 2> boardY{}; // INF_1 bytes 3 and 4
    std::optional<Uid> uid;               // nothing: made from the serial number
    std::uint64_t seed = 1;
    HistoryKind history = HistoryKind::Short;
    std::optional<std::uint64_t> clock;   // device seconds at start; nothing: the PC's local time
    std::vector<std::pair<std::uint16_t, std::uint32_t>> parameters;  // presets over the defaults
    // Settings that keep this value whatever is written to them (a unit that alters a write).
    std::vector<std::pair<std::uint16_t, std::uint32_t>> keptParameters;
    std::optional<std::uint32_t> firmwareStart;  // nothing: the family's boot loader size
    // Faults of the device itself, counted over CPU-flash and external-flash writes from 1.
    std::optional<unsigned> powerCutAtWrite;  // power lost during this write: half of it lands
    std::optional<unsigned> corruptWrite;     // this write keeps one wrong byte, answered as fine
    std::optional<unsigned> noReturnAtReset;  // this ResetDevice (from 1) takes the device away for good
    // Records the writer adds after every exchange end, as if that much time had passed.
    std::optional<unsigned> appendAtExchangeEnd;

    static SimOptions ForModel(Model model);
};

std::string_view ModelName(Model model);
// What a unit runs after the program has written a main image: the family's current release.
std::uint16_t ReleaseVersion(Model model);
// Pulses a second that 1 uR/h gives on this unit's tubes at the given calibration (x100).
double PulsesPerUnit(const SimOptions& options, std::uint32_t calibration);

class SimDevice {
public:
    using Clock = std::chrono::steady_clock;
    using TimeSource = std::function<Clock::time_point()>;

    // now: where the device's time comes from (tests step it by hand); empty: the steady clock.
    explicit SimDevice(SimOptions options, TimeSource now = {});
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const SimOptions& Options() const { return options_; }
    // 630 or 520, as ReadBoardInfo reports it.
    std::uint16_t BoardCode() const { return options_.model == Model::R630 ? 630 : 520; }
    bool InBootMode() const { return bootMode_; }
    // SoftInfo's main version: 0 while the boot loader runs.
    std::uint16_t RunningMainVersion() const { return bootMode_ ? 0 : runningMain_; }
    const IdentityLayout& Layout() const { return layout_; }
    Clock::time_point Now() const { return now_(); }

    FlashArray& CpuFlash() { return cpuFlash_; }
    const FlashArray& CpuFlash() const { return cpuFlash_; }
    FlashArray& Eflash() { return eflash_; }
    const FlashArray& Eflash() const { return eflash_; }
    ParameterStore& Parameters() { return parameters_; }
    const ParameterStore& Parameters() const { return parameters_; }
    HistoryRing& History() { return history_; }
    const HistoryRing& History() const { return history_; }
    DeviceClock& Rtc() { return rtc_; }
    ScreenLog& Screen() { return screen_; }
    // The live values, run up to now.
    LiveValues& RefreshLive();

    // Device memory as ReadMemory sees it: CPU flash, RAM (live values) and the identifier.
    // Nothing when any of the bytes lies outside them.
    std::optional<std::vector<std::uint8_t>> ReadMemory(std::uint32_t address, std::size_t length);

    bool InExchange() const { return exchange_; }
    void SetExchange(bool on) { exchange_ = on; }
    // The writer adds `count` records and the clock moves past the newest.
    void AdvanceHistory(unsigned count);
    // A main image is being written; the unit will come back as the family's release.
    void MainFirmwareRewritten() { mainRewritten_ = true; }
    bool MainFirmwarePresent() const;

    // ResetDevice asked for a restart; the simulator performs it once the answer has gone.
    void RequestReset(bool toBoot) {
        pendingReset_ = toBoot;
        ++resetsAsked_;
        // A commanded restart means the PC finished writing: the boot loader trusts the area.
        mainAreaComplete_ = true;
    }
    unsigned ResetsAsked() const { return resetsAsked_; }
    // The power went: the unit comes back in whatever its flash allows.
    void CutPower() { pendingReset_ = false; powerCut_ = true; }
    bool PowerCutPending() const { return powerCut_ && pendingReset_.has_value(); }
    // The boot loader erased part of the main area: until a commanded restart it stays itself.
    void MainAreaErased() { mainAreaComplete_ = false; }
    // What a flash write is to suffer, counting it.
    enum class WriteFault { None, PowerCut, Corrupt };
    WriteFault CountFlashWrite();
    std::optional<bool> PendingReset() const { return pendingReset_; }
    // Comes up again: in the boot loader when asked or when there is no main firmware to run.
    void CompleteReset();

    // Things worth a line in the trace; the simulator collects them after each command.
    void Note(std::string text) { notes_.push_back(std::move(text)); }
    std::vector<std::string> TakeNotes() { return std::exchange(notes_, {}); }

private:
    void WriteFactoryFlash();

    SimOptions options_;
    TimeSource now_;
    Clock::time_point poweredOn_;
    IdentityLayout layout_;
    FlashArray cpuFlash_;
    FlashArray eflash_;
    std::vector<std::uint8_t> ram_;
    Uid uid_;
    ParameterStore parameters_;
    HistoryRing history_;
    DeviceClock rtc_;
    LiveValues live_;
    ScreenLog screen_;
    bool bootMode_;
    std::uint16_t runningMain_;
    bool mainRewritten_ = false;
    bool exchange_ = false;
    std::optional<bool> pendingReset_;
    bool powerCut_ = false;
    bool mainAreaComplete_ = true;
    unsigned resetsAsked_ = 0;
    unsigned flashWrites_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace kalvo::devsim
