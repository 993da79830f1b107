#include "devsim/frame_io.h"

namespace kalvo::devsim {

namespace {

constexpr std::uint8_t kAddressMask = 0x1F;

std::vector<std::uint8_t> BuildFrame(std::uint8_t destination, std::uint8_t source,
                                     std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame{0x00, destination, 0x00, source};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::uint8_t Address(int id) { return static_cast<std::uint8_t>(id & kAddressMask); }

}  // namespace

InboundFrame ClassifyFrame(std::span<const std::uint8_t> frame) {
    InboundFrame inbound;
    if (frame.size() < kHeaderSize + 2) return inbound;
    inbound.channel = frame[3] & kAddressMask;
    inbound.payload.assign(frame.begin() + kHeaderSize, frame.end());
    inbound.kind = (frame[1] & kAddressMask) == kDeviceAddress ? InboundFrame::Kind::Request
                                                               : InboundFrame::Kind::OtherAddress;
    return inbound;
}

std::vector<InboundFrame> RequestDecoder::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<InboundFrame> frames;
    for (std::uint8_t byte : bytes) {
        if (codec_.Decode(byte)) {
            frames.push_back(ClassifyFrame({codec_.Frame(), codec_.FrameLength()}));
        }
    }
    return frames;
}

std::vector<std::uint8_t> MakeAnswerPayload(std::uint8_t code0, std::uint8_t code1,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(code0 | kAnswerFlag), code1};
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

std::vector<std::uint8_t> BuildAnswerFrame(int channel, std::span<const std::uint8_t> payload) {
    return BuildFrame(Address(channel), kDeviceAddress, payload);
}

std::vector<std::uint8_t> BuildRequestFrame(int channel, std::span<const std::uint8_t> payload) {
    return BuildFrame(kDeviceAddress, Address(channel), payload);
}

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() > kMaxFrameBytes) return {};
    FrameCodec codec;
    if (!codec.Encode(frame.data(), frame.size())) return {};
    return {codec.Output(), codec.Output() + codec.OutputLength()};
}

}  // namespace kalvo::devsim
