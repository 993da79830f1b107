#include "device/history_access.h"

namespace kalvo {

namespace {
// The red label of the measuring and history pages.
std::string BootModeLabel(InterfaceLanguage language) {
    return PickText(language, "В режиме\n\rBOOT\n\rнедоступно", "In BOOT\n\rMode is\n\rUnavaliable");
}
std::string OldFirmwareLabel(InterfaceLanguage language) {
    return PickText(language, "Обновите\n\rпрошивку\n\rприбора", "Need\n\rto Update\n\rFirmware");
}
}  // namespace

HistoryAccess HistoryAccessCheck(bool deviceConnected, bool deviceRecognised, const DeviceIdentity& identity,
                                 InterfaceLanguage language) {
    if (!deviceConnected || !deviceRecognised) return {};
    const std::uint16_t version = identity.softInfo.mainVersion;
    if (version == 0) return {false, BootModeLabel(language)};
    const int board = identity.boardInfo.boardCode;
    if ((board == kBoardCodeR630 && version < kHistoryMinVersionR630) ||
        (board == kBoardCodeR520 && version < kHistoryMinVersionR520))
        return {false, OldFirmwareLabel(language)};
    return {true, std::string()};
}

}  // namespace kalvo
