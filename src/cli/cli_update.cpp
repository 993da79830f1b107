// kalvo-cli update and kalvo-cli firmware --export.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/cli_commands.h"
#include "firmware/builtin_images.h"
#include "platform/file_replacement.h"
#include "platform/tick_clock.h"

namespace kalvo {

namespace {

// The device is back and identified after the update's last restart well within this.
constexpr std::uint64_t kReidentifyLimitMs = 45000;

std::ptrdiff_t Identifications(const ReportLog& log) {
    return std::count(log.Lines().begin(), log.Lines().end(), "# Read Device Information:");
}

}  // namespace

int RunUpdate(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
              std::ostream& err) {
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;

    FirmwareUpdate& update = context.firmware;
    update.verifyAfterWriting = options.verify;
    int retriesLeft = options.retries;
    const std::string retryQuestion = UpdateRetryText(context.language);
    ui.answer = [&](const std::string& text) -> std::optional<bool> {
        if (text != retryQuestion) return std::nullopt;
        if (retriesLeft == 0) return false;
        --retriesLeft;
        // A person answers after a while, in which the program finds the device again; an
        // instant Yes would meet a port still closed by the failed attempt.
        const std::uint64_t asked = TickCount();
        while (!(context.connection.DeviceConnected() && context.tick.DeviceRecognised()) &&
               TickCount() - asked < kReidentifyLimitMs && !ui.StopRequested())
            ui.Wait(100);
        return true;
    };
    ui.echoProgress = true;
    const UpdateOutcome outcome = update.UpdateFirmware();
    ui.echoProgress = false;
    ui.answer = nullptr;
    if (outcome != UpdateOutcome::Updated) return kExitFailure;
    // The update ends by dropping the connection; the next identification is the fresh one.
    const std::ptrdiff_t before = Identifications(context.log);

    // Updated only once the device is found and identified afresh in its main firmware.
    const std::uint64_t start = TickCount();
    while (Identifications(context.log) == before || context.tick.State() != IdentificationState::Identified) {
        if (ui.StopRequested()) return kExitFailure;
        if (TickCount() - start > kReidentifyLimitMs) {
            err << context.Pick("Прибор не найден после обновления", "The device was not found after the update")
                << '\n';
            return kExitFailure;
        }
        ui.Wait(50);
    }
    const auto& lines = context.log.Lines();
    auto header = std::find(lines.rbegin(), lines.rend(), "# Read Device Information:");
    for (auto line = header.base() - 2; line != lines.end(); ++line) out << *line << '\n';
    return context.tick.DeviceRecognised() && !context.identity.softInfo.InBootMode() ? kExitOk : kExitFailure;
}

int RunFirmwareExport(const CliOptions& options, std::ostream& out, std::ostream& err) {
    std::error_code made;
    std::filesystem::create_directories(options.exportDir, made);
    int status = kExitOk;
    for (const FirmwareImage& image : BuiltInImages()) {
        const std::string path = options.exportDir + "/" + std::string(image.fileName);
        FileReplacement file;
        if (!(file.Begin(path) &&
              file.Write({reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size()}) && file.Commit())) {
            err << "kalvo-cli: cannot write " << path << ": " << std::strerror(file.Error() ? file.Error() : EIO) << '\n';
            status = kExitFailure;
            continue;
        }
        out << image.fileName << ' ' << image.Size() << ' ' << (image.standIn ? "stand-in" : "real") << '\n';
    }
    return status;
}

}  // namespace kalvo
