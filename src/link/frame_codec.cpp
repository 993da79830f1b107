#include "link/frame_codec.h"

namespace kalvo {

namespace {
constexpr std::uint16_t kCheckStart = 0xFFFF;
// Encoding fails once the write position passes this, leaving room for an escape pair and
// the closing byte.
constexpr std::size_t kOutputLimit = FrameCodec::kOutputSize - 3;

inline std::uint16_t AddToCheck(std::uint16_t check, std::uint8_t byte) {
    return static_cast<std::uint16_t>(check + (byte ^ 0x5A) + 1);
}
}  // namespace

std::uint16_t FrameCodec::CheckValue(const std::uint8_t* data, std::size_t length) {
    std::uint16_t check = kCheckStart;
    for (std::size_t i = 0; i < length; ++i) check = AddToCheck(check, data[i]);
    return check;
}

bool FrameCodec::Encode(const std::uint8_t* data, std::size_t length) {
    outputLength_ = 0;
    std::size_t pos = 0;
    std::uint16_t check = kCheckStart;
    output_[pos++] = kFrameEnd;
    for (std::size_t i = 0; i < length + 2; ++i) {
        std::uint8_t byte;
        if (i < length) {
            byte = data[i];
            check = AddToCheck(check, byte);
        } else if (i == length) {
            byte = static_cast<std::uint8_t>(check & 0xFF);
        } else {
            byte = static_cast<std::uint8_t>(check >> 8);
        }
        if (byte == kFrameEnd) {
            output_[pos++] = kEscape;
            output_[pos++] = kEscapedEnd;
        } else if (byte == kEscape) {
            output_[pos++] = kEscape;
            output_[pos++] = kEscapedEscape;
        } else {
            output_[pos++] = byte;
        }
        if (pos > kOutputLimit) return false;
    }
    output_[pos++] = kFrameEnd;
    outputLength_ = static_cast<std::uint16_t>(pos);
    return true;
}

void FrameCodec::StartFrame() {
    count_ = 0;
    check_ = kCheckStart;
    state_ = State::InFrame;
}

void FrameCodec::Store(std::uint8_t byte) {
    buffer_[count_++] = byte;
    // The last two stored bytes may be the check value itself, so the sum lags two behind.
    if (count_ >= 3) check_ = AddToCheck(check_, buffer_[count_ - 3]);
}

bool FrameCodec::Decode(std::uint8_t x) {
    if (complete_) {
        complete_ = false;
        state_ = State::Hunting;
    }
    switch (state_) {
    case State::Hunting:
        if (x == kFrameEnd) StartFrame();
        break;
    case State::InFrame:
        if (x == kFrameEnd) {
            if (count_ >= 3 && buffer_[count_ - 2] == static_cast<std::uint8_t>(check_ & 0xFF) &&
                buffer_[count_ - 1] == static_cast<std::uint8_t>(check_ >> 8)) {
                count_ = static_cast<std::uint8_t>(count_ - 2);
                complete_ = true;
                state_ = State::Hunting;
            } else {
                StartFrame();
            }
        } else if (count_ >= kDecodeBufferSize) {
            // Full: 253 bytes of header and payload plus the two check bytes.
            state_ = State::Hunting;
        } else if (x == kEscape) {
            state_ = State::AfterEscape;
        } else {
            Store(x);
        }
        break;
    case State::AfterEscape:
        state_ = State::InFrame;
        if (x == kEscapedEnd) {
            Store(kFrameEnd);
        } else if (x == kEscapedEscape) {
            Store(kEscape);
        } else if (x == kFrameEnd) {
            StartFrame();
        } else {
            state_ = State::Hunting;
        }
        break;
    }
    return complete_;
}

}  // namespace kalvo
