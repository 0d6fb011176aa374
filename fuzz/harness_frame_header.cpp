// Sync search, header parsing and free-format measuring over arbitrary bytes.
#include "fuzz/harness.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "decoder/frame_header.h"

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
}

}  // namespace wl::fuzz
