// The frame decoder target, with a mutator that knows the input's layout
// (a config byte, then frames): most mutations change one frame's body or
// rewrite one frame's header with another valid bitrate, padding, mode and
// protection (resizing the frame to match), so that the frames after it still
// start where their headers say and the decoder sees structured streams
// rather than one damaged frame followed by junk.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/frame_header.h"
#include "fuzz/harness.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr size_t kMaxFrames = 4;  // as many as the harness decodes

// The whole frame length of the header at `p` (four bytes), 0 when it gives none.
size_t FrameLength(const uint8_t* p) {
    wl::TMPEGFrameHeader h{};
    const int32_t bytes = wl::FrameBytes(h, wl::ParseFrameHeader(p, 0, h));
    return bytes > 0 ? static_cast<size_t>(bytes) : 0;
}

// A header the harness can set a decoder up with: sync, a known layer,
// version, rate and a bitrate index that is neither free nor invalid.
void RepairFirstHeader(uint8_t* p) {
    p[0] = 0xFF;
    p[1] |= 0xE0;
    if ((p[1] & 0x18) == 0x08) p[1] |= 0x18;           // reserved version: MPEG-1
    if ((p[1] & 0x06) == 0) p[1] |= 0x02;              // reserved layer: Layer III
    if ((p[2] & 0xF0) == 0xF0 || (p[2] & 0xF0) == 0) p[2] = static_cast<uint8_t>((p[2] & 0x0F) | 0x90);
    if ((p[2] & 0x0C) == 0x0C) p[2] &= 0xF3;            // reserved rate
}

// Frame starts in the stream as the harness walks it (each header given the
// first one's sync, version, layer and rate).
std::vector<size_t> FrameStarts(uint8_t* s, size_t n) {
    std::vector<size_t> starts;
    const size_t first = FrameLength(s);
    size_t pos = 0;
    while (pos + 4 <= n && starts.size() < kMaxFrames) {
        starts.push_back(pos);
        uint8_t* f = s + pos;
        f[0] = s[0];
        f[1] = static_cast<uint8_t>((s[1] & 0xFE) | (f[1] & 1));
        f[2] = static_cast<uint8_t>((f[2] & 0xF3) | (s[2] & 0x0C));
        // Keep every frame's bitrate valid so that the next one is found.
        if ((f[2] & 0xF0) == 0xF0 || (f[2] & 0xF0) == 0) f[2] = static_cast<uint8_t>((f[2] & 0x0F) | (s[2] & 0xF0));
        const size_t step = FrameLength(f);
        pos += step > 0 ? step : first;
    }
    return starts;
}

// Moves the bytes after `end` so that [start, end) becomes `length` long.
size_t ResizeFrame(uint8_t* s, size_t n, size_t maxN, size_t start, size_t end, size_t length) {
    end = std::min(end, n);
    const size_t newEnd = start + length;
    if (n - end + newEnd > maxN) return n;
    std::memmove(s + newEnd, s + end, n - end);
    return n - end + newEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wl::fuzz::DecodeFrameInput(data, size);
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    std::minstd_rand rng(seed);
    // Now and then a plain mutation of everything (the config byte, odd layouts).
    if (size < 8 || maxSize < 8 || rng() % 8 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    uint8_t* s = data + 1;
    size_t n = size - 1;
    const size_t maxN = maxSize - 1;
    RepairFirstHeader(s);
    const std::vector<size_t> starts = FrameStarts(s, n);
    const size_t k = rng() % starts.size();
    const size_t start = starts[k];
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : n;
    if (rng() % 4 == 0) {
        // Another valid header for this frame, the frame resized to its length.
        uint8_t* f = s + start;
        const auto bitrate = static_cast<uint8_t>(1 + rng() % 14);
        f[1] = static_cast<uint8_t>((f[1] & 0xFE) | (rng() & 1));                      // protection
        f[2] = static_cast<uint8_t>((bitrate << 4) | (f[2] & 0x0C) | (rng() & 2));     // padding
        f[3] = static_cast<uint8_t>((rng() & 0xF0) | (f[3] & 0x0F));                   // mode, extension
        const size_t length = FrameLength(f);
        if (length >= 4) n = ResizeFrame(s, n, maxN, start, end, length);
    } else if (end > start + 4) {
        // The body (side information and main data) mutated in place.
        LLVMFuzzerMutate(s + start + 4, end - start - 4, end - start - 4);
    }
    return n + 1;
}
