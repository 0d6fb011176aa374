// The radio stream's pure parts over arbitrary bytes: the first byte is the
// metadata interval (0: none), the second seeds the piece sizes, the rest is
// a body. The splitter fed the body in pieces of random sizes must give
// exactly what one piece gives; every block is a whole number of 16-byte
// units, at most 4080 bytes, at a positive multiple of the interval. Every
// title parsed from a block (and from the whole input) must decode, in two
// code pages, to valid UTF-8 without control characters, no longer than
// three bytes per input byte. The sniffer decides a whole body.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/icy.h"
#include "fuzz/harness.h"
#include "info/text_encoding.h"

namespace wl::fuzz {

namespace {

struct TSplit {
    std::vector<uint8_t> audio;
    std::vector<std::pair<int64_t, std::string>> blocks;
    bool operator==(const TSplit&) const = default;
};

// `nextSize` gives each piece's size.
template <class NextSize>
TSplit Split(std::span<const uint8_t> body, int32_t interval, NextSize nextSize) {
    TIcySplitter splitter(interval);
    TSplit out;
    for (size_t at = 0; at < body.size();) {
        const size_t n = std::min(nextSize(), body.size() - at);
        splitter.Feed(
            body.subspan(at, n),
            [&](std::span<const uint8_t> a) {
                out.audio.insert(out.audio.end(), a.begin(), a.end());
                return true;
            },
            [&](std::string_view b, int64_t p) {
                out.blocks.emplace_back(p, std::string(b));
                return true;
            });
        at += n;
    }
    if (splitter.AudioBytes() != static_cast<int64_t>(out.audio.size())) __builtin_trap();
    return out;
}

void CheckTitle(std::string_view bytes) {
    const std::optional<std::string> title = ParseStreamTitle(bytes);
    if (!title) return;
    if (title->size() > bytes.size()) __builtin_trap();
    for (const char* codePage : {"WINDOWS-1252", "WINDOWS-1251"}) {
        const std::string text = DecodeStationText(*title, codePage);
        if (!IsValidUtf8(text) || text.size() > 3 * title->size()) __builtin_trap();
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<uint8_t>(text[i]);
            if (c < 0x20 || c == 0x7F) __builtin_trap();
            if (c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) < 0xA0) __builtin_trap();
        }
    }
}

}  // namespace

void IcyInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 1 << 14) return;
    const int32_t interval = data[0];
    uint32_t state = data[1] * 2654435761u + 1;
    const std::span<const uint8_t> body(data + 2, size - 2);

    const TSplit whole = Split(body, interval, [&] { return body.size(); });
    const TSplit pieces = Split(body, interval, [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return size_t{1} + state % 64;
    });
    if (!(whole == pieces)) __builtin_trap();
    if (interval == 0 && whole.audio.size() != body.size()) __builtin_trap();
    for (const auto& [position, block] : whole.blocks) {
        if (block.empty() || block.size() % 16 != 0 || block.size() > static_cast<size_t>(kMaxIcyBlockBytes) ||
            position <= 0 || position % interval != 0) {
            __builtin_trap();
        }
        CheckTitle(block);
    }
    CheckTitle({reinterpret_cast<const char*>(body.data()), body.size()});

    for (const char* type : {"", "audio/mpeg", "text/plain"}) {
        if (SniffAudio(type, body, true) == TStreamKind::Undecided) __builtin_trap();
        (void)SniffAudio(type, body, false);
    }
}

}  // namespace wl::fuzz
