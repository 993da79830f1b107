#pragma once
// Step 2 of the update: the built-in main image written into the CPU flash from the boot
// loader, page by page, with the progress line of the log view.
//
// User-interface thread only.
#include <cstdint>
#include <vector>

#include "firmware/firmware_tools.h"

namespace kalvo {

inline constexpr int kMainBannerLength = 39;
inline constexpr int kMainProgressMs = 200;

// What a main-image write put where (for the read-back check).
struct WrittenRange {
    std::uint32_t start = 0;
    std::vector<std::uint8_t> bytes;
    bool touched = false;  // a page erase was sent: the old main firmware may be gone
};

// True when the whole image was written; `written` gets the range when it was chosen.
bool WriteMainImage(FirmwareTools& tools, WrittenRange* written = nullptr);

}  // namespace kalvo
