#pragma once
// At exit the report log goes to a file in the temporary folder and is appended to the device's
// report file on the update server, filed by its serial number: log5\1_23\45xxx\6xx\rep.txt.
// Server paths are written with "\" between the folders; each folder is entered with its own
// CWD. Failures only add report-log lines (after the text that was sent) and a false result.
//
// User-interface thread only: the shutdown of the window, or the end of a kalvo-cli command.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/device_identity.h"
#include "platform/log_sink.h"
#include "platform/ui_port.h"
#include "upload/ftp_client.h"
#include "upload/update_server.h"

namespace kalvo {

inline constexpr std::string_view kServerLogBase = "log5";
inline constexpr std::string_view kServerReportName = "rep.txt";
inline constexpr int kUploadAttempts = 3;
inline constexpr int kUploadRetryWaitMs = 500;

// "log5\__no_number\" for no identified device or a serial never programmed, else
// "log5\1_23\45xxx\6xx\" for the serial 1-23-45678.
std::string ServerLogPath(std::string_view base, const DeviceIdentity& identity);

class ReportUpload {
public:
    // `lines` are the report log's, written at exit; failures are logged to `log`. `reportFile` is
    // log.txt in the temporary folder, empty when there is none. Without a server the report file
    // is still written, and nothing else happens.
    ReportUpload(LogSink& log, const std::vector<std::string>& lines, UiPort& ui, const DeviceIdentity& identity,
                 std::string reportFile, std::optional<UpdateServer> server);

    // Writes every log line, each followed by LF, to `localName` (empty: the report file) and
    // appends that file to ServerLogPath + `serverFileName`, up to three attempts.
    bool UploadReport(const std::string& localName, std::string_view serverBase, std::string_view serverFileName);

    bool UploadWithRetries(const std::string& serverPath, const std::string& localPath, int attempts);
    bool CreateServerDirs(const std::string& serverPath);
    int EnterServerDirs(const std::string& serverPath);
    bool UploadOnce(const std::string& serverPath, const std::string& localPath, bool append);
    bool ServerConnect();

    // 1 the last operation succeeded, -1 the server refused it, -2 it failed underneath.
    int TransferStatus() const { return transferStatus_; }
    // Size of the file being sent (0: not known).
    std::uint64_t TransferTotal() const { return transferTotal_; }

private:
    void ShowProgress(std::uint64_t bytesSent);

    LogSink& log_;
    const std::vector<std::string>& lines_;
    UiPort& ui_;
    const DeviceIdentity& identity_;
    std::string reportFile_;
    std::optional<FtpClient> client_;
    int transferStatus_ = 0;
    std::uint64_t transferTotal_ = 0;
    int shownPercent_ = -1;
};

}  // namespace kalvo
