#pragma once
// Frame on the wire: C0, stuffed(header + payload + check value low/high), C0.
// Check value: start 0xFFFF, per byte value += (byte ^ 0x5A) + 1, over header and payload.
//
// Thread use: encoding belongs to the thread that sends (under the link lock); the decoder
// state belongs to the reader thread alone. One codec serves both because the two halves share
// nothing but the class.
#include <cstddef>
#include <cstdint>

namespace kalvo {

class FrameCodec {
public:
    static constexpr std::size_t kOutputSize = 550;
    static constexpr std::size_t kDecodeBufferSize = 255;
    static constexpr std::uint8_t kFrameEnd = 0xC0;
    static constexpr std::uint8_t kEscape = 0xDB;
    static constexpr std::uint8_t kEscapedEnd = 0xDC;
    static constexpr std::uint8_t kEscapedEscape = 0xDD;

    // Check value of a byte run, as the encoder computes it.
    static std::uint16_t CheckValue(const std::uint8_t* data, std::size_t length);

    // Encodes header+payload into the output buffer. Returns false (output length 0) when the
    // stuffed frame would not fit.
    bool Encode(const std::uint8_t* data, std::size_t length);
    const std::uint8_t* Output() const { return output_; }
    std::uint16_t OutputLength() const { return outputLength_; }

    // Feeds one received byte; true when it completed a frame, which is then in Frame()/
    // FrameLength() (check value removed) until the next call.
    bool Decode(std::uint8_t byte);
    const std::uint8_t* Frame() const { return buffer_; }
    std::uint8_t FrameLength() const { return count_; }

private:
    enum class State : std::uint8_t { Hunting, InFrame, AfterEscape };

    void StartFrame();
    void Store(std::uint8_t byte);

    std::uint8_t output_[kOutputSize] = {};
    std::uint16_t outputLength_ = 0;

    State state_ = State::Hunting;
    bool complete_ = false;
    std::uint8_t buffer_[kDecodeBufferSize] = {};
    std::uint8_t count_ = 0;
    std::uint16_t check_ = 0xFFFF;
};

}  // namespace kalvo
