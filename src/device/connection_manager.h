#pragma once
// Finds the dosimeter on the serial ports and supervises it with the echo test about once a
// second. Automatic mode watches the port list and tries new ports first; manual mode keeps to
// the port the user typed. The connection panels of the bottom bar are a model here
// (ConnectionPanel) that the window shows after each step.
//
// User-interface thread only. A step that arrives while one runs (through Pump() inside a
// transaction) returns at once.
#include <array>
#include <optional>
#include <string>

#include "i18n/language.h"
#include "link/link.h"
#include "platform/log_sink.h"
#include "platform/serial_port.h"
#include "platform/ui_port.h"

namespace kalvo {

enum class ConnectionMode { AutoCheck, AutoScan, Manual };
enum class ConnectionKind { Ok, Err, Nok };

inline constexpr int kMaxManualPort = 250;
inline constexpr int kTrackedPorts = 1000;

struct ConnectionPanel {
    ConnectionKind kind = ConnectionKind::Nok;
    std::string text;                  // "= OK =" / "OK" ... alternating with the blink
    std::string comText = "----";      // "COM 7" while a port is open
};

// The ports to try, rebuilt at every scanning step. Port numbers index the per-port tables, so
// only ports below 1000 are tracked.
class PortScanList {
public:
    // Re-reads the port list and rebuilds the scan order; the "PORT LIST: " line goes to `log`
    // when the list changed.
    void Refresh(const SerialPort& port, LogSink& log);

    int ScanCount() const { return scanCount_; }
    int ScanOrder(int index) const { return scanOrder_[static_cast<std::size_t>(index)]; }
    bool OrderChanged() const { return orderChanged_; }
    // The first scan has run: ports present then are excluded until they come back.
    bool FirstScanDone() const { return !firstScan_; }
    int preferredPort = -1;  // where a device last answered

private:
    std::array<PortListEntry, kTrackedPorts> buffer_{};
    std::array<std::uint8_t, kTrackedPorts> previousPresence_{};
    std::array<std::uint8_t, kTrackedPorts> presence_{};
    std::array<bool, kTrackedPorts> excluded_{};
    std::array<int, kTrackedPorts> scanOrder_{};
    int scanCount_ = 0;
    bool orderChanged_ = false;
    bool firstScan_ = true;
    std::string lastListText_;
};

class ConnectionManager {
public:
    ConnectionManager(SerialPort& port, Link& link, LogSink& log, UiPort& ui, const InterfaceLanguage& language)
        : port_(port), link_(link), log_(log), ui_(ui), language_(language) {}

    // One step (Timer_ConnectionTimer); the processing tick calls it about once a second.
    void ConnectionStep();
    // 1 echoed, 0 no or wrong answer, -1 no channel, -2 port closed; 1 without traffic while
    // the link test is switched off.
    int RunConnectionTest();
    void ShowConnectionState(ConnectionKind kind);

    // Menu "Автоматическое": supervise the current connection, scan when there is none.
    void Action_Connection_AutoExecute();
    // The port number dialog's answer: nothing when cancelled, else the typed text. Invalid
    // numbers get the format error box; a valid one selects manual mode on that port.
    void Action_Connection_Manual_NumberExecute(const std::optional<std::string>& typed);
    // Caption of the manual item after a valid number ("Manual COM7"), empty before.
    std::string ManualCaption() const;

    // Owned here, read elsewhere; LinkTestEnabled is switched off by long operations and
    // restored by them.
    bool DeviceConnected() const { return deviceConnected_; }
    void SetDeviceConnected(bool connected) { deviceConnected_ = connected; }
    bool linkTestEnabled = true;

    ConnectionMode Mode() const { return mode_; }
    int SelectedPort() const { return selectedPort_; }
    int ConnectedPort() const { return connectedPort_; }
    int ManualPortNumber() const { return manualPortNumber_; }
    bool AutoTicked() const { return mode_ != ConnectionMode::Manual; }
    const ConnectionPanel& Panel() const { return panel_; }
    const PortScanList& ScanList() const { return scanList_; }

private:
    void Drop(bool close);
    bool OpenSelected();

    SerialPort& port_;
    Link& link_;
    LogSink& log_;
    UiPort& ui_;
    const InterfaceLanguage& language_;

    ConnectionMode mode_ = ConnectionMode::AutoCheck;
    bool deviceConnected_ = false;
    int selectedPort_ = -1;
    int connectedPort_ = -1;
    int manualPortNumber_ = 1;
    bool manualChosen_ = false;
    bool stepBusy_ = false;
    bool blink_ = false;
    int scanPosition_ = 0;
    PortScanList scanList_;
    ConnectionPanel panel_;
};

}  // namespace kalvo
