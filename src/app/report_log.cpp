#include "app/report_log.h"

#include "platform/file_replacement.h"

namespace kalvo {

void ReportLog::Append(std::string line) {
    lines_.push_back(std::move(line));
    if (observer_) observer_(lines_.back());
}

void ReportLog::LogLine(std::string_view text) {
    if (lines_.size() == kLogSoftLimit) Append(std::string(kLogFullMarker));
    if (text == lastLogged_) return;
    lastLogged_ = text;
    Append(std::string(text));
}

void ReportLog::LogError(std::string_view text) {
    LogLine("# ERROR: \"" + std::string(text) + "\"");
}

void ReportLog::LogErrorCode(std::string_view text, int code) {
    LogLine("ERROR=[" + std::to_string(code) + "]-\"" + std::string(text) + "\"");
}

void ReportLog::ReplaceLastLine(std::string_view text) {
    if (lines_.empty())
        lines_.emplace_back(text);
    else
        lines_.back() = text;
}

void ReportLog::Clear() { lines_.clear(); }

bool ReportLog::WriteFile(const std::string& path) const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    return ReplaceFile(path, text);
}

}  // namespace kalvo
