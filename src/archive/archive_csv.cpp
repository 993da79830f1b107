// The archive's CSV: written in the download's exact format (streamed, no capacity limit), and
// read back from files the program saved.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "archive/history_archive.h"
#include "history/history_csv.h"
#include "platform/file_replacement.h"

namespace kalvo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Lines are handed to the writer in blocks of about this size.
constexpr std::size_t kWriteBlock = 1 << 16;

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
    T value{};
    if (text.empty() || text.size() > 10) return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t begin = 0;
    for (;;) {
        std::size_t semicolon = line.find(';', begin);
        fields.push_back(line.substr(begin, semicolon == std::string_view::npos ? line.npos : semicolon - begin));
        if (semicolon == std::string_view::npos) return fields;
        begin = semicolon + 1;
    }
}

bool KnownConversion(const DoseConversion& conversion) {
    return (conversion.sensors == 2 && conversion.sensitivity == 86) ||
           (conversion.sensors == 1 && (conversion.sensitivity == 68 || conversion.sensitivity == 76));
}

}  // namespace

bool HistoryArchive::WriteCsv(const ArchiveQuery& query, const std::function<bool(std::string_view)>& write,
                              std::uint32_t* lines) {
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "SELECT r.start, r.length, r.pulses, w.sensors, w.sensitivity, w.calibration_x100"
        " FROM records r JOIN downloads w ON w.id = r.download"
        // The device first, so the period is a range of the records' key.
        " WHERE r.device = (SELECT id FROM devices WHERE serial = ?) AND r.start BETWEEN ? AND ? AND r.commit_byte = 0 AND r.status IN (252, 254)"
        " ORDER BY r.start DESC, r.occurrence DESC";
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        lastError_ = sqlite3_errmsg(db_);
        return false;
    }
    sqlite3_bind_text(stmt, 1, query.serial.data(), static_cast<int>(query.serial.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 2, query.from);
    sqlite3_bind_int64(stmt, 3, query.to);

    // One read transaction, so a merge by another process cannot shift rows under the walk.
    std::string block;
    block += kCsvHeaderLine;
    block += kLineEnd;
    std::uint32_t row = 1;
    bool ok = true;
    int step = 0;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        DoseConversion conversion;
        conversion.sensors = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 3));
        conversion.sensitivity = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 4));
        conversion.calibrationX100 = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 5));
        block += HistoryCsvLine(++row, static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 0)),
                                static_cast<std::uint16_t>(sqlite3_column_int64(stmt, 1)),
                                static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 2)), conversion);
        block += kLineEnd;
        if (block.size() >= kWriteBlock) {
            if (!write(block)) {
                ok = false;
                break;
            }
            block.clear();
        }
    }
    if (ok && step != SQLITE_DONE) {
        lastError_ = sqlite3_errmsg(db_);
        ok = false;
    }
    sqlite3_finalize(stmt);
    if (ok && !block.empty()) ok = write(block);
    if (lines) *lines = row - 1;
    return ok;
}

bool HistoryArchive::WriteCsvFile(const ArchiveQuery& query, const std::string& path, std::uint32_t* lines) {
    FileReplacement file;
    if (!file.Begin(path)) {
        lastError_ = "cannot create " + path;
        return false;
    }
    if (!WriteCsv(query, [&file](std::string_view data) { return file.Write(data); }, lines)) {
        if (lastError_.empty()) lastError_ = "cannot write " + path;
        file.Discard();
        return false;
    }
    if (!file.Commit()) {
        lastError_ = "cannot write " + path;
        return false;
    }
    return true;
}

namespace {

// Checks the lines of a saved CSV one at a time, in file order.
class SavedCsvChecker {
public:
    // The record of line `number` (1-based), nullopt for the header; false with `error` set when
    // the line is refused.
    bool Take(std::string_view line, std::uint32_t number, std::optional<SavedCsvLine>& saved, ImportError* error) {
        auto refuse = [error, number](std::string reason) {
            if (error) *error = {number, std::move(reason)};
            return false;
        };
        saved.reset();
        if (number == 1) {
            if (line != kCsvHeaderLine) return refuse("not the header line of the program's CSV");
            return true;
        }
        std::vector<std::string_view> fields = SplitFields(line);
        if (fields.size() != 10) return refuse("10 fields expected, found " + std::to_string(fields.size()));
        std::optional<std::uint32_t> start = ParseNumber<std::uint32_t>(fields[0]);
        std::optional<std::uint16_t> length = ParseNumber<std::uint16_t>(fields[3]);
        std::optional<std::uint32_t> pulses = ParseNumber<std::uint32_t>(fields[4]);
        std::optional<std::uint32_t> sensors = ParseNumber<std::uint32_t>(fields[5]);
        std::optional<std::uint32_t> calibration = ParseNumber<std::uint32_t>(fields[6]);
        std::optional<std::uint32_t> sensitivity = ParseNumber<std::uint32_t>(fields[8]);
        if (!start || !length || !pulses || !sensors || !calibration || !sensitivity)
            return refuse("a number field is not a plain decimal number in range");
        SavedCsvLine line1;
        line1.conversion.sensors = *sensors;
        line1.conversion.sensitivity = *sensitivity;
        line1.conversion.calibrationX100 = *calibration;
        if (!KnownConversion(line1.conversion) || *calibration < kCalibrationMinX100 ||
            *calibration > kCalibrationMaxX100)
            return refuse("sensor count, calibration or divisor of no R630 or R520");
        // Everything else (date, time, constants, the formula naming its own row) must be what
        // the program writes for these values.
        if (line != HistoryCsvLine(number, *start, *length, *pulses, line1.conversion))
            return refuse("the line is not as the program writes it (date, time, constant or formula)");
        const int lineFamily = line1.conversion.sensors == 2 ? kBoardCodeR630 : kBoardCodeR520;
        if (family_ != 0 && lineFamily != family_) return refuse("lines of both families in one file");
        family_ = lineFamily;

        // What the file does not carry: an ordinary committed measurement of the device.
        line1.record.status = kHistoryStatusExported1;
        line1.record.commit = 0;
        line1.record.spare2 = 0;
        line1.record.spare14 = 0xFFFF;
        line1.record.startTime = *start;
        line1.record.length = *length;
        line1.record.pulses = *pulses;
        saved = line1;
        return true;
    }
    int Family() const { return family_; }

private:
    int family_ = 0;
};

// The lines of a stream split at CR LF, read a block at a time.
class CsvLineReader {
public:
    enum class Got { Line, End, Unterminated, Unreadable };
    explicit CsvLineReader(std::istream& in) : in_(in) {}

    Got Next(std::string_view& line) {
        for (;;) {
            const std::size_t end = buffer_.find(kLineEnd, begin_);
            if (end != std::string::npos) {
                line = std::string_view(buffer_).substr(begin_, end - begin_);
                begin_ = end + kLineEnd.size();
                return Got::Line;
            }
            if (eof_) return begin_ < buffer_.size() ? Got::Unterminated : Got::End;
            buffer_.erase(0, begin_);
            begin_ = 0;
            const std::size_t held = buffer_.size();
            buffer_.resize(held + kWriteBlock);
            in_.read(buffer_.data() + held, static_cast<std::streamsize>(kWriteBlock));
            buffer_.resize(held + static_cast<std::size_t>(in_.gcount()));
            if (in_.bad()) return Got::Unreadable;
            if (!in_) eof_ = true;
        }
    }

private:
    std::istream& in_;
    std::string buffer_;
    std::size_t begin_ = 0;
    bool eof_ = false;
};

}  // namespace

std::optional<std::vector<SavedCsvLine>> ParseSavedCsv(std::string_view text, ImportError* error) {
    auto refuse = [error](std::uint32_t line, std::string reason) -> std::optional<std::vector<SavedCsvLine>> {
        if (error) *error = {line, std::move(reason)};
        return std::nullopt;
    };
    std::vector<SavedCsvLine> lines;
    SavedCsvChecker checker;
    std::uint32_t lineNumber = 0;
    std::size_t begin = 0;
    while (begin < text.size()) {
        ++lineNumber;
        std::size_t end = text.find(kLineEnd, begin);
        if (end == std::string_view::npos) return refuse(lineNumber, "the line does not end with CR LF");
        std::string_view line = text.substr(begin, end - begin);
        begin = end + kLineEnd.size();
        std::optional<SavedCsvLine> saved;
        if (!checker.Take(line, lineNumber, saved, error)) return std::nullopt;
        if (saved) lines.push_back(*saved);
    }
    if (lineNumber == 0) return refuse(1, "the file is empty");
    return lines;
}

std::optional<MergeCounts> HistoryArchive::ImportCsv(const std::string& path, const std::string& serial,
                                                           ImportError* error) {
    auto unreadable = [error]() -> std::optional<MergeCounts> {
        if (error) *error = {0, "cannot read the file"};
        return std::nullopt;
    };
    // First reading: every line checked, the conversions in the order a merge of the records
    // oldest first meets them, and whether equal start times stand together (newest first).
    struct Seen {
        DoseConversion conversion;
        std::uint32_t lastLine = 0;
    };
    std::vector<Seen> seen;
    int family = 0;
    bool ordered = true;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) return unreadable();
        CsvLineReader reader(in);
        SavedCsvChecker checker;
        std::uint32_t number = 0;
        std::uint32_t previous = 0xFFFFFFFF;
        std::string_view line;
        for (;;) {
            const CsvLineReader::Got got = reader.Next(line);
            if (got == CsvLineReader::Got::Unreadable) return unreadable();
            if (got == CsvLineReader::Got::End) break;
            ++number;
            if (got == CsvLineReader::Got::Unterminated) {
                if (error) *error = {number, "the line does not end with CR LF"};
                return std::nullopt;
            }
            std::optional<SavedCsvLine> saved;
            if (!checker.Take(line, number, saved, error)) return std::nullopt;
            if (!saved) continue;
            if (saved->record.startTime > previous) ordered = false;
            previous = saved->record.startTime;
            auto it = std::find_if(seen.begin(), seen.end(),
                                   [&](const Seen& s) { return s.conversion == saved->conversion; });
            if (it == seen.end()) seen.push_back({saved->conversion, number});
            else it->lastLine = number;
        }
        if (number == 0) {
            if (error) *error = {1, "the file is empty"};
            return std::nullopt;
        }
        family = checker.Family();
    }
    if (seen.empty()) return MergeCounts{};
    // A file whose times go back (a clock set back): the whole file is needed to number the
    // records of one start time.
    if (!ordered) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in || in.bad()) return unreadable();
        return ImportCsvText(text.str(), serial, error);
    }
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.lastLine > b.lastLine; });
    std::vector<DoseConversion> conversions;
    for (const Seen& s : seen) conversions.push_back(s.conversion);

    // Second reading, merged as it goes: the records of one start time stand together, newest
    // first, so the n-th of them oldest first is known once their run ends.
    std::ifstream in(path, std::ios::binary);
    if (!in) return unreadable();
    CsvLineReader reader(in);
    SavedCsvChecker checker;
    std::uint32_t number = 0;
    std::vector<std::pair<std::size_t, HistoryRecord>> ready, run;
    std::size_t handed = 0;
    bool ended = false;
    RecordFeed feed = [&](std::size_t& part, KeyedRecord& keyed) -> Fed {
        for (;;) {
            if (handed < ready.size()) {
                part = ready[handed].first;
                keyed.record = ready[handed].second;
                keyed.occurrence = static_cast<std::uint32_t>(ready.size() - 1 - handed);
                ++handed;
                return Fed::Record;
            }
            if (ended) return Fed::End;
            std::string_view line;
            const CsvLineReader::Got got = reader.Next(line);
            if (got == CsvLineReader::Got::Unreadable || got == CsvLineReader::Got::Unterminated) {
                lastError_ = "cannot read the file";
                return Fed::Failed;
            }
            if (got == CsvLineReader::Got::End) {
                ready.swap(run);
                handed = 0;
                ended = true;
                continue;
            }
            std::optional<SavedCsvLine> saved;
            if (!checker.Take(line, ++number, saved, nullptr)) {
                lastError_ = "the file changed while it was read";
                return Fed::Failed;
            }
            if (!saved) continue;
            if (!run.empty() && run.front().second.startTime != saved->record.startTime) {
                ready.swap(run);
                run.clear();
                handed = 0;
            }
            const auto conversion = std::find(conversions.begin(), conversions.end(), saved->conversion);
            if (conversion == conversions.end()) {
                lastError_ = "the file changed while it was read";
                return Fed::Failed;
            }
            run.emplace_back(static_cast<std::size_t>(conversion - conversions.begin()), saved->record);
        }
    };
    std::optional<MergeCounts> counts = MergeFed(serial, family, "", conversions, feed, 0, true, {});
    if (!counts && error) *error = {0, "archive: " + lastError_};
    return counts;
}

std::optional<MergeCounts> HistoryArchive::ImportCsvText(std::string_view text, const std::string& serial,
                                                         ImportError* error) {
    std::optional<std::vector<SavedCsvLine>> lines = ParseSavedCsv(text, error);
    if (!lines) return std::nullopt;
    if (lines->empty()) return MergeCounts{};

    // Oldest first, as a download numbers the occurrences of a start time; then one part per
    // conversion.
    std::vector<HistoryRecord> records;
    records.reserve(lines->size());
    for (auto it = lines->rbegin(); it != lines->rend(); ++it) records.push_back(it->record);
    std::vector<KeyedRecord> keyed = Keyed(records);
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::size_t> partOf;
    std::vector<MergePart> parts;
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        const DoseConversion& conversion = (*lines)[lines->size() - 1 - i].conversion;
        auto key = std::make_tuple(conversion.sensors, conversion.sensitivity, conversion.calibrationX100);
        auto [it, added] = partOf.emplace(key, parts.size());
        if (added) parts.emplace_back(conversion, std::vector<KeyedRecord>{});
        parts[it->second].second.push_back(keyed[i]);
    }
    const int family = lines->front().conversion.sensors == 2 ? kBoardCodeR630 : kBoardCodeR520;
    std::optional<MergeCounts> counts = MergeRows(serial, family, "", parts, 0, true, {});
    if (!counts && error) *error = {0, "archive: " + lastError_};
    return counts;
}

}  // namespace kalvo
