#include "firmware/main_image_writer.h"

#include <algorithm>
#include <string>

#include "firmware/builtin_images.h"

namespace kalvo {

bool WriteMainImage(FirmwareTools& tools, WrittenRange* written) {
    LogSink& log = tools.log;
    const std::string banner(kMainBannerLength, '#');
    log.LogLine(banner);
    log.LogLine("# Updating TRV8");
    if (tools.restart.CheckFirmwareMode() != 0) {
        log.LogLine(banner);
        log.LogError("Update TRV8 not avaliable - TRV8 Mode");
        return false;
    }

    IdentificationCache& cache = tools.cache;
    const int boardCode = cache.GetBoardCode();
    std::optional<BoardInfo> board = cache.KnownBoardInfo();
    const FirmwareImage* image = board ? MainImageFor(boardCode, board->revision) : nullptr;
    if (!image) return false;
    const std::vector<std::uint8_t> bytes = MainImageBytesFor(*image, cache.CpuFlashSize());

    const std::uint32_t page = cache.CpuPageSize();
    if (page == 0) {
        // Without a page size no erase can be placed: nothing is sent.
        log.LogError("CPU Page Size unknown");
        log.LogLine(banner);
        return false;
    }
    std::uint32_t address = cache.FirmwareStartAddress();
    const std::uint32_t block = cache.IsSmallPageCpu() || boardCode == kBoardCodeR520 ? 32 : 128;
    if (written) *written = WrittenRange{address, bytes};

    const std::uint32_t total = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t remaining = total;
    const std::uint8_t* data = bytes.data();
    tools.connection.SetLinkTestEnabled(false);
    std::uint64_t lastReport = tools.clock();
    log.LogLine("#  Written: 0%");

    bool failed = false;
    while (remaining > 0) {
        const std::uint32_t length = std::min(block - address % block, remaining);
        if (StopRequested(tools.stop)) {
            log.LogError("Update TRV8 stopped at A=0x" + HexAddress(address, 8));
            failed = true;
            break;
        }
        if (written && address % page == 0) written->touched = true;
        if (address % page == 0 && !tools.commands.EraseCpuFlashPage(address, false)) {
            log.LogError("Erase CPU Sector");
            failed = true;
            break;
        }
        if (!tools.commands.WriteCpuFlash(address, data, static_cast<int>(length), false)) {
            log.LogError("Writa data to CPU Flash");
            failed = true;
            break;
        }
        address += length;
        data += length;
        remaining -= length;
        const std::uint64_t now = tools.clock();
        if (now - lastReport > kMainProgressMs || remaining == 0) {
            lastReport = now;
            const int percent = static_cast<int>(static_cast<std::uint64_t>(total - remaining) * 100 / total);
            ReplaceProgressLine(tools, "# Written: " + std::to_string(percent) + "%");
            tools.ui.ShowProgress(percent, 100);
        }
    }
    tools.connection.SetLinkTestEnabled(true);
    tools.ui.ShowProgress(0, 100);
    log.LogLine(banner);
    return !failed;
}

}  // namespace kalvo
