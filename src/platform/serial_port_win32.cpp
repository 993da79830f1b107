// Windows serial port: \\.\COMn opened exclusively for overlapped I/O, 230400 8N1 without flow
// control, a reader thread waiting on a pending read and on a stop event.
//
// The reader waits with an overlapped one-byte ReadFile rather than WaitCommEvent: with no read
// time-outs it completes when a byte arrives, on Windows as under Wine, where WaitCommEvent on a
// line without modem status (a pseudo-terminal) missed the answers to our requests.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/serial_port.h"
#include "platform/win32_text.h"

namespace kalvo {

namespace {

constexpr DWORD kQueueSize = 4096;

HANDLE OpenExclusive(const std::string& path) {
    // No "insert a disk" boxes from the system when a port is missing.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    return ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
}

void ConfigureLine(HANDLE handle, int baudRate) {
    ::SetupComm(handle, kQueueSize, kQueueSize);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 0;
    dcb.XoffLim = static_cast<WORD>(kQueueSize);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
    // Some drivers refuse a field they cannot change (a pty under Wine has no modem lines); the
    // line still works at the rate and framing they took.
    ::SetCommState(handle, &dcb);
    // A write gives up after 100 ms a byte plus 100 ms, as the device expects of a stuck line.
    // Reads have no time-out: the reader's pending read is its wait, and Read takes only what the
    // driver already holds.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 100;
    ::SetCommTimeouts(handle, &timeouts);
    ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

// One overlapped transfer to its end; the bytes moved.
DWORD Transfer(HANDLE port, HANDLE event, bool write, void* buffer, DWORD count) {
    OVERLAPPED operation{};
    operation.hEvent = event;
    ::ResetEvent(event);
    DWORD done = 0;
    BOOL finished = write ? ::WriteFile(port, buffer, count, &done, &operation)
                          : ::ReadFile(port, buffer, count, &done, &operation);
    if (!finished) {
        if (::GetLastError() != ERROR_IO_PENDING) return 0;
        // A time-out completes the transfer with what got through.
        if (!::GetOverlappedResult(port, &operation, &done, TRUE) && done == 0) return 0;
    }
    return done;
}

}  // namespace

// Owned by the user-interface thread; the reader thread only reads `port` and `stop`, which stay
// fixed while it runs, and keeps `first` to itself. `io` keeps Read (reader thread) and Write (user-interface thread) apart.
struct SerialPort::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;
    OwnedHandle stop;         // manual reset: set by Close
    OwnedHandle writeEvent;   // guarded by io
    OwnedHandle readEvent;    // guarded by io
    int openedNumber = 0;
    std::thread reader;
    std::mutex io;
    // The byte whose arrival woke the reader, handed out first by Read (reader thread only).
    std::uint8_t first = 0;
    bool hasFirst = false;
};

SerialPort::SerialPort(const PortDirectory& directory) : directory_(directory), impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    if (impl_->reader.joinable()) Close();
}

bool SerialPort::IsOpen() const { return impl_->port != INVALID_HANDLE_VALUE; }

bool SerialPort::Open(int baudRate) {
    std::string text = "Open COM " + std::to_string(portNumber_) + " : ";
    if (IsOpen()) Close();
    if (portNumber_ == 0) {
        lastFailure_ = PortOpenFailure::Missing;
        return false;
    }

    std::optional<std::string> path = directory_.PathOf(portNumber_);
    HANDLE port = path ? OpenExclusive(*path) : INVALID_HANDLE_VALUE;
    const DWORD openError = ::GetLastError();
    busyHolder_.reset();
    if (port != INVALID_HANDLE_VALUE) {
        lastFailure_ = PortOpenFailure::None;
    } else if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND) {
        lastFailure_ = PortOpenFailure::Missing;
    } else if (openError == ERROR_ACCESS_DENIED || openError == ERROR_SHARING_VIOLATION || openError == ERROR_BUSY) {
        // Windows answers an exclusive open of a port held elsewhere with "access denied".
        lastFailure_ = PortOpenFailure::Busy;
    } else {
        lastFailure_ = PortOpenFailure::Other;
    }

    if (port != INVALID_HANDLE_VALUE) {
        ConfigureLine(port, baudRate);
        HANDLE stop = nullptr, writeEvent = nullptr, readEvent = nullptr;
        if (::SetCommMask(port, EV_RXCHAR | EV_ERR) && (stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr)) &&
            (writeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr)) &&
            (readEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
            impl_->port = port;
            impl_->stop.Reset(stop);
            impl_->writeEvent.Reset(writeEvent);
            impl_->readEvent.Reset(readEvent);
            impl_->openedNumber = portNumber_;
            try {
                impl_->reader = std::thread([this] { ReaderLoop(); });
            } catch (const std::system_error&) {
                impl_->port = INVALID_HANDLE_VALUE;
            }
        } else {
            for (HANDLE event : {stop, writeEvent, readEvent})
                if (event) ::CloseHandle(event);
        }
        if (!IsOpen()) {
            impl_->stop.Reset();
            impl_->writeEvent.Reset();
            impl_->readEvent.Reset();
            ::CloseHandle(port);
            lastFailure_ = PortOpenFailure::Other;
        }
    }

    if (IsOpen()) ++openCount_;
    Log(text + (IsOpen() ? "OK" : "Error"));
    return IsOpen();
}

bool SerialPort::Close() {
    if (!IsOpen()) return false;
    ::SetEvent(impl_->stop.Get());
    if (impl_->reader.joinable()) impl_->reader.join();
    ::CloseHandle(impl_->port);
    impl_->port = INVALID_HANDLE_VALUE;
    impl_->stop.Reset();
    impl_->writeEvent.Reset();
    impl_->readEvent.Reset();
    // The port that was open, even when the number has already been set to the next one.
    Log("Close COM " + std::to_string(impl_->openedNumber) + " : OK");
    return true;
}

void SerialPort::ReaderLoop() {
    const HANDLE port = impl_->port;
    const HANDLE stop = impl_->stop.Get();
    OwnedHandle arrived(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Without its event, or once the port fails its reads (device unplugged, the far end gone),
    // only the stop event is waited for: retrying a failing read would return at once, forever.
    bool watching = arrived.Valid();
    for (;;) {
        if (!watching) {
            ::WaitForSingleObject(stop, INFINITE);
            return;
        }
        OVERLAPPED wait{};
        wait.hEvent = arrived.Get();
        ::ResetEvent(arrived.Get());
        std::uint8_t first = 0;
        DWORD got = 0;
        if (!::ReadFile(port, &first, 1, &got, &wait)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                watching = false;
                continue;
            }
            HANDLE waits[2] = {stop, arrived.Get()};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                // Stopping: the pending read must end before its record goes out of scope.
                ::CancelIoEx(port, &wait);
                ::GetOverlappedResult(port, &wait, &got, TRUE);
                return;
            }
            if (!::GetOverlappedResult(port, &wait, &got, FALSE)) {
                watching = false;
                continue;
            }
        }
        // Without read time-outs only the end of the line completes a read empty.
        if (got == 0) {
            watching = false;
            continue;
        }
        if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;
        COMSTAT status{};
        DWORD errors = 0;
        ::ClearCommError(port, &errors, &status);
        impl_->first = first;
        impl_->hasFirst = true;
        OnReceive(1 + static_cast<std::size_t>(status.cbInQue));
        impl_->hasFirst = false;
    }
}

std::size_t SerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!IsOpen() || !bytes || count == 0) return 0;
    std::lock_guard lock(impl_->io);
    DWORD done = Transfer(impl_->port, impl_->writeEvent.Get(), true, const_cast<std::uint8_t*>(bytes),
                          static_cast<DWORD>(count));
    bytesWritten_.fetch_add(done, std::memory_order_relaxed);
    return done;
}

std::size_t SerialPort::Read(std::uint8_t* buffer, std::size_t count) {
    if (!IsOpen() || !buffer || count == 0) return 0;
    std::lock_guard lock(impl_->io);
    std::size_t done = 0;
    if (impl_->hasFirst) {
        buffer[done++] = impl_->first;
        impl_->hasFirst = false;
    }
    // Only what the driver holds: a read for more would wait for bytes that may never come.
    COMSTAT status{};
    DWORD errors = 0;
    if (done < count && ::ClearCommError(impl_->port, &errors, &status) && status.cbInQue > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, status.cbInQue));
        done += Transfer(impl_->port, impl_->readEvent.Get(), false, buffer + done, want);
    }
    bytesRead_.fetch_add(done, std::memory_order_relaxed);
    return done;
}

void SerialPort::EnumeratePorts(PortListEntry* entries, int& count, bool checkBusy) const {
    // The key is the only source: ports are never probed by opening them.
    std::optional<std::vector<std::string>> values = SerialCommValues();
    if (!values) {
        count = 0;
        return;
    }
    std::function<bool(const std::string&)> canOpen;
    if (checkBusy) canOpen = [this](const std::string& name) { return CanOpen("\\\\.\\" + name); };
    PortListFromSerialComm(*values, entries, count, canOpen);
}

bool SerialPort::CanOpen(const std::string& path) const {
    HANDLE handle = OpenExclusive(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(handle);
    return true;
}

}  // namespace kalvo
