#include "cli/cli_upload.h"

#include <stdlib.h>

#include <filesystem>
#ifdef _WIN32
#include <random>
#endif

#include "platform/config_file.h"
#include "server/report_upload.h"

namespace kalvo {

namespace {

// A new folder of this run's own in the temporary folder; empty when none could be made.
std::string MakeRunFolder() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
#ifdef _WIN32
    // No mkdtemp: create_directory claims the first free name.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("kalvo-cli-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
    }
    return {};
#else
    std::string folder = (base / "kalvo-cli-XXXXXX").string();
    return ::mkdtemp(folder.data()) ? folder : std::string();
#endif
}

}  // namespace

bool UploadRunReport(AppContext& context, std::ostream& err) {
    std::optional<UpdateServer> server = ConfiguredUpdateServer(ConfigFilePath());
    if (!server) {
        err << context.Pick("Сервер обновлений не задан (KALVO_UPDATE_SERVER или update_server в kalvo.conf)",
                            "No update server set (KALVO_UPDATE_SERVER, or update_server in kalvo.conf)")
            << '\n';
        return false;
    }
    // A folder of this run's own for log.txt: several commands may run at once.
    std::error_code ec;
    std::string folder = MakeRunFolder();
    ReportUpload upload(context.log, context.ui, context.identity, folder, std::move(server));
    bool sent = upload.UploadReport("", kServerLogBase, kServerReportName);
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    if (!sent) {
        err << context.Pick("Отчёт не отправлен на сервер обновлений", "The report did not reach the update server")
            << '\n';
    }
    return sent;
}

}  // namespace kalvo
