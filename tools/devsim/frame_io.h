#pragma once
// Request frames in, answer frames out: the header rules of the wire around the shared frame
// codec. Pure functions and a byte-fed decoder, so they are tested without a terminal.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/frame_codec.h"

namespace kalvo::devsim {

inline constexpr std::uint8_t kDeviceAddress = 1;
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::uint8_t kAnswerFlag = 0x40;
// Header and payload the program's decoder takes in one frame.
inline constexpr std::size_t kMaxFrameBytes = 253;

// What a decoded frame turned out to be.
struct InboundFrame {
    enum class Kind { Request, TooShort, OtherAddress };
    Kind kind = Kind::TooShort;
    int channel = 0;                     // source address: where the answer goes
    std::vector<std::uint8_t> payload;   // command code first
};

// frame: header and payload as the codec hands them over (check value removed).
InboundFrame ClassifyFrame(std::span<const std::uint8_t> frame);

// Feeds received bytes through the codec and hands out each complete frame.
class RequestDecoder {
public:
    std::vector<InboundFrame> Feed(std::span<const std::uint8_t> bytes);

private:
    FrameCodec codec_;
};

// Answer payload for a request code: answer flag set in the first code byte, then the data.
std::vector<std::uint8_t> MakeAnswerPayload(std::uint8_t code0, std::uint8_t code1,
                                            std::span<const std::uint8_t> data);

// Header and payload of a frame from the device to a channel.
std::vector<std::uint8_t> BuildAnswerFrame(int channel, std::span<const std::uint8_t> payload);
// Header and payload of a frame from a channel to the device, as the program sends it.
std::vector<std::uint8_t> BuildRequestFrame(int channel, std::span<const std::uint8_t> payload);

// Wire bytes of a header+payload run; empty when it is longer than a frame may be.
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> frame);

}  // namespace kalvo::devsim
