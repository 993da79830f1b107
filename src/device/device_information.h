#pragma once
// The device information read that follows every new connection, the text of the device page,
// and the firmware release the program carries for each family.
#include <string>
#include <vector>

#include "i18n/language.h"
#include "link/identification.h"

namespace kalvo {

struct BuiltInFirmware {
    int boardCode;
    std::uint16_t mainVersion;
    const char* versionPrefix;  // shown in front of major.minor
};
inline constexpr BuiltInFirmware kBuiltInR630{kBoardCodeR630, 0x0C09, "1.20."};
inline constexpr BuiltInFirmware kBuiltInR520{kBoardCodeR520, 0x0C03, ""};

// Identification framed by its report-log banner; true for a supported device.
bool ReadDeviceInformation(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands,
                           LogSink& log);

// Lines of the device page for this identity; none when it is not identified.
std::vector<std::string> ShowDeviceInformation(const DeviceIdentity& identity, InterfaceLanguage language);

}  // namespace kalvo
