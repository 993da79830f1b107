#pragma once
// The far end of a pseudo-terminal, published as COM n in a private ports folder: tests use it
// as a device that answers however the test wants, or not at all.
//
// Windows (under Wine): the far end is COM n + 100, the other side of a null-modem pair that
// `scripts/test --windows` maps onto two pseudo-terminals joined by kalvo_pty_pair.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "platform/port_directory.h"

namespace kalvo::test {

using Bytes = std::vector<std::uint8_t>;

// The same on both platforms: header+payload encoded as a frame, and an answer to `request` on
// its channel with the given data.
inline Bytes EncodedFrame(const Bytes& frame) {
    FrameCodec encoder;
    encoder.Encode(frame.data(), frame.size());
    return Bytes(encoder.Output(), encoder.Output() + encoder.OutputLength());
}

inline Bytes AnswerFrame(const Bytes& request, const Bytes& data, bool answerFlag) {
    Bytes frame{0x00, request[3], 0x00, 0x01, static_cast<std::uint8_t>(request[4] | (answerFlag ? 0x40 : 0)),
                request[5]};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

#ifdef _WIN32
class PtyPeer {
public:
    static constexpr int kFarEndOffset = 100;

    PtyPeer(const std::string& /*portsFolder*/, int number) {
        std::wstring path = L"\\\\.\\COM" + std::to_wstring(number + kFarEndOffset);
        handle_ = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            throw std::runtime_error("no COM " + std::to_string(number + kFarEndOffset) +
                                     ": run the Windows tests through scripts/test --windows");
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ::GetCommState(handle_, &dcb);
        dcb.BaudRate = 230400;
        dcb.fBinary = TRUE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
        ::SetCommState(handle_, &dcb);
        ::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~PtyPeer() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    void Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD n = 0;
            if (!::WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0)
                throw std::runtime_error("COM write");
            done += n;
        }
    }

    // One byte within the time left, through the port's total read time-out.
    std::optional<Bytes> ReadFrame(std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            COMMTIMEOUTS timeouts{};
            timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(left.count());
            ::SetCommTimeouts(handle_, &timeouts);
            std::uint8_t byte = 0;
            DWORD n = 0;
            if (!::ReadFile(handle_, &byte, 1, &n, nullptr)) return std::nullopt;
            if (n == 1 && codec_.Decode(byte)) return Bytes(codec_.Frame(), codec_.Frame() + codec_.FrameLength());
        }
    }

    // Encodes header+payload as a frame and writes it.
    void SendFrame(const Bytes& frame) { Write(EncodedFrame(frame)); }

    // An answer to `request` (header and payload) on its channel with the given data.
    static Bytes AnswerTo(const Bytes& request, const Bytes& data, bool answerFlag = true) {
        return AnswerFrame(request, data, answerFlag);
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    FrameCodec codec_;
};
#else
class PtyPeer {
public:
    PtyPeer(const std::string& portsFolder, int number) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("pty");
        slavePath_ = ::ptsname(master_);
        // Hold the slave open ourselves so the master never reads EIO between the program's
        // opens, and keep the line raw from the start.
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
        std::filesystem::create_directories(portsFolder);
        linkPath_ = portsFolder + "/" + PortDirectory::LinkName(number);
        std::filesystem::create_symlink(slavePath_, linkPath_);
    }
    ~PtyPeer() {
        std::error_code ec;
        std::filesystem::remove(linkPath_, ec);
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    void Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) throw std::runtime_error("pty write");
            done += static_cast<std::size_t>(n);
        }
    }

    // Next decoded frame (header and payload) within the time limit.
    std::optional<Bytes> ReadFrame(std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd pfd{master_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t byte;
            if (::read(master_, &byte, 1) != 1) return std::nullopt;
            if (codec_.Decode(byte)) return Bytes(codec_.Frame(), codec_.Frame() + codec_.FrameLength());
        }
    }

    // Encodes header+payload as a frame and writes it.
    void SendFrame(const Bytes& frame) { Write(EncodedFrame(frame)); }

    // An answer to `request` (header and payload) on its channel with the given data.
    static Bytes AnswerTo(const Bytes& request, const Bytes& data, bool answerFlag = true) {
        return AnswerFrame(request, data, answerFlag);
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
    FrameCodec codec_;
};
#endif

}  // namespace kalvo::test
