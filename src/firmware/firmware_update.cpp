#include "firmware/firmware_update.h"

#include "device/device_information.h"
#include "firmware/builtin_images.h"
#include "firmware/main_image_writer.h"
#include "platform/tick_clock.h"

namespace kalvo {

namespace {

constexpr int kVerifyMemoryBlock = kMemoryBlock;
// The largest power of two an answer frame carries.
constexpr int kVerifyEflashBlock = 128;

const BuiltInFirmware* BuiltInFor(int boardCode) {
    return boardCode == kBoardCodeR630 ? &kBuiltInR630 : boardCode == kBoardCodeR520 ? &kBuiltInR520 : nullptr;
}

class Stopwatch {
public:
    explicit Stopwatch(std::uint64_t& total) : total_(total), start_(TickCount()) {}
    ~Stopwatch() { total_ += TickCount() - start_; }
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

private:
    std::uint64_t& total_;
    std::uint64_t start_;
};

}  // namespace

std::string UpdateConfirmationText(int boardCode, InterfaceLanguage language) {
    const BuiltInFirmware* builtIn = BuiltInFor(boardCode);
    if (!builtIn) return {};
    std::string text = boardCode == kBoardCodeR630
                           ? PickText(language, "Прошивка прибора\n\rбудет обновлена/восстановление\n\rдо версии 1.20.",
                                      "Device Firmaere\n\rwill Updated/Restored\n\rto Version 1.20.")
                           : PickText(language, "Прошивка прибора\n\rбудет обновлена/восстановление\n\rдо версии ",
                                      "Device Firmaere\n\rwill Updated/Restored\n\rto Version ");
    return text + FormatVersion(builtIn->mainVersion) + PickText(language, "\n\rПродолжить?", "\n\rContinue?");
}

std::string UpdateStepText(int step, InterfaceLanguage language) {
    switch (step) {
    case 1: return PickText(language, "Шаг 1 из 5: Запуск BOOT", "Step 1 of 5: Start BOOT");
    case 2: return PickText(language, "Шаг 2 из 5: Запись прошивки программы", "Step 2 of 5: Writing Firmware Programm");
    case 3: return PickText(language, "Шаг 3 из 5: Запуск обновленной программы", "Step 3 of 5: Starting updated Programm");
    case 4: return PickText(language, "Шаг 4 из 5: Запись прошивки данных", "Step 4 of 5: Writing Firmware Data");
    case 5: return PickText(language, "Шаг 5 из 5: Перезапуск прибора", "Step 5 of 5: Reset Device");
    }
    return {};
}

std::string UpdateSuccessText(InterfaceLanguage language) {
    return PickText(language, "Поздравляем!!!\n\rВаш прибор\n\rблагополучно обновлен!!!",
                    "Congratulations\n\rYour Device successfully\n\rupdated");
}

std::string UpdateRetryText(InterfaceLanguage language) {
    return PickText(language, "Ошибка обновления\n\rПопыытаться повторить еще раз?", "Error of Update\n\rTry again?");
}

std::string StandInRefusalText(InterfaceLanguage language) {
    return PickText(language,
                    "В программе нет настоящей прошивки\n\r(только заменители для симулятора).\n\rПрибор не изменен.",
                    "This program carries no real firmware\n\r(stand-ins for the simulator only).\n\rThe device is untouched.");
}

std::string UpdateStoppedText(bool mainTouched, InterfaceLanguage language) {
    if (mainTouched)
        return PickText(language,
                        "Обновление прервано\n\rПрошивка прибора записана не полностью\n\rЗапустите обновление еще раз",
                        "Update interrupted\n\rDevice Firmware not completely written\n\rRun the update again to finish it");
    return PickText(language, "Обновление прервано\n\rПрошивка прибора не изменена",
                    "Update interrupted\n\rDevice Firmware unchanged");
}

FirmwareUpdate::FirmwareUpdate(DeviceCommands& commands, IdentificationCache& cache, Link& link, LogSink& log,
                               UiPort& ui, const InterfaceLanguage& language, const DeviceIdentity& identity,
                               ConnectionWatch& connection, StopRequest* stop)
    : cache_(cache),
      log_(log),
      ui_(ui),
      language_(language),
      identity_(identity),
      connection_(connection),
      restart_(commands, log, ui, connection),
      tools_{commands, cache, restart_, connection, log, ui, TickCount, stop},
      dataWriter_(tools_, link, link.Channel(2), [&link] { return link.Port().PortNumber(); }),
      stop_(stop) {}

void FirmwareUpdate::SetRunning(bool running) {
    running_ = running;
    if (onRunningChanged) onRunningChanged();
}

UpdateOutcome FirmwareUpdate::UpdateFirmware() {
    if (running_) return UpdateOutcome::NotStarted;
    const int boardCode = identity_.identified ? identity_.boardInfo.boardCode : 0;
    const std::string confirmation = UpdateConfirmationText(boardCode, language_);
    if (confirmation.empty()) return UpdateOutcome::NotStarted;
    if (!connection_.DeviceConnected() || !connection_.DeviceRecognised()) return UpdateOutcome::NotStarted;
    if (CarriesStandInFirmware() && !allowStandIn) {
        log_.LogError(kStandInLogText);
        ui_.ShowMessage(MessageKind::Error, StandInRefusalText(language_));
        return UpdateOutcome::Refused;
    }
    if (!ui_.ConfirmWarning(confirmation)) return UpdateOutcome::Declined;

    StopRequest::WriteInProgress writing(stop_);
    SetRunning(true);
    bootRequested_ = mainTouched_ = false;
    times_ = UpdateTimes{};
    Stopwatch total(times_.totalMs);
    const std::uint64_t restartBefore = restart_.RestartMs();
    UpdateOutcome outcome = UpdateOutcome::Failed;
    for (;;) {
        ++times_.attempts;
        const bool updated = Attempt();
        ui_.HideBusy();
        if (!updated && StopRequested(stop_)) {
            EndStopped();
            outcome = UpdateOutcome::Stopped;
        }
        connection_.SetLinkTestEnabled(true);
        connection_.ClearDeviceConnected();
        if (updated) {
            ui_.ShowMessage(MessageKind::Information, UpdateSuccessText(language_));
            outcome = UpdateOutcome::Updated;
            break;
        }
        if (outcome == UpdateOutcome::Stopped || !ui_.ConfirmError(UpdateRetryText(language_))) break;
    }
    times_.restartMs = restart_.RestartMs() - restartBefore;
    SetRunning(false);
    return outcome;
}

void FirmwareUpdate::EndStopped() {
    if (mainTouched_) {
        log_.LogError("Update stopped: firmware not completely written, run the update again to finish");
        ui_.ShowMessage(MessageKind::Error, UpdateStoppedText(true, language_));
        return;
    }
    log_.LogLine("# Update stopped: TRV8 not touched");
    std::string text = UpdateStoppedText(false, language_);
    if (bootRequested_) {
        if (restart_.RestartToMain() == 0) {
            log_.LogLine("# Update stopped: device restarted into TRV8");
        } else {
            log_.LogError("Update stopped: device not restarted into TRV8");
            text += PickText(language_, "\n\rОшибка перезагрузки прибора", "\n\rError restarting Device");
        }
    }
    ui_.ShowMessage(MessageKind::Warning, text);
}

bool FirmwareUpdate::Attempt() {
    connection_.SetLinkTestEnabled(false);
    ui_.ShowBusy();
    auto status = [this](int step) { ui_.ShowStatus(UpdateStepText(step, language_), StatusStyle::Firmware); };
    // Between the steps; the writers also look between their chunks.
    auto stopped = [this] { return StopRequested(stop_); };

    if (stopped()) return false;
    status(1);
    bootRequested_ = true;
    if (restart_.RestartToBoot() != 0 || restart_.CheckFirmwareMode() != 0) return false;

    if (stopped()) return false;
    status(2);
    WrittenRange written;
    {
        Stopwatch watch(times_.mainWriteMs);
        const bool complete = WriteMainImage(tools_, &written);
        mainTouched_ = mainTouched_ || written.touched;
        if (!complete) return false;
    }
    if (stopped()) return false;
    if (verifyAfterWriting) {
        Stopwatch watch(times_.verifyMs);
        auto read = [this](std::uint32_t address, std::uint8_t* buffer, int length) {
            return tools_.commands.ReadMemory(address, buffer, length, false);
        };
        if (!VerifyWritten(log_, "TRV8", written.start, written.bytes, kVerifyMemoryBlock, read, stop_)) return false;
    }

    if (stopped()) return false;
    status(3);
    if (restart_.RestartToMain() != 0 || restart_.CheckFirmwareMode() != 1) return false;

    if (stopped()) return false;
    status(4);
    {
        Stopwatch watch(times_.dataWriteMs);
        if (!dataWriter_.WriteDataImage()) return false;
    }
    if (stopped()) return false;
    if (verifyAfterWriting) {
        Stopwatch watch(times_.verifyMs);
        const FirmwareImage* image = DataImageFor(cache_.GetBoardCode());
        auto read = [this](std::uint32_t address, std::uint8_t* buffer, int length) {
            return tools_.commands.ReadEflash(address, buffer, length, false);
        };
        if (!image || !VerifyWritten(log_, "EFL", 0, image->bytes, kVerifyEflashBlock, read, stop_)) return false;
    }

    if (stopped()) return false;
    status(5);
    return restart_.RestartToMain() == 0;
}

}  // namespace kalvo
