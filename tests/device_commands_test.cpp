// The command set against a device played by the test: exact request bytes, which answers are
// accepted, and which failures show their text.
#include <gtest/gtest.h>

#include <map>

#include "app/context.h"
#include "support/pty_peer.h"
#include "support/recording_ui_port.h"
#include "support/scripted_device.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using test::Bytes;
using Calls = std::vector<std::string>;

Bytes Le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the played device answers; every field can be changed by a test before the device starts.
struct DeviceScript {
    std::uint16_t boot = 0x0401;
    std::uint16_t main = 0x0203;
    std::uint32_t descriptorAddress = 0x08000200;
    std::uint16_t cpuCode = 9;
    Bytes board{0x76, 0x02, 41, 0};  // 630, revision 41
    // Answer data per command code (first two payload bytes); overrides the defaults below.
    std::map<std::uint16_t, Bytes> fixed;
    // Commands that get no answer at all, and a memory address whose reads get none.
    std::vector<std::uint16_t> silent;
    std::uint32_t silentAddress = 0xFFFFFFFF;

    std::vector<Bytes> Respond(const Bytes& request) const {
        std::uint16_t code = static_cast<std::uint16_t>(request[4] << 8 | request[5]);
        for (std::uint16_t each : silent)
            if (each == code) return {};
        Bytes data;
        if (auto it = fixed.find(code); it != fixed.end()) {
            data = it->second;
        } else if (code == 0x0101) {
            data = Cat({{static_cast<std::uint8_t>(boot), static_cast<std::uint8_t>(boot >> 8),
                         static_cast<std::uint8_t>(main), static_cast<std::uint8_t>(main >> 8)},
                        Le32(descriptorAddress)});
        } else if (code == 0x010A) {
            data = board;
        } else if (code == 0x0102 || code == 0x0202) {
            // Memory: the descriptor's CPU code, zeros elsewhere.
            std::uint32_t address = request[6] | request[7] << 8 | request[8] << 16 | static_cast<std::uint32_t>(request[9]) << 24;
            if (address == silentAddress) return {};
            Bytes bytes(request[10], 0);
            if (address == descriptorAddress && !bytes.empty()) {
                bytes[0] = static_cast<std::uint8_t>(cpuCode);
                if (bytes.size() > 1) bytes[1] = static_cast<std::uint8_t>(cpuCode >> 8);
            }
            data = Cat({Le32(address), {0}, bytes});
        } else if (code == 0x0203 || code == 0x0303 || code == 0x0306) {
            data = Bytes(request.begin() + 6, request.begin() + 11);
        } else if (code == 0x010C) {
            data = {1, 2, 3, 4, 5, 24, 0};
        } else if (code == 0x010E || code == 0x010F) {
            data = Bytes(request.begin() + 6, request.end());
            data.resize(6, 0);
        }
        return {test::PtyPeer::AnswerTo(request, data)};
    }
};

class DeviceCommandsTest : public ::testing::Test {
protected:
    DeviceCommandsTest() : peer(folder.Path(), 5), context(ui, PortDirectory(folder.Path(), false)) {
        context.port.SetPortNumber(5);
        EXPECT_TRUE(context.port.Open(kBaudRate));
    }

    void Start() {
        device = std::make_unique<test::ScriptedDevice>(peer, [this](const Bytes& r) { return script.Respond(r); });
    }
    // Payloads sent with the given first code byte pair.
    std::vector<Bytes> Sent(std::uint8_t code0, std::uint8_t code1) {
        std::vector<Bytes> sent;
        for (const Bytes& p : device->Payloads())
            if (p[0] == code0 && p[1] == code1) sent.push_back(p);
        return sent;
    }
    std::vector<Bytes> SentOnChannel(int channel) {
        std::vector<Bytes> sent;
        for (const Bytes& r : device->Requests())
            if (r[3] == channel) sent.emplace_back(r.begin() + 4, r.end());
        return sent;
    }

    test::TempFolder folder;
    test::PtyPeer peer;
    test::RecordingUiPort ui;
    AppContext context;
    DeviceScript script;
    std::unique_ptr<test::ScriptedDevice> device;
    DeviceCommands& commands = context.commands;
};

TEST_F(DeviceCommandsTest, RequestBytesOfEachCommand) {
    Start();
    std::uint8_t buffer[32];
    EXPECT_EQ(commands.ReadMemory(0x08001000, buffer, 16, false), 16);
    EXPECT_EQ(commands.ReadEflash(0x00100000, buffer, 32, false), 32);
    const Bytes data{1, 2, 3};
    EXPECT_TRUE(commands.WriteEflash(0x1000, data.data(), 3, false));
    EXPECT_TRUE(commands.EraseEflashSector(0x2000, false));
    EXPECT_TRUE(commands.ResetDevice(kResetToBoot, false));
    TimeRecord time{10, 20, 13, 8, 12, 26, 0};
    EXPECT_TRUE(commands.WriteDeviceTime(time));
    ParameterRecord parameter;
    parameter.id = 7;
    EXPECT_TRUE(commands.ReadParameter(parameter, false));
    parameter.id = 0xFF00;
    parameter.SetValue(0xC0BA0012);
    EXPECT_TRUE(commands.WriteParameter(parameter));

    EXPECT_EQ(Sent(0x01, 0x02)[0], (Bytes{0x01, 0x02, 0x00, 0x10, 0x00, 0x08, 0x10}));
    EXPECT_EQ(SentOnChannel(2), (std::vector<Bytes>{{0x02, 0x02, 0x00, 0x00, 0x10, 0x00, 0x20},
                                                    {0x02, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 1, 2, 3},
                                                    {0x02, 0x05, 0x00, 0x20, 0x00, 0x00}}));
    EXPECT_EQ(Sent(0x01, 0x05)[0], (Bytes{0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(Sent(0x01, 0x0B)[0], (Bytes{0x01, 0x0B, 10, 20, 13, 8, 12, 26, 0}));
    EXPECT_EQ(Sent(0x01, 0x0E)[0], (Bytes{0x01, 0x0E, 0x07, 0x00}));
    EXPECT_EQ(Sent(0x01, 0x0F)[0], (Bytes{0x01, 0x0F, 0x00, 0xFF, 0x12, 0x00, 0xBA, 0xC0}));
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(DeviceCommandsTest, CpuFlashCodesFollowTheFirmware) {
    script.boot = 0x0501;
    Start();
    const Bytes data(128, 0xAB);
    // Nothing known yet: the old codes.
    EXPECT_TRUE(commands.WriteCpuFlash(0x08004000, data.data(), 128, false));
    EXPECT_TRUE(commands.EraseCpuFlashPage(0x08004000, false));
    SoftInfo info;
    ASSERT_TRUE(commands.ReadSoftInfo(info, false));  // boot 5.x keeps the old codes
    EXPECT_TRUE(commands.EraseCpuFlashPage(0x08004000, false));
    context.identification.StoreSoftInfo({0x0401, 0x0203, 0});
    EXPECT_TRUE(commands.WriteCpuFlash(0x08004000, data.data(), 128, false));
    EXPECT_TRUE(commands.EraseCpuFlashPage(0x08004080, false));
    context.identification.StoreSoftInfo({0x0401, 0, 0});  // boot mode
    EXPECT_TRUE(commands.EraseCpuFlashPage(0x08004000, false));
    EXPECT_FALSE(commands.WriteCpuFlash(0x08004000, data.data(), 129, false));  // refused unsent

    auto sent = SentOnChannel(3);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 7), (Bytes{0x03, 0x03, 0x00, 0x40, 0x00, 0x08, 0x80}));
    EXPECT_EQ(sent[0].size(), 7u + 128u);
    EXPECT_EQ(sent[1], (Bytes{0x03, 0x05, 0x00, 0x40, 0x00, 0x08}));
    EXPECT_EQ(sent[2][1], 0x05);
    EXPECT_EQ(sent[3][1], 0x06);
    EXPECT_EQ(sent[4], (Bytes{0x03, 0x07, 0x80, 0x40, 0x00, 0x08}));
    EXPECT_EQ(sent[5][1], 0x05);
}

TEST_F(DeviceCommandsTest, BlockAnswersAreChecked) {
    std::uint8_t buffer[16] = {};
    // Fewer bytes than asked: accepted, and the count says so.
    script.fixed[0x0102] = Cat({Le32(0x1000), {0}, {9, 8, 7}});
    Start();
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 16, true), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{9, 8, 7}));
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 2, true), -1);   // more than asked
    EXPECT_EQ(commands.ReadMemory(0x1004, buffer, 16, true), -1);  // another address
    // A short read inside a multi-block read is not taken for the whole.
    EXPECT_EQ(commands.ReadMemoryBlocks(0x1000, buffer, 16, true), -1);
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 0, true), -1);
    EXPECT_EQ(commands.ReadMemory(0x1000, nullptr, 4, true), -1);
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(DeviceCommandsTest, AnswersOfTheWrongSizeFailWithoutADialog) {
    script.fixed[0x0101] = Bytes(7, 0);
    script.fixed[0x0203] = {0x00, 0x10, 0x00, 0x00, 0x02};  // length echo 2, not 3
    script.fixed[0x010E] = Bytes(10, 0);
    script.fixed[0x010F] = Bytes(5, 0);
    script.fixed[0x010A] = Bytes(5, 0);
    Start();
    SoftInfo info;
    EXPECT_FALSE(commands.ReadSoftInfo(info, true));
    const Bytes data{1, 2, 3};
    EXPECT_FALSE(commands.WriteEflash(0x1000, data.data(), 3, true));
    ParameterRecord parameter;
    parameter.id = 3;
    EXPECT_FALSE(commands.ReadParameter(parameter, true));
    EXPECT_FALSE(commands.WriteParameter(parameter));
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(DeviceCommandsTest, ParameterAndClockAnswersAreCopied) {
    Bytes longAnswer = Cat({{0x05, 0x00}, Le32(0x11223344)});
    for (int i = 0; i < 16; ++i) longAnswer.push_back(static_cast<std::uint8_t>(i));
    script.fixed[0x010E] = longAnswer;
    script.fixed[0x010F] = Cat({{0x04, 0x00}, Le32(127)});  // the device keeps another value
    script.fixed[0x010C] = {59, 58, 23, 31, 12, 26, 7, 0xEE};  // 8 bytes: the last is ignored
    Start();
    ParameterRecord parameter;
    parameter.id = 5;
    ASSERT_TRUE(commands.ReadParameter(parameter, false));
    EXPECT_EQ(parameter.Value(), 0x11223344u);
    EXPECT_EQ(parameter.further[15], 15);
    parameter.id = 4;
    parameter.SetValue(130);
    ASSERT_TRUE(commands.WriteParameter(parameter));
    EXPECT_EQ(parameter.Value(), 127u);
    TimeRecord time{};
    ASSERT_TRUE(commands.ReadDeviceTime(time));
    EXPECT_EQ(time, (TimeRecord{59, 58, 23, 31, 12, 26, 7}));
}

TEST_F(DeviceCommandsTest, ScreenTextsAreCutAndNeedTheirMode) {
    Start();
    EXPECT_TRUE(commands.SendPcConnection("ABCDEFGHIJKLMNOPQRST", false));
    EXPECT_TRUE(commands.SendPcPrint("Hello", false));
    EXPECT_TRUE(commands.SendPcPrint(std::string(200, 'x'), false));
    EXPECT_EQ(Sent(0x01, 0x06)[0], Cat({{0x01, 0x06}, Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M'},
                                        Bytes(1, 0)}));
    EXPECT_EQ(Sent(0x01, 0x07)[0], (Bytes{0x01, 0x07, 'H', 'e', 'l', 'l', 'o', 0}));
    EXPECT_EQ(Sent(0x01, 0x07)[1].size(), 128u);

    // In the boot loader: no PC-connection text; PC-print only from boot 2.0 on.
    context.identification.StoreSoftInfo({0x0401, 0, script.descriptorAddress});
    device->Clear();
    EXPECT_FALSE(commands.SendPcConnection("PC", false));
    EXPECT_TRUE(commands.SendPcPrint("boot", false));
    context.identification.StoreSoftInfo({0x0105, 0, script.descriptorAddress});
    EXPECT_FALSE(commands.SendPcPrint("old boot", false));
    EXPECT_EQ(Sent(0x01, 0x06).size(), 0u);
    EXPECT_EQ(Sent(0x01, 0x07).size(), 1u);
}

TEST_F(DeviceCommandsTest, MemoryIsReadInBlocksOfSixteen) {
    Start();
    std::uint8_t buffer[48];
    EXPECT_EQ(commands.ReadMemoryBlocks(0x2000, buffer, 48, false), 48);
    EXPECT_EQ(commands.ReadMemoryBlocks(0x3000, buffer, 12, false), 12);
    EXPECT_EQ(commands.ReadMemoryBlocks(0x4000, buffer, 20, false), 20);
    auto sent = Sent(0x01, 0x02);
    std::vector<Bytes> tails;
    for (const Bytes& p : sent) tails.emplace_back(p.begin() + 2, p.end());
    EXPECT_EQ(tails, (std::vector<Bytes>{{0x00, 0x20, 0, 0, 16},
                                         {0x10, 0x20, 0, 0, 16},
                                         {0x20, 0x20, 0, 0, 16},
                                         {0x00, 0x30, 0, 0, 12},
                                         {0x00, 0x40, 0, 0, 16},
                                         {0x10, 0x40, 0, 0, 4}}));
    EXPECT_EQ(DeviceCommands::EflashSectorOf(0x00100FFF), 0x100u);
    EXPECT_EQ(DeviceCommands::EflashSectorOf(0x007FFFFF), 0x7FFu);
    EXPECT_EQ(DeviceCommands::EflashSectorOf(0x00800000), 2047u);
}

TEST_F(DeviceCommandsTest, ClockNeedsAClockCapableBoard) {
    script.boot = 0x0305;  // taken for a 415 of revision 0
    Start();
    TimeRecord time{};
    EXPECT_FALSE(commands.ReadDeviceTime(time));
    EXPECT_FALSE(commands.WriteDeviceTime(time));
    EXPECT_TRUE(Sent(0x01, 0x0C).empty());
    EXPECT_TRUE(Sent(0x01, 0x0A).empty());
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(DeviceCommandsTest, FailureTextsShownAsTheRulesSay) {
    script.silent = {0x010F, 0x010C};
    script.silentAddress = 0x1000;
    Start();
    std::uint8_t buffer[4];
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 4, false), -1);
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 4, true), -1);
    ParameterRecord parameter;
    EXPECT_FALSE(commands.WriteParameter(parameter));
    TimeRecord time{};
    EXPECT_FALSE(commands.ReadDeviceTime(time));
    EXPECT_EQ(ui.calls, (Calls{"error: No answer in Reading", "error: No answer - Parameter WRITE",
                               "error: No answer - TIME READ"}));
}

TEST_F(DeviceCommandsTest, AClosedPortSendsNothing) {
    context.port.Close();
    Start();
    std::uint8_t buffer[4];
    EXPECT_EQ(commands.ReadMemory(0x1000, buffer, 4, true), -1);
    ParameterRecord parameter;
    EXPECT_FALSE(commands.WriteParameter(parameter));
    EXPECT_EQ(device->Count(), 0);
    EXPECT_TRUE(ui.calls.empty());
}

}  // namespace
}  // namespace kalvo
