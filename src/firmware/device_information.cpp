#include "firmware/device_information.h"

namespace kalvo {

bool ReadDeviceInformation(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands,
                           LogSink& log) {
    log.LogLine(kLogBanner);
    log.LogLine("# Read Device Information:");
    bool identified = IdentifyDevice(identity, cache, commands, log);
    log.LogLine(kLogBanner);
    return identified;
}

}  // namespace kalvo
