#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/frame_codec.h"

namespace kalvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& data) {
    FrameCodec codec;
    if (!codec.Encode(data.data(), data.size())) return {};
    return Bytes(codec.Output(), codec.Output() + codec.OutputLength());
}

// Every frame the decoder completes while eating `wire`.
std::vector<Bytes> DecodeAll(FrameCodec& codec, const Bytes& wire) {
    std::vector<Bytes> frames;
    for (std::uint8_t byte : wire)
        if (codec.Decode(byte)) frames.emplace_back(codec.Frame(), codec.Frame() + codec.FrameLength());
    return frames;
}

std::vector<Bytes> DecodeAll(const Bytes& wire) {
    FrameCodec codec;
    return DecodeAll(codec, wire);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kConnectionTestBuffer{0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x56, 0x61,
                                  0x6E, 0x74, 0x65, 0x67, 0x6F, 0x72};

TEST(FrameCodecEncode, DocumentedFramesByteForByte) {
    EXPECT_EQ(FrameCodec::CheckValue(kConnectionTestBuffer.data(), kConnectionTestBuffer.size()), 0x03AE);
    EXPECT_EQ(Encode(kConnectionTestBuffer),
              (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x56, 0x61, 0x6E, 0x74, 0x65, 0x67, 0x6F, 0x72,
                     0xAE, 0x03, 0xC0}));
    EXPECT_EQ(Encode({0x00, 0x01, 0x00, 0x01, 0x01, 0x01}),
              (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x25, 0x02, 0xC0}));
}

TEST(FrameCodecEncode, CheckValueBytesAreStuffedLikeData) {
    EXPECT_EQ(Encode({0x00, 0x01, 0x00, 0x01, 0x01, 0xAC}),
              (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0xAC, 0xDB, 0xDC, 0x02, 0xC0}));
    EXPECT_EQ(Encode({0x00, 0x01, 0x00, 0x01, 0x01, 0x4B}),
              (Bytes{0xC0, 0x00, 0x01, 0x00, 0x01, 0x01, 0x4B, 0xDB, 0xDD, 0x01, 0xC0}));
}

TEST(FrameCodecEncode, DataBytesAreStuffed) {
    Bytes wire = Encode({0x00, 0x01, 0x00, 0x01, 0xC0, 0xDB});
    ASSERT_GE(wire.size(), 11u);
    EXPECT_EQ(Bytes(wire.begin() + 5, wire.begin() + 9), (Bytes{0xDB, 0xDC, 0xDB, 0xDD}));
}

TEST(FrameCodecEncode, LargestRequestFitsAtWorstStuffingAndOversizeFails) {
    // 4 header bytes + 135 payload bytes, all needing an escape.
    Bytes worst(139, 0xC0);
    EXPECT_FALSE(Encode(worst).empty());
    FrameCodec codec;
    Bytes tooLong(300, 0xDB);
    EXPECT_FALSE(codec.Encode(tooLong.data(), tooLong.size()));
    EXPECT_EQ(codec.OutputLength(), 0);
}

TEST(FrameCodecDecode, RoundTripsRandomFrames) {
    std::mt19937 random(7);
    FrameCodec decoder;
    for (int i = 0; i < 500; ++i) {
        Bytes data(2 + random() % 240);
        for (auto& byte : data) byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0xC0 : random());
        auto frames = DecodeAll(decoder, Encode(data));
        ASSERT_EQ(frames.size(), 1u) << "frame " << i;
        EXPECT_EQ(frames[0], data);
    }
}

TEST(FrameCodecDecode, BackToBackFramesAndAFrameWithoutItsOwnStart) {
    Bytes a = Encode(kConnectionTestBuffer);
    Bytes b = Encode({0x00, 0x01, 0x00, 0x01, 0x01, 0x01});
    EXPECT_EQ(DecodeAll(Concat({a, b})).size(), 2u);

    // b without its opening C0: the closing C0 of a must not open it, so b is skipped up to
    // its end byte, which then opens a frame that c completes.
    Bytes c = Encode({0x00, 0x02, 0x00, 0x01, 0x42, 0x02});
    auto frames = DecodeAll(Concat({a, Bytes(b.begin() + 1, b.end()), Bytes(c.begin() + 1, c.end())}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], kConnectionTestBuffer);
    EXPECT_EQ(frames[1], (Bytes{0x00, 0x02, 0x00, 0x01, 0x42, 0x02}));
}

TEST(FrameCodecDecode, DropsCorruptFramesAndResynchronises) {
    Bytes good = Encode(kConnectionTestBuffer);
    Bytes badCheck = good;
    badCheck[8] ^= 0x01;
    Bytes badEscape{0xC0, 0x00, 0x01, 0xDB, 0x11, 0x00, 0x01, 0x05, 0x05, 0xC0};
    // 260 data bytes: over the 253-byte limit of a frame.
    Bytes overlong{0xC0};
    overlong.insert(overlong.end(), 260, 0x11);
    overlong.push_back(0xC0);

    for (const Bytes& bad : {badCheck, badEscape, overlong}) {
        auto frames = DecodeAll(Concat({bad, good}));
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], kConnectionTestBuffer);
    }
}

TEST(FrameCodecDecode, EscapeFollowedByStartOpensANewFrame) {
    Bytes good = Encode(kConnectionTestBuffer);
    Bytes wire{0xC0, 0x00, 0x01, 0xDB};
    wire.insert(wire.end(), good.begin(), good.end());
    auto frames = DecodeAll(wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kConnectionTestBuffer);
}

TEST(FrameCodecDecode, LongestFrameIsAccepted) {
    Bytes data(253, 0x33);
    auto frames = DecodeAll(Encode(data));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], data);
    EXPECT_TRUE(DecodeAll(Encode(Bytes(254, 0x33))).empty());
}

TEST(FrameCodecDecode, TextLinesBetweenFramesDoNotDisturbDecoding) {
    std::string text = "#rkd boot 4.1 ready\r\n";
    Bytes good = Encode(kConnectionTestBuffer);
    auto frames = DecodeAll(Concat({Bytes(text.begin(), text.end()), good, Bytes(text.begin(), text.end()), good}));
    EXPECT_EQ(frames.size(), 2u);
}

}  // namespace
}  // namespace kalvo
