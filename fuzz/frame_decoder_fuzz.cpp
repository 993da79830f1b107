// Arbitrary bytes into the reader side of the link: decoder, dispatch, answer queues.
// Every frame the decoder completes must re-encode and decode to itself, and no queue may
// hold more than its capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/context.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    static NullUi ui;
    AppContext context(ui, PortDirectory("/nonexistent", false));

    FrameCodec decoder;
    for (std::size_t i = 0; i < size; ++i) {
        if (!decoder.Decode(data[i])) continue;
        if (decoder.FrameLength() > 253) std::abort();
        FrameCodec again;
        if (!again.Encode(decoder.Frame(), decoder.FrameLength())) std::abort();
        bool done = false;
        for (std::uint16_t k = 0; k < again.OutputLength(); ++k) done = again.Decode(again.Output()[k]);
        if (!done || again.FrameLength() != decoder.FrameLength() ||
            std::memcmp(again.Frame(), decoder.Frame(), decoder.FrameLength()) != 0)
            std::abort();
    }

    context.link.Receive(data, size);
    for (int id = 1; id <= 3; ++id) {
        LinkChannel* channel = context.link.Channel(id);
        if (channel->answerCount > LinkChannel::kQueueCapacity) std::abort();
        if (channel->answerCount != channel->queue.Count()) std::abort();
        if (context.link.AnswerLength(channel) > 249) std::abort();
    }
    return 0;
}
