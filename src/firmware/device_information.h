#pragma once
// The device information read that follows every new connection.
#include "link/identification.h"

namespace kalvo {

// Identification framed by its report-log banner; true for a supported device.
bool ReadDeviceInformation(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands,
                           LogSink& log);

}  // namespace kalvo
