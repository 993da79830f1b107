// Soak: the whole device side, over and over, against a simulator that loses 2 % of the requests
// and corrupts 1 % of the answers, each round with another seed, compared with the same device
// read without faults. Every result must be exact or a clear error, and memory must stay level.
// Bounded by KALVO_SOAK_SECONDS (default 240); run by `scripts/test --soak`, not in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>

#include <malloc.h>

// Under AddressSanitizer malloc's own figures read 0; its runtime counts instead.
#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define KALVO_SOAK_ASAN 1
#endif

#include "app/context.h"
#include "app/device_access.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

std::size_t HeapInUse() {
#ifdef KALVO_SOAK_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// One program's view of one simulated device: connected and identified by the tick.
struct Session {
    Session(const std::string& ports, int number) : context(ui, PortDirectory(ports, false)), com(number) {
        context.tick.SetClock([this] { return now; });
        context.live.SetClock([this] { return now; });
    }
    bool TickUntil(const std::function<bool()>& done, int limit = 300) {
        for (int i = 0; i < limit && !done(); ++i) {
            now += 100;
            context.tick.Run();
        }
        return done();
    }
    bool Connect() {
        context.connection.Action_Connection_Manual_NumberExecute(std::to_string(com));
        return TickUntil([this] { return context.tick.State() == IdentificationState::Identified; });
    }
    // The identification block of the report log.
    std::vector<std::string> Identification() const {
        const auto& lines = context.log.Lines();
        auto start = std::find(lines.rbegin(), lines.rend(), "# Read Device Information:");
        if (start == lines.rend()) return {};
        return {start.base(), std::find(start.base(), lines.end(), std::string(42, '#'))};
    }
    std::map<std::uint16_t, std::uint32_t> Parameters() {
        std::map<std::uint16_t, std::uint32_t> values;
        for (std::uint16_t id : {param::kCalibration, param::kRingGeometry, param::kRingCounts, param::kRingIndices,
                                 param::kRingFlags}) {
            std::uint32_t value = 0;
            if (GetDeviceParameter(context, id, &value)) values[id] = value;
        }
        return values;
    }
    bool AnyErrorShown() const {
        return std::any_of(ui.calls.begin(), ui.calls.end(),
                           [](const std::string& call) { return call.rfind("error", 0) == 0; });
    }

    test::RecordingUiPort ui;
    AppContext context;
    int com;
    std::uint32_t now = 5000;
};

class Soak : public ::testing::Test, public test::SimFixture {};

TEST_F(Soak, EveryResultIsExactOrAClearErrorAndMemoryStaysLevel) {
    const char* limit = std::getenv("KALVO_SOAK_SECONDS");
    const auto budget = std::chrono::seconds(limit ? std::atoi(limit) : 240);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::size_t> heap;
    int exactDownloads = 0;
    int failedDownloads = 0;

    for (int seed = 1; seed == 1 || std::chrono::steady_clock::now() - start < budget; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<std::string> device{"--model",  seed % 2 ? "r630" : "r520", "--history", "wrapped",
                                              "--seed",   std::to_string(seed),        "--clock",   "2026-12-08 10:00:00",
                                              "--baud",   "0"};
        std::vector<std::string> faulty = device;
        faulty.insert(faulty.end(), {"--drop-percent", "2", "--corrupt-percent", "1"});
        auto cleanSim = StartSim(8, device);
        auto faultySim = StartSim(7, faulty);
        {
            Session clean(PortsFolder(), 8);
            Session rough(PortsFolder(), 7);
            ASSERT_TRUE(clean.Connect());
            ASSERT_TRUE(rough.Connect());
            EXPECT_EQ(rough.Identification(), clean.Identification());
            ASSERT_FALSE(clean.Identification().empty());

            // A parameter read either fails or gives the device's value.
            auto reference = clean.Parameters();
            ASSERT_EQ(reference.size(), 5u);
            for (int i = 0; i < 20; ++i)
                for (const auto& [id, value] : rough.Parameters()) EXPECT_EQ(value, reference[id]) << id;

            // Live readings come or fail; they never stop coming.
            rough.context.live.measuringPageActive = true;
            EXPECT_TRUE(rough.TickUntil([&] { return rough.context.live.Readings() >= 5; }, 200));
            rough.context.live.measuringPageActive = false;

            clean.context.history.BitBtn_HIS_ReadClick();
            ASSERT_TRUE(clean.context.history.Loaded());
            rough.context.history.BitBtn_HIS_ReadClick();
            if (rough.context.history.Loaded()) {
                EXPECT_EQ(rough.context.history.Csv().Text(), clean.context.history.Csv().Text());
                ++exactDownloads;
            } else {
                EXPECT_TRUE(rough.AnyErrorShown());
                ++failedDownloads;
            }
        }
        faultySim.reset();
        cleanSim.reset();
        heap.push_back(HeapInUse());
    }
    std::printf("soak: %zu rounds, %d exact downloads, %d failed with an error; heap after each round:",
                heap.size(), exactDownloads, failedDownloads);
    for (std::size_t bytes : heap) std::printf(" %zu", bytes);
    std::printf("\n");
    EXPECT_GT(exactDownloads, 0);
    // Level: later rounds hold no more than the first one, give or take a megabyte.
    for (std::size_t bytes : heap) EXPECT_LT(bytes, heap.front() + (1u << 20));
}

}  // namespace
}  // namespace kalvo
