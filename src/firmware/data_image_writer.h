#pragma once
// Step 4 of the update: the built-in data image written into the external flash while the main
// firmware runs, with the "PC CONNECT" page drawn on the device's own screen and the text
// progress bar in the log view.
//
// User-interface thread only.
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

#include "firmware/firmware_tools.h"
#include "link/link.h"

namespace kalvo {

inline constexpr int kDataBannerLength = 43;
inline constexpr int kDataEndBannerLength = 39;
inline constexpr int kDataProgressMs = 500;
inline constexpr int kEflashSectors = 2048;
inline constexpr std::array<char, 4> kProgressSpinner = {'|', '/', '-', '\\'};

// "# ЗАПИСЬ: 40% 121Кб [>>>>>>>>>>>--------------]"
std::string DataProgressText(std::uint32_t done, std::uint32_t total);

// Outlives each write: the spinner goes on where the last write left it.
class DataImageWriter {
public:
    // channel: the external-flash channel, whose repeat counter is reset and reported;
    // portNumber: the open COM port, for the device's "COM n" texts.
    DataImageWriter(FirmwareTools& tools, Link& link, LinkChannel* channel, std::function<int()> portNumber)
        : tools_(tools), link_(link), channel_(channel), portNumber_(std::move(portNumber)) {}

    // WriteDataImage: true when the whole image was written.
    bool WriteDataImage();

    // Hooks around the write; both succeed unless replaced (tests make them fail).
    std::function<bool(std::uint32_t size)> DataImageStart = [](std::uint32_t) { return true; };
    std::function<bool(std::uint32_t byteSum)> DataImageEnd = [](std::uint32_t) { return true; };

    int SpinnerIndex() const { return spinner_; }
    // Sectors erased by the last write.
    const std::bitset<kEflashSectors>& SectorErasedMap() const { return erased_; }

private:
    void ReportProgress(int boardCode, std::uint32_t done, std::uint32_t total);
    void Print(const std::string& text);

    FirmwareTools& tools_;
    Link& link_;
    LinkChannel* channel_;
    std::function<int()> portNumber_;
    std::bitset<kEflashSectors> erased_;
    int spinner_ = 0;
};

}  // namespace kalvo
