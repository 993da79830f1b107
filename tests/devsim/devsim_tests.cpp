// The simulator's parts in-process: frames, command table, faults, pacing, command line, trace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "devsim/answer_writer.h"
#include "devsim/command_line.h"
#include "devsim/device_commands.h"
#include "devsim/fault_injector.h"
#include "devsim/frame_io.h"
#include "devsim/trace.h"
#include "devsim_test_support.h"
#include "link/frame_codec.h"

namespace kalvo::devsim {
namespace {

using test::With;

using Bytes = std::vector<std::uint8_t>;


const Bytes kVantegor = {0x56, 0x61, 0x6E, 0x74, 0x65, 0x67, 0x6F, 0x72};
const Bytes kVantegorRequestWire = {0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x56, 0x61,
                                    0x6E, 0x74, 0x65, 0x67, 0x6F, 0x72, 0xAE, 0x03, 0xC0};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Decodes wire bytes the way the program does; every complete frame, header first.
std::vector<Bytes> DecodeAll(const Bytes& wire) {
    FrameCodec codec;
    std::vector<Bytes> frames;
    for (std::uint8_t byte : wire) {
        if (codec.Decode(byte)) frames.emplace_back(codec.Frame(), codec.Frame() + codec.FrameLength());
    }
    return frames;
}

// What the simulator sends back for one request frame, through the same steps as its loop.
Bytes AnswerWireFor(const Bytes& requestWire, SimDevice& device, const CommandTable& table) {
    RequestDecoder decoder;
    std::vector<InboundFrame> frames = decoder.Feed(requestWire);
    if (frames.size() != 1 || frames[0].kind != InboundFrame::Kind::Request) return {};
    DispatchResult result = table.Dispatch(device, frames[0].channel, frames[0].payload);
    if (result.outcome != DispatchResult::Outcome::Answered) return {};
    Bytes payload = MakeAnswerPayload(frames[0].payload[0], frames[0].payload[1], result.data);
    return EncodeFrame(BuildAnswerFrame(frames[0].channel, payload));
}

// ---- frames ----------------------------------------------------------------------------------

TEST(FrameIo, ConnectionTestRequestIsEncodedAsTheProgramSendsIt) {
    Bytes payload = Concat({0x01, 0x00}, kVantegor);
    EXPECT_EQ(EncodeFrame(BuildRequestFrame(1, payload)), kVantegorRequestWire);
}

TEST(FrameIo, DecodesTheConnectionTestRequest) {
    RequestDecoder decoder;
    std::vector<InboundFrame> frames = decoder.Feed(kVantegorRequestWire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, InboundFrame::Kind::Request);
    EXPECT_EQ(frames[0].channel, 1);
    EXPECT_EQ(frames[0].payload, Concat({0x01, 0x00}, kVantegor));
}

TEST(FrameIo, DecodesRequestsSplitAcrossReadsAndBackToBack) {
    RequestDecoder decoder;
    Bytes second = EncodeFrame(BuildRequestFrame(2, Bytes{0x02, 0x05, 0x00, 0x10, 0x00, 0x00}));
    Bytes wire = Concat(kVantegorRequestWire, second);
    std::vector<InboundFrame> frames;
    for (std::size_t i = 0; i < wire.size(); i += 5) {
        std::span<const std::uint8_t> piece(wire.data() + i, std::min<std::size_t>(5, wire.size() - i));
        for (InboundFrame& frame : decoder.Feed(piece)) frames.push_back(std::move(frame));
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].channel, 2);
    EXPECT_EQ(frames[1].payload, (Bytes{0x02, 0x05, 0x00, 0x10, 0x00, 0x00}));
}

TEST(FrameIo, FrameWithoutCommandCodeIsTooShort) {
    EXPECT_EQ(ClassifyFrame(Bytes{0x00, 0x01, 0x00, 0x01, 0x01}).kind, InboundFrame::Kind::TooShort);
    EXPECT_EQ(ClassifyFrame(Bytes{0x00, 0x01, 0x00, 0x01}).kind, InboundFrame::Kind::TooShort);
    EXPECT_EQ(ClassifyFrame(Bytes{}).kind, InboundFrame::Kind::TooShort);
    EXPECT_EQ(ClassifyFrame(Bytes{0x00, 0x01, 0x00, 0x01, 0x01, 0x00}).kind, InboundFrame::Kind::Request);
}

TEST(FrameIo, FrameForAnotherAddressIsNotARequest) {
    InboundFrame frame = ClassifyFrame(Bytes{0x00, 0x02, 0x00, 0x01, 0x01, 0x00});
    EXPECT_EQ(frame.kind, InboundFrame::Kind::OtherAddress);
}

TEST(FrameIo, AnswerPayloadSetsTheAnswerFlagInTheFirstCodeByteOnly) {
    EXPECT_EQ(MakeAnswerPayload(0x01, 0x0E, Bytes{0xAA}), (Bytes{0x41, 0x0E, 0xAA}));
    EXPECT_EQ(MakeAnswerPayload(0x02, 0x45, Bytes{}), (Bytes{0x42, 0x45}));
}

TEST(FrameIo, AnswerHeaderAddressesTheRequestingChannelFromTheDevice) {
    Bytes frame = BuildAnswerFrame(3, Bytes{0x43, 0x03});
    EXPECT_EQ(frame, (Bytes{0x00, 0x03, 0x00, 0x01, 0x43, 0x03}));
}

TEST(FrameIo, FrameLongerThanTheProgramTakesIsNotEncoded) {
    EXPECT_FALSE(EncodeFrame(Bytes(kMaxFrameBytes, 0x11)).empty());
    EXPECT_TRUE(EncodeFrame(Bytes(kMaxFrameBytes + 1, 0x11)).empty());
}

// ---- command table ---------------------------------------------------------------------------

TEST(CommandTable, ConnectionTestAnswerIsTheWorkedExample) {
    SimDevice device(SimOptions::ForModel(Model::R630));
    CommandTable table = MakeDeviceCommandTable();
    std::vector<Bytes> frames = DecodeAll(AnswerWireFor(kVantegorRequestWire, device, table));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Concat({0x00, 0x01, 0x00, 0x01, 0x41, 0x00}, kVantegor));
}

TEST(CommandTable, EchoReturnsTheFieldsUnchanged) {
    SimDevice device(SimOptions{});
    CommandTable table = MakeDeviceCommandTable();
    Bytes echo = {0xC0, 0xDB, 0x00, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C};
    DispatchResult result = table.Dispatch(device, 1, Concat({0x01, 0x00}, echo));
    EXPECT_EQ(result.outcome, DispatchResult::Outcome::Answered);
    EXPECT_EQ(result.name, "ConnectionTest");
    EXPECT_EQ(result.data, echo);
    // Stuffed bytes in the echo survive the round trip.
    Bytes request = EncodeFrame(BuildRequestFrame(1, Concat({0x01, 0x00}, echo)));
    std::vector<Bytes> frames = DecodeAll(AnswerWireFor(request, device, table));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Concat({0x00, 0x01, 0x00, 0x01, 0x41, 0x00}, echo));
}

TEST(CommandTable, UnknownCommandGetsNoAnswer) {
    SimDevice device(SimOptions{});
    CommandTable table = MakeDeviceCommandTable();
    EXPECT_EQ(table.Dispatch(device, 1, Bytes{0x01, 0x7F}).outcome, DispatchResult::Outcome::Unknown);
    // An echo of an answer is not a request.
    EXPECT_EQ(table.Dispatch(device, 1, Bytes{0x41, 0x00, 0x56}).outcome, DispatchResult::Outcome::Unknown);
    EXPECT_EQ(table.Dispatch(device, 1, Bytes{0x01}).outcome, DispatchResult::Outcome::Unknown);
    EXPECT_TRUE(AnswerWireFor(EncodeFrame(BuildRequestFrame(1, Bytes{0x01, 0x7E})), device, table).empty());
}

TEST(CommandTable, HandlerSeesChannelAndFieldsAndMayStaySilent) {
    SimDevice device(SimOptions{});
    CommandTable table;
    int seenChannel = 0;
    Bytes seenFields;
    table.Register(MakeCode(0x02, 0x05), "EraseEflashSector",
                   [&](SimDevice&, int channel, std::span<const std::uint8_t> fields) -> AnswerData {
                       seenChannel = channel;
                       seenFields.assign(fields.begin(), fields.end());
                       return std::nullopt;
                   });
    DispatchResult result = table.Dispatch(device, 2, Bytes{0x02, 0x05, 0x00, 0x10, 0x00, 0x00});
    EXPECT_EQ(result.outcome, DispatchResult::Outcome::Silent);
    EXPECT_EQ(seenChannel, 2);
    EXPECT_EQ(seenFields, (Bytes{0x00, 0x10, 0x00, 0x00}));
}

TEST(CommandTable, LaterRegistrationReplacesTheEarlierOne) {
    SimDevice device(SimOptions{});
    CommandTable table = MakeDeviceCommandTable();
    std::size_t size = table.Size();
    table.Register(kConnectionTest, "Other", [](SimDevice&, int, std::span<const std::uint8_t>) -> AnswerData {
        return Bytes{0x99};
    });
    EXPECT_EQ(table.Size(), size);
    EXPECT_EQ(table.Dispatch(device, 1, Bytes{0x01, 0x00, 0x01}).data, Bytes{0x99});
}

TEST(CommandTable, CodeKeepsTheFirstByteHigh) {
    EXPECT_EQ(MakeCode(0x01, 0x00), 0x0100);
    EXPECT_EQ(MakeCode(0x03, 0x07), 0x0307);
    EXPECT_TRUE(MakeDeviceCommandTable().Contains(0x0100));
}

// ---- faults ----------------------------------------------------------------------------------

TEST(FaultInjector, DropsEveryNthRequestCountingFromOne) {
    FaultInjector faults(With(&FaultOptions::dropRequestEvery, 2));
    std::vector<bool> dropped;
    for (int i = 0; i < 6; ++i) dropped.push_back(faults.DropRequest());
    EXPECT_EQ(dropped, (std::vector<bool>{false, true, false, true, false, true}));
    EXPECT_EQ(faults.RequestsSeen(), 6u);
}

TEST(FaultInjector, DropEveryOneDropsAllAndZeroNone) {
    FaultInjector all(With(&FaultOptions::dropRequestEvery, 1));
    FaultInjector none;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(all.DropRequest());
        EXPECT_FALSE(none.DropRequest());
    }
}

TEST(FaultInjector, FlipsOneBitOfEveryNthAnswerSoTheReceiverDropsIt) {
    FaultInjector faults(With(&FaultOptions::flipBitEvery, 3));
    Bytes clean = EncodeFrame(BuildAnswerFrame(1, Concat({0x41, 0x00}, kVantegor)));
    for (unsigned n = 1; n <= 6; ++n) {
        Bytes wire = clean;
        std::optional<std::size_t> index = faults.CorruptAnswer(wire);
        if (n % 3 != 0) {
            EXPECT_FALSE(index) << n;
            EXPECT_EQ(wire, clean);
            continue;
        }
        ASSERT_TRUE(index) << n;
        int differing = 0;
        for (std::size_t i = 0; i < wire.size(); ++i) {
            if (wire[i] != clean[i]) differing += __builtin_popcount(wire[i] ^ clean[i]);
        }
        EXPECT_EQ(differing, 1);
        EXPECT_TRUE(DecodeAll(wire).empty());
        // The line resynchronises: a good frame right after is taken.
        EXPECT_EQ(DecodeAll(Concat(wire, clean)).size(), 1u);
    }
}

TEST(FaultInjector, FlipNeverMakesFrameOrEscapeBytes) {
    // C1 would become C0 with bit 0, DA would become DB; escape pairs are left alone.
    Bytes wire = EncodeFrame(BuildAnswerFrame(1, Bytes{0xC0, 0xDB, 0xC1, 0xDA}));
    Bytes original = wire;
    std::optional<std::size_t> index = FlipOneBit(wire);
    ASSERT_TRUE(index);
    EXPECT_NE(wire[*index], 0xC0);
    EXPECT_NE(wire[*index], 0xDB);
    EXPECT_NE(original[*index], 0xDB);
    EXPECT_NE(original[*index - 1], 0xDB);
    EXPECT_TRUE(DecodeAll(wire).empty());
}

TEST(FaultInjector, AnswersRunOutOnlyWhenVanishingIsAsked) {
    FaultInjector never;
    EXPECT_FALSE(never.AnswersExhausted(1000));
    FaultInjector afterTwo(With(&FaultOptions::vanishAfter, std::optional<unsigned>(2)));
    EXPECT_FALSE(afterTwo.AnswersExhausted(1));
    EXPECT_TRUE(afterTwo.AnswersExhausted(2));
}

TEST(FaultInjector, PercentFaultsAreRepeatableUnderASeed) {
    auto drops = [](std::uint64_t seed) {
        FaultOptions options;
        options.dropPercent = 5;
        options.seed = seed;
        FaultInjector faults(options);
        std::vector<bool> dropped;
        for (int i = 0; i < 2000; ++i) dropped.push_back(faults.DropRequest());
        return dropped;
    };
    std::vector<bool> first = drops(3);
    auto count = std::count(first.begin(), first.end(), true);
    EXPECT_GT(count, 60);
    EXPECT_LT(count, 140);
    EXPECT_EQ(first, drops(3));
    EXPECT_NE(first, drops(4));

    FaultOptions options;
    options.corruptPercent = 100;
    FaultInjector always(options);
    Bytes clean = EncodeFrame(BuildAnswerFrame(1, Concat({0x41, 0x00}, kVantegor)));
    Bytes wire = clean;
    EXPECT_TRUE(always.CorruptAnswer(wire));
    EXPECT_TRUE(DecodeAll(wire).empty());
    FaultInjector never;
    wire = clean;
    EXPECT_FALSE(never.CorruptAnswer(wire));
}

// ---- pacing ----------------------------------------------------------------------------------

struct FakeLine {
    std::vector<std::pair<AnswerWriter::Clock::time_point, Bytes>> writes;
    AnswerWriter::Clock::time_point now{};
    std::size_t room = SIZE_MAX;

    AnswerWriter::WriteFn Writer() {
        return [this](const std::uint8_t* bytes, std::size_t count) -> ssize_t {
            if (room == 0) {
                errno = EAGAIN;
                return -1;
            }
            std::size_t taken = std::min(count, room);
            room -= std::min(room, taken);
            writes.emplace_back(now, Bytes(bytes, bytes + taken));
            return static_cast<ssize_t>(taken);
        };
    }
};

OutgoingAnswer AnswerOf(std::size_t size) {
    OutgoingAnswer answer;
    answer.channel = 1;
    answer.wire.assign(size, 0x55);
    return answer;
}

TEST(AnswerWriter, UnpacedAnswerGoesOutInOneWriteWhenDue) {
    AnswerWriter writer(0);
    FakeLine line;
    line.now = AnswerWriter::Clock::time_point{} + std::chrono::seconds(1);
    writer.Queue(line.now, AnswerOf(300));
    EXPECT_EQ(writer.NextDeadline(), line.now);
    std::vector<OutgoingAnswer> done = writer.Service(line.now, line.Writer());
    ASSERT_EQ(done.size(), 1u);
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0].second.size(), 300u);
    EXPECT_TRUE(writer.Idle());
    EXPECT_FALSE(writer.NextDeadline());
}

TEST(AnswerWriter, PacedAnswerIsWrittenInChunksAtByteTimeDeadlines) {
    AnswerWriter writer(230400);
    FakeLine line;
    auto start = AnswerWriter::Clock::time_point{} + std::chrono::seconds(1);
    line.now = start;
    writer.Queue(start, AnswerOf(40));
    EXPECT_TRUE(writer.Service(line.now, line.Writer()).empty());
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0].second.size(), AnswerWriter::kChunk);
    // The next chunk is due once the first one has left the line: 16 bytes of 10 bits.
    auto second = start + writer.TimeOf(AnswerWriter::kChunk);
    EXPECT_EQ(writer.NextDeadline(), second);
    EXPECT_EQ(writer.TimeOf(16), std::chrono::nanoseconds(16LL * 10'000'000'000LL / 230400));
    line.now = second - std::chrono::microseconds(1);
    writer.Service(line.now, line.Writer());
    EXPECT_EQ(line.writes.size(), 1u);
    line.now = second;
    writer.Service(line.now, line.Writer());
    line.now = start + writer.TimeOf(32);
    std::vector<OutgoingAnswer> done = writer.Service(line.now, line.Writer());
    ASSERT_EQ(done.size(), 1u);
    ASSERT_EQ(line.writes.size(), 3u);
    EXPECT_EQ(line.writes[2].second.size(), 8u);
    EXPECT_EQ(writer.LineFreeAt(), start + writer.TimeOf(40));
}

TEST(AnswerWriter, DelayedAnswerWaitsForItsTimeAndTheNextWaitsForTheLine) {
    AnswerWriter writer(9600);
    FakeLine line;
    auto now = AnswerWriter::Clock::time_point{} + std::chrono::seconds(1);
    writer.Queue(now + std::chrono::milliseconds(50), AnswerOf(10));
    writer.Queue(now + std::chrono::milliseconds(51), AnswerOf(10));
    line.now = now;
    writer.Service(line.now, line.Writer());
    EXPECT_TRUE(line.writes.empty());
    EXPECT_EQ(writer.NextDeadline(), now + std::chrono::milliseconds(50));
    line.now = now + std::chrono::milliseconds(50);
    EXPECT_EQ(writer.Service(line.now, line.Writer()).size(), 1u);
    // Ten bytes at 9600 baud take about 10.4 ms, so the second frame starts after that.
    EXPECT_EQ(writer.NextDeadline(), now + std::chrono::milliseconds(50) + writer.TimeOf(10));
}

TEST(AnswerWriter, FullLineWaitsForRoomAndThenGoesOn) {
    AnswerWriter writer(0);
    FakeLine line;
    line.room = 5;
    writer.Queue(line.now, AnswerOf(12));
    EXPECT_TRUE(writer.Service(line.now, line.Writer()).empty());
    EXPECT_TRUE(writer.WaitingForRoom());
    EXPECT_FALSE(writer.NextDeadline());
    line.room = SIZE_MAX;
    EXPECT_EQ(writer.Service(line.now, line.Writer()).size(), 1u);
    EXPECT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(line.writes[1].second.size(), 7u);
    EXPECT_FALSE(writer.WaitingForRoom());
}

// ---- command line ----------------------------------------------------------------------------

SimConfig Parse(std::vector<std::string> arguments) {
    ParseOutcome outcome = ParseCommandLine(arguments);
    EXPECT_TRUE(outcome.config) << outcome.error;
    return outcome.config.value_or(SimConfig{});
}

TEST(CommandLine, DefaultsAreAnAcceptedR630AtTheProgramsRate) {
    SimConfig config = Parse({});
    EXPECT_EQ(config.device.model, Model::R630);
    EXPECT_EQ(config.device.revision, 41);
    EXPECT_EQ(config.device.cpuCode, 9);
    EXPECT_EQ(config.device.bootVersion, 0x0401);
    EXPECT_NE(config.device.mainVersion, 0);
    EXPECT_EQ(config.baud, 230400);
    EXPECT_FALSE(config.com);
    EXPECT_FALSE(config.faults.vanishAfter);
    EXPECT_EQ(config.faults.dropRequestEvery, 0u);
}

TEST(CommandLine, R520DefaultsAndOverridesInAnyOrder) {
    SimConfig config = Parse({"--revision", "3", "--model", "r520", "--serial=987-65432", "--main-version", "0",
                              "--flash-size", "64K", "--boot-version", "0x0402", "--com=12"});
    EXPECT_EQ(config.device.model, Model::R520);
    EXPECT_EQ(config.device.revision, 3);
    EXPECT_EQ(config.device.variant, 1);
    EXPECT_EQ(config.device.cpuCode, 5);
    EXPECT_EQ(config.device.serialNumber, "98765432");
    EXPECT_EQ(config.device.mainVersion, 0);
    EXPECT_TRUE(SimDevice(config.device).InBootMode());
    EXPECT_EQ(config.device.flashSize, 0x10000u);
    EXPECT_EQ(config.device.bootVersion, 0x0402);
    EXPECT_EQ(config.com, 12);
    EXPECT_EQ(SimDevice(config.device).BoardCode(), 520);
}

TEST(CommandLine, TransportAndFaultOptions) {
    SimConfig config = Parse({"--baud", "0", "--trace", "/tmp/x", "--drop-request", "2", "--flip-bit", "3",
                              "--delay-ms", "250", "--vanish-after", "4"});
    EXPECT_EQ(config.baud, 0);
    EXPECT_EQ(config.traceFile, "/tmp/x");
    EXPECT_EQ(config.faults.dropRequestEvery, 2u);
    EXPECT_EQ(config.faults.flipBitEvery, 3u);
    EXPECT_EQ(config.faults.answerDelay, std::chrono::milliseconds(250));
    EXPECT_EQ(config.faults.vanishAfter, 4u);
}

TEST(CommandLine, FullDeviceOptions) {
    SimConfig config = Parse({"--board-type", "8", "--board-number=3", "--board-y", "1:2", "--uid",
                              "00112233445566778899AABB", "--seed", "42", "--history", "wrapped", "--clock",
                              "2024-03-05 09:07:03", "--param", "7=20", "--param=0xC023=0x1", "--reset-downtime-ms",
                              "200", "--screen-log", "/tmp/s", "--dump-eflash", "/tmp/e", "--dump-cpuflash", "/tmp/c",
                              "--dump-history", "/tmp/h", "--drop-percent", "2.5", "--corrupt-percent", "1",
                              "--eflash-size", "2M"});
    EXPECT_EQ(config.device.boardType, 8);
    EXPECT_EQ(config.device.boardNumber, 3);
    EXPECT_EQ(config.device.boardY, (std::array<std::uint8_t, 2>{1, 2}));
    ASSERT_TRUE(config.device.uid);
    EXPECT_EQ((*config.device.uid)[11], 0xBB);
    EXPECT_EQ(config.device.seed, 42u);
    EXPECT_EQ(config.device.history, HistoryKind::Wrapped);
    EXPECT_EQ(config.device.clock, 762944823u);
    EXPECT_EQ(config.device.parameters,
              (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{7, 20}, {0xC023, 1}}));
    EXPECT_EQ(config.resetDowntime, std::chrono::milliseconds(200));
    EXPECT_EQ(config.screenLog, "/tmp/s");
    EXPECT_EQ(config.dumps.eflash, "/tmp/e");
    EXPECT_EQ(config.dumps.cpuFlash, "/tmp/c");
    EXPECT_EQ(config.dumps.history, "/tmp/h");
    EXPECT_DOUBLE_EQ(config.faults.dropPercent, 2.5);
    EXPECT_DOUBLE_EQ(config.faults.corruptPercent, 1);
    EXPECT_EQ(config.faults.seed, 42u);
    EXPECT_EQ(config.device.eflashSize, 0x200000u);
    // Defaults: board number follows the revision, type the model.
    SimConfig r520 = Parse({"--model", "r520", "--revision", "3"});
    EXPECT_EQ(r520.device.boardType, 4);
    EXPECT_EQ(r520.device.boardNumber, 3);
    EXPECT_EQ(r520.device.history, HistoryKind::Short);
    EXPECT_EQ(r520.resetDowntime, std::chrono::milliseconds(1500));
    EXPECT_FALSE(r520.device.clock);
}

TEST(CommandLine, RejectsUnknownOptionsAndBadValues) {
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"com", "7"}, {"--com"}, {"--com", "0"}, {"--com", "251"}, {"--com", "x"}, {"--model", "r999"},
             {"--serial", "1234"}, {"--boot-version", "4.300"}, {"--baud", "-1"}, {"--flash-size", "5G"},
             {"--history", "long"}, {"--eflash-size", "1M"}, {"--eflash-size", "0x200001"}, {"--drop-percent", "101"},
             {"--corrupt-percent", "x"}, {"--param", "7"}, {"--param", "7=x"}, {"--clock", "2024-02-30 00:00:00"},
             {"--uid", "0011"}, {"--board-y", "1"}, {"--seed", "-1"}}) {
        ParseOutcome outcome = ParseCommandLine(bad);
        EXPECT_FALSE(outcome.config) << bad[0];
        EXPECT_FALSE(outcome.error.empty());
    }
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_NE(UsageText().find("--vanish-after"), std::string::npos);
}

TEST(CommandLine, ValueParsers) {
    EXPECT_EQ(ParseVersion("4.1"), 0x0401);
    EXPECT_EQ(ParseVersion("12.3"), 0x0C03);
    EXPECT_EQ(ParseVersion("0"), 0);
    EXPECT_EQ(ParseVersion("1025"), 0x0401);
    EXPECT_FALSE(ParseVersion("4."));
    EXPECT_EQ(ParseSerialNumber("123-45678"), "12345678");
    EXPECT_EQ(ParseSerialNumber("f-ff-fffff"), "FFFFFFFF");
    EXPECT_FALSE(ParseSerialNumber("12345g78"));
    EXPECT_EQ(ParseSize("8M"), 8u * 1024 * 1024);
    EXPECT_EQ(ParseSize("0x10000"), 0x10000u);
    EXPECT_EQ(ParseModel("R520"), Model::R520);
}

// ---- trace -----------------------------------------------------------------------------------

TEST(Trace, LinesForRequestsAnswersAndNotes) {
    char folder[] = "/tmp/devsim-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/trace.txt";
    {
        Trace trace;
        ASSERT_TRUE(trace.Open(path));
        trace.Request(1, Concat({0x01, 0x00}, kVantegor));
        trace.Answer(1, Bytes{0x41, 0x00, 0xAB});
        trace.Note("unknown command 01 7F on ch1: no answer");
        trace.Request(2, Bytes{});
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "> ch1 01 00 56 61 6E 74 65 67 6F 72\n"
              "< ch1 41 00 AB\n"
              "! unknown command 01 7F on ch1: no answer\n"
              "> ch2\n");
    ::unlink(path.c_str());
    ::rmdir(folder);
}

TEST(Trace, DisabledTraceWritesNothing) {
    Trace trace;
    EXPECT_FALSE(trace.Enabled());
    trace.Note("nothing");
    EXPECT_EQ(HexBytes(Bytes{0x0A, 0xFF, 0x00}), "0A FF 00");
}

}  // namespace
}  // namespace kalvo::devsim
