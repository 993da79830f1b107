#pragma once
// The program's lifetime around the window: its private temporary folder, and the frames the
// report log gets at start and at the end.
#include <ctime>
#include <optional>
#include <string>

#include "app/report_log.h"

namespace kalvo {

inline constexpr const char* kTempFolderName = "trv8_kalvo_explorer";
inline constexpr const char* kReportFileName = "log.txt";

// Per user: $XDG_RUNTIME_DIR/trv8_kalvo_explorer, else <temp>/kalvo-<uid>/trv8_kalvo_explorer.
std::string TempFolderPath();

// Creates the folder (and its parents) when missing; false when it cannot be had.
bool PrepareTempFolder(const std::string& path);
// Deletes the files left in the folder by an earlier run; sub-folders stay, failures are silent.
void EmptyTempFolder(const std::string& path);

// Local date and time as the log frames show it: "08.12.2026 04:41:07".
std::string LogTimestamp(std::time_t when);

// The four lines that open the log and the three that close it.
void LogStartFrame(ReportLog& log, std::time_t when);
void LogEndFrame(ReportLog& log, std::time_t when);

// log.txt in the temporary folder; empty when start-up never got a folder.
std::string ReportFilePath(const std::string& tempFolder);

// Writes the report file into the temporary folder; nothing when start-up never got a folder.
// The window's shutdown writes it through ReportUpload instead, which also sends it on.
bool SaveReport(const ReportLog& log, const std::string& tempFolder);

}  // namespace kalvo
