#include "device/connection_manager.h"

#include <charconv>

namespace kalvo {

namespace {
enum Presence : std::uint8_t { Absent = 0, PresentBefore = 1, NewlyAppeared = 2, Preferred = 3 };

// A text that is not a whole number counts as -1.
int ParsePortText(const std::string& text) {
    std::size_t begin = text.find_first_not_of(' ');
    std::size_t end = text.find_last_not_of(' ');
    if (begin == std::string::npos) return -1;
    int value = 0;
    const char* first = text.data() + begin;
    const char* last = text.data() + end + 1;
    auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last ? value : -1;
}
}  // namespace

void PortScanList::Refresh(const SerialPort& port, LogSink& log) {
    orderChanged_ = false;
    previousPresence_ = presence_;
    presence_.fill(Absent);

    int count = kTrackedPorts;
    buffer_.fill(PortListEntry{});
    port.EnumeratePorts(buffer_.data(), count, false);
    CompactPortList(buffer_.data(), count);

    std::string text = PortListText(buffer_.data(), count);
    if (text != lastListText_) {
        log.LogLine("PORT LIST: " + text);
        lastListText_ = text;
    }

    for (int i = 0; i < count; ++i) {
        int p = buffer_[static_cast<std::size_t>(i)].port;
        if (p < 0 || p >= kTrackedPorts) continue;
        auto at = static_cast<std::size_t>(p);
        if ((previousPresence_[at] == Absent && !firstScan_) || p == preferredPort) orderChanged_ = true;
        if (firstScan_ && p != preferredPort) excluded_[at] = true;
        presence_[at] = p == preferredPort ? Preferred : previousPresence_[at] != Absent ? PresentBefore : NewlyAppeared;
    }
    for (std::size_t p = 0; p < kTrackedPorts; ++p)
        if (presence_[p] == Absent) excluded_[p] = false;

    scanCount_ = 0;
    auto take = [this](std::uint8_t kind, bool skipExcluded) {
        for (std::size_t p = 0; p < kTrackedPorts; ++p)
            if (presence_[p] == kind && !(skipExcluded && excluded_[p])) scanOrder_[static_cast<std::size_t>(scanCount_++)] = static_cast<int>(p);
    };
    take(Preferred, false);
    if (!firstScan_) take(NewlyAppeared, false);
    take(PresentBefore, true);
    firstScan_ = false;
}

int ConnectionManager::RunConnectionTest() {
    if (!linkTestEnabled) return 1;
    const auto* pattern = reinterpret_cast<const std::uint8_t*>(kConnectionTestPattern.data());
    return link_.ConnectionTest(pattern, static_cast<int>(kConnectionTestPattern.size()), false);
}

void ConnectionManager::ShowConnectionState(ConnectionKind kind) {
    panel_.kind = kind;
    switch (kind) {
    case ConnectionKind::Ok: panel_.text = blink_ ? "= OK =" : "OK"; break;
    case ConnectionKind::Err: panel_.text = blink_ ? "= ERR =" : "ERR"; break;
    case ConnectionKind::Nok: panel_.text = blink_ ? "= NOK =" : "NOK"; break;
    }
    panel_.comText = port_.IsOpen() ? "COM " + std::to_string(port_.PortNumber()) : "----";
}

void ConnectionManager::Drop(bool close) {
    if (close) port_.Close();
    connectedPort_ = -1;
    deviceConnected_ = false;
}

bool ConnectionManager::OpenSelected() {
    port_.SetPortNumber(selectedPort_);
    port_.Close();
    return port_.Open(kBaudRate);
}

void ConnectionManager::ConnectionStep() {
    if (stepBusy_) return;
    stepBusy_ = true;
    blink_ = !blink_;

    switch (mode_) {
    case ConnectionMode::AutoCheck:
        if (deviceConnected_) {
            int result = RunConnectionTest();
            if (result >= 1) {
                ShowConnectionState(ConnectionKind::Ok);
            } else {
                Drop(result == 0);
                ShowConnectionState(result == 0 ? ConnectionKind::Err : ConnectionKind::Nok);
                mode_ = ConnectionMode::AutoScan;
            }
        } else {
            ShowConnectionState(ConnectionKind::Nok);
            mode_ = ConnectionMode::AutoScan;
        }
        break;

    case ConnectionMode::AutoScan: {
        scanList_.Refresh(port_, log_);
        if (scanList_.ScanCount() == 0) {
            connectedPort_ = selectedPort_ = -1;
            deviceConnected_ = false;
            port_.Close();
            ShowConnectionState(ConnectionKind::Nok);
            break;
        }
        if (scanList_.OrderChanged() || scanPosition_ >= scanList_.ScanCount()) scanPosition_ = 0;
        selectedPort_ = scanList_.ScanOrder(scanPosition_);
        if (OpenSelected()) {
            int result = RunConnectionTest();
            if (result >= 1) {
                deviceConnected_ = true;
                connectedPort_ = scanList_.preferredPort = selectedPort_;
                ShowConnectionState(ConnectionKind::Ok);
                mode_ = ConnectionMode::AutoCheck;
                break;
            }
            Drop(result == 0);
            ShowConnectionState(result == 0 ? ConnectionKind::Err : ConnectionKind::Nok);
        }
        if (++scanPosition_ >= scanList_.ScanCount()) scanPosition_ = 0;
        break;
    }

    case ConnectionMode::Manual:
        if (selectedPort_ >= 0 && selectedPort_ != connectedPort_ && deviceConnected_) {
            // The user chose another port: let go of this one first.
            Drop(true);
            ShowConnectionState(ConnectionKind::Err);
        } else if (deviceConnected_) {
            int result = RunConnectionTest();
            if (result > 0) {
                ShowConnectionState(ConnectionKind::Ok);
            } else {
                Drop(result == 0);
                ShowConnectionState(result == 0 ? ConnectionKind::Err : ConnectionKind::Nok);
            }
        } else {
            connectedPort_ = -1;
            port_.Close();
            if (selectedPort_ < 0) break;
            if (!OpenSelected()) {
                ShowConnectionState(ConnectionKind::Nok);
                break;
            }
            int result = RunConnectionTest();
            if (result > 0) {
                connectedPort_ = scanList_.preferredPort = selectedPort_;
                deviceConnected_ = true;
                ShowConnectionState(ConnectionKind::Ok);
            } else {
                Drop(result == 0);
                ShowConnectionState(result == 0 ? ConnectionKind::Err : ConnectionKind::Nok);
            }
        }
        break;
    }
    stepBusy_ = false;
}

void ConnectionManager::Action_Connection_AutoExecute() { mode_ = ConnectionMode::AutoCheck; }

void ConnectionManager::Action_Connection_Manual_NumberExecute(const std::optional<std::string>& typed) {
    if (!typed) return;
    int number = ParsePortText(*typed);
    if (number < 0 || number > kMaxManualPort) {
        ui_.ShowMessage(MessageKind::Error,
                        PickText(language_, "Ошибка формата номера COM порта", "COM Port Number Format Error"));
        return;
    }
    manualPortNumber_ = selectedPort_ = number;
    manualChosen_ = true;
    mode_ = ConnectionMode::Manual;
}

std::string ConnectionManager::ManualCaption() const {
    if (!manualChosen_) return {};
    return PickText(language_, "Вручную COM", "Manual COM") + std::to_string(manualPortNumber_);
}

}  // namespace kalvo
