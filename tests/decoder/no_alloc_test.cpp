// Decoding allocates nothing: the test binary counts every operator new while
// thousands of frames go through DecodeFrame.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "tests/stream_builder.h"

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace wl {
namespace {

TEST(NoAllocation, ThousandsOfFramesOfEveryKind) {
    std::mt19937 rng(99);
    // Streams of random frames (every block type, stereo mode and table shows
    // up) in every layout and routing.
    struct Stream {
        std::vector<std::vector<uint8_t>> frames;
        int32_t flags;
    };
    std::vector<Stream> streams;
    for (int32_t flags : {0, static_cast<int32_t>(kOutputMonoMix), static_cast<int32_t>(kOutputFullBand)}) {
        for (int kind = 0; kind < 4; ++kind) {
            Stream s{{}, flags};
            for (int i = 0; i < 300; ++i) {
                if (kind == 0) s.frames.push_back(test::RandomFrameMpeg1(rng, 1));
                if (kind == 1) s.frames.push_back(test::RandomFrameMpeg1(rng, 3));
                if (kind == 2) s.frames.push_back(test::RandomFrameLsf(rng, 1, false));
                if (kind == 3) s.frames.push_back(test::RandomFrameLsf(rng, 0, true));
            }
            streams.push_back(std::move(s));
        }
    }
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    auto d = NewDecoder();
    SelectRoutines(*d, GetCpuFeatures());
    long frames = 0;
    long accepted = 0;
    g_allocations = 0;
    for (const Stream& s : streams) {
        TMPEGFrameHeader h{};
        const int32_t len = ParseFrameHeader(s.frames[0].data(), 0, h);
        ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, s.flags, 24000));
        g_counting = true;
        for (const auto& f : s.frames) {
            TDecodeResult r{};
            DecodeFrame(*d, r, f.data(), static_cast<int32_t>(f.size()), pcm.data());
            ++frames;
            accepted += r.BytesConsumed > 0;
        }
        g_counting = false;
    }
    EXPECT_EQ(frames, 3600);
    EXPECT_GT(accepted, frames / 2);
    EXPECT_EQ(g_allocations.load(), 0);
}

}  // namespace
}  // namespace wl
