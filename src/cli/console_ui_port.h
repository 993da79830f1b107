#pragma once
// The UI port of kalvo-cli: messages go to stderr, questions are answered by --yes, and there is
// no event loop to pump.
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>

#include "platform/ui_port.h"

namespace kalvo {

// Message texts break their lines with "\n\r"; a terminal wants "\n".
std::string ConsoleText(std::string text);

class ConsoleUiPort : public UiPort {
public:
    ConsoleUiPort(std::ostream& err, bool assumeYes) : err_(err), assumeYes_(assumeYes) {}

    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void ShowStatus(const std::string& text, StatusStyle style) override;
    void ShowProgress(int, int) override {}
    void ReplaceLastLogLine(const std::string& text) override;
    void ShowBusy() override {}
    void HideBusy() override {}
    // Looks for a termination signal; the console has no events of its own.
    void Pump() override { CheckStop(0); }
    // Sleeps, running the timer procedure every 100 ms as the window's Timer_Proc would.
    void Wait(int milliseconds) override;

    std::function<void()> timerProc;
    // Answers a question before --yes does (kalvo-cli update counts its retries here).
    std::function<std::optional<bool>(const std::string& text)> answer;
    // Status texts and progress lines go to stderr (kalvo-cli update).
    bool echoProgress = false;

    // A line rewritten in place ("\r" first), such as a download's page count. A message or
    // question that follows starts on a line of its own.
    void ProgressLine(const std::string& text);
    // Ends an open progress line.
    void EndProgressLine();

    // A signalfd for SIGINT, SIGTERM and SIGHUP: a signal runs onStop once and is reported by
    // StopSignal() so the command can end in order (log written, exchange closed). Waits still
    // take their full time after it; loops that should end early look at StopRequested().
    void SetStopSignal(int signalFd) { stopFd_ = signalFd; }
#ifdef _WIN32
    // Windows: an event that the console's Ctrl+C, Ctrl+Break or close sets; reported as SIGINT.
    void SetStopEvent(void* event) { stopEvent_ = event; }
#endif
    std::function<void()> onStop;
    int StopSignal() const { return stopSignal_; }
    bool StopRequested() const { return stopSignal_ != 0; }

private:
    std::ostream& err_;
    bool assumeYes_;
    std::chrono::steady_clock::time_point nextTimer_ = std::chrono::steady_clock::now();
    int stopFd_ = -1;
    void* stopEvent_ = nullptr;  // HANDLE (Windows)
    int stopSignal_ = 0;
    bool progressLineOpen_ = false;

    // Waits up to `milliseconds` for a termination signal.
    void CheckStop(int milliseconds);
};

}  // namespace kalvo
