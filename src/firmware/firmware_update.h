#pragma once
// The Upgrade button: the five-step update of the device to the firmware the program carries
// (restart into the boot loader, main image, restart into the main firmware, data image,
// restart), the retry question, and three additions of ours: the refusal of stand-in images for
// a device unless allowed, the read-back check of both images, and the stop at a safe point
// when a termination signal asks for it (no retry then).
//
// User-interface thread only. The update runs inside the click; the front end stays alive
// through the waits and the transactions, which pump its events. While it runs, Running() is
// true and the window keeps its pages and the button disabled.
#include <cstdint>
#include <functional>
#include <memory>

#include "device/device_restart.h"
#include "firmware/data_image_writer.h"
#include "firmware/firmware_tools.h"
#include "i18n/language.h"
#include "link/link.h"

namespace kalvo {

enum class UpdateOutcome {
    NotStarted,  // no supported device connected and identified
    Refused,     // stand-in images and no allowance: nothing sent
    Declined,    // the confirmation was answered No
    Updated,
    Failed,      // an attempt failed and no retry was wanted
    Stopped,     // a termination signal ended it at a safe point; no retry was asked
};

// Time spent in each part of the last update, over all its attempts (for the benchmark).
struct UpdateTimes {
    std::uint64_t totalMs = 0;
    std::uint64_t restartMs = 0;
    std::uint64_t mainWriteMs = 0;
    std::uint64_t dataWriteMs = 0;
    std::uint64_t verifyMs = 0;
    int attempts = 0;
};

// The texts of the procedure, picked in the language in force.
std::string UpdateConfirmationText(int boardCode, InterfaceLanguage language);
std::string UpdateStepText(int step, InterfaceLanguage language);  // steps 1..5
std::string UpdateSuccessText(InterfaceLanguage language);
std::string UpdateRetryText(InterfaceLanguage language);
std::string StandInRefusalText(InterfaceLanguage language);
// After a stop: whether the main image had been touched (then the update must be run again).
std::string UpdateStoppedText(bool mainTouched, InterfaceLanguage language);
// The error line of a refused stand-in update.
inline constexpr std::string_view kStandInLogText = "No real firmware in this program (stand-in images): update refused";

class FirmwareUpdate {
public:
    FirmwareUpdate(DeviceCommands& commands, IdentificationCache& cache, Link& link, LogSink& log, UiPort& ui,
                   const InterfaceLanguage& language, const DeviceIdentity& identity, ConnectionWatch& connection,
                   StopRequest* stop = nullptr);

    // BitBtn_ReNewDeviceInfoClick.
    UpdateOutcome UpdateFirmware();

    bool Running() const { return running_; }
    // Called when Running() changes, so the window can disable and enable its controls at once.
    std::function<void()> onRunningChanged;

    // Read back both images after writing them: without it a flash write that went wrong
    // unnoticed is reported as a successful update.
    bool verifyAfterWriting = true;
    // Set from KALVO_ALLOW_STANDIN_FIRMWARE by whoever builds the program's context.
    bool allowStandIn = false;

    DeviceRestart& Restart() { return restart_; }
    DataImageWriter& DataWriter() { return dataWriter_; }
    FirmwareTools& Tools() { return tools_; }
    const UpdateTimes& Times() const { return times_; }

private:
    bool Attempt();
    void SetRunning(bool running);
    // Leaves the device as safe as a stop allows: back in its main firmware when its image was
    // not touched; otherwise says that the update must be run again.
    void EndStopped();

    IdentificationCache& cache_;
    LogSink& log_;
    UiPort& ui_;
    const InterfaceLanguage& language_;
    const DeviceIdentity& identity_;
    ConnectionWatch& connection_;
    DeviceRestart restart_;
    FirmwareTools tools_;
    DataImageWriter dataWriter_;
    StopRequest* stop_;
    bool running_ = false;
    bool bootRequested_ = false;  // this update has sent the device to its boot loader
    bool mainTouched_ = false;    // and has begun erasing its main image
    UpdateTimes times_;
};

}  // namespace kalvo
