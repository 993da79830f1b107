#include "cli/cli_upload.h"

#include <stdlib.h>

#include <filesystem>

#include "app/session.h"
#include "platform/config_file.h"
#include "upload/report_upload.h"

namespace kalvo {

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
    std::string folder = (std::filesystem::temp_directory_path(ec) / "kalvo-cli-XXXXXX").string();
    if (!::mkdtemp(folder.data())) folder.clear();
    ReportUpload upload(context.log, context.log.Lines(), context.ui, context.identity, ReportFilePath(folder),
                        std::move(server));
    bool sent = upload.UploadReport("", kServerLogBase, kServerReportName);
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    if (!sent) {
        err << context.Pick("Отчёт не отправлен на сервер обновлений", "The report did not reach the update server")
            << '\n';
    }
    return sent;
}

}  // namespace kalvo
