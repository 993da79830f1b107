#include "devsim/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kalvo::devsim {

namespace {

std::string TrafficLine(char direction, int channel, std::span<const std::uint8_t> payload) {
    std::string line{direction};
    line += " ch" + std::to_string(channel);
    if (!payload.empty()) line += ' ' + HexBytes(payload);
    return line;
}

}  // namespace

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

Trace::~Trace() {
    if (ownsFd_) ::close(fd_);
}

bool Trace::Open(const std::string& path) {
    bool toStderr = path == "-";
    int fd = toStderr ? STDERR_FILENO : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (ownsFd_) ::close(fd_);
    fd_ = fd;
    ownsFd_ = !toStderr;
    return true;
}

void Trace::Request(int channel, std::span<const std::uint8_t> payload) {
    if (Enabled()) WriteLine(TrafficLine('>', channel, payload));
}

void Trace::Answer(int channel, std::span<const std::uint8_t> payload) {
    if (Enabled()) WriteLine(TrafficLine('<', channel, payload));
}

void Trace::Note(std::string_view text) {
    if (Enabled()) WriteLine("! " + std::string(text));
}

void Trace::Line(std::string_view text) {
    if (Enabled()) WriteLine(std::string(text));
}

void Trace::WriteLine(std::string line) {
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a full disk must not stop the device
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kalvo::devsim
