// Frame codec throughput: encode of typical requests, decode of a received byte stream.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "link/frame_codec.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(length);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

void BM_Encode(benchmark::State& state) {
    auto data = RandomBytes(static_cast<std::size_t>(state.range(0)), 1);
    kalvo::FrameCodec codec;
    for (auto _ : state) {
        benchmark::DoNotOptimize(codec.Encode(data.data(), data.size()));
        benchmark::DoNotOptimize(codec.Output());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
// A connection test, a 16-byte memory read answer, the largest flash write request.
BENCHMARK(BM_Encode)->Arg(14)->Arg(27)->Arg(139);

void BM_Decode(benchmark::State& state) {
    // A stream of frames of the given size, as the reader thread sees it.
    kalvo::FrameCodec encoder;
    std::vector<std::uint8_t> wire;
    for (unsigned i = 0; i < 64; ++i) {
        auto data = RandomBytes(static_cast<std::size_t>(state.range(0)), i);
        encoder.Encode(data.data(), data.size());
        wire.insert(wire.end(), encoder.Output(), encoder.Output() + encoder.OutputLength());
    }
    kalvo::FrameCodec decoder;
    std::size_t frames = 0;
    for (auto _ : state) {
        for (std::uint8_t byte : wire) frames += decoder.Decode(byte);
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_Decode)->Arg(14)->Arg(27)->Arg(253);

}  // namespace

BENCHMARK_MAIN();
