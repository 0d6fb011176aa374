// SetupDecoder and DecodeFrame over arbitrary frame bytes: the first input
// byte picks the channel routing and band limit; the rest is the stream, whose
// first header (any layer and version, sync forced) sets a fresh decoder up.
// The stream is cut into frames of the header's length (or the length each
// frame's own header announces), each given the stream's sync, version, layer
// and rate, and decoded with exactly the bytes that remain. At most
// kMaxFrames frames are decoded: enough for the Layer III reservoir (511
// bytes) to reach back over earlier frames, few enough to keep the fuzzer fast.
#include "fuzz/harness.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"

namespace wl::fuzz {

namespace {

constexpr int kMaxFrames = 4;

// One decoder for the process, reset to a freshly made one for every input:
// the same state as NewDecoder without a new 77 KB allocation per input.
DecoderState& FreshDecoder() {
    static const auto decoder = NewDecoder();
    std::destroy_at(decoder.get());
    std::construct_at(decoder.get());
    return *decoder;
}

}  // namespace

void DecodeFrameInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > 1 << 16) return;
    const uint8_t config = data[0];
    ++data;
    --size;
    const uint8_t head[4] = {0xFF, static_cast<uint8_t>(0xE0 | (data[1] & 0x1F)), data[2], data[3]};
    wl::TMPEGFrameHeader h{};
    int32_t length = wl::ParseFrameHeader(head, 0, h);
    if (h.BitrateIndex == 0) length = 48 + (data[2] ^ data[3]) * 4;  // free format
    if (length <= 0) return;
    const int32_t flags = (config & 3) | ((config & 4) ? wl::kOutputFullBand : 0);
    const int32_t bandLimit = (config & 8) ? 24000 : 500 + 100 * (config >> 4);

    wl::DecoderState& d = FreshDecoder();
    wl::SelectRoutines(d, wl::GetCpuFeatures());
    if (!wl::SetupDecoder(d, h, length, 0, 0, flags, bandLimit)) return;
    wl::TMPEGOutputFormat format{};
    wl::GetOutputFormat(d, format);

    static int16_t pcm[wl::kMaxPcmBytesPerFrame / 2];
    // One exact-size copy of the stream: each frame is decoded in place with
    // exactly the bytes that remain behind it, so an over-read is caught.
    std::unique_ptr<uint8_t[]> stream(new uint8_t[size]);
    std::memcpy(stream.get(), data, size);
    size_t pos = 0;
    for (int frames = 0; pos < size && frames < kMaxFrames; ++frames) {
        const size_t rest = size - pos;
        uint8_t* frame = stream.get() + pos;
        if (rest >= 4) {
            // Keep sync, version, layer and rate; the rest of the header is free.
            frame[0] = head[0];
            frame[1] = static_cast<uint8_t>((head[1] & 0xFE) | (frame[1] & 1));
            frame[2] = static_cast<uint8_t>((frame[2] & 0xF3) | (head[2] & 0x0C));
        }
        wl::TDecodeResult r{};
        wl::DecodeFrame(d, r, frame, static_cast<int32_t>(rest), pcm);
        if (r.BytesConsumed > 0 && r.PcmBytes > format.SamplesPerFrame * 2) __builtin_trap();
        // Step by the frame's own header, like a player walking the stream.
        int32_t step = 0;
        if (rest >= 4) {
            wl::TMPEGFrameHeader fh{};
            step = wl::FrameBytes(fh, wl::ParseFrameHeader(frame, 0, fh));
        }
        pos += static_cast<size_t>(step > 0 ? step : length);
    }
}

}  // namespace wl::fuzz
