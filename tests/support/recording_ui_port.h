#pragma once
// A UI port for tests: records every call as a text line and answers questions from a script.
#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui_port.h"

namespace kalvo::test {

class RecordingUiPort : public UiPort {
public:
    void ShowMessage(MessageKind kind, const std::string& text) override {
        const char* name = kind == MessageKind::Error ? "error" : kind == MessageKind::Warning ? "warning" : "info";
        calls.push_back(std::string(name) + ": " + text);
    }
    bool Confirm(const std::string& text) override { return Answer("confirm: " + text); }
    bool ConfirmWarning(const std::string& text) override { return Answer("confirm warning: " + text); }
    bool ConfirmError(const std::string& text) override { return Answer("confirm error: " + text); }
    bool Answer(const std::string& call) {
        calls.push_back(call);
        bool answer = answers.empty() ? false : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    void ShowStatus(const std::string& text, StatusStyle style) override {
        calls.push_back("status " + std::to_string(static_cast<int>(style)) + ": " + text);
    }
    void ShowProgress(int position, int max) override {
        calls.push_back("progress: " + std::to_string(position) + "/" + std::to_string(max));
    }
    void ReplaceLastLogLine(const std::string& text) override { calls.push_back("logline: " + text); }
    void ShowBusy() override { calls.push_back("busy"); }
    void HideBusy() override { calls.push_back("idle"); }
    void Pump() override {
        ++pumps;
        if (onPump) onPump();
    }
    void Wait(int milliseconds) override {
        if (onWait) {
            onWait(milliseconds);
        } else {
            calls.push_back("wait: " + std::to_string(milliseconds));
        }
    }

    std::vector<std::string> calls;
    std::deque<bool> answers;
    std::atomic<int> pumps{0};
    // What a wait does instead of being recorded: tests turn their clock and run the tick here.
    std::function<void(int)> onWait;
    std::function<void()> onPump;
};

}  // namespace kalvo::test
