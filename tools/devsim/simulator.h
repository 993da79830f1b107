#pragma once
// The running simulator: one pseudo-terminal, one device, one event loop. Requests are decoded
// as they arrive, looked up in the command table and answered on the requesting channel, with
// the faults of the FaultInjector applied on the way. A reset takes the terminal (and the comN
// link) away for a while and brings a new one up, as a USB device that restarts does.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "devsim/answer_writer.h"
#include "devsim/command_table.h"
#include "devsim/device_model.h"
#include "devsim/fault_injector.h"
#include "devsim/frame_io.h"
#include "devsim/pty_transport.h"
#include "devsim/trace.h"

namespace kalvo::devsim {

inline constexpr int kDefaultBaud = 230400;
inline constexpr std::chrono::milliseconds kDefaultResetDowntime{1500};

class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    // baud 0: answers are written unpaced. All references must outlive the simulator.
    Simulator(SimDevice& device, const CommandTable& commands, FaultOptions faults, int baud, Trace& trace);

    // Opens the terminal and, given a COM number, publishes it in portsFolder. False (error set)
    // when either fails; nothing is left behind then.
    bool Start(std::optional<int> com, const std::string& portsFolder, std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    // False once the device has vanished, and while it restarts.
    bool HasPort() const { return port_.has_value(); }

    void SetResetDowntime(std::chrono::milliseconds downtime) { resetDowntime_ = downtime; }
    // Requests, too, take their time on the line at the pacing rate: one counts as arrived
    // when its last byte would have, and is answered no earlier.
    // Answer chunks are handed over when their last byte has arrived, too (SetDeliverAtEnd), so
    // an exchange takes exactly its line time.
    void SetExactLine(bool exact) {
        paceRequests_ = exact && baud_ > 0;
        writer_.SetDeliverAtEnd(paceRequests_);
    }
    // Called with the new slave path each time the device is back from a restart.
    void OnPortReopened(std::function<void(const std::string& slavePath)> callback) {
        onReopened_ = std::move(callback);
    }

    // Serves the line until stopFd becomes readable (a signalfd, an eventfd...). Without a
    // callback it is not read and the loop ends; with one, the callback reads it and says
    // whether to stop.
    void Run(int stopFd, const std::function<bool()>& onStopFd = {});

private:
    void ReadRequests();
    void OnFrame(const InboundFrame& frame);
    void OnRequest(int channel, const std::vector<std::uint8_t>& payload);
    void WriteDue(Clock::time_point now);
    void CheckVanish(Clock::time_point now);
    void Vanish();
    void TraceDeviceNotes();
    void CheckRestart(Clock::time_point now);
    void GoDownForRestart(Clock::time_point now);
    void ComeBack(Clock::time_point now);
    std::optional<Clock::time_point> NextWakeup() const;

    SimDevice& device_;
    const CommandTable& commands_;
    FaultInjector faults_;
    AnswerWriter writer_;
    Trace& trace_;

    std::optional<PtyPort> port_;
    std::optional<PortPublication> link_;
    std::optional<int> com_;
    std::string portsFolder_;
    std::string slavePath_;
    RequestDecoder decoder_;

    unsigned answersQueued_ = 0;
    unsigned answersWritten_ = 0;
    // When to look whether the last allowed answer has been read and the device may go.
    std::optional<Clock::time_point> vanishCheck_;

    std::chrono::milliseconds resetDowntime_ = kDefaultResetDowntime;
    int baud_;
    bool paceRequests_ = false;
    Clock::time_point inboundFreeAt_{};
    std::function<void(const std::string&)> onReopened_;
    // Set by a reset's answer: the line goes once the writer is idle, until the device is back.
    bool restarting_ = false;
    std::optional<Clock::time_point> goDownAt_;
    int goDownLooks_ = 0;
    std::optional<Clock::time_point> comeBackAt_;
};

}  // namespace kalvo::devsim
