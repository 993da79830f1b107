// The import of a saved CSV file: the whole input as the file's text.
// Checks: a text is refused with its line and a reason, or it is exactly what the program
// writes for the lines read back (header, each line with its own row, CR LF), in one family.
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/history_archive.h"
#include "fuzz_check.h"
#include "history/history_csv.h"

using kalvo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ImportError error;
    std::optional<std::vector<SavedCsvLine>> lines = ParseSavedCsv(text, &error);
    if (!lines) {
        Check(error.line >= 1 && !error.reason.empty());
        return 0;
    }
    std::string written = std::string(kCsvHeaderLine) + "\r\n";
    std::uint32_t row = 1;
    for (const SavedCsvLine& line : *lines) {
        Check(line.record.Exportable());
        Check(line.conversion.sensors == lines->front().conversion.sensors);
        written += HistoryCsvLine(++row, line.record.startTime, line.record.length, line.record.pulses,
                                  line.conversion) +
                   "\r\n";
    }
    Check(written == text);
    return 0;
}
