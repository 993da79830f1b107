#pragma once
// The one serial port of the program, COM n at 230400 baud, raw 8N1, no flow control.
//
// Threads: Open, Close, Write and the enumeration run on the user-interface thread. While the
// port is open a reader thread blocks on the port and on a stop signal (POSIX: poll() on the
// descriptor and an eventfd; Windows: an overlapped one-byte read and a stop event); when bytes
// arrive it calls OnReceive() (a derived class feeds the frame decoder there). Close signals it,
// joins it and only then closes the port, so no receive handler runs after Close returns.
// An I/O mutex keeps Read and Write apart. One implementation file per platform.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/port_directory.h"

namespace kalvo {

struct PortListEntry {
    std::int32_t port = 255;  // 255 marks an empty entry
    std::int32_t state = 255;  // 0 can be opened, 1 busy, 255 not checked
};

constexpr std::int32_t kEmptyPortEntry = 255;

// Port number of a name such as "COM12" or "com12": the last run of digits, 0 if none.
int ParsePortNumber(const std::string& text);

// Drops empty entries and repeated port numbers (first kept), normalising states to 0 or 1.
void CompactPortList(PortListEntry* entries, int& count);

// Port numbers separated by "," as the "PORT LIST: " line shows them.
std::string PortListText(const PortListEntry* entries, int count);

// The port list from the data of the registry's serial-port values, in their order: entry k for
// value k when its data begins with "COM" (any case), with the number parsed from it and the
// state 255, or with `canOpen` 0 when it can be opened and 1 when not. Entries of other values
// ("CNCA0") stay as the caller had them. count: in the capacity, out the values taken.
void PortListFromSerialComm(const std::vector<std::string>& values, PortListEntry* entries, int& count,
                            const std::function<bool(const std::string& name)>& canOpen = {});

// Why the last Open failed, as far as the system tells.
enum class PortOpenFailure { None, Missing, Busy, NoAccess, Other };

#ifndef _WIN32
// The process holding a file lock on the file (device `major`:`minor`, inode `inode`), from the
// text of /proc/locks; nothing when no lock names it.
std::optional<int> LockHolderFromProcLocks(std::string_view procLocks, unsigned major, unsigned minor,
                                           unsigned long long inode);
#endif

class SerialPort {
public:
    using LogCallback = std::function<void(const std::string&)>;

    explicit SerialPort(const PortDirectory& directory);
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void SetPortNumber(int number) { portNumber_ = number; }
    int PortNumber() const { return portNumber_; }
    void SetLogCallback(LogCallback callback) { log_ = std::move(callback); }

    bool Open(int baudRate);
    bool Close();
    // Why the last Open failed; the holder's process id when the port was busy and the system
    // names it (Linux only: Windows does not say who holds a port).
    PortOpenFailure LastOpenFailure() const { return lastFailure_; }
    std::optional<int> BusyHolder() const { return busyHolder_; }
    bool IsOpen() const;
    // Successful opens so far: tells a new connection from the one before.
    std::uint64_t OpenCount() const { return openCount_; }

    // Whole write under the I/O lock; returns the bytes written (0 when closed).
    std::size_t Write(const std::uint8_t* bytes, std::size_t count);
    // Non-blocking read of what the driver holds; used from the receive handler only.
    std::size_t Read(std::uint8_t* buffer, std::size_t count);

    // Bytes that crossed the line since the object was made (for benchmarks and diagnostics).
    std::uint64_t BytesWritten() const { return bytesWritten_.load(std::memory_order_relaxed); }
    std::uint64_t BytesRead() const { return bytesRead_.load(std::memory_order_relaxed); }

    // The path can be opened exclusively right now (closed again at once).
    bool CanOpen(const std::string& path) const;
    bool ProbePort(int number) const;

    // count: in the capacity, out the entries written. With checkBusy each entry's state is
    // 0 or 1, else 255.
    void EnumeratePorts(PortListEntry* entries, int& count, bool checkBusy) const;

    const PortDirectory& Directory() const { return directory_; }

protected:
    // Reader thread: `available` bytes are waiting in the driver.
    virtual void OnReceive(std::size_t available) = 0;

private:
    struct Impl;
    void Log(const std::string& line) const;
    void ReaderLoop();

    const PortDirectory& directory_;
    int portNumber_ = 0;
    PortOpenFailure lastFailure_ = PortOpenFailure::None;
    std::uint64_t openCount_ = 0;
    std::optional<int> busyHolder_;
    LogCallback log_;
    std::unique_ptr<Impl> impl_;
    std::atomic<std::uint64_t> bytesWritten_{0};
    std::atomic<std::uint64_t> bytesRead_{0};
};

}  // namespace kalvo
