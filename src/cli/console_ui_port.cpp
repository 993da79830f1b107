#include "cli/console_ui_port.h"

#ifdef _WIN32
#include <windows.h>

#include <csignal>
#else
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <thread>

namespace kalvo {

std::string ConsoleText(std::string text) {
    for (std::size_t at; (at = text.find("\n\r")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
}

namespace {
const char* KindPrefix(MessageKind kind) {
    switch (kind) {
    case MessageKind::Information: return "";
    case MessageKind::Warning: return "warning: ";
    case MessageKind::Error: return "error: ";
    }
    return "";
}
}  // namespace

void ConsoleUiPort::ProgressLine(const std::string& text) {
    err_ << '\r' << text << std::flush;
    progressLineOpen_ = true;
}

void ConsoleUiPort::EndProgressLine() {
    if (progressLineOpen_) err_ << '\n' << std::flush;
    progressLineOpen_ = false;
}

void ConsoleUiPort::ShowStatus(const std::string& text, StatusStyle) {
    if (!echoProgress) return;
    EndProgressLine();
    err_ << text << '\n' << std::flush;
}

void ConsoleUiPort::ReplaceLastLogLine(const std::string& text) {
    if (!echoProgress) return;
    err_ << '\r' << text << std::flush;
    progressLineOpen_ = true;
}

void ConsoleUiPort::ShowMessage(MessageKind kind, const std::string& text) {
    EndProgressLine();
    err_ << KindPrefix(kind) << ConsoleText(text) << '\n' << std::flush;
}

bool ConsoleUiPort::Confirm(const std::string& text) {
    EndProgressLine();
    if (answer) {
        if (std::optional<bool> given = answer(text)) {
            err_ << ConsoleText(text) << (*given ? " [yes]\n" : " [no]\n") << std::flush;
            return *given;
        }
    }
    err_ << ConsoleText(text) << (assumeYes_ ? " [yes]\n" : " [no: run with --yes to agree]\n") << std::flush;
    return assumeYes_;
}

void ConsoleUiPort::Wait(int milliseconds) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kTimerPeriod = std::chrono::milliseconds(100);
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    for (;;) {
        Clock::time_point now = Clock::now();
        if (timerProc && now >= nextTimer_) {
            timerProc();
            // A late or long tick is not made up for, as with the window's timer.
            nextTimer_ = Clock::now() + kTimerPeriod;
            continue;
        }
        // A wait goes on after a stop: what a stopped operation still does (the device's restart
        // into its main firmware after an interrupted update) needs its waits.
        if (now >= end) return;
        // Between timer events only a termination signal can need us.
        auto until = timerProc ? std::min(end, nextTimer_) : end;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        if ((stopFd_ >= 0 || stopEvent_) && !StopRequested()) {
            CheckStop(static_cast<int>(left) + 1);
        } else {
            std::this_thread::sleep_until(until);
        }
    }
}

void ConsoleUiPort::CheckStop(int milliseconds) {
#ifdef _WIN32
    if (!stopEvent_ || StopRequested()) return;
    if (::WaitForSingleObject(static_cast<HANDLE>(stopEvent_), static_cast<DWORD>(std::max(milliseconds, 0))) !=
        WAIT_OBJECT_0)
        return;
    stopSignal_ = SIGINT;
    if (onStop) onStop();
#else
    if (stopFd_ < 0 || StopRequested()) return;
    pollfd pfd{stopFd_, POLLIN, 0};
    if (::poll(&pfd, 1, milliseconds) <= 0) return;
    signalfd_siginfo info{};
    if (::read(stopFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
    stopSignal_ = static_cast<int>(info.ssi_signo);
    if (onStop) onStop();
#endif
}

}  // namespace kalvo
