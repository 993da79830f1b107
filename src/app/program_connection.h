#pragma once
// The program's own connection flags behind the ConnectionWatch that the device layer and the
// features are given. User-interface thread only.
#include "device/connection_watch.h"

namespace kalvo {

class ConnectionManager;
class ProcessingTick;

class ProgramConnection : public ConnectionWatch {
public:
    ProgramConnection(ConnectionManager& connection, ProcessingTick& tick)
        : connection_(connection), tick_(tick) {}
    bool DeviceConnected() const override;
    void ClearDeviceConnected() override;
    bool DeviceRecognised() const override;
    bool LinkTestEnabled() const override;
    void SetLinkTestEnabled(bool enabled) override;

private:
    ConnectionManager& connection_;
    ProcessingTick& tick_;
};

}  // namespace kalvo
