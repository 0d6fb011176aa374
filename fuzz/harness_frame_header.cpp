// Sync search, header parsing and free-format measuring over arbitrary bytes,
// and the confirmed first-frame search the player (no free format) and plain
// decoding (free format) run over the bytes as a file.
#include "fuzz/harness.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "decoder/frame_header.h"
#include "engine/frame_scanner.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"

namespace wl::fuzz {

void FrameHeaderInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return;
    // An exact-size copy: any read past the end is seen by the sanitizer.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(bytes.get(), data, size);
    const int32_t available = static_cast<int32_t>(size);

    wl::TMPEGFrameHeader h{};
    int32_t bitrate = 0, offset = -1;
    wl::FindFrame(bytes.get(), available, h, bitrate, offset);
    wl::FreeFormatFrameLength(bytes.get(), available);
    // Every position that holds four bytes, parsed with what follows it.
    for (int32_t p = 0; p + 4 <= available && p < 64; ++p) {
        wl::ParseFrameHeader(bytes.get() + p, available - p, h);
        wl::ProbeFrame(bytes.get() + p, available - p, h, bitrate);
    }

    // A first frame found lies wholly in the input, and the reader stands at it.
    wl::TMemoryViewStream stream(std::span<const uint8_t>(bytes.get(), size));
    wl::TMPStreamReader reader(65536);
    reader.Open(&stream);
    for (const bool freeFormat : {false, true}) {
        reader.Seek(0, wl::TSeekOrigin::soBeginning);
        wl::TFirstFrame first;
        if (!wl::FindFirstFrame(reader, static_cast<int64_t>(size), freeFormat, first)) continue;
        if (first.offset < 0 || first.frameBytes <= 0 || first.offset + first.frameBytes > available ||
            reader.Position() != first.offset || (!freeFormat && first.freeFormatLength != 0)) {
            __builtin_trap();
        }
    }
}

}  // namespace wl::fuzz
