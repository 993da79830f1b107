#include "app/session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "i18n/captions.h"
#include "link/identification.h"

namespace kalvo {

namespace fs = std::filesystem;

std::string TempFolderPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return (fs::path(runtime) / kTempFolderName).string();
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    return (base / ("kalvo-" + std::to_string(::getuid())) / kTempFolderName).string();
}

bool PrepareTempFolder(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return true;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

void EmptyTempFolder(const std::string& path) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec)) {
        std::error_code ignored;
        if (!entry.is_directory(ignored)) fs::remove(entry.path(), ignored);
    }
}

std::string LogTimestamp(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return text;
}

void LogStartFrame(ReportLog& log, std::time_t when) {
    log.LogLine(kLogBanner);
    log.LogLine("# START: " + LogTimestamp(when));
    log.LogLine("# APP VERSION = " + ProgramVersionText());
    log.LogLine(kLogBanner);
}

void LogEndFrame(ReportLog& log, std::time_t when) {
    log.LogLine(kLogBanner);
    log.LogLine("# END: " + LogTimestamp(when));
    log.LogLine(kLogBanner);
}

bool SaveReport(const ReportLog& log, const std::string& tempFolder) {
    if (tempFolder.empty()) return false;
    return log.WriteFile((fs::path(tempFolder) / kReportFileName).string());
}

}  // namespace kalvo
