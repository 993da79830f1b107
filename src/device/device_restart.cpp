#include "device/device_restart.h"

#include "platform/tick_clock.h"

namespace kalvo {

int DeviceRestart::CheckFirmwareMode() {
    log_.LogLine("==> Check - Device is in Boot or TRV8");
    SoftInfo info;
    if (!commands_.ReadSoftInfo(info, false)) {
        log_.LogError("Reading SoftInfo");
        return -1;
    }
    log_.LogLine("BOOT  : " + FormatVersion(info.bootVersion));
    log_.LogLine("TRV8  : " + FormatVersion(info.mainVersion));
    return info.mainVersion != 0 ? 1 : 0;
}

int DeviceRestart::RestartToBoot() { return Restart(true); }
int DeviceRestart::RestartToMain() { return Restart(false); }

int DeviceRestart::Restart(bool toBoot) {
    const std::uint64_t start = TickCount();
    struct Timed {
        std::uint64_t start;
        std::uint64_t& total;
        ~Timed() { total += TickCount() - start; }
    } timed{start, restartMs_};

    log_.LogLine(toBoot ? "==> Device Reset to BOOT" : "==> Device Reset to TRV8");
    if (!commands_.ResetDevice(toBoot ? kResetToBoot : kResetToMain, false)) {
        log_.LogError(toBoot ? "Error when RESET CMD" : "RESET CMD not completed");
        return -1;
    }
    // The link test goes on during the waits, so the connection manager notices the device go
    // and finds it again; the processing tick then identifies it afresh.
    const bool linkTest = connection_.LinkTestEnabled();
    connection_.SetLinkTestEnabled(true);
    WaitProcessingMessages(ui_, kRestartStepMs);
    connection_.ClearDeviceConnected();

    bool back = false;
    for (int i = 0; i < kRestartWaits && !back; ++i) {
        WaitProcessingMessages(ui_, kRestartStepMs);
        back = connection_.DeviceConnected() && connection_.DeviceRecognised();
    }
    connection_.SetLinkTestEnabled(linkTest);
    if (!back) return -1;

    WaitProcessingMessages(ui_, kRestartStepMs);
    int mode = CheckFirmwareMode();
    if (mode < 0) return -1;
    const int wanted = toBoot ? 0 : 1;
    return mode == wanted ? 0 : -2;
}

}  // namespace kalvo
