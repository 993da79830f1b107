#include "cli/console_ui_port.h"

#include <chrono>
#include <thread>

namespace kalvo {

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
    err_ << KindPrefix(kind) << text << '\n' << std::flush;
}

bool ConsoleUiPort::Confirm(const std::string& text) {
    err_ << text << (assumeYes_ ? " [yes]\n" : " [no: run with --yes to agree]\n") << std::flush;
    return assumeYes_;
}

void ConsoleUiPort::Wait(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace kalvo
