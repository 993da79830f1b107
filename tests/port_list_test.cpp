#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace kalvo {
namespace {

// The registry's serial-port values as Windows (and Wine) list them, through the list's own
// compaction, as the connection manager and `kalvo-cli ports` see them.
TEST(PortListFromSerialComm, RegistryValuesBecomeTheCompactedList) {
    struct Case {
        std::vector<std::string> values;
        int capacity;
        std::string list;     // after compaction
        int taken;            // count before compaction
    };
    const Case cases[] = {
        {{"COM3", "COM12", "CNCA0", "COM1"}, 1000, "3,12,1", 4},  // registry order, not sorted
        {{"CNCA0", "CNCB0"}, 1000, "", 2},                        // com0com pairs are no COM ports
        {{"com7", "Com8", "COM7"}, 1000, "7,8", 3},               // any case; a repeat collapses
        {{"COM3", "COM4", "COM5"}, 2, "3,4", 2},                  // no more than the capacity
        {{"COM", "COMx", ""}, 1000, "0", 3},                      // no digits: number 0, kept once
        {{"\\Device\\Serial0", "COM101"}, 1000, "101", 2},
        {{}, 1000, "", 0},
    };
    for (const Case& c : cases) {
        std::vector<PortListEntry> entries(1000);
        int count = c.capacity;
        PortListFromSerialComm(c.values, entries.data(), count);
        EXPECT_EQ(count, c.taken) << c.list;
        for (int i = 0; i < count; ++i) {
            const PortListEntry& entry = entries[static_cast<std::size_t>(i)];
            if (entry.port != kEmptyPortEntry) {
                EXPECT_EQ(entry.state, 255) << "not checked without checkBusy";
            }
        }
        CompactPortList(entries.data(), count);
        EXPECT_EQ(PortListText(entries.data(), count), c.list);
        for (int i = 0; i < count; ++i) EXPECT_EQ(entries[static_cast<std::size_t>(i)].state, 1) << "255 counts as busy";
    }
}

TEST(PortListFromSerialComm, BusyCheckAsksForEachComValueOnlyAndLeavesOthersAlone) {
    std::vector<std::string> asked;
    std::vector<PortListEntry> entries(4, PortListEntry{42, 9});
    int count = 4;
    PortListFromSerialComm({"COM5", "CNCA0", "COM6"}, entries.data(), count, [&](const std::string& name) {
        asked.push_back(name);
        return name == "COM6";
    });
    EXPECT_EQ(count, 3);
    EXPECT_EQ(asked, (std::vector<std::string>{"COM5", "COM6"}));
    EXPECT_EQ(entries[0].port, 5);
    EXPECT_EQ(entries[0].state, 1);
    EXPECT_EQ(entries[1].port, 42);  // as the caller had it
    EXPECT_EQ(entries[1].state, 9);
    EXPECT_EQ(entries[2].port, 6);
    EXPECT_EQ(entries[2].state, 0);
}

}  // namespace
}  // namespace kalvo
