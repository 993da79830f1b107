// The simulated device in-process, through its command table: answer shapes, identification
// memory, parameters, live values, clock, screen texts and the reset's mode switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "devsim/device_commands.h"
#include "devsim/device_model.h"
#include "devsim_test_support.h"

namespace kalvo::devsim {
namespace {

using test::Bytes;
using test::TestDevice;
using test::TestOptions;

std::string Text(const Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find('\0'));
}

// ---- the command set -------------------------------------------------------------------------

TEST(DeviceCommands, TableHoldsTheWholeCommandSet) {
    CommandTable table = MakeDeviceCommandTable();
    for (int code : {0x0100, 0x0101, 0x0102, 0x0105, 0x0106, 0x0107, 0x010A, 0x010B, 0x010C, 0x010E, 0x010F,
                             0x0202, 0x0203, 0x0205, 0x0303, 0x0305, 0x0306, 0x0307}) {
        EXPECT_TRUE(table.Contains(static_cast<CommandCode>(code))) << std::hex << code;
    }
    EXPECT_EQ(table.Size(), 18u);
}

TEST(DeviceCommands, SoftInfoAndBoardInfoShapes) {
    TestDevice r630;
    EXPECT_EQ(r630.Ask(0x01, 0x01), (Bytes{0x01, 0x04, 0x09, 0x0C, 0x00, 0x01, 0x00, 0x08}));
    EXPECT_EQ(r630.Ask(0x01, 0x0A), (Bytes{0x76, 0x02, 41, 0}));  // 630, revision 41, variant 0

    TestDevice r520(TestOptions(Model::R520));
    EXPECT_EQ(r520.Ask(0x01, 0x01), (Bytes{0x01, 0x04, 0x03, 0x0C, 0x00, 0x01, 0x00, 0x08}));
    EXPECT_EQ(r520.Ask(0x01, 0x0A), (Bytes{0x08, 0x02, 4, 1}));

    SimOptions boot = TestOptions();
    boot.mainVersion = 0;
    boot.bootVersion = 0x0309;  // before 4.0: no ReadBoardInfo
    TestDevice old(boot);
    EXPECT_EQ(old.Ask(0x01, 0x01), (Bytes{0x09, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x08}));
    EXPECT_EQ(old.Dispatch(0x01, 0x0A).outcome, DispatchResult::Outcome::Silent);
}

TEST(DeviceCommands, ReadMemoryEchoesTheAddressAndHonoursTheLength) {
    TestDevice unit;
    auto answer = unit.ReadMemory(kDescriptorAddress, 16);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 21u);
    EXPECT_EQ(GetU32(*answer), kDescriptorAddress);
    EXPECT_EQ((*answer)[4], 16);
    EXPECT_EQ(unit.ReadMemory(kDescriptorAddress, 3)->size(), 8u);
    EXPECT_EQ(unit.ReadMemory(kDescriptorAddress, 0)->size(), 5u);
    // No answer may outgrow a frame: a long read is cut to what fits.
    EXPECT_EQ(unit.ReadMemory(kDescriptorAddress, 255)->size(), 5 + kMaxReadBlock);
    // Unmapped memory, or a read running out of the map, gets no answer at all.
    EXPECT_FALSE(unit.ReadMemory(0x40000000, 4));
    EXPECT_FALSE(unit.ReadMemory(kCpuFlashBase + 0x10000 - 2, 4));
    EXPECT_FALSE(unit.Ask(0x01, 0x02, Bytes{0x00, 0x01, 0x00}));  // fields too short
    EXPECT_FALSE(unit.Device().TakeNotes().empty());
}

TEST(DeviceCommands, ClockIsReadRunningAndWrittenWithItsSeventhByte) {
    TestDevice unit;
    EXPECT_EQ(unit.Ask(0x01, 0x0C), (Bytes{3, 7, 9, 5, 3, 24, 0}));  // 2024-03-05 09:07:03
    unit.Time().Advance(std::chrono::seconds(61));
    EXPECT_EQ(unit.Ask(0x01, 0x0C), (Bytes{4, 8, 9, 5, 3, 24, 0}));
    EXPECT_EQ(unit.Ask(0x01, 0x0B, Bytes{59, 59, 23, 28, 2, 24, 0x5A}), Bytes{});
    unit.Time().Advance(std::chrono::seconds(2));
    EXPECT_EQ(unit.Ask(0x01, 0x0C), (Bytes{1, 0, 0, 29, 2, 24, 0x5A}));  // 2024 is a leap year
    // Not a date: no answer, clock unchanged.
    EXPECT_FALSE(unit.Ask(0x01, 0x0B, Bytes{0, 0, 0, 29, 2, 23, 0}));
    EXPECT_FALSE(unit.Ask(0x01, 0x0B, Bytes{0, 60, 0, 1, 1, 23, 0}));
    EXPECT_FALSE(unit.Ask(0x01, 0x0B, Bytes{0, 0, 0, 1, 1, 23}));
    EXPECT_EQ((*unit.Ask(0x01, 0x0C))[3], 29);
}

TEST(DeviceCommands, CalendarOfTheDevice) {
    EXPECT_EQ(ToDeviceSeconds(DateTime{}), 0u);
    EXPECT_EQ(ToDeviceSeconds(DateTime{3, 7, 9, 5, 3, 24}), test::kTestClock);
    EXPECT_EQ(ParseClockText("2024-03-05 09:07:03"), test::kTestClock);
    EXPECT_EQ(ParseClockText("2024-03-05T09:07:03"), test::kTestClock);
    EXPECT_FALSE(ParseClockText("2023-02-29 00:00:00"));
    EXPECT_FALSE(ParseClockText("1999-12-31 23:59:59"));
    EXPECT_FALSE(ParseClockText("2024-03-05 09:07"));
    for (std::uint64_t seconds : {0ull, 59ull, 86399ull, 86400ull * 366, 86400ull * 1461 - 1, 4000000000ull}) {
        EXPECT_EQ(ToDeviceSeconds(FromDeviceSeconds(seconds)), seconds) << seconds;
    }
    // Every fourth year from 2000 is a leap year on the device, 2100 too.
    DateTime feb29{0, 0, 0, 29, 2, 100};
    EXPECT_TRUE(IsValid(feb29));
}

TEST(DeviceCommands, ScreenTextsAreRecorded) {
    TestDevice unit;
    Bytes connection{'C', 'O', 'M', ' ', '7', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(unit.Ask(0x01, 0x06, connection), Bytes{});
    Bytes print{'{', 'Y', '1', '|', '*', '}', 'P', 'C', 0xC0, 0};
    EXPECT_EQ(unit.Ask(0x01, 0x07, print), Bytes{});
    EXPECT_EQ(unit.Device().Screen().Lines(),
              (std::vector<std::string>{"PC_CONNECTION COM 7", "PC_PRINT {Y1|*}PC\\xC0"}));

    SimOptions boot = TestOptions();
    boot.mainVersion = 0;
    TestDevice loader(boot);
    EXPECT_FALSE(loader.Ask(0x01, 0x06, connection));  // the PC-connection page is the main firmware's
    EXPECT_EQ(loader.Ask(0x01, 0x07, print), Bytes{});
}

TEST(DeviceCommands, ResetAnswersAndComesBackInTheAskedMode) {
    TestDevice unit;
    EXPECT_EQ(unit.Ask(0x01, 0x05, Bytes{0x03, 0x00, 0x00, 0x00, 0x0A}), Bytes{});
    EXPECT_EQ(unit.Device().PendingReset(), true);
    EXPECT_EQ(unit.Ask(0x01, 0x01)->at(2), 0x09);  // still running until the simulator restarts it
    unit.Device().CompleteReset();
    EXPECT_TRUE(unit.Device().InBootMode());
    EXPECT_EQ(GetU16(*unit.Ask(0x01, 0x01), 2), 0);
    EXPECT_FALSE(unit.ReadParameter(kParamUnits));  // parameters belong to the main firmware

    unit.Ask(0x01, 0x05, Bytes{0x02, 0x00, 0x00, 0x00, 0x0A});
    EXPECT_EQ(unit.Device().PendingReset(), false);
    unit.Device().CompleteReset();
    EXPECT_FALSE(unit.Device().PendingReset());
    EXPECT_EQ(GetU16(*unit.Ask(0x01, 0x01), 2), 0x0C09);
}

TEST(DeviceCommands, WithoutMainFirmwareTheBootLoaderStaysUntilOneIsWritten) {
    SimOptions options = TestOptions(Model::R520);
    options.mainVersion = 0;
    TestDevice unit(options);
    std::uint32_t start = unit.Device().Layout().firmwareStart;
    EXPECT_EQ(unit.Memory(start, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    unit.Device().RequestReset(false);
    unit.Device().CompleteReset();
    EXPECT_TRUE(unit.Device().InBootMode());

    EXPECT_TRUE(unit.Ask(0x03, 0x03, Bytes{0x00, 0x34, 0x00, 0x08, 4, 0x00, 0x20, 0x00, 0x20}, 3));
    unit.Device().RequestReset(false);
    unit.Device().CompleteReset();
    EXPECT_FALSE(unit.Device().InBootMode());
    EXPECT_EQ(unit.Device().RunningMainVersion(), ReleaseVersion(Model::R520));
}

// ---- identification memory -------------------------------------------------------------------

struct Descriptor {
    std::uint16_t cpuCode;
    std::uint32_t flashSize, inf1Address, firmwareStart;
};

Descriptor ReadDescriptor(TestDevice& unit) {
    auto softInfo = unit.Ask(0x01, 0x01);
    Bytes bytes;
    for (std::uint32_t offset = 0; offset < kDescriptorSize; offset += 16) {
        Bytes block = unit.Memory(GetU32(*softInfo, 4) + offset, 16);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    EXPECT_EQ(bytes.size(), kDescriptorSize);
    return {GetU16(bytes, 0), GetU32(bytes, 6), GetU32(bytes, 10), GetU32(bytes, 14)};
}

TEST(IdentityMemory, R630WithCpu9) {
    TestDevice unit;
    Descriptor descriptor = ReadDescriptor(unit);
    EXPECT_EQ(descriptor.cpuCode, 9);
    EXPECT_EQ(descriptor.flashSize, 0x10000u);
    EXPECT_EQ(descriptor.inf1Address, 0x08001FF0u);
    EXPECT_EQ(descriptor.firmwareStart, 0x08002000u);
    Bytes inf1 = unit.Memory(descriptor.inf1Address, 16);
    ASSERT_EQ(inf1.size(), 16u);
    EXPECT_EQ(inf1[1], 6);
    EXPECT_EQ(inf1[2], 41);
    EXPECT_EQ(Bytes(inf1.begin() + 9, inf1.begin() + 13), (Bytes{0x21, 0x43, 0x65, 0x87}));
    Uid uid = UidOf(unit.Device().Options());
    EXPECT_EQ(unit.Memory(0x1FF80050, 12), Bytes(uid.begin(), uid.end()));
    EXPECT_FALSE(unit.ReadMemory(0x1FFFF7E8, 12));
}

TEST(IdentityMemory, R520WithCpu5AndGivenIdentity) {
    SimOptions options = TestOptions(Model::R520);
    options.serialNumber = "9876543A";
    options.boardY = {2, 7};
    options.uid = ParseUid("00:11:22:33:44:55:66:77:88:99:AA:BB");
    ASSERT_TRUE(options.uid);
    TestDevice unit(options);
    Descriptor descriptor = ReadDescriptor(unit);
    EXPECT_EQ(descriptor.cpuCode, 5);
    EXPECT_EQ(descriptor.flashSize, 0x20000u);
    EXPECT_EQ(descriptor.firmwareStart, 0x08003400u);
    Bytes inf1 = unit.Memory(descriptor.inf1Address, 16);
    EXPECT_EQ(Bytes(inf1.begin() + 1, inf1.begin() + 5), (Bytes{4, 4, 2, 7}));
    EXPECT_EQ(Bytes(inf1.begin() + 9, inf1.begin() + 13), (Bytes{0x89, 0x67, 0x45, 0xA3}));
    EXPECT_EQ(unit.Memory(0x1FF80050, 12),
              (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB}));
}

TEST(IdentityMemory, Cpu1DescriptorNamesTheWrongInf1Address) {
    SimOptions options = TestOptions();
    options.cpuCode = 1;
    TestDevice unit(options);
    Descriptor descriptor = ReadDescriptor(unit);
    EXPECT_EQ(descriptor.inf1Address, 0x08002780u);
    EXPECT_EQ(descriptor.firmwareStart, 0x08002800u);
    Bytes inf1 = unit.Memory(0x080027F0, 16);
    auto expected = Inf1Bytes(options);
    EXPECT_EQ(inf1, Bytes(expected.begin(), expected.end()));
    EXPECT_NE(unit.Memory(0x08002780, 16), inf1);
    EXPECT_EQ(unit.Memory(0x1FFFF7E8, 12).size(), 12u);
}

TEST(IdentityMemory, OldBootLoaderKeepsTheIdentifierAtTheOldAddress) {
    SimOptions options = TestOptions();
    options.bootVersion = 0x0106;
    TestDevice unit(options);
    EXPECT_EQ(unit.Memory(0x1FFFF7E8, 12).size(), 12u);
    EXPECT_FALSE(unit.ReadMemory(0x1FF80050, 12));
    options.bootVersion = 0x0107;
    TestDevice newer(options);
    EXPECT_EQ(newer.Memory(0x1FF80050, 12).size(), 12u);
}

TEST(IdentityMemory, IdentifierFollowsTheSerialUnlessGiven) {
    SimOptions a = TestOptions(), b = TestOptions();
    b.serialNumber = "12345679";
    EXPECT_EQ(UidOf(a), UidOf(TestOptions()));
    EXPECT_NE(UidOf(a), UidOf(b));
    EXPECT_FALSE(ParseUid("0011"));
    EXPECT_FALSE(ParseUid("00112233445566778899AABG"));
    EXPECT_EQ(CpuFactsOf(9).pageSize, 128u);
    EXPECT_EQ(CpuFactsOf(3).uidAddress, 0x1FFF7590u);
    EXPECT_EQ(CpuFactsOf(258).uidAddress, 0x4926u);
}

// ---- parameters ------------------------------------------------------------------------------

TEST(Parameters, AnswerShapesAndFamilyDefaults) {
    TestDevice r630;
    EXPECT_EQ(r630.Ask(0x01, 0x0E, Bytes{0x07, 0x00}), (Bytes{0x07, 0x00, 0x08, 0x00, 0x00, 0x00}));
    std::map<std::uint16_t, std::uint32_t> expected630 = {{3, 0},  {4, 127}, {6, 0},  {7, 8},  {8, 14},
                                                          {9, 0},  {13, 1},  {14, 1}, {15, 1}, {16, 1},
                                                          {17, 3}, {18, 10}, {19, 1}, {20, 0}, {21, 7},
                                                          {22, 0}};
    for (auto [id, value] : expected630) EXPECT_EQ(r630.ReadParameter(id), value) << id;
    EXPECT_FALSE(r630.ReadParameter(30));

    TestDevice r520(TestOptions(Model::R520));
    for (auto [id, value] : std::map<std::uint16_t, std::uint32_t>{{3, 1}, {4, 100}, {6, 1}, {20, 1}, {21, 0}, {30, 0}}) {
        EXPECT_EQ(r520.ReadParameter(id), value) << id;
    }
    EXPECT_FALSE(r520.ReadParameter(22));
    EXPECT_FALSE(r520.ReadParameter(0x1234));
}

TEST(Parameters, WriteKeepsValuesInRangeAndAnswersTheValueKept) {
    TestDevice unit;
    EXPECT_EQ(unit.Ask(0x01, 0x0F, Bytes{0x07, 0x00, 0x0F, 0x00, 0x00, 0x00}), (Bytes{0x07, 0x00, 0x0F, 0x00, 0x00, 0x00}));
    EXPECT_EQ(unit.ReadParameter(7), 15u);
    EXPECT_EQ(unit.WriteParameter(7, 16), 15u);  // out of range: the old value stays
    EXPECT_EQ(unit.WriteParameter(4, 135), 135u);
    EXPECT_EQ(unit.WriteParameter(4, 9), 135u);
    EXPECT_EQ(unit.WriteParameter(0xC001, 5), kRateAddress);  // read only
    EXPECT_FALSE(unit.WriteParameter(0x1234, 1));
    EXPECT_EQ(unit.WriteParameter(kCommandParameter, kExchangeBegin), kExchangeBegin);
    EXPECT_TRUE(unit.Device().InExchange());
    EXPECT_EQ(unit.WriteParameter(kCommandParameter, 0x12345678), 0x12345678u);
    EXPECT_EQ(unit.ReadParameter(kCommandParameter), 0u);
    EXPECT_FALSE(unit.Ask(0x01, 0x0F, Bytes{0x07, 0x00, 0x01}));
}

TEST(Parameters, PresetsOverrideDefaultsAndComputedValues) {
    SimOptions options = TestOptions();
    options.parameters = {{7, 20}, {0xC021, 0x00FF0100}};
    TestDevice unit(options);
    EXPECT_EQ(unit.ReadParameter(7), 20u);  // outside the list, as a device may report it
    EXPECT_EQ(unit.ReadParameter(0xC021), 0x00FF0100u);
    EXPECT_EQ(unit.WriteParameter(7, 3), 3u);
}

// ---- live values -----------------------------------------------------------------------------

TEST(LiveValues, AddressParametersPointAtMovingValues) {
    TestDevice unit;
    std::uint32_t rateAddress = *unit.ReadParameter(0xC001);
    std::uint32_t countAddress = *unit.ReadParameter(0xC004);
    std::uint32_t scaleAddress = *unit.ReadParameter(0xC002);
    std::set<std::uint32_t> rates;
    for (int second = 0; second < 60; ++second) {
        std::uint32_t rate = GetU32(unit.Memory(rateAddress, 4));
        std::uint32_t count = GetU32(unit.Memory(countAddress, 4));
        Bytes scale = unit.Memory(scaleAddress + 2, 1);
        // A background of 0.05 .. 0.40 uSv/h, counted in pulses of the last minute.
        EXPECT_GE(rate, 5u);
        EXPECT_LE(rate, 40u);
        EXPECT_EQ(count % 2, 0u);
        EXPECT_GT(count, 0u);
        EXPECT_EQ(scale, Bytes{static_cast<std::uint8_t>(rate)});
        rates.insert(rate);
        unit.Time().Advance(std::chrono::seconds(1));
    }
    EXPECT_GT(rates.size(), 3u);
}

TEST(LiveValues, SameSeedSameReadings) {
    auto readings = [](std::uint64_t seed) {
        SimOptions options = TestOptions();
        options.seed = seed;
        TestDevice unit(options);
        std::vector<std::uint32_t> values;
        for (int i = 0; i < 20; ++i) {
            values.push_back(GetU32(unit.Memory(kRateAddress, 4)));
            values.push_back(GetU32(unit.Memory(kCountAddress, 4)));
            unit.Time().Advance(std::chrono::seconds(7));
        }
        return values;
    };
    EXPECT_EQ(readings(5), readings(5));
    EXPECT_NE(readings(5), readings(6));
}

TEST(LiveValues, DoseTextAfterPrepareGrowsAndResets) {
    TestDevice unit;
    EXPECT_EQ(unit.Memory(kDoseTextAddress, 10), Bytes(10, 0));  // nothing until prepared
    unit.WriteParameter(kCommandParameter, kPrepareDoseText);
    std::string first = Text(unit.Memory(*unit.ReadParameter(0xC015), 10));
    EXPECT_EQ(Text(unit.Memory(*unit.ReadParameter(0xC016), 10)), "uSv");
    EXPECT_NE(first.find(','), std::string::npos) << first;
    double before = unit.Device().RefreshLive().DoseMicrosievert();
    unit.Time().Advance(std::chrono::hours(10));
    unit.WriteParameter(kCommandParameter, kPrepareDoseText);
    EXPECT_NE(Text(unit.Memory(kDoseTextAddress, 10)), first);
    EXPECT_GT(unit.Device().RefreshLive().DoseMicrosievert(), before + 0.5);

    unit.WriteParameter(kParamUnits, 1);
    unit.WriteParameter(kCommandParameter, kPrepareDoseText);
    EXPECT_EQ(Text(unit.Memory(kDoseUnitAddress, 10)).substr(1), "R");  // uR or mR
    unit.WriteParameter(kParamUnits, 2);
    unit.WriteParameter(kCommandParameter, kResetDose);
    unit.WriteParameter(kCommandParameter, kPrepareDoseText);
    EXPECT_EQ(Text(unit.Memory(kDoseTextAddress, 10)), "0");
    EXPECT_EQ(Text(unit.Memory(kDoseUnitAddress, 10)), "PULSES");
    unit.WriteParameter(kParamUnits, 0);
    unit.WriteParameter(kCommandParameter, kPrepareDoseText);
    EXPECT_EQ(Text(unit.Memory(kDoseTextAddress, 10)), "0,00");
}

}  // namespace
}  // namespace kalvo::devsim
