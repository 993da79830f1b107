#pragma once
// The FTP client that talks to the update server, over libcurl. It keeps one control connection
// between its calls (Connect, then EnterFolders, then Send run on it), in passive mode and
// binary type. TLS: AUTH TLS is asked for first and, when the server takes it, both channels are
// encrypted and its certificate must verify; only a server that refuses AUTH gets plain FTP.
// A certificate that does not verify ends the connection before the user name is sent.
//
// Thread use: user-interface thread only. Each call waits on libcurl's sockets in short slices
// and lets the front end pump its events between them; the time-outs of the server settings
// bound every call, and the budget bounds all calls of one client together.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "upload/update_server.h"

typedef void CURL;
typedef void CURLM;

namespace kalvo {

// What the last call ended with: its operation succeeded (1), was refused by the server (-1),
// or failed underneath (-2: time-out, lost connection, TLS). 0 before any call.
struct FtpOutcome {
    int status = 0;
    bool certificateRejected = false;
    // Folders entered by the last EnterFolders.
    int foldersEntered = 0;
};

class FtpClient {
public:
    using Pump = std::function<void()>;
    using Progress = std::function<void(std::uint64_t bytesSent)>;

    FtpClient(UpdateServer server, Pump pump);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Connects and logs in; true when connected.
    bool Connect();
    bool Connected() const { return connected_; }
    // Logs out (QUIT) and closes. The one wait that does not pump: QUIT's answer, bounded by the
    // command time-out and by what the budget has left.
    void Disconnect();

    // From the login folder, one CWD per folder; with makeMissing a folder that cannot be entered
    // is made with MKD and entered again. Stops at the first step that fails.
    bool EnterFolders(const std::vector<std::string>& folders, bool makeMissing);
    // Sends the local file under `name` into the folder entered last: APPE when appending, else
    // STOR. `progress` gets the bytes sent so far.
    bool Send(const std::string& localPath, const std::string& name, bool append, const Progress& progress);

    const FtpOutcome& Outcome() const { return outcome_; }

private:
    enum class Tls { Unknown, Offered, Refused };

    void Prepare(const std::vector<std::string>& path, bool directory);
    int Perform();
    void Finish(int result, bool stayedConnected);
    long RemainingMs() const;

    UpdateServer server_;
    Pump pump_;
    std::uint64_t deadline_;
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    bool connected_ = false;
    Tls tls_ = Tls::Unknown;
    std::vector<std::string> entered_;
    FtpOutcome outcome_;
    // Commands sent on the control connection (the password left out): tells a refused AUTH
    // from a refusal after login.
    std::vector<std::string> commands_;
    std::size_t performStart_ = 0;
    char error_[256] = {};

    friend struct FtpClientCallbacks;
};

}  // namespace kalvo
