#include "app/session.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32_text.h"
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "i18n/captions.h"
#include "link/identification.h"

namespace kalvo {

namespace fs = std::filesystem;

#ifdef _WIN32
// The system's temporary path (%TEMP%, per user) + trv8_kalvo_explorer, without the doubled
// separator a plain append would give; "" + the name when the system has no path for us.
std::string TempFolderPath() {
    wchar_t base[MAX_PATH + 1] = {};
    DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    std::string folder = length > 0 && length <= MAX_PATH ? Narrow(std::wstring(base, length)) : std::string();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder + kTempFolderName;
}
#else
std::string TempFolderPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return (fs::path(runtime) / kTempFolderName).string();
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    return (base / ("kalvo-" + std::to_string(::getuid())) / kTempFolderName).string();
}
#endif

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
#ifdef _WIN32
    ::localtime_s(&local, &when);
#else
    ::localtime_r(&when, &local);
#endif
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

std::string ReportFilePath(const std::string& tempFolder) {
    if (tempFolder.empty()) return {};
    return (fs::path(tempFolder) / kReportFileName).string();
}

bool SaveReport(const ReportLog& log, const std::string& tempFolder) {
    if (tempFolder.empty()) return false;
    return log.WriteFile((fs::path(tempFolder) / kReportFileName).string());
}

}  // namespace kalvo
