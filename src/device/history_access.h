#pragma once
// HistoryAccessCheck: whether the attached device can give its history, and what the page's red
// label says about it. The live values ask the device the same, with the same labels.
#include <cstdint>
#include <optional>
#include <string>

#include "i18n/language.h"
#include "link/device_identity.h"

namespace kalvo {

// The first main firmware versions that keep the history in the expected form.
inline constexpr std::uint16_t kHistoryMinVersionR630 = 0x0C06;
inline constexpr std::uint16_t kHistoryMinVersionR520 = 0x0C03;

struct HistoryAccess {
    bool passes = false;
    // New text of Label_HIS_Version_Msg; nullopt leaves it as it is (no device).
    std::optional<std::string> label;
};

HistoryAccess HistoryAccessCheck(bool deviceConnected, bool deviceRecognised, const DeviceIdentity& identity,
                                 InterfaceLanguage language);

}  // namespace kalvo
