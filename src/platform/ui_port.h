#pragma once
// The one narrow interface through which the core talks to whatever front end runs it: the Qt
// window, the console of kalvo-cli, or a recording double in tests. It sits at the bottom of
// the layers because the link itself needs Pump() and the failure dialog of a transaction.
//
// Thread use: every call comes from the user-interface thread.
#include <string>

namespace kalvo {

enum class MessageKind { Information, Warning, Error };

// Status bar styles 0..3 (a style above 3 counts as 0).
enum class StatusStyle { Neutral = 0, Recognised = 1, Unknown = 2, Firmware = 3 };

class UiPort {
public:
    virtual ~UiPort() = default;

    // Modal message with one OK button.
    virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
    // Yes/No question; true only for Yes.
    virtual bool Confirm(const std::string& text) = 0;
    // The same question in a warning box (front ends without box kinds ask it plainly).
    virtual bool ConfirmWarning(const std::string& text) { return Confirm(text); }
    // ...and in an error box, for a question that follows a failure.
    virtual bool ConfirmError(const std::string& text) { return Confirm(text); }
    virtual void ShowStatus(const std::string& text, StatusStyle style) = 0;
    // Bottom progress bar; max 0 hides it.
    virtual void ShowProgress(int position, int max) = 0;
    // Long writes report progress by rewriting the last line of the log view.
    virtual void ReplaceLastLogLine(const std::string& text) = 0;
    virtual void ShowBusy() = 0;
    virtual void HideBusy() = 0;
    // Lets the front end process its pending events while the core waits for the device.
    virtual void Pump() = 0;
    // Waits this long while the front end goes on processing its events (timers included).
    virtual void Wait(int milliseconds) = 0;
};

// Waits that keep the program alive: Timer_Proc goes on firing, so the connection manager and
// the identification continue during them. Neither spins: the front end sleeps until an event.
inline void WaitPumpingMessages(UiPort& ui, int milliseconds) { ui.Wait(milliseconds); }
inline void WaitProcessingMessages(UiPort& ui, int milliseconds) { ui.Wait(milliseconds); }

}  // namespace kalvo
