#pragma once
// A whole program context against kalvo-devsim in the fixture's ports folder, its processing
// tick on a clock the test turns in 100 ms steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/context.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"

namespace kalvo::test {

class TickedSimTest : public ::testing::Test, public SimFixture {
protected:
    TickedSimTest() : context(ui, PortDirectory(PortsFolder(), false)) {
        context.tick.SetClock([this] { return now; });
    }

    // One Timer_Proc period.
    void Tick() {
        now += 100;
        context.tick.Run();
    }
    // Ticks until `done` or the step limit; true when done.
    bool TickUntil(const std::function<bool()>& done, int limit = 100) {
        for (int i = 0; i < limit && !done(); ++i) Tick();
        return done();
    }
    // A device plugged in after the first scan, identified by the tick.
    void Connect(std::vector<std::string> options) {
        ASSERT_TRUE(TickUntil([this] { return context.connection.ScanList().FirstScanDone(); }));
        sim = StartSim(7, std::move(options));
        ASSERT_TRUE(TickUntil([this] { return context.tick.State() == IdentificationState::Identified; }));
    }
    bool Logged(const std::string& line) const {
        const auto& lines = context.log.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    RecordingUiPort ui;
    AppContext context;
    std::uint32_t now = 5000;
    std::unique_ptr<Process> sim;
};

}  // namespace kalvo::test
