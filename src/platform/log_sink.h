#pragma once
// Where the lower layers write report-log lines; the report log of the application implements
// it. User-interface thread only.
#include <string_view>

namespace kalvo {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void LogLine(std::string_view text) = 0;
    // "# ERROR: \"text\""
    virtual void LogError(std::string_view text) = 0;
    // "ERROR=[code]-\"text\""
    virtual void LogErrorCode(std::string_view text, int code) = 0;
    // Progress of a long write rewrites the last line, so the log keeps only its latest text.
    virtual void ReplaceLastLine(std::string_view text) = 0;
};

}  // namespace kalvo
