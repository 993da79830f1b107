#include "upload/ftp_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/tick_clock.h"

namespace kalvo {

namespace {

// Between two looks at the sockets the front end gets its events processed.
constexpr int kSliceMs = 20;

void EnsureCurl() {
    // Once per process, before the first handle; the result shows up as failing handles.
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)initialised;
}

long Seconds(int milliseconds) { return std::max(1L, (milliseconds + 999L) / 1000L); }

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string Escape(CURL* easy, const std::string& text) {
    char* escaped = curl_easy_escape(easy, text.c_str(), static_cast<int>(text.size()));
    std::string result = escaped ? escaped : "";
    curl_free(escaped);
    return result;
}

}  // namespace

struct FtpClientCallbacks {
    static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        if (type != CURLINFO_HEADER_OUT) return 0;
        std::string line(data, size);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.rfind("PASS ", 0) == 0) line = "PASS";
        static_cast<FtpClient*>(self)->commands_.push_back(std::move(line));
        return 0;
    }
    static int Progress(void* progress, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
        (*static_cast<const FtpClient::Progress*>(progress))(static_cast<std::uint64_t>(sent));
        return 0;
    }
};

FtpClient::FtpClient(UpdateServer server, Pump pump)
    : server_(std::move(server)), pump_(std::move(pump)),
      deadline_(TickCount() + static_cast<std::uint64_t>(std::max(server_.timeouts.budgetMs, 0))) {
    EnsureCurl();
    easy_ = curl_easy_init();
}

FtpClient::~FtpClient() {
    Disconnect();
    if (easy_) curl_easy_cleanup(easy_);
}

long FtpClient::RemainingMs() const {
    std::uint64_t now = TickCount();
    return now >= deadline_ ? 1L : static_cast<long>(deadline_ - now);
}

void FtpClient::Prepare(const std::vector<std::string>& path, bool directory) {
    if (!easy_) return;  // Perform reports it
    curl_easy_reset(easy_);
    std::string urlPath = "/";
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i) urlPath += "/";
        urlPath += Escape(easy_, path[i]);
    }
    if (directory && !path.empty()) urlPath += "/";
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    std::string host = server_.host.find(':') != std::string::npos ? "[" + server_.host + "]" : server_.host;
    std::string port = std::to_string(server_.port);
    char* text = nullptr;
    if (url && curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0) == CURLUE_OK &&
        curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url.get(), CURLUPART_PORT, port.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url.get(), CURLUPART_PATH, urlPath.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) == CURLUE_OK) {
        curl_easy_setopt(easy_, CURLOPT_URL, text);
    }
    curl_free(text);

    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy_, CURLOPT_USERNAME, server_.user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, server_.password.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(server_.timeouts.connectMs));
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, RemainingMs());
    // Also the wait for QUIT's answer when the connection is closed, which the overall time-out
    // does not cover: never more than the budget has left (whole seconds, at least one).
    curl_easy_setopt(easy_, CURLOPT_FTP_RESPONSE_TIMEOUT,
                     Seconds(static_cast<int>(std::min<long>(server_.timeouts.commandMs, RemainingMs()))));
    // A data connection that stalls counts as a silent server too.
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, Seconds(server_.timeouts.commandMs));
    curl_easy_setopt(easy_, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(easy_, CURLOPT_FTP_USE_EPSV, 1L);
    // Demanding TLS on both channels and stepping down only when AUTH is refused keeps a server
    // that takes AUTH TLS but not PROT P from getting the data in clear.
    curl_easy_setopt(easy_, CURLOPT_USE_SSL, tls_ == Tls::Refused ? static_cast<long>(CURLUSESSL_NONE)
                                                                   : static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(easy_, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    if (!server_.caFile.empty()) curl_easy_setopt(easy_, CURLOPT_CAINFO, server_.caFile.c_str());
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(easy_, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy_, CURLOPT_DEBUGFUNCTION, &FtpClientCallbacks::Debug);
    curl_easy_setopt(easy_, CURLOPT_DEBUGDATA, this);
}

int FtpClient::Perform() {
    performStart_ = commands_.size();
    error_[0] = '\0';
    if (!multi_) multi_ = curl_multi_init();
    if (!multi_ || !easy_ || curl_multi_add_handle(multi_, easy_) != CURLM_OK) return CURLE_FAILED_INIT;
    int running = 1;
    CURLMcode state = CURLM_OK;
    for (;;) {
        state = curl_multi_perform(multi_, &running);
        if (state != CURLM_OK || running == 0) break;
        curl_multi_poll(multi_, nullptr, 0, kSliceMs, nullptr);
        if (pump_) pump_();
    }
    int result = CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) result = message->data.result;
    }
    curl_multi_remove_handle(multi_, easy_);
    return result;
}

void FtpClient::Finish(int result, bool stayedConnected) {
    if (result == CURLE_OK) {
        outcome_.status = 1;
    } else if (stayedConnected) {
        outcome_.status = -1;
    } else {
        outcome_.status = -2;
        // libcurl has dropped the connection; a later call must connect again.
        connected_ = false;
        entered_.clear();
    }
}

bool FtpClient::Connect() {
    outcome_ = FtpOutcome{};
    if (connected_) {
        outcome_.status = 1;
        return true;
    }
    for (;;) {
        Prepare({}, true);
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        int result = Perform();
        if (result == CURLE_OK) {
            connected_ = true;
            entered_.clear();
            if (tls_ == Tls::Unknown) tls_ = Tls::Offered;
            outcome_.status = 1;
            return true;
        }
        bool loggedIn = std::any_of(commands_.begin() + static_cast<std::ptrdiff_t>(performStart_), commands_.end(),
                                    [](const std::string& command) { return command.rfind("USER", 0) == 0; });
        // AUTH refused before anything else was said: the server has no TLS; plain FTP then.
        if (result == CURLE_USE_SSL_FAILED && !loggedIn && tls_ == Tls::Unknown) {
            tls_ = Tls::Refused;
            continue;
        }
        outcome_.status = -2;
        outcome_.certificateRejected = result == CURLE_PEER_FAILED_VERIFICATION;
        connected_ = false;
        return false;
    }
}

void FtpClient::Disconnect() {
    // Closing the connections ends the session with QUIT, within the time-outs set last.
    if (multi_) curl_multi_cleanup(multi_);
    multi_ = nullptr;
    connected_ = false;
    entered_.clear();
}

bool FtpClient::EnterFolders(const std::vector<std::string>& folders, bool makeMissing) {
    outcome_ = FtpOutcome{};
    if (!connected_) {
        outcome_.status = -2;
        return false;
    }
    std::vector<std::string> path = server_.baseFolders;
    path.insert(path.end(), folders.begin(), folders.end());
    Prepare(path, true);
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_FTP_CREATE_MISSING_DIRS,
                     makeMissing ? static_cast<long>(CURLFTP_CREATE_DIR) : static_cast<long>(CURLFTP_CREATE_DIR_NONE));
    int result = Perform();
    // A refused CWD or MKD leaves the control connection as it was.
    Finish(result, result == CURLE_REMOTE_ACCESS_DENIED);
    if (result != CURLE_OK) return false;
    entered_ = path;
    outcome_.foldersEntered = static_cast<int>(folders.size());
    return true;
}

bool FtpClient::Send(const std::string& localPath, const std::string& name, bool append, const Progress& progress) {
    outcome_ = FtpOutcome{};
    if (!connected_) {
        outcome_.status = -2;
        return false;
    }
    std::FILE* file = std::fopen(localPath.c_str(), "rb");
    if (!file) {
        outcome_.status = -2;
        return false;
    }
    std::error_code ec;
    auto size = std::filesystem::file_size(localPath, ec);
    std::vector<std::string> path = entered_;
    path.push_back(name);
    Prepare(path, false);
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy_, CURLOPT_APPEND, append ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_READDATA, file);
    if (!ec) curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    if (progress) {
        curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &FtpClientCallbacks::Progress);
        curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, &progress);
    }
    int result = Perform();
    std::fclose(file);
    Finish(result, result == CURLE_UPLOAD_FAILED);
    return result == CURLE_OK;
}

}  // namespace kalvo
