// The Windows serial port under Wine: COM 5 and COM 6 are null-modem pairs (far ends COM 105 and
// COM 106), COM 9 exists nowhere, and KALVO_WIN_VANISH_COM names a simulator that goes away
// after its first answer. scripts/test --windows sets all of that up.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/context.h"
#include "platform/serial_port.h"
#include "platform/win32_text.h"
#include "support/pty_peer.h"
#include "support/recording_ui_port.h"

namespace kalvo {
namespace {

using test::Bytes;
using namespace std::chrono_literals;

constexpr int kPort = 5;
constexpr int kOtherPort = 6;
constexpr int kMissingPort = 9;

// Keeps what arrives and notes a receive after Close, which must never happen.
class RecordingPort : public SerialPort {
public:
    using SerialPort::SerialPort;
    ~RecordingPort() override { Close(); }

    std::vector<std::string> lines;
    std::atomic<bool> closed{false};
    std::atomic<int> lateReceives{0};

    Bytes Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Blocks until `count` bytes are in, or the limit passes.
    bool WaitFor(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
    }

protected:
    void OnReceive(std::size_t available) override {
        if (closed) ++lateReceives;
        std::uint8_t buffer[1000];
        std::size_t n = Read(buffer, std::min<std::size_t>(available, sizeof buffer));
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + n);
        arrived_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    Bytes received_;
};

class Win32SerialPortTest : public ::testing::Test {
protected:
    Win32SerialPortTest() { port.SetLogCallback([this](const std::string& line) { port.lines.push_back(line); }); }

    PortDirectory directory{PortDirectory::FromEnvironment()};
    RecordingPort port{directory};
};

TEST_F(Win32SerialPortTest, OpenCloseReopenAndMissingPortsWriteTheirLines) {
    EXPECT_FALSE(port.Open(kBaudRate));  // no number chosen: nothing logged
    EXPECT_FALSE(port.Close());
    port.SetPortNumber(kMissingPort);
    EXPECT_FALSE(port.Open(kBaudRate));
    EXPECT_EQ(port.LastOpenFailure(), PortOpenFailure::Missing);
    EXPECT_FALSE(port.IsOpen());

    port.SetPortNumber(kPort);
    ASSERT_TRUE(port.Open(kBaudRate));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(directory.PathOf(kPort), "\\\\.\\COM5");
    // Opening another number closes the first under its own number.
    port.SetPortNumber(kOtherPort);
    ASSERT_TRUE(port.Open(kBaudRate));
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(port.OpenCount(), 2u);
    EXPECT_EQ(port.lines, (std::vector<std::string>{"Open COM 9 : Error", "Open COM 5 : OK", "Close COM 5 : OK",
                                                     "Open COM 6 : OK", "Close COM 6 : OK"}));
}

TEST_F(Win32SerialPortTest, BytesCrossBothWaysAndNothingArrivesAfterClose) {
    test::PtyPeer peer("", kPort);
    port.SetPortNumber(kPort);
    ASSERT_TRUE(port.Open(kBaudRate));

    Bytes sent(3000);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);
    peer.Write(sent);
    ASSERT_TRUE(port.WaitFor(sent.size(), 10s)) << port.Received().size() << " bytes";
    EXPECT_EQ(port.Received(), sent);

    const Bytes request{0x7E, 1, 2, 3, 0x7D, 0x5E};
    EXPECT_EQ(port.Write(request.data(), request.size()), request.size());
    EXPECT_EQ(port.BytesWritten(), request.size());
    EXPECT_EQ(port.BytesRead(), sent.size());

    EXPECT_TRUE(port.Close());
    port.closed = true;
    peer.Write(sent);  // lands in the closed port's queue, which the next Open purges
    EXPECT_EQ(port.Write(request.data(), request.size()), 0u);
    ASSERT_TRUE(port.Open(kBaudRate));
    port.closed = false;
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.lateReceives, 0);
}

// A child copy of this program holds the port, as another program would.
class PortHolder {
public:
    explicit PortHolder(int number) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        ::CreatePipe(&childIn, &toChild_, &inherit, 0);
        ::CreatePipe(&fromChild_, &childOut, &inherit, 0);
        ::SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) + L"\" --hold-com " + std::to_wstring(number);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                    &process);
        ::CloseHandle(childIn);
        ::CloseHandle(childOut);
        if (started_) {
            ::CloseHandle(process.hThread);
            process_ = process.hProcess;
            char word[5] = {};
            DWORD n = 0;
            held_ = ::ReadFile(fromChild_, word, 4, &n, nullptr) && n == 4 && std::strcmp(word, "held") == 0;
        }
    }
    // Closing its input ends the child, which closes the port.
    ~PortHolder() { Release(); }
    void Release() {
        if (toChild_) ::CloseHandle(toChild_);
        toChild_ = nullptr;
        if (process_) ::WaitForSingleObject(process_, INFINITE);
        if (process_) ::CloseHandle(process_);
        process_ = nullptr;
        if (fromChild_) ::CloseHandle(fromChild_);
        fromChild_ = nullptr;
    }
    bool Held() const { return started_ && held_; }

private:
    HANDLE toChild_ = nullptr, fromChild_ = nullptr, process_ = nullptr;
    bool started_ = false, held_ = false;
};

int HoldPort(int number) {
    std::wstring path = L"\\\\.\\COM" + std::to_wstring(number);
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    DWORD n = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "held", 4, &n, nullptr);
    char rest[16];
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), rest, sizeof rest, &n, nullptr) && n > 0) {
    }
    ::CloseHandle(handle);
    return 0;
}

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

TEST_F(Win32SerialPortTest, APortHeldByAnotherProcessIsRefused) {
    PortHolder holder(kPort);
    ASSERT_TRUE(holder.Held());
    // Wine checks share modes on files only: a device held by one process opens in another.
    if (UnderWine()) GTEST_SKIP() << "Wine does not refuse a COM port held by another process";
    port.SetPortNumber(kPort);
    EXPECT_FALSE(port.Open(kBaudRate));
    EXPECT_EQ(port.LastOpenFailure(), PortOpenFailure::Busy);
    EXPECT_EQ(port.BusyHolder(), std::nullopt);  // Windows does not say who
    EXPECT_FALSE(port.CanOpen("\\\\.\\COM5"));
    holder.Release();
    EXPECT_TRUE(port.CanOpen("\\\\.\\COM5"));
    EXPECT_TRUE(port.Open(kBaudRate));
    EXPECT_EQ(port.lines, (std::vector<std::string>{"Open COM 5 : Error", "Open COM 5 : OK"}));
}

std::uint64_t ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) { return ((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
    return ms(kernel) + ms(user);
}

// The simulator answers once and is gone: the reader thread then waits for Close without
// spinning, so the process uses next to no processor time while it stays open.
TEST(Win32VanishedPeer, ReadsEndWithoutSpinning) {
    const char* com = std::getenv("KALVO_WIN_VANISH_COM");
    if (!com) GTEST_SKIP() << "KALVO_WIN_VANISH_COM not set";
    test::RecordingUiPort ui;
    AppContext context(ui, PortDirectory::FromEnvironment());
    context.port.SetPortNumber(std::atoi(com));
    ASSERT_TRUE(context.port.Open(kBaudRate));
    const auto* pattern = reinterpret_cast<const std::uint8_t*>(kConnectionTestPattern.data());
    const int length = static_cast<int>(kConnectionTestPattern.size());
    EXPECT_EQ(context.link.ConnectionTest(pattern, length, false), 1);
    // The device is gone now: the next test finds nobody.
    EXPECT_NE(context.link.ConnectionTest(pattern, length, false), 1);

    const std::uint64_t before = ProcessCpuMs();
    // A measuring window, not a synchronisation: nothing will set this event.
    OwnedHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ::WaitForSingleObject(never.Get(), 3000);
    const std::uint64_t used = ProcessCpuMs() - before;
    std::printf("CPU over 3 s with the peer gone: %llu ms\n", static_cast<unsigned long long>(used));
    EXPECT_LT(used, 300u) << "the reader thread spins";
    EXPECT_TRUE(context.port.Close());
}

}  // namespace
}  // namespace kalvo

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-com") return kalvo::HoldPort(std::atoi(argv[2]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
