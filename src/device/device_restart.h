#pragma once
// Restarting the device into its boot loader or its main firmware and waiting until the
// program has found and identified it again. The settings pages use RestartToMain too, so it
// takes only what it needs: the commands, the log, the UI port for its waits, and the
// connection flags (ConnectionWatch).
//
// User-interface thread only. The waits keep the front end's events (the processing tick, which
// reconnects and identifies) going, so a restart takes seconds without blocking the window.
#include <cstdint>

#include "device/connection_watch.h"
#include "link/device_commands.h"
#include "platform/log_sink.h"
#include "platform/ui_port.h"

namespace kalvo {

inline constexpr int kRestartStepMs = 1000;
inline constexpr int kRestartWaits = 30;

class DeviceRestart {
public:
    DeviceRestart(DeviceCommands& commands, LogSink& log, UiPort& ui, ConnectionWatch& connection)
        : commands_(commands), log_(log), ui_(ui), connection_(connection) {}

    // 0 boot loader, 1 main firmware, -1 SoftInfo not read.
    int CheckFirmwareMode();
    // 0 back in the wanted mode, -2 back in the other one, -1 failure.
    int RestartToBoot();
    int RestartToMain();

    // Milliseconds spent in restarts so far (for the benchmark's figures).
    std::uint64_t RestartMs() const { return restartMs_; }

private:
    int Restart(bool toBoot);

    DeviceCommands& commands_;
    LogSink& log_;
    UiPort& ui_;
    ConnectionWatch& connection_;
    std::uint64_t restartMs_ = 0;
};

}  // namespace kalvo
