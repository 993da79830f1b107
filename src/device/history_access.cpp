#include "device/history_access.h"

#include "history/history_texts.h"

namespace kalvo {

HistoryAccess HistoryAccessCheck(bool deviceConnected, bool deviceRecognised, const DeviceIdentity& identity,
                                 InterfaceLanguage language) {
    if (!deviceConnected || !deviceRecognised) return {};
    const std::uint16_t version = identity.softInfo.mainVersion;
    if (version == 0) return {false, kHistoryBootModeLabel.Pick(language)};
    const int board = identity.boardInfo.boardCode;
    if ((board == kBoardCodeR630 && version < kHistoryMinVersionR630) ||
        (board == kBoardCodeR520 && version < kHistoryMinVersionR520))
        return {false, kHistoryOldFirmwareLabel.Pick(language)};
    return {true, std::string()};
}

}  // namespace kalvo
