#pragma once
// The 100 ms tick that drives the program: a connection step about once a second, the
// identification of a device one second after it connected, the reset of everything
// device-related when it goes, then the live measurement. The device page, the settings tabs
// and the upgrade button are a model here that the window shows after each tick.
//
// User-interface thread only. A tick that arrives while one runs (through Pump() inside a
// device transaction) returns at once.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kalvo {

class AppContext;

enum class IdentificationState { NotIdentified, Identified };

struct DevicePages {
    bool r630TabVisible = false;
    bool r520TabVisible = false;
    bool renewEnabled = false;              // BitBtn_ReNewDeviceInfo
    std::vector<std::string> infoLines;     // Memo_Info
};

inline constexpr std::uint32_t kConnectionStepMs = 1000;
inline constexpr std::uint32_t kIdentifyDelayMs = 1000;

class ProcessingTick {
public:
    using Clock = std::function<std::uint32_t()>;

    // The clock defaults to the system's millisecond tick count.
    explicit ProcessingTick(AppContext& context, Clock clock = {});

    void Run();  // Timer_ProcTimer
    // Tests turn the clock by hand.
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    bool Active() const { return active_ != 0; }          // ProcessingTickActive
    bool DeviceRecognised() const { return recognised_; }
    IdentificationState State() const { return state_; }
    const DevicePages& Pages() const { return pages_; }

    // A device sent away on purpose (a restart): forgotten at once rather than at the next run,
    // where a connection step could find it again before the loss is seen, and the device would
    // keep the identity it had before.
    void DeviceSentAway();

    // The live measurement's step, run last in every tick.
    std::function<void()> measurementStep;

private:
    void Identify();
    void ForgetDevice();

    AppContext& context_;
    Clock clock_;
    int active_ = 0;
    std::uint32_t lastConnectionStep_ = 0;
    std::uint32_t connectionStart_ = 0;
    IdentificationState state_ = IdentificationState::NotIdentified;
    bool recognised_ = false;
    DevicePages pages_;
};

}  // namespace kalvo
