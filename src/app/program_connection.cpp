#include "app/program_connection.h"

#include "app/processing_tick.h"
#include "device/connection_manager.h"

namespace kalvo {

bool ProgramConnection::DeviceConnected() const { return connection_.DeviceConnected(); }
void ProgramConnection::ClearDeviceConnected() {
    connection_.SetDeviceConnected(false);
    // With the link test on the tick takes this for a loss; it is made one at once.
    if (connection_.linkTestEnabled) tick_.DeviceSentAway();
}
bool ProgramConnection::DeviceRecognised() const { return tick_.DeviceRecognised(); }
bool ProgramConnection::LinkTestEnabled() const { return connection_.linkTestEnabled; }
void ProgramConnection::SetLinkTestEnabled(bool enabled) { connection_.linkTestEnabled = enabled; }

}  // namespace kalvo
