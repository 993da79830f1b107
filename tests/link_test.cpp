#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "app/context.h"
#include "support/pty_peer.h"
#include "support/recording_ui_port.h"
#include "support/scripted_device.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using test::Bytes;
using namespace std::chrono_literals;

const Bytes kPattern{'V', 'a', 'n', 't', 'e', 'g', 'o', 'r'};

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

TEST(AnswerQueue, RefusesTooSmallACapacity) {
    try {
        AnswerQueue queue(2);
        FAIL() << "capacity 2 accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Слишком маленький буфер");
    }
    AnswerQueue queue(3);
    Bytes frame{1, 2, 3};
    EXPECT_TRUE(queue.Push(frame.data(), 3));
    EXPECT_TRUE(queue.Push(frame.data(), 3));
    EXPECT_TRUE(queue.Push(frame.data(), 3));
    EXPECT_FALSE(queue.Push(frame.data(), 3));  // full
    EXPECT_FALSE(queue.Push(frame.data(), 0));
    EXPECT_TRUE(queue.Pop());
    Bytes big(1000, 0);
    EXPECT_FALSE(queue.Push(big.data(), big.size()));
    EXPECT_TRUE(queue.Push(big.data(), 999));
}

TEST(LinkChannel, IdsAreFiveBitAddresses) {
    EXPECT_EQ(LinkChannel(1).Id(), 1);
    EXPECT_EQ(LinkChannel(31).Id(), 31);
    EXPECT_EQ(LinkChannel(0).Id(), -1);
    EXPECT_EQ(LinkChannel(32).Id(), -1);
}

// A link in a context of its own, with COM 5 as a pseudo-terminal whose far end the test plays.
class LinkTest : public ::testing::Test {
protected:
    LinkTest() : peer(folder.Path(), 5), context(ui, PortDirectory(folder.Path(), false)) {}

    void OpenPort() {
        context.port.SetPortNumber(5);
        ASSERT_TRUE(context.port.Open(kBaudRate));
    }

    // Feeds raw wire bytes straight into the link, as the reader thread does.
    void Feed(const Bytes& frame) {
        FrameCodec encoder;
        encoder.Encode(frame.data(), frame.size());
        context.link.Receive(encoder.Output(), encoder.OutputLength());
    }

    void StartDevice(test::ScriptedDevice::Respond respond) {
        device = std::make_unique<test::ScriptedDevice>(peer, std::move(respond));
    }
    int Requests() { return device->Count(); }
    Bytes LastRequest() { return device->Requests().back(); }

    bool Transact(const Bytes& request, bool retry, std::string_view failure) {
        return context.link.Transact(context.link.Channel(1), request.data(), request.size(), retry, failure);
    }

    test::TempFolder folder;
    test::PtyPeer peer;
    test::RecordingUiPort ui;
    AppContext context;
    std::unique_ptr<test::ScriptedDevice> device;
};

TEST_F(LinkTest, DispatchRoutesByChannelAndDropsStrays) {
    LinkChannel* one = context.link.Channel(1);
    LinkChannel* two = context.link.Channel(2);
    ASSERT_TRUE(one && two && context.link.Channel(3));
    EXPECT_EQ(context.link.Channel(4), nullptr);

    Feed({0x00, 0x02, 0x00, 0x01, 0x42, 0x02, 0xAA});
    Feed({0x00, 0x09, 0x00, 0x01, 0x41, 0x00});  // no channel 9
    Feed({0x00, 0x01, 0x00, 0x01, 0x41});         // shorter than header and code
    EXPECT_EQ(one->answerCount, 0);
    ASSERT_EQ(two->answerCount, 1);
    EXPECT_EQ(context.link.AnswerLength(two), 1);
    EXPECT_EQ(context.link.AnswerData(two)[0], 0xAA);
    context.link.ClearAnswers(two);
    EXPECT_EQ(two->answerCount, 0);
    EXPECT_EQ(context.link.AnswerData(two), nullptr);
    EXPECT_EQ(context.link.AnswerLength(two), 0);
}

TEST_F(LinkTest, NothingIsSentOnAClosedPortOrWithoutARequest) {
    EXPECT_FALSE(Transact({0x01, 0x01}, true, "*"));
    EXPECT_TRUE(ui.calls.empty());  // no dialog: nothing was tried
    OpenPort();
    EXPECT_FALSE(Transact({0x01}, true, "*"));
    EXPECT_FALSE(context.link.Transact(nullptr, kPattern.data(), 2, true, "*"));
    EXPECT_FALSE(peer.ReadFrame(100ms));
}

TEST_F(LinkTest, SilentDeviceGetsThreeRequestsThenTheStandardText) {
    OpenPort();
    StartDevice([](const Bytes&) { return std::vector<Bytes>{}; });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Transact({0x01, 0x01}, true, "*"));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 2000ms);
    EXPECT_LT(took, 4000ms);
    device->Stop();
    EXPECT_EQ(Requests(), 3);
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x01, 0x00, 0x01, 0x01, 0x01}));
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"error: No answer from device"}));
    EXPECT_GT(ui.pumps, 0);
    EXPECT_EQ(context.link.Channel(1)->repeatCounter, 2);
}

TEST_F(LinkTest, WithoutRetryOneRequestAndAnEmptyTextMeansNoDialog) {
    OpenPort();
    StartDevice([](const Bytes&) { return std::vector<Bytes>{}; });
    EXPECT_FALSE(Transact({0x01, 0x01}, false, ""));
    device->Stop();
    EXPECT_EQ(Requests(), 1);
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(LinkTest, OnlyAnAnswerToThisCommandMatches) {
    OpenPort();
    // First an echo without the answer flag, then another command's answer, then a stray for
    // channel 2, and only then the answer.
    StartDevice([](const Bytes& request) {
        return std::vector<Bytes>{test::PtyPeer::AnswerTo(request, {9}, false),
                                  Bytes{0x00, 0x01, 0x00, 0x01, 0x41, 0x0E, 7},
                                  Bytes{0x00, 0x02, 0x00, 0x01, 0x41, 0x01, 6},
                                  test::PtyPeer::AnswerTo(request, {1, 2, 3})};
    });
    ASSERT_TRUE(Transact({0x01, 0x01}, true, "*"));
    LinkChannel* one = context.link.Channel(1);
    EXPECT_EQ(context.link.AnswerLength(one), 3);
    EXPECT_EQ(Bytes(context.link.AnswerData(one), context.link.AnswerData(one) + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(Requests(), 1);
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(LinkTest, ARetryRecoversALostRequest) {
    OpenPort();
    std::atomic<int> seen{0};
    StartDevice([&seen](const Bytes& request) {
        if (++seen == 1) return std::vector<Bytes>{};
        return std::vector<Bytes>{test::PtyPeer::AnswerTo(request, {})};
    });
    EXPECT_TRUE(Transact({0x01, 0x05}, true, "*"));
    EXPECT_EQ(Requests(), 2);
}

// A device for the repeat tests: writes echo address and length, erases answer nothing and take
// it 50 ms, parameters echo what was written. `hold` picks requests whose answer is held back
// (nothing sent); whatever `before` gives is sent ahead of a request's own answer.
struct RepeatDevice {
    std::function<bool(const Bytes& payload, int sending)> hold = [](const Bytes&, int) { return false; };
    std::function<std::vector<Bytes>(const Bytes& payload)> before = [](const Bytes&) { return std::vector<Bytes>{}; };
    std::mutex mutex;
    std::map<Bytes, std::vector<std::chrono::steady_clock::time_point>> arrivals;  // by payload

    std::vector<Bytes> Respond(const Bytes& request) {
        const Bytes payload(request.begin() + 4, request.end());
        int sending;
        {
            std::lock_guard lock(mutex);
            auto& times = arrivals[payload];
            times.push_back(std::chrono::steady_clock::now());
            sending = static_cast<int>(times.size());
        }
        if (hold(payload, sending)) return {};
        std::vector<Bytes> answers = before(payload);
        Bytes data;
        if (payload[1] == 0x03) data.assign(payload.begin() + 2, payload.begin() + 7);
        if (payload[1] == 0x05 && payload[0] == 0x02) std::this_thread::sleep_for(50ms);  // the erase itself
        if (payload[1] == 0x0F) data.assign(payload.begin() + 2, payload.end());
        answers.push_back(test::PtyPeer::AnswerTo(request, data));
        return answers;
    }
    std::vector<std::chrono::steady_clock::time_point> Arrivals(const Bytes& payload) {
        std::lock_guard lock(mutex);
        return arrivals[payload];
    }
};

Bytes WriteRequest(std::uint32_t address, const Bytes& data) {
    Bytes request{0x02, 0x03, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                  static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24),
                  static_cast<std::uint8_t>(data.size())};
    request.insert(request.end(), data.begin(), data.end());
    return request;
}

Bytes ParameterRequest(std::uint16_t id, std::uint32_t value) {
    return {0x01, 0x0F, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
            static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

TEST_F(LinkTest, WritesAndErasesRepeatAfterTheTimeLearntForTheirKind) {
    OpenPort();
    RepeatDevice script;
    const Bytes data{1, 2, 3, 4};
    // The first sending of the write at 0x3000 is lost; the answer to the first sending at 0x4000
    // comes only with the second, and the answer to that one comes late, ahead of the next write's.
    script.hold = [&](const Bytes& payload, int sending) {
        return sending == 1 && (payload == WriteRequest(0x3000, data) || payload == WriteRequest(0x4000, data) ||
                                payload == ParameterRequest(6, 1));
    };
    script.before = [&](const Bytes& payload) {
        std::vector<Bytes> late;
        if (payload == WriteRequest(0x4080, data))
            late.push_back(test::PtyPeer::AnswerTo(Cat({0x00, 0x01, 0x00, 0x02}, WriteRequest(0x4000, data)),
                                                   Bytes{0x00, 0x40, 0, 0, 4}));
        if (payload == ParameterRequest(7, 8))
            late.push_back(test::PtyPeer::AnswerTo(Cat({0x00, 0x01, 0x00, 0x01}, ParameterRequest(6, 1)),
                                                   Bytes{6, 0, 1, 0, 0, 0}));
        return late;
    };
    StartDevice([&script](const Bytes& request) { return script.Respond(request); });
    DeviceCommands& commands = context.commands;

    // Clean writes and erases: each kind learns its own time.
    for (std::uint32_t sector = 0; sector < 4; ++sector) {
        ASSERT_TRUE(commands.EraseEflashSector(0x10000 + sector * 0x1000, false));
        ASSERT_TRUE(commands.WriteEflash(0x10000 + sector * 0x1000, data.data(), 4, false));
    }
    const RoundTripEstimator write = context.link.RoundTripOf(0x02, 0x03);
    const RoundTripEstimator erase = context.link.RoundTripOf(0x02, 0x05);
    ASSERT_TRUE(write.Learnt() && erase.Learnt());
    EXPECT_GE(erase.SmoothedMs(), 45.0);
    EXPECT_LT(write.SmoothedMs(), erase.SmoothedMs());
    EXPECT_LT(write.TimeoutMs(0), RoundTripEstimator::kCeilingMs);
    EXPECT_FALSE(context.link.RoundTrip().Learnt());  // reads learn apart

    // The lost answer: sent again after the learnt time, which then doubles; erases keep theirs.
    ASSERT_TRUE(commands.WriteEflash(0x3000, data.data(), 4, false));
    EXPECT_GE(script.Arrivals(WriteRequest(0x3000, data)).size(), 2u);
    EXPECT_GE(context.link.RoundTripOf(0x02, 0x03).TimeoutMs(0), 2 * write.TimeoutMs(0));
    EXPECT_DOUBLE_EQ(context.link.RoundTripOf(0x02, 0x05).TimeoutMs(0), erase.TimeoutMs(0));

    // Late answers to the write before (and to the parameter before) are not taken for these.
    ASSERT_TRUE(commands.WriteEflash(0x4000, data.data(), 4, false));
    EXPECT_TRUE(commands.WriteEflash(0x4080, data.data(), 4, false));
    ParameterRecord parameter;
    parameter.id = 6;
    parameter.SetValue(1);
    ASSERT_TRUE(commands.WriteParameter(parameter));
    parameter.id = 7;
    parameter.SetValue(8);
    ASSERT_TRUE(commands.WriteParameter(parameter));
    EXPECT_EQ(parameter.Value(), 8u);
    EXPECT_EQ(script.Arrivals(WriteRequest(0x4080, data)).size(), 1u);
    EXPECT_TRUE(ui.calls.empty());
    device->Stop();  // before the script it plays goes
}

TEST_F(LinkTest, RestartsAndActionsKeepTheFixedWait) {
    OpenPort();
    RepeatDevice script;
    const Bytes reset{0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A};
    const Bytes erase = ParameterRequest(0xFF00, 0xC0BA0012);
    script.hold = [&](const Bytes& payload, int sending) { return sending == 1 && (payload == reset || payload == erase); };
    StartDevice([&script](const Bytes& request) { return script.Respond(request); });
    for (std::uint16_t id = 3; id < 8; ++id) {
        ParameterRecord setting;
        setting.id = id;
        ASSERT_TRUE(context.commands.WriteParameter(setting));
    }
    const RoundTripEstimator settings = context.link.RoundTripOf(0x01, 0x0F);
    ASSERT_TRUE(settings.Learnt());

    ASSERT_TRUE(context.commands.ResetDevice(0x0002, false));
    ParameterRecord action;
    action.id = 0xFF00;
    action.SetValue(0xC0BA0012);
    ASSERT_TRUE(context.commands.WriteParameter(action));
    for (const Bytes& payload : {reset, erase}) {
        auto arrivals = script.Arrivals(payload);
        ASSERT_EQ(arrivals.size(), 2u);
        // Far above the learnt time of a setting: the fixed wait (less what the pty may delay).
        EXPECT_GE(arrivals[1] - arrivals[0], 350ms);
    }
    EXPECT_FALSE(context.link.RoundTripOf(0x01, 0x05).Learnt());
    // The action neither learnt from nor backed off the settings' time.
    EXPECT_DOUBLE_EQ(context.link.RoundTripOf(0x01, 0x0F).TimeoutMs(0), settings.TimeoutMs(0));
    device->Stop();
}

TEST_F(LinkTest, ConnectionTestResults) {
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, false), -2);
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 0, false), -1);
    EXPECT_EQ(context.link.ConnectionTest(nullptr, 8, false), -1);
    OpenPort();

    // Echo, echo plus one byte, a wrong echo, a short echo.
    std::atomic<int> mode{0};
    StartDevice([&mode](const Bytes& request) {
        Bytes echo(request.begin() + 6, request.end());
        switch (mode.load()) {
        case 1: echo.push_back(0); break;
        case 2: echo[0] ^= 1; break;
        case 3: echo.resize(echo.size() - 1); break;
        default: break;
        }
        return std::vector<Bytes>{test::PtyPeer::AnswerTo(request, echo)};
    });
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, false), 1);
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 'V', 'a', 'n', 't', 'e', 'g', 'o', 'r'}));
    mode = 1;
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, false), 1);
    mode = 2;
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, false), 0);
    mode = 3;
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, false), 0);
    mode = 0;
    // Echoes longer than 16 bytes are cut to 16.
    Bytes longEcho(20, 'x');
    EXPECT_EQ(context.link.ConnectionTest(longEcho.data(), 20, false), 1);
    EXPECT_EQ(LastRequest().size(), 6u + 16u);
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(LinkTest, ConnectionTestShowsItsTextWhenAsked) {
    OpenPort();
    EXPECT_EQ(context.link.ConnectionTest(kPattern.data(), 8, true), 0);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"error: No answer in connection test"}));
}

TEST_F(LinkTest, LargeRequestsArriveWhole) {
    OpenPort();
    Bytes request{0x02, 0x03};
    for (int i = 0; i < 133; ++i) request.push_back(static_cast<std::uint8_t>(i % 2 ? 0xC0 : 0xDB));
    context.link.SendFrame(context.link.Channel(2), request.data(), request.size());
    auto frame = peer.ReadFrame(1000ms);
    ASSERT_TRUE(frame);
    Bytes expected{0x00, 0x01, 0x00, 0x02};
    expected.insert(expected.end(), request.begin(), request.end());
    EXPECT_EQ(*frame, expected);
}

}  // namespace
}  // namespace kalvo
