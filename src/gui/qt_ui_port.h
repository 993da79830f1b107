#pragma once
// The UI port of the desktop program: modal message boxes, the status panel, the progress bar,
// the busy window, and processEvents() while the core waits for the device.
#include "platform/ui_port.h"

namespace kalvo {

class MainWindow;

class QtUiPort : public UiPort {
public:
    // The window that owns the panels; until it is attached, boxes have no parent.
    void Attach(MainWindow* window) { window_ = window; }

    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool ConfirmWarning(const std::string& text) override;
    bool ConfirmError(const std::string& text) override;
    void ShowStatus(const std::string& text, StatusStyle style) override;
    void ShowProgress(int position, int max) override;
    void ReplaceLastLogLine(const std::string& text) override;
    void ShowBusy() override;
    void HideBusy() override;
    void Pump() override;
    void Wait(int milliseconds) override;

private:
    // After a termination signal nobody is there to answer: no boxes, every question is No.
    bool Stopping() const;

    MainWindow* window_ = nullptr;
};

}  // namespace kalvo
