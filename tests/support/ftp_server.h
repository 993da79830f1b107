#pragma once
// A real FTP server on 127.0.0.1 for the upload tests: tests/support/ftp_server.py (pyftpdlib,
// Debian's python3-pyftpdlib) on a free port, over a temporary root, logging every command.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_folder.h"

namespace kalvo::test {

struct FtpServerOptions {
    // pyftpdlib permissions: without "a" APPE is refused, without "m" MKD.
    std::string perm = "elradfmwMT";
    bool tls = false;
    bool silent = false;     // accepts connections, never answers
    bool blackhole = false;  // connections are never made
    std::string hang = "";   // a command the server never answers
    std::string refuse = ""; // a command the server refuses
};

class FtpServer {
public:
    explicit FtpServer(FtpServerOptions options = {}) {
        std::filesystem::create_directories(Root());
        std::vector<std::string> argv{"/usr/bin/python3", KALVO_FTP_SERVER_SCRIPT, "--root", Root(),
                                      "--log", LogFile(), "--perm", options.perm};
        if (options.tls) argv.insert(argv.end(), {"--tls", folder_.Path()});
        if (options.silent) argv.push_back("--silent");
        if (options.blackhole) argv.push_back("--blackhole");
        if (!options.hang.empty()) argv.insert(argv.end(), {"--hang", options.hang});
        if (!options.refuse.empty()) argv.insert(argv.end(), {"--refuse", options.refuse});
        process_ = std::make_unique<Process>(argv, Environment{});
        auto line = process_->ReadLine(std::chrono::seconds(20));
        if (!line || line->rfind("PORT ", 0) != 0) {
            process_->Wait();
            throw std::runtime_error("ftp_server.py did not start: " + process_->Err());
        }
        port_ = std::stoi(line->substr(5));
    }

    int Port() const { return port_; }
    std::string Root() const { return folder_.File("root"); }
    std::string CaFile() const { return folder_.File("cert.pem"); }
    std::string Url(const std::string& credentials = "kalvo:Pwd_41736@") const {
        return "ftp://" + credentials + "127.0.0.1:" + std::to_string(port_) + "/";
    }
    // "TLS CWD log5", "CLEAR USER kalvo", "RECEIVED log5/x/rep.txt DATA TLS", "CONNECT", ...
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        std::ifstream in(LogFile());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The commands of the log whose first word (after TLS/CLEAR) is one of `verbs`.
    std::vector<std::string> Commands(const std::vector<std::string>& verbs) const {
        std::vector<std::string> found;
        for (const std::string& line : Log()) {
            auto space = line.find(' ');
            if (space == std::string::npos) continue;
            std::string rest = line.substr(space + 1);
            std::string verb = rest.substr(0, rest.find(' '));
            for (const std::string& wanted : verbs)
                if (verb == wanted) found.push_back(rest);
        }
        return found;
    }

private:
    std::string LogFile() const { return folder_.File("server.log"); }

    TempFolder folder_;
    std::unique_ptr<Process> process_;
    int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed).
inline int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace kalvo::test
