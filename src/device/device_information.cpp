#include "device/device_information.h"

namespace kalvo {

bool ReadDeviceInformation(DeviceIdentity& identity, IdentificationCache& cache, DeviceCommands& commands,
                           LogSink& log) {
    log.LogLine(kLogBanner);
    log.LogLine("# Read Device Information:");
    bool identified = IdentifyDevice(identity, cache, commands, log);
    log.LogLine(kLogBanner);
    return identified;
}

std::vector<std::string> ShowDeviceInformation(const DeviceIdentity& identity, InterfaceLanguage language) {
    if (!identity.identified) return {};
    auto pick = [language](const char* russian, const char* english) { return PickText(language, russian, english); };
    const std::string rule(30, '-');
    const int code = identity.boardInfo.boardCode;
    const std::uint16_t main = identity.softInfo.mainVersion;

    std::vector<std::string> lines{
        pick("Информация о подключенном приборе", "Connected Device Information"),
        pick("Версия прибора: ", "Device: ") + identity.modelText,
        "S/N: " + FormatSerial(identity.inf1),
        rule,
        "SW BOOT: " + FormatVersion(identity.softInfo.bootVersion),
    };
    const BuiltInFirmware* builtIn = code == kBoardCodeR630 ? &kBuiltInR630 : code == kBoardCodeR520 ? &kBuiltInR520 : nullptr;
    if (builtIn) lines.push_back(std::string("SW MAIN: ") + builtIn->versionPrefix + FormatVersion(main));
    lines.push_back(rule);

    if (main == 0) {
        lines.push_back(pick("Прибор находится в режиме BOOT", "Your Device is in BOOT Mode"));
    } else if (builtIn && main < builtIn->mainVersion) {
        std::string offered = builtIn->versionPrefix + FormatVersion(builtIn->mainVersion);
        if (language == InterfaceLanguage::Russian) {
            lines.push_back("Доступно обновление");
            lines.push_back("до версии " + offered);
        } else {
            lines.push_back("Upgrade to Version " + offered);
            lines.push_back("is avaliable");
        }
    }
    return lines;
}

}  // namespace kalvo
