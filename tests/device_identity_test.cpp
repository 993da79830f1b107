#include <gtest/gtest.h>

#include <vector>

#include "link/device_answers.h"
#include "link/device_identity.h"

namespace kalvo {
namespace {

Inf1Record Inf1(std::uint8_t type, std::uint8_t number, std::uint8_t y1, std::uint8_t y2) {
    Inf1Record inf1{};
    inf1[1] = type;
    inf1[2] = number;
    inf1[3] = y1;
    inf1[4] = y2;
    inf1[9] = 0x21;
    inf1[10] = 0x43;
    inf1[11] = 0x65;
    inf1[12] = 0x87;
    return inf1;
}

TEST(DeviceIdentityText, SerialUidAndVersions) {
    Inf1Record inf1 = Inf1(6, 3, 0, 0);
    EXPECT_EQ(FormatSerial(inf1), "123-45678");
    EXPECT_EQ(FormatSerialForFolder(inf1), "1-23-45678");
    inf1[12] = 0xFA;  // not BCD: shown as hexadecimal digits
    EXPECT_EQ(FormatSerial(inf1), "123-456AF");

    DeviceUid uid{0x00, 0x1F, 0xA0, 0xFF, 1, 2, 3, 4, 5, 6, 7, 0xAB};
    EXPECT_EQ(FormatUid(uid), "00:1F:A0:FF:01:02:03:04:05:06:07:AB");

    EXPECT_EQ(FormatVersion(0x0401), "4.1");
    EXPECT_EQ(FormatVersion(0x020C), "2.12");
    EXPECT_EQ(FormatVersion(0), "0.0");
}

TEST(DeviceIdentityText, BoardAndBoardY) {
    EXPECT_EQ(BoardText(Inf1(6, 3, 0, 0)), "RKD-630.3");
    EXPECT_EQ(BoardText(Inf1(8, 12, 0, 0)), "RKD-520.12");
    EXPECT_EQ(BoardText(Inf1(1, 0, 0, 0)), "RKD-415.0");
    EXPECT_EQ(BoardText(Inf1(13, 1, 0, 0)), "UNKNOWN");
    EXPECT_EQ(BoardText(Inf1(0, 1, 0, 0)), "UNKNOWN");

    EXPECT_EQ(BoardYText(Inf1(6, 3, 2, 17)), "(2:17)");
    EXPECT_EQ(BoardYText(Inf1(1, 0, 1, 1)), "F4:L=104");
    EXPECT_EQ(BoardYText(Inf1(1, 0, 1, 2)), "F4:L=373");
    EXPECT_EQ(BoardYText(Inf1(1, 0, 1, 3)), "F4:L=107_New_ПЭ");
    EXPECT_EQ(BoardYText(Inf1(1, 0, 1, 9)), "F4:L=ERR");
    EXPECT_EQ(BoardYText(Inf1(1, 0, 2, 3)), "(2:3)");  // only sub-number 1 names the F4 board
    EXPECT_EQ(BoardYText(Inf1(6, 0, 1, 1)), "(1:1)");
}

TEST(DeviceIdentityCodes, BoardTypesAndClockCapableBoards) {
    EXPECT_EQ(BoardCodeOfType(1), 415);
    EXPECT_EQ(BoardCodeOfType(4), 520);
    EXPECT_EQ(BoardCodeOfType(8), 520);
    EXPECT_EQ(BoardCodeOfType(6), 630);
    std::vector<int> further;
    for (std::uint8_t type : {std::uint8_t{2}, std::uint8_t{3}, std::uint8_t{5}, std::uint8_t{7}, std::uint8_t{9},
                              std::uint8_t{10}, std::uint8_t{11}, std::uint8_t{12}}) {
        std::optional<int> code = BoardCodeOfType(type);
        ASSERT_TRUE(code);
        EXPECT_NE(*code, 0);
        EXPECT_NE(*code, 415);
        EXPECT_NE(*code, 520);
        EXPECT_NE(*code, 630);
        EXPECT_EQ(std::count(further.begin(), further.end(), *code), 0);
        further.push_back(*code);
        EXPECT_TRUE(ClockCapable(*code, 0));
    }
    EXPECT_FALSE(BoardCodeOfType(0));
    EXPECT_FALSE(BoardCodeOfType(13));

    EXPECT_TRUE(ClockCapable(630, 41));
    EXPECT_TRUE(ClockCapable(520, 2));
    EXPECT_TRUE(ClockCapable(415, 40));
    EXPECT_FALSE(ClockCapable(415, 39));
    EXPECT_FALSE(ClockCapable(0, 0));
    EXPECT_FALSE(ClockCapable(999, 50));
}

TEST(DeviceIdentityCodes, CpuTable) {
    struct Row {
        std::uint16_t code;
        std::uint32_t page, uid;
        bool small;
    };
    for (Row row : {Row{1, 1024, 0x1FFFF7E8, false}, Row{3, 2048, 0x1FFF7590, false}, Row{4, 2048, 0x1FF80050, false},
                    Row{8, 256, 0x1FF80050, false}, Row{9, 128, 0x1FF80050, true}, Row{10, 1024, 0x1FFFF7E8, false},
                    Row{13, 2048, 0x1FFFF7E8, false}, Row{260, 128, 0x4926, true}, Row{14, 0, 0, true},
                    Row{0, 0, 0, true}}) {
        CpuFacts facts = CpuFactsOf(row.code);
        EXPECT_EQ(facts.pageSize, row.page) << row.code;
        EXPECT_EQ(facts.uidAddress, row.uid) << row.code;
        EXPECT_EQ(facts.smallPage, row.small) << row.code;
    }
}

TEST(DeviceIdentityRecords, LittleEndianFields) {
    const std::uint8_t soft[] = {0x01, 0x04, 0x03, 0x02, 0x00, 0x02, 0x00, 0x08};
    SoftInfo info = SoftInfo::FromBytes(soft);
    EXPECT_EQ(info.bootVersion, 0x0401);
    EXPECT_EQ(info.mainVersion, 0x0203);
    EXPECT_EQ(info.descriptorAddress, 0x08000200u);
    EXPECT_FALSE(info.InBootMode());

    std::uint8_t descriptor[48] = {9, 0, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0x00, 0x80, 0x27, 0x00, 0x08, 0x00, 0x40, 0x00, 0x08};
    CpuDescriptor cpu = CpuDescriptor::FromBytes(descriptor);
    EXPECT_EQ(cpu.cpuCode, 9);
    EXPECT_EQ(cpu.flashSize, 0x10000u);
    EXPECT_EQ(cpu.inf1Address, 0x08002780u);
    EXPECT_EQ(cpu.firmwareStart, 0x08004000u);

    const std::uint8_t board[] = {0x08, 0x02, 4, 2};
    BoardInfo info520 = BoardInfo::FromBytes(board);
    EXPECT_EQ(info520.boardCode, 520);
    EXPECT_EQ(info520.revision, 4);
    EXPECT_EQ(info520.variant, 2);
}

// Each answer is accepted only at the lengths its command gives; a refused answer leaves the
// output alone, and a block read copies no more than was asked for.
TEST(DeviceAnswers, LengthsAndEchoesDecideAcceptance) {
    using Bytes = std::vector<std::uint8_t>;
    auto sized = [](int length) {
        Bytes bytes(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
        return bytes;
    };
    for (int length = 0; length <= 24; ++length) {
        Bytes answer = sized(length);
        const std::uint8_t* p = length ? answer.data() : nullptr;
        EXPECT_EQ(DecodeSoftInfoAnswer(p, length).has_value(), length == 8) << length;
        EXPECT_EQ(DecodeBoardInfoAnswer(p, length).has_value(), length == 4) << length;
        EXPECT_EQ(DecodeTimeAnswer(p, length).has_value(), length == 7 || length == 8) << length;
        ParameterRecord record;
        record.id = 0x1234;
        EXPECT_EQ(DecodeParameterAnswer(p, length, record), length == 6 || length == 22) << length;
        EXPECT_EQ(record.id, length == 6 || length == 22 ? 0x0201 : 0x1234) << length;
        EXPECT_EQ(record.further[0], length == 22 ? 7 : 0) << length;
        ParameterRecord written;
        EXPECT_EQ(DecodeParameterWriteAnswer(p, length, written), length == 6) << length;
        EXPECT_EQ(written.Value(), length == 6 ? 0x06050403u : 0u) << length;
    }
    // A write took only when the value kept is the one sent; the command parameter's answer
    // is no kept value.
    EXPECT_TRUE(ParameterWriteKept(4, 150, 150));
    EXPECT_FALSE(ParameterWriteKept(4, 150, 127));
    EXPECT_FALSE(ParameterWriteKept(16, 3, 0x00000103));
    EXPECT_TRUE(ParameterWriteKept(0xFF00, 0xC0BA0012, 0));
    const Bytes clock{5, 4, 3, 2, 1, 26, 0, 0xEE};
    EXPECT_EQ(DecodeTimeAnswer(clock.data(), 8), (TimeRecord{5, 4, 3, 2, 1, 26, 0}));

    // Address 0x08002780 echoed, one byte, then the data.
    const Bytes block{0x80, 0x27, 0x00, 0x08, 16, 0xA1, 0xA2, 0xA3};
    std::uint8_t buffer[3] = {};
    EXPECT_EQ(DecodeBlockReadAnswer(block.data(), 8, 0x08002780, 3, buffer), 3);
    EXPECT_EQ(buffer[2], 0xA3);
    EXPECT_EQ(DecodeBlockReadAnswer(block.data(), 8, 0x08002780, 2, buffer), -1);  // more than asked
    EXPECT_EQ(DecodeBlockReadAnswer(block.data(), 8, 0x08002781, 3, buffer), -1);
    EXPECT_EQ(DecodeBlockReadAnswer(block.data(), 5, 0x08002780, 3, buffer), 0);
    EXPECT_EQ(DecodeBlockReadAnswer(block.data(), 4, 0x08002780, 3, buffer), -1);
    EXPECT_EQ(DecodeBlockReadAnswer(nullptr, 0, 0, 3, buffer), -1);
    EXPECT_TRUE(BlockWriteAnswerMatches(block.data(), 5, 0x08002780, 16));
    EXPECT_FALSE(BlockWriteAnswerMatches(block.data(), 5, 0x08002780, 15));
    EXPECT_FALSE(BlockWriteAnswerMatches(block.data(), 6, 0x08002780, 16));

    const Bytes echo{'V', 'a', 'n', 't', 'e', 'g', 'o', 'r', 0};
    EXPECT_TRUE(EchoAnswerMatches(echo.data(), 8, echo.data(), 8));
    EXPECT_TRUE(EchoAnswerMatches(echo.data(), 9, echo.data(), 8));
    EXPECT_FALSE(EchoAnswerMatches(echo.data(), 7, echo.data(), 8));
    EXPECT_FALSE(EchoAnswerMatches(echo.data(), 1, echo.data(), 1));  // an echo is at least two bytes
    EXPECT_FALSE(EchoAnswerMatches(nullptr, 0, echo.data(), 0));
}

}  // namespace
}  // namespace kalvo
