// Arbitrary bytes into the reader side of the link: decoder, dispatch, answer queues. Builds
// only the link over a port that is never opened, so each input costs microseconds.
// Checks: every frame the decoder completes re-encodes and decodes to itself; each channel's
// queue holds exactly the first frames of at least 6 bytes addressed to it, in order, up to its
// capacity; feeding the bytes in two pieces gives the same queues as in one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "link/link.h"

namespace {

class NullUi : public kalvo::UiPort {
public:
    void ShowMessage(kalvo::MessageKind, const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
    void ShowStatus(const std::string&, kalvo::StatusStyle) override {}
    void ShowProgress(int, int) override {}
    void ReplaceLastLogLine(const std::string&) override {}
    void ShowBusy() override {}
    void HideBusy() override {}
    void Pump() override {}
    void Wait(int) override {}
};

class ClosedPort : public kalvo::SerialPort {
public:
    explicit ClosedPort(const kalvo::PortDirectory& directory) : SerialPort(directory) {}

protected:
    void OnReceive(std::size_t) override {}
};

struct LinkUnderTest {
    NullUi ui;
    kalvo::PortDirectory directory{"/nonexistent", false};
    ClosedPort port{directory};
    kalvo::Link link{port, ui};
};

using kalvo::fuzz::Check;

using Frame = std::vector<std::uint8_t>;

// The frames each channel should hold, from a decoder of its own.
std::vector<Frame> ExpectedQueue(const std::uint8_t* data, std::size_t size, int id) {
    std::vector<Frame> frames;
    kalvo::FrameCodec decoder;
    for (std::size_t i = 0; i < size; ++i) {
        if (!decoder.Decode(data[i])) continue;
        const std::uint8_t* frame = decoder.Frame();
        std::size_t length = decoder.FrameLength();
        if (length < 6 || (frame[1] & 0x1F) != id) continue;
        if (frames.size() < static_cast<std::size_t>(kalvo::LinkChannel::kQueueCapacity))
            frames.emplace_back(frame, frame + length);
    }
    return frames;
}

// Empties a channel the way Transact consumes it, comparing each head with `expected`.
void DrainAndCompare(kalvo::Link& link, int id, const std::vector<Frame>& expected) {
    kalvo::LinkChannel* channel = link.Channel(id);
    Check(channel != nullptr);
    Check(channel->answerCount == channel->queue.Count());
    Check(channel->answerCount == static_cast<int>(expected.size()));
    for (const Frame& frame : expected) {
        Check(channel->currentAnswer != nullptr);
        Check(channel->currentLength == static_cast<int>(frame.size()));
        Check(std::memcmp(channel->currentAnswer, frame.data(), frame.size()) == 0);
        Check(link.AnswerLength(channel) == static_cast<int>(frame.size()) - 6);
        Check(link.AnswerLength(channel) <= 249);
        Check(link.AnswerData(channel) == channel->currentAnswer + 6);
        channel->queue.Pop();
        --channel->answerCount;
        channel->RefreshCurrent();
    }
    Check(channel->currentAnswer == nullptr && channel->currentLength == 0);
    Check(link.AnswerLength(channel) == 0 && link.AnswerData(channel) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;

    FrameCodec decoder;
    for (std::size_t i = 0; i < size; ++i) {
        if (!decoder.Decode(data[i])) continue;
        Check(decoder.FrameLength() <= 253);
        FrameCodec again;
        Check(again.Encode(decoder.Frame(), decoder.FrameLength()));
        Check(again.OutputLength() <= FrameCodec::kOutputSize);
        bool done = false;
        for (std::uint16_t k = 0; k < again.OutputLength(); ++k) {
            Check(!done);  // one frame, completed by its last byte only
            done = again.Decode(again.Output()[k]);
        }
        Check(done && again.FrameLength() == decoder.FrameLength());
        Check(std::memcmp(again.Frame(), decoder.Frame(), decoder.FrameLength()) == 0);
    }

    LinkUnderTest whole;
    whole.link.Receive(data, size);
    LinkUnderTest pieces;
    std::size_t split = size ? data[0] % (size + 1) : 0;
    pieces.link.Receive(data, split);
    pieces.link.Receive(data + split, size - split);

    for (int id = 1; id <= 3; ++id) {
        std::vector<Frame> expected = ExpectedQueue(data, size, id);
        DrainAndCompare(whole.link, id, expected);
        DrainAndCompare(pieces.link, id, expected);
    }
    // Frames for other addresses have nowhere to go.
    Check(whole.link.Channel(0) == nullptr && whole.link.Channel(4) == nullptr);
    return 0;
}
