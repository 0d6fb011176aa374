// Picture frames over arbitrary bytes: the input as a whole ID3v2 tag, and
// (past its first byte) as one APIC or PIC body as that byte says. A picture
// that comes out must be a known image of at most the size limit that lies
// inside the input.
#include <cstdint>
#include <span>

#include "fuzz/harness.h"
#include "info/picture.h"

namespace wl::fuzz {

namespace {

void Check(const std::optional<TPicture>& picture, size_t inputBytes) {
    if (!picture) return;
    if (picture->Data.empty() || picture->Data.size() > kMaxPictureBytes || picture->Data.size() > inputBytes ||
        ImageExtension(picture->Data) != picture->Extension)
        __builtin_trap();
}

}  // namespace

void PictureInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return;
    const std::span<const uint8_t> input(data, size);
    Check(FindTagPicture(input), size);
    if (size < 1) return;
    Check(ReadPictureFrame(input.subspan(1), (data[0] & 1) != 0), size);
}

}  // namespace wl::fuzz
