#include "gui/qt_ui_port.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QMessageBox>
#include <cstdio>

#include "gui/main_window.h"

namespace kalvo {

namespace {
QString Text(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

void QtUiPort::ShowMessage(MessageKind kind, const std::string& text) {
    QMessageBox::Icon icon = kind == MessageKind::Error     ? QMessageBox::Critical
                             : kind == MessageKind::Warning ? QMessageBox::Warning
                                                            : QMessageBox::Information;
    // Also on stderr, so a message on a machine without a screen (or in a test) is not lost.
    std::fprintf(stderr, "kalvo-explorer: %s\n", text.c_str());
    if (Stopping()) return;
    QMessageBox box(icon, QApplication::applicationName(), Text(text), QMessageBox::Ok, window_);
    box.exec();
}

namespace {
bool Ask(QMessageBox::Icon icon, const std::string& text, QWidget* parent) {
    std::fprintf(stderr, "kalvo-explorer: %s\n", text.c_str());
    QMessageBox box(icon, QApplication::applicationName(), Text(text), QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}
}  // namespace

bool QtUiPort::Confirm(const std::string& text) { return !Stopping() && Ask(QMessageBox::Question, text, window_); }

bool QtUiPort::ConfirmWarning(const std::string& text) {
    return !Stopping() && Ask(QMessageBox::Warning, text, window_);
}

bool QtUiPort::Stopping() const { return window_ && window_->Context().stop.Requested(); }

bool QtUiPort::ConfirmError(const std::string& text) { return Ask(QMessageBox::Critical, text, window_); }

void QtUiPort::ShowStatus(const std::string& text, StatusStyle style) {
    if (window_) window_->ShowStatus(Text(text), static_cast<int>(style));
}

void QtUiPort::ShowProgress(int position, int max) {
    if (window_) window_->ShowProgress(position, max);
}

void QtUiPort::ReplaceLastLogLine(const std::string& text) {
    if (window_) window_->ReplaceLastLogLine(Text(text));
}

void QtUiPort::ShowBusy() {
    if (window_) window_->ShowBusy(100);
}

void QtUiPort::HideBusy() {
    if (window_) window_->ShowBusy(0);
}

void QtUiPort::Pump() { QCoreApplication::processEvents(); }

}  // namespace kalvo

namespace kalvo {

void QtUiPort::Wait(int milliseconds) {
    if (milliseconds <= 0) return;
    // A local loop sleeps in the event dispatcher until the timer or an event comes.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace kalvo
