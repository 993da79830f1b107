#pragma once
// The pages of the main window, in their order, and which page is active after tabs hide.
#include <array>

namespace kalvo {

enum class Page { Measuring = 0, History = 1, SettingsR630 = 2, SettingsR520 = 3, DeviceInfo = 4, Log = 5 };
inline constexpr int kPageCount = 6;

// A stored page index: at or beyond the number of pages means the last page, below 0 the first.
inline int PageFromOption(int stored) {
    if (stored >= kPageCount) return kPageCount - 1;
    return stored < 0 ? 0 : stored;
}

// When the active page's tab is hidden, the next visible tab takes its place, or else the last
// visible one; -1 when none is visible.
inline int ActivePageAfterHide(int active, const std::array<bool, kPageCount>& visible) {
    if (active >= 0 && active < kPageCount && visible[static_cast<std::size_t>(active)]) return active;
    for (int i = active + 1; i < kPageCount; ++i)
        if (i >= 0 && visible[static_cast<std::size_t>(i)]) return i;
    for (int i = kPageCount - 1; i >= 0; --i)
        if (visible[static_cast<std::size_t>(i)]) return i;
    return -1;
}

}  // namespace kalvo
