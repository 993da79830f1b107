#pragma once
// The UI port of kalvo-cli: messages go to stderr, questions are answered by --yes, and there is
// no event loop to pump.
#include <ostream>

#include "platform/ui_port.h"

namespace kalvo {

class ConsoleUiPort : public UiPort {
public:
    ConsoleUiPort(std::ostream& err, bool assumeYes) : err_(err), assumeYes_(assumeYes) {}

    void ShowMessage(MessageKind kind, const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void ShowStatus(const std::string&, StatusStyle) override {}
    void ShowProgress(int, int) override {}
    void ReplaceLastLogLine(const std::string&) override {}
    void ShowBusy() override {}
    void HideBusy() override {}
    void Pump() override {}
    // Nothing to keep alive: the wait is the point.
    void Wait(int milliseconds) override;

private:
    std::ostream& err_;
    bool assumeYes_;
};

}  // namespace kalvo
