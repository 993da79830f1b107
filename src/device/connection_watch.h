#pragma once
// The connection flags that the device layer and the features read and switch, without knowing
// who owns them: in the program the connection manager owns DeviceConnected and
// LinkTestEnabled, the processing tick DeviceRecognised (app/program_connection.h).
//
// User-interface thread only.
namespace kalvo {

class ConnectionWatch {
public:
    virtual ~ConnectionWatch() = default;
    virtual bool DeviceConnected() const = 0;
    virtual void ClearDeviceConnected() = 0;
    virtual bool DeviceRecognised() const = 0;
    virtual bool LinkTestEnabled() const = 0;
    virtual void SetLinkTestEnabled(bool enabled) = 0;
};

}  // namespace kalvo
