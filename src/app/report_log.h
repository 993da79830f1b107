#pragma once
// The report log: the program's running account of what it did. Lines are kept here; a front
// end mirrors them through the observer. Consecutive identical lines are written once, and a
// marker line notes once that the log passed its soft limit (it is never truncated).
//
// Thread use: user-interface thread only.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log_sink.h"

namespace kalvo {

inline constexpr std::size_t kLogSoftLimit = 10000;
inline constexpr std::string_view kLogFullMarker = "!!!! LOG FULL !!!";

class ReportLog : public LogSink {
public:
    using Observer = std::function<void(const std::string& line)>;

    void LogLine(std::string_view text) override;
    void LogError(std::string_view text) override;
    void LogErrorCode(std::string_view text, int code) override;
    // As the log view does: the last line (or, in an empty log, a first one) takes the text;
    // the last logged line stays what LogLine last appended.
    void ReplaceLastLine(std::string_view text) override;

    // Empties the lines; the last logged line is kept, so a repeat is still suppressed.
    void Clear();

    const std::vector<std::string>& Lines() const { return lines_; }
    const std::string& LastLoggedLine() const { return lastLogged_; }

    // Every appended line (marker included) goes to the observer, e.g. the log view.
    void SetObserver(Observer observer) { observer_ = std::move(observer); }

    // Each line followed by one LF. An existing file is replaced only by the complete new text; a
    // path that is not a regular file is refused. False on any failure.
    bool WriteFile(const std::string& path) const;

private:
    void Append(std::string line);

    std::vector<std::string> lines_;
    std::string lastLogged_;
    Observer observer_;
};

}  // namespace kalvo
