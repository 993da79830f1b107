#include "upload/report_upload.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/file_replacement.h"

namespace kalvo {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNoNumberFolder = "__no_number";
constexpr std::string_view kUnprogrammedSerial = "F-FF-FFFFF";

// The folders of a server path: every part before a "\"; the part after the last is the file.
std::vector<std::string> Folders(std::string_view serverPath) {
    std::vector<std::string> folders;
    for (std::size_t slash; (slash = serverPath.find('\\')) != std::string_view::npos;) {
        folders.emplace_back(serverPath.substr(0, slash));
        serverPath.remove_prefix(slash + 1);
    }
    return folders;
}

std::string FileName(std::string_view serverPath) {
    std::size_t slash = serverPath.rfind('\\');
    return std::string(slash == std::string_view::npos ? serverPath : serverPath.substr(slash + 1));
}

// Written beside and renamed over, so a reader never sees half a report.
bool WriteReportFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return ReplaceFile(path, text);
}

}  // namespace

std::string ServerLogPath(std::string_view base, const DeviceIdentity& identity) {
    std::string path = std::string(base) + "\\";
    std::string serial = identity.identified ? FormatSerialForFolder(identity.inf1) : "";
    if (!identity.identified || serial == kUnprogrammedSerial || serial.size() != 10)
        return path + std::string(kNoNumberFolder) + "\\";
    // s1 .. s10 of 1-23-45678.
    auto s = [&serial](int n) { return serial[static_cast<std::size_t>(n - 1)]; };
    path += std::string{s(1), '_', s(3), s(4), '\\'};
    path += std::string{s(6), s(7)} + "xxx\\";
    path += std::string{s(8)} + "xx\\";
    return path;
}

ReportUpload::ReportUpload(LogSink& log, const std::vector<std::string>& lines, UiPort& ui,
                           const DeviceIdentity& identity, std::string reportFile, std::optional<UpdateServer> server)
    : log_(log), lines_(lines), ui_(ui), identity_(identity), reportFile_(std::move(reportFile)) {
    if (server) client_.emplace(std::move(*server), [this] { ui_.Pump(); });
}

bool ReportUpload::UploadReport(const std::string& localName, std::string_view serverBase,
                                std::string_view serverFileName) {
    const std::string localFile = localName.empty() ? reportFile_ : localName;
    // A run that never got its temporary folder writes nowhere and sends nothing.
    if (localFile.empty()) return false;
    // A file that could not be written is not sent: what it still holds is not this run's.
    if (!WriteReportFile(localFile, lines_)) return false;
    if (!client_) return false;
    std::string serverPath = ServerLogPath(serverBase, identity_) + std::string(serverFileName);
    return UploadWithRetries(serverPath, localFile, kUploadAttempts);
}

bool ReportUpload::UploadWithRetries(const std::string& serverPath, const std::string& localPath, int attempts) {
    if (serverPath.empty() || localPath.empty() || !client_) return false;
    if (!CreateServerDirs(serverPath)) return false;
    attempts = std::max(attempts, 1);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        std::string text = "Добавление на сервер";
        if (attempt > 1) text += " Попытка " + std::to_string(attempt);
        ui_.ShowStatus(text, StatusStyle::Neutral);
        bool sent = UploadOnce(serverPath, localPath, true);
        ui_.ShowStatus("", StatusStyle::Neutral);
        if (sent) return true;
        // No wait after the last attempt: shutdown goes on at once.
        if (attempt < attempts) WaitPumpingMessages(ui_, kUploadRetryWaitMs);
    }
    return false;
}

bool ReportUpload::CreateServerDirs(const std::string& serverPath) {
    if (!client_) return false;
    // A server that cannot be reached leaves its line too, so the failure is not silent.
    if (!ServerConnect()) return false;
    std::vector<std::string> folders = Folders(serverPath);
    bool made = true;
    if (!folders.empty()) {
        transferStatus_ = 0;
        made = client_->EnterFolders(folders, true);
        transferStatus_ = client_->Outcome().status;
    }
    client_->Disconnect();
    if (!made) log_.LogErrorCode("Ошибка FTP: не создан каталог", 0);
    return made;
}

bool ReportUpload::ServerConnect() {
    if (!client_) return false;
    transferStatus_ = 0;
    if (!client_->Connected()) client_->Connect();
    if (client_->Connected()) return true;
    if (client_->Outcome().certificateRejected) log_.LogError("Update server certificate does not verify");
    log_.LogErrorCode("Ошибка: Нет соединения с сервером обновлений", 0);
    return false;
}

int ReportUpload::EnterServerDirs(const std::string& serverPath) {
    if (!client_) return -1;
    std::vector<std::string> folders = Folders(serverPath);
    if (folders.empty()) return 0;
    transferStatus_ = 0;
    bool entered = client_->EnterFolders(folders, false);
    transferStatus_ = client_->Outcome().status;
    if (!entered) {
        log_.LogErrorCode("Ошибка FTP: смена каталога не удалась", 0);
        return -1;
    }
    return client_->Outcome().foldersEntered;
}

bool ReportUpload::UploadOnce(const std::string& serverPath, const std::string& localPath, bool append) {
    if (!ServerConnect()) return false;
    if (EnterServerDirs(serverPath) >= 0) {
        std::error_code ec;
        std::uintmax_t size = fs::file_size(localPath, ec);
        transferTotal_ = ec ? 0 : size;
        shownPercent_ = -1;
        transferStatus_ = 0;
        client_->Send(localPath, FileName(serverPath), append,
                      [this](std::uint64_t bytesSent) { ShowProgress(bytesSent); });
        transferStatus_ = client_->Outcome().status;
    }
    if (transferStatus_ == 1) {
        client_->Disconnect();
        return true;
    }
    log_.LogErrorCode(std::string(append ? "Ошибка добавления файла на сервера обновлений ["
                                         : "Ошибка записи файла на сервера обновлений [") +
                          serverPath + "]",
                      -1);
    client_->Disconnect();
    return false;
}

void ReportUpload::ShowProgress(std::uint64_t bytesSent) {
    if (transferTotal_ == 0) return;
    int percent = static_cast<int>(std::min<std::uint64_t>(bytesSent * 100 / transferTotal_, 100));
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    ui_.ShowProgress(percent, 100);
}

}  // namespace kalvo
