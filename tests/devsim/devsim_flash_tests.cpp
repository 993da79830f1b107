// The two flashes through their commands: erase units, exact write answers, the boot loader's
// rules for the CPU flash, and the dump files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "devsim/device_dumps.h"
#include "devsim/device_model.h"
#include "devsim_test_support.h"

namespace kalvo::devsim {
namespace {

using test::Bytes;
using test::TestDevice;
using test::TestOptions;

Bytes WriteFields(std::uint32_t address, const Bytes& data) {
    Bytes fields = test::Fields32And8(address, static_cast<std::uint8_t>(data.size()));
    fields.insert(fields.end(), data.begin(), data.end());
    return fields;
}

Bytes Address(std::uint32_t address) {
    Bytes fields;
    AppendU32(fields, address);
    return fields;
}

Bytes Eflash(TestDevice& unit, std::uint32_t address, std::uint8_t length) {
    auto answer = unit.Ask(0x02, 0x02, test::Fields32And8(address, length), 2);
    return answer ? Bytes(answer->begin() + 5, answer->end()) : Bytes{};
}

TEST(Eflash, SectorEraseWriteAndReadBack) {
    TestDevice unit;
    EXPECT_EQ(unit.Ask(0x02, 0x05, Address(0x1234), 2), Bytes{});  // any address in the sector
    EXPECT_EQ(Eflash(unit, 0x1000, 32), Bytes(32, 0xFF));
    Bytes data(128);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    // The answer is exactly the address and the length.
    EXPECT_EQ(unit.Ask(0x02, 0x03, WriteFields(0x1F80, data), 2), test::Fields32And8(0x1F80, 128));
    EXPECT_EQ(Eflash(unit, 0x1F80, 128), data);
    auto answer = unit.Ask(0x02, 0x02, test::Fields32And8(0x1F80, 16), 2);
    EXPECT_EQ(Bytes(answer->begin(), answer->begin() + 5), test::Fields32And8(0x1F80, 16));

    // Erase takes exactly the 4 KB around the address.
    unit.Device().Eflash().Fill(0x0FFF, Bytes{0x11});
    unit.Device().Eflash().Fill(0x2000, Bytes{0x22});
    unit.Ask(0x02, 0x05, Address(0x1FFF), 2);
    EXPECT_EQ(Eflash(unit, 0x1F80, 128), Bytes(128, 0xFF));
    EXPECT_EQ(Eflash(unit, 0x0FFF, 1), Bytes{0x11});
    EXPECT_EQ(Eflash(unit, 0x2000, 1), Bytes{0x22});
}

TEST(Eflash, WritesAsNorFlashAndRefusesBadRequests) {
    TestDevice unit;
    unit.Ask(0x02, 0x05, Address(0), 2);
    unit.Ask(0x02, 0x03, WriteFields(0x10, Bytes{0xF0}), 2);
    unit.Device().TakeNotes();
    EXPECT_TRUE(unit.Ask(0x02, 0x03, WriteFields(0x10, Bytes{0x3C}), 2));
    EXPECT_EQ(Eflash(unit, 0x10, 1), Bytes{0x30});  // bits only clear without an erase
    EXPECT_FALSE(unit.Device().TakeNotes().empty());

    EXPECT_FALSE(unit.Ask(0x02, 0x03, WriteFields(0x10, Bytes(129, 0)), 2));  // more than 128
    Bytes wrongLength = WriteFields(0x10, Bytes{1, 2});
    wrongLength[4] = 3;
    EXPECT_FALSE(unit.Ask(0x02, 0x03, wrongLength, 2));
    EXPECT_FALSE(unit.Ask(0x02, 0x03, WriteFields(0x800000 - 1, Bytes{1, 2}), 2));  // past the chip
    EXPECT_FALSE(unit.Ask(0x02, 0x02, test::Fields32And8(0x800000, 1), 2));
    EXPECT_FALSE(unit.Ask(0x02, 0x05, Address(0x800000), 2));
    EXPECT_EQ(unit.Ask(0x02, 0x02, test::Fields32And8(0x7FFFF0, 16), 2)->size(), 21u);
}

TEST(CpuFlash, OnlyTheBootLoaderWritesAndOnlyTheMainArea) {
    TestDevice unit;  // main firmware running
    std::uint32_t start = unit.Device().Layout().firmwareStart;
    EXPECT_FALSE(unit.Ask(0x03, 0x07, Address(start), 3));
    EXPECT_FALSE(unit.Ask(0x03, 0x06, WriteFields(start, Bytes{1}), 3));

    unit.Device().RequestReset(true);
    unit.Device().CompleteReset();
    Bytes before = unit.Memory(start + 128, 16);
    // 128-byte pages on CPU code 9; both code pairs do the same.
    EXPECT_EQ(unit.Ask(0x03, 0x05, Address(start), 3), Bytes{});
    EXPECT_EQ(unit.Memory(start, 16), Bytes(16, 0xFF));
    EXPECT_EQ(unit.Memory(start + 112, 16), Bytes(16, 0xFF));
    EXPECT_EQ(unit.Memory(start + 128, 16), before);
    Bytes data(32, 0x5A);
    EXPECT_EQ(unit.Ask(0x03, 0x03, WriteFields(start, data), 3), test::Fields32And8(start, 32));
    EXPECT_EQ(unit.Ask(0x03, 0x06, WriteFields(start + 32, data), 3), test::Fields32And8(start + 32, 32));
    EXPECT_EQ(unit.Memory(start, 64), Bytes(64, 0x5A));
    EXPECT_EQ(unit.Ask(0x03, 0x07, Address(start + 130), 3), Bytes{});  // the page holding it
    EXPECT_EQ(unit.Memory(start + 128, 16), Bytes(16, 0xFF));

    // The boot loader's own pages and anything past the end are left alone.
    EXPECT_FALSE(unit.Ask(0x03, 0x05, Address(start - 128), 3));
    EXPECT_FALSE(unit.Ask(0x03, 0x03, WriteFields(kDescriptorAddress, Bytes{0}), 3));
    EXPECT_FALSE(unit.Ask(0x03, 0x03, WriteFields(kCpuFlashBase + 0x10000 - 1, Bytes{0, 0}), 3));
    EXPECT_EQ(unit.Memory(kDescriptorAddress, 1), Bytes{9});
}

TEST(CpuFlash, PageSizeFollowsTheCpuCode) {
    SimOptions options = TestOptions(Model::R520);
    options.mainVersion = 0;
    TestDevice unit(options);
    std::uint32_t start = unit.Device().Layout().firmwareStart;
    EXPECT_EQ(start % 256, 0u);
    unit.Device().CpuFlash().Fill(start + 256, Bytes{0x00});
    unit.Ask(0x03, 0x05, Address(start + 255), 3);
    EXPECT_EQ(unit.Memory(start + 255, 1), Bytes{0xFF});
    EXPECT_EQ(unit.Memory(start + 256, 1), Bytes{0x00});
}

TEST(Dumps, WholeFlashesAndTheRingInLogicalOrder) {
    char folder[] = "/tmp/devsim-dumps-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    SimOptions options = TestOptions();
    options.history = HistoryKind::Wrapped;
    options.eflashSize = 0x200000;
    TestDevice unit(options);
    unit.Ask(0x02, 0x05, Address(0), 2);
    unit.Ask(0x02, 0x03, WriteFields(0, Bytes{0xAB}), 2);
    DumpFiles files{std::string(folder) + "/eflash.bin", std::string(folder) + "/cpu.bin",
                    std::string(folder) + "/history.bin"};
    std::string error;
    ASSERT_TRUE(WriteDumps(unit.Device(), files, error)) << error;
    auto read = [](const std::string& path) {
        Bytes bytes(std::filesystem::file_size(path));
        std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    };
    Bytes eflash = read(files.eflash);
    ASSERT_EQ(eflash.size(), 0x200000u);
    EXPECT_EQ(eflash[0], 0xAB);
    EXPECT_EQ(read(files.cpuFlash).size(), 0x10000u);
    EXPECT_EQ(read(files.cpuFlash)[kDescriptorAddress - kCpuFlashBase], 9);
    Bytes history = read(files.history);
    const RingState& ring = unit.Device().History().State();
    ASSERT_EQ(history.size(), ring.count * 16u);
    EXPECT_EQ(Bytes(history.begin(), history.begin() + 16),
              Bytes(eflash.begin() + HistoryRing::SlotAddress(ring.first), eflash.begin() + HistoryRing::SlotAddress(ring.first) + 16));
    EXPECT_EQ(Bytes(history.end() - 16, history.end()),
              Bytes(eflash.begin() + HistoryRing::SlotAddress(ring.last), eflash.begin() + HistoryRing::SlotAddress(ring.last) + 16));
    EXPECT_FALSE(WriteDumps(unit.Device(), DumpFiles{std::string(folder) + "/no/such/dir", "", ""}, error));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kalvo::devsim
