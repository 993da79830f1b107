#include "cli/cli_upload.h"

#include <stdlib.h>

#include <filesystem>
#ifdef _WIN32
#include <random>
#endif

#include "app/session.h"
#include "platform/config_file.h"
#include "upload/report_upload.h"

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

bool CheckUploadServer(const AppContext& context, std::ostream& err) {
    const ConfiguredServer configured = ReadConfiguredUpdateServer(ConfigFilePath());
    if (configured.server || configured.source.empty()) return true;
    err << UpdateServerAddressError(configured, context.language) << '\n';
    return false;
}

bool UploadRunReport(AppContext& context, bool keepReport, std::ostream& err) {
    std::optional<UpdateServer> server = ConfiguredUpdateServer(ConfigFilePath());
    if (!server)
        err << context.Pick("Сервер обновлений не задан (KALVO_UPDATE_SERVER или update_server в kalvo.conf)",
                            "No update server set (KALVO_UPDATE_SERVER, or update_server in kalvo.conf)")
            << '\n';
    // A folder of this run's own for log.txt: several commands may run at once.
    std::error_code ec;
    std::string folder = MakeRunFolder();
    const bool hadServer = server.has_value();
    ReportUpload upload(context.log, context.log.Lines(), context.ui, context.identity, ReportFilePath(folder),
                        std::move(server));
    // Without a server the report file is still written, so that it can be kept.
    const bool sent = upload.UploadReport("", kServerLogBase, kServerReportName);
    if (hadServer && !sent)
        err << context.Pick("Отчёт не отправлен на сервер обновлений", "The report did not reach the update server")
            << '\n';
    if (folder.empty()) return sent;
    const std::filesystem::path report = std::filesystem::path(folder) / kReportFileName;
    // The report of a failed upload is the only copy unless --log wrote one: it stays, written
    // again with the lines of the failure.
    if (!sent && keepReport && std::filesystem::is_regular_file(report, ec) && SaveReport(context.log, folder)) {
        err << context.Pick("Отчёт сохранён в ", "The report is kept in ") << report.string() << '\n';
        return false;
    }
    std::filesystem::remove_all(folder, ec);
    return sent;
}

}  // namespace kalvo
