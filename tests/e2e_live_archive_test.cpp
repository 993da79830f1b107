// The live readings the program keeps, against kalvo-devsim: a recognised device's trend starts
// with its stored day and what it reads is stored; a writer killed with SIGKILL
// loses at most the reading it had not printed yet, archive live exports them (a span by local
// time) and refuses bad targets exactly as archive csv does, and an archive that cannot be used
// never stops the measuring and is logged once.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "app/archived_readings.h"
#include "support/sim_fixture.h"
#include "support/ticked_sim_test.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The rate of a printed reading ("0,19 uSv/h; 17,53 uSv" -> "0,19"); empty for other lines.
std::string PrintedRate(const std::string& line) {
    const std::size_t unit = line.find(" uSv/h");
    return unit == std::string::npos ? std::string() : line.substr(0, unit);
}

// Field `index` of a CSV line (its CR dropped).
std::string Field(std::string line, std::size_t index) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) start = line.find(';', start) + 1;
    return line.substr(start, line.find(';', start) - start);
}

class LiveArchiveCli : public ::testing::Test, public test::SimFixture {
protected:
    std::unique_ptr<test::Process> CliIn(const std::string& dataHome, std::vector<std::string> args) {
        return Cli(std::move(args), dataHome);
    }
};

TEST_F(LiveArchiveCli, AKilledWriterLosesAtMostTheReadingInFlightAndTheExportHasTheRest) {
    auto device = StartSim(5);
    Lines printed;
    {
        test::Process measure({KALVO_CLI_PATH, "measure", "--port", "5", "--count", "1000"}, Env());
        while (printed.size() < 4) {
            std::optional<std::string> line = measure.ReadLine(std::chrono::seconds(20));
            ASSERT_TRUE(line) << measure.Err();
            if (!PrintedRate(*line).empty()) printed.push_back(PrintedRate(*line));
        }
        measure.Signal(SIGKILL);
        EXPECT_EQ(measure.Wait(), 128 + SIGKILL);
        for (const std::string& line : test::SplitLines(measure.Out()))
            if (!PrintedRate(line).empty()) printed.push_back(PrintedRate(line));
    }

    const std::string file = folder.File("live.csv");
    auto exported = Cli({"archive", "live", "--serial", "123-45678", file});
    ASSERT_EQ(exported->Wait(), 0) << exported->Err();
    Lines csv = test::SplitLines(test::ReadFile(file));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0], "TIME_IN_SECOND_FROM_2000;DATE;TIME;UNIT;VALUE\r");
    csv.erase(csv.begin());
    // Stored before printed: every printed reading is there, and at most one more.
    ASSERT_GE(csv.size(), printed.size());
    EXPECT_LE(csv.size(), printed.size() + 1);
    for (std::size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(Field(csv[i], 3), "uSv/h");
        EXPECT_EQ(Field(csv[i], 4), printed[i]) << i;
    }

    // A span of one second, in the local time the file shows.
    const std::string date = Field(csv[1], 1), time = Field(csv[1], 2);
    const std::string at = date.substr(6, 4) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2) + " " + time;
    auto span = Cli({"archive", "live", "--serial", "123-45678", "--from", at, "--to", at, file, "--yes"});
    ASSERT_EQ(span->Wait(), 0) << span->Err();
    Lines expected{"TIME_IN_SECOND_FROM_2000;DATE;TIME;UNIT;VALUE\r"};
    for (const std::string& line : csv)
        if (Field(line, 1) == date && Field(line, 2) == time) expected.push_back(line);
    EXPECT_EQ(test::SplitLines(test::ReadFile(file)), expected);

    // Bad targets are refused before the archive is touched, as archive csv refuses them.
    fs::create_directory(folder.File("folder"));
    for (const std::string& target : {file, folder.File("folder"), folder.File("missing/live.csv")}) {
        auto live = Cli({"archive", "live", "--serial", "123-45678", target});
        auto history = Cli({"archive", "csv", "--serial", "123-45678", target});
        EXPECT_EQ(live->Wait(), 1) << target;
        EXPECT_EQ(live->Err(), history->Err()) << target;
        EXPECT_EQ(history->Wait(), 1) << target;
    }
    EXPECT_EQ(test::SplitLines(test::ReadFile(file)), expected);
    auto unknown = Cli({"archive", "live", "--serial", "123-45679", folder.File("other.csv")});
    EXPECT_EQ(unknown->Wait(), 1);
    EXPECT_EQ(unknown->Err(), "kalvo-cli: no device 123-45679 in the archive " + folder.File("data") +
                                  "/kalvo/history.sqlite\n");
    EXPECT_FALSE(fs::exists(folder.File("other.csv")));
}

TEST_F(LiveArchiveCli, AnArchiveThatCannotBeUsedNeverStopsMeasuringAndIsLoggedOnce) {
    auto device = StartSim(6);
    // The data folder is a file: the archive's folder cannot be made.
    const std::string blocked = folder.File("blocked");
    test::WriteFileForTest(blocked, "");
    auto measure = CliIn(blocked, {"measure", "--port", "6", "--count", "3", "--log", folder.File("log.txt")});
    ASSERT_EQ(measure->Wait(), 0) << measure->Err();
    Lines rates;
    for (const std::string& line : test::SplitLines(measure->Out()))
        if (!PrintedRate(line).empty()) rates.push_back(line);
    EXPECT_EQ(rates.size(), 3u);
    Lines errors;
    for (const std::string& line : test::SplitLines(test::ReadFile(folder.File("log.txt"))))
        if (line.find("Archive") != std::string::npos) errors.push_back(line);
    EXPECT_EQ(errors, Lines{"# ERROR: \"Archive: cannot create the folder of " + blocked + "/kalvo/history.sqlite\""});
}

class LiveArchiveContext : public test::TickedSimTest {
protected:
    LiveArchiveContext() { context.live.SetClock([this] { return now; }); }
};

TEST_F(LiveArchiveContext, ARecognisedDeviceStartsWithItsStoredDayAndKeepsWhatItReads) {
    const std::string path = folder.File("data/kalvo/history.sqlite");
    const std::int64_t wall = 1'800'000'000'000;
    context.wallClockMs = [wall] { return wall; };
    const std::int64_t hour = 3600 * 1000;
    {
        std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {});
        ASSERT_TRUE(archive);
        // Older than a day; roentgen an hour ago; then sievert: the trend takes the last series.
        const std::vector<LiveReading> stored{{wall - 25 * hour, 0, 9, ""},
                                              {wall - hour, 1, 15, ""},
                                              {wall - hour / 2, 0, 0.2, "1,00 uSv"},
                                              {wall - hour / 2 + 1000, 0, 0.3, ""}};
        ASSERT_TRUE(archive->Append({"123-45678", 630, "R630"}, stored));
    }
    context.readingStore = std::make_unique<ArchivedReadings>(path, context.archiveWork, context.log, context.ui,
                                                                    context.language);
    Connect({});
    ASSERT_EQ(context.trend.Readings().size(), 2u);
    EXPECT_EQ(context.trend.Readings()[0].doseText, "1,00 uSv");
    EXPECT_EQ(context.trend.Readings()[1].value, 0.3);

    context.live.measuringPageActive = true;
    ASSERT_TRUE(TickUntil([this] { return context.live.Readings() >= 1; }));
    const LiveReading read = context.trend.Readings().back();
    EXPECT_EQ(read.timeMs, wall);
    context.readingStore->Settle();
    std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {});
    std::optional<std::vector<LiveReading>> day = archive->LastDay("123-45678", wall);
    ASSERT_TRUE(day);
    ASSERT_EQ(day->size(), 4u);
    EXPECT_EQ(day->back().timeMs, wall);
    EXPECT_EQ(day->back().value, read.value);
    EXPECT_EQ(day->back().doseText, read.doseText);
}

}  // namespace
}  // namespace kalvo
