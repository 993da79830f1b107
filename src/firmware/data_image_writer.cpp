#include "firmware/data_image_writer.h"

#include <algorithm>

#include "firmware/builtin_images.h"

namespace kalvo {

std::string DataProgressText(std::uint32_t done, std::uint32_t total) {
    const int percent = static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total);
    std::string text = "# ЗАПИСЬ: " + std::to_string(percent) + "% " + std::to_string(done / 1024) + "Кб [";
    for (int j = 0; j < 25; ++j) text += 4 * j <= percent ? '>' : '-';
    return text + "]";
}

void DataImageWriter::Print(const std::string& text) {
    // The device screen is a courtesy: its answer does not matter.
    tools_.commands.SendPcPrint(text, false);
}

void DataImageWriter::ReportProgress(int boardCode, std::uint32_t done, std::uint32_t total) {
    const int percent = static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total);
    ReplaceProgressLine(tools_, DataProgressText(done, total));
    tools_.ui.ShowProgress(percent, 100);
    if (percent <= 0) return;
    spinner_ = (spinner_ + 1) % 4;
    const char* x = boardCode == kBoardCodeR630 ? "14" : "70";
    Print(std::string("{X") + x + "|Y63|CY|RF" + std::to_string(percent) + ":10}");
    Print(std::string("{Y83|CC|F02|AS|*}") + kProgressSpinner[static_cast<std::size_t>(spinner_)]);
}

bool DataImageWriter::WriteDataImage() {
    LogSink& log = tools_.log;
    log.LogLine(std::string(kDataBannerLength, '#'));
    log.LogLine("# Updating EFL");
    if (tools_.restart.CheckFirmwareMode() != 1) {
        log.LogError("Update EFL not avaliable in BOOT Mode");
        return false;
    }

    erased_.reset();
    std::uint32_t byteSum = 0;
    const int boardCode = tools_.cache.GetBoardCode();
    const FirmwareImage* image = DataImageFor(boardCode);
    if (!image) return false;

    const std::string port = std::to_string(portNumber_());
    if (!tools_.commands.SendPcConnection("COM " + port, false)) {
        log.LogError("CMD PC CONNECT");
        return false;
    }

    std::uint32_t address = 0;
    const std::uint32_t total = static_cast<std::uint32_t>(image->Size());
    std::uint32_t remaining = total;
    const std::uint8_t* data = image->bytes.data();
    std::uint64_t lastReport = tools_.clock();
    log.LogLine("# WRITING: 0% bytes");
    link_.ResetRepeatCounter(channel_);

    if (!DataImageStart(total)) {
        log.LogError("EFL_WriteFile_Start");
        return false;
    }

    tools_.ui.ShowProgress(0, 100);
    if (boardCode == kBoardCodeR630) {
        for (const std::string& text : {std::string("{X0|Y0|Cg|RA}"), std::string("{F02|Bg|CW|AL|T0}"),
                                        std::string("{Y1|AS|*}PC CONNECT"), "{Y21|AS|*}COM-" + port,
                                        std::string("{Y60|X11|CB|RF106:16|x3|y3|Cb|RF100:10}")})
            Print(text);
    } else {
        for (const std::string& text : {std::string("{X0|Y0|Cg|RF240:320}"), std::string("{F02|Bg|CW|AL|T0}"),
                                        std::string("{Y5|AS|*}PC CONNECTED"), "{Y25|AS|*}COM-" + port,
                                        std::string("{Y60|X67|CB|RF106:16|x3|y3|Cb|RF100:10}")})
            Print(text);
    }

    const std::uint32_t block = tools_.cache.IsSmallPageCpu() || boardCode == kBoardCodeR520 ? 32 : 128;
    tools_.connection.SetLinkTestEnabled(false);
    bool failed = false;
    while (remaining > 0) {
        const std::uint32_t length = std::min(block - address % block, remaining);
        const std::uint32_t sector = DeviceCommands::EflashSectorOf(address);
        if (StopRequested(tools_.stop)) {
            log.LogError("Update EFL stopped");
            failed = true;
            break;
        }
        if (!erased_[sector]) {
            if (!tools_.commands.EraseEflashSector(address, false)) {
                log.LogError("erase_func");
                failed = true;
                break;
            }
            erased_[sector] = true;
        }
        for (std::uint32_t i = 0; i < length; ++i) byteSum += data[i];
        if (!tools_.commands.WriteEflash(address, data, static_cast<int>(length), false)) {
            log.LogError("write_func");
            failed = true;
            break;
        }
        address += length;
        data += length;
        remaining -= length;
        const std::uint64_t now = tools_.clock();
        if (now - lastReport > kDataProgressMs || remaining == 0) {
            lastReport = now;
            ReportProgress(boardCode, total - remaining, total);
        }
    }
    tools_.connection.SetLinkTestEnabled(true);

    if (!failed) {
        if (!DataImageEnd(byteSum)) {
            log.LogError("EFL_WriteFile_End");
            failed = true;
        }
        if (boardCode == kBoardCodeR630) {
            Print("#{X0|Y60|Cg|Bg|RF128:20|F02}");
            Print("{Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE");
        } else {
            Print("#{X0|Y280|Cg|Bg|RF240:20|F02}");
            Print("{Y280|CY|T0|AS|*}END OF WRITE");
        }
    }
    if (failed) {
        log.LogError("WRITE ERR: A=0x" + HexAddress(address, 6));
        log.LogError("Update not completed");
    }
    log.LogLine("# REP_CNT:" + std::to_string(link_.RepeatCounter(channel_)));
    log.LogLine(std::string(kDataEndBannerLength, '#'));
    tools_.ui.ShowProgress(0, 100);
    return !failed;
}

}  // namespace kalvo
