#include "app/program_connection.h"

#include "app/processing_tick.h"
#include "device/connection_manager.h"

namespace kalvo {

bool ProgramConnection::DeviceConnected() const { return connection_.DeviceConnected(); }
void ProgramConnection::ClearDeviceConnected() { connection_.SetDeviceConnected(false); }
bool ProgramConnection::DeviceRecognised() const { return tick_.DeviceRecognised(); }
bool ProgramConnection::LinkTestEnabled() const { return connection_.linkTestEnabled; }
void ProgramConnection::SetLinkTestEnabled(bool enabled) { connection_.linkTestEnabled = enabled; }

}  // namespace kalvo
