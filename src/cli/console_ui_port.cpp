#include "cli/console_ui_port.h"

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

void ConsoleUiPort::ShowMessage(MessageKind kind, const std::string& text) {
    err_ << KindPrefix(kind) << ConsoleText(text) << '\n' << std::flush;
}

bool ConsoleUiPort::Confirm(const std::string& text) {
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
        if (now >= end) return;
        // Nothing else to serve between timer events: sleeping is this loop's idle.
        std::this_thread::sleep_until(timerProc ? std::min(end, nextTimer_) : end);
    }
}

}  // namespace kalvo
