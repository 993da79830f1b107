#include "app/processing_tick.h"

#include "app/context.h"
#include "device/device_information.h"
#include "platform/tick_clock.h"

namespace kalvo {

ProcessingTick::ProcessingTick(AppContext& context, Clock clock) : context_(context), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return static_cast<std::uint32_t>(TickCount()); };
    // A device found by the very first tick still waits its second before identification.
    connectionStart_ = clock_();
}

void ProcessingTick::Run() {
    if (active_) return;
    active_ = 1;

    // Differences of the wrapping 32-bit tick count, as unsigned.
    std::uint32_t now = clock_();
    if (now - lastConnectionStep_ > kConnectionStepMs) {
        lastConnectionStep_ = now;
        context_.connection.ConnectionStep();
    }

    bool connected = context_.connection.DeviceConnected();
    if (state_ == IdentificationState::NotIdentified) {
        if (!connected) {
            connectionStart_ = clock_();
        } else if (clock_() - connectionStart_ >= kIdentifyDelayMs) {
            Identify();
        }
    } else if (!connected && context_.connection.linkTestEnabled) {
        // Really lost, not merely paused by a long operation.
        ForgetDevice();
    }

    if (measurementStep) measurementStep();
    active_ = 0;
}

void ProcessingTick::Identify() {
    DeviceIdentity& identity = context_.identity;
    bool identified = ReadDeviceInformation(identity, context_.identification, context_.commands, context_.log);
    if (identified) {
        context_.ui.ShowStatus(identity.modelText + " S/N: " + FormatSerial(identity.inf1), StatusStyle::Recognised);
        recognised_ = true;
        pages_.renewEnabled = true;
        if (identity.boardInfo.boardCode == kBoardCodeR630) {
            pages_.r520TabVisible = false;
            pages_.r630TabVisible = true;
        } else if (identity.boardInfo.boardCode == kBoardCodeR520) {
            pages_.r630TabVisible = false;
            pages_.r520TabVisible = true;
        }
        context_.RestoreTrend();
    } else {
        context_.ui.ShowStatus(context_.Pick("Неизвестный прибор [", "Unknown Device [") + identity.modelText + "]",
                               StatusStyle::Unknown);
        recognised_ = false;
        pages_.renewEnabled = false;
    }
    // A failed identification is not retried while the connection lasts.
    pages_.infoLines = ShowDeviceInformation(identity, context_.language);
    state_ = IdentificationState::Identified;
}

void ProcessingTick::DeviceSentAway() {
    if (state_ != IdentificationState::NotIdentified) ForgetDevice();
}

void ProcessingTick::ForgetDevice() {
    context_.ui.ShowStatus(context_.Pick("Ожидание соединения", "Waiting Connection"), StatusStyle::Neutral);
    state_ = IdentificationState::NotIdentified;
    context_.identification.ClearIdentificationCache();
    context_.identity = DeviceIdentity{};
    pages_ = DevicePages{};
    recognised_ = false;
    // A series is one device's; a device found again gets its stored day back.
    context_.trend.Clear();
    connectionStart_ = clock_();
}

}  // namespace kalvo
