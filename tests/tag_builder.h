// Builds ID3v2 tags the way tagging software writes them: 2.3 or 2.4 headers,
// plain or sync-safe frame sizes, an extended header (or only its flag),
// padding, and the text, comment, user-text and RVA2 frames.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wl::test {

using TagBytes = std::vector<uint8_t>;

inline void AppendBytes(TagBytes& to, const TagBytes& from) { to.insert(to.end(), from.begin(), from.end()); }

inline TagBytes AsciiBytes(std::string_view s) { return TagBytes(s.begin(), s.end()); }

inline TagBytes PlainSize(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

inline TagBytes SyncSafeSize(uint32_t v) {
    return {static_cast<uint8_t>((v >> 21) & 0x7F), static_cast<uint8_t>((v >> 14) & 0x7F),
            static_cast<uint8_t>((v >> 7) & 0x7F), static_cast<uint8_t>(v & 0x7F)};
}

// Text in a frame encoding: 0 Latin-1 and 3 UTF-8 (the bytes as given), 1
// UTF-16 little-endian with a byte-order mark, 2 UTF-16 big-endian; each byte
// of `text` becomes one code unit (Latin-1 text). With `terminated`, the
// encoding's terminator follows.
inline TagBytes EncodeText(uint8_t encoding, std::string_view text, bool terminated = false) {
    TagBytes b;
    const bool wide = encoding == 1 || encoding == 2;
    if (encoding == 1) b = {0xFF, 0xFE};
    for (char c : text) {
        const auto u = static_cast<uint8_t>(c);
        if (encoding == 1) {
            b.push_back(u);
            b.push_back(0);
        } else if (encoding == 2) {
            b.push_back(0);
            b.push_back(u);
        } else {
            b.push_back(u);
        }
    }
    if (terminated) b.insert(b.end(), wide ? 2 : 1, 0);
    return b;
}

enum class TFrameSizes { Plain, SyncSafe };

class Id3v2TagBuilder {
public:
    // Version 2.3 writes plain frame sizes, 2.4 sync-safe ones (unless told).
    explicit Id3v2TagBuilder(uint8_t major) : major_(major) {
        sizes_ = major == 4 ? TFrameSizes::SyncSafe : TFrameSizes::Plain;
    }

    Id3v2TagBuilder& FrameSizes(TFrameSizes sizes) {
        sizes_ = sizes;
        return *this;
    }
    Id3v2TagBuilder& HeaderFlags(uint8_t flags) {
        flags_ = flags;
        return *this;
    }
    // An extended header of the version's usual shape (flag 0x40 set).
    Id3v2TagBuilder& ExtendedHeader() {
        flags_ |= 0x40;
        extended_ = major_ == 4 ? TagBytes{0, 0, 0, 6, 1, 0} : TagBytes{0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
        return *this;
    }
    Id3v2TagBuilder& Padding(size_t n) {
        padding_ = n;
        return *this;
    }

    Id3v2TagBuilder& Frame(std::string_view id, const TagBytes& body, uint8_t formatFlags = 0) {
        AppendBytes(frames_, AsciiBytes(id));
        const auto n = static_cast<uint32_t>(body.size());
        AppendBytes(frames_, sizes_ == TFrameSizes::SyncSafe ? SyncSafeSize(n) : PlainSize(n));
        frames_.push_back(0);
        frames_.push_back(formatFlags);
        AppendBytes(frames_, body);
        return *this;
    }
    // A text frame (T***): encoding byte, then the text.
    Id3v2TagBuilder& Text(std::string_view id, std::string_view text, uint8_t encoding = 0) {
        TagBytes body{encoding};
        AppendBytes(body, EncodeText(encoding, text));
        return Frame(id, body);
    }
    // COMM: encoding, language, description and terminator, text.
    Id3v2TagBuilder& Comment(std::string_view description, std::string_view text, uint8_t encoding = 0,
                             std::string_view language = "eng") {
        TagBytes body{encoding};
        AppendBytes(body, AsciiBytes(language));
        AppendBytes(body, EncodeText(encoding, description, true));
        AppendBytes(body, EncodeText(encoding, text));
        return Frame("COMM", body);
    }
    // TXXX: encoding, description and terminator, value.
    Id3v2TagBuilder& UserText(std::string_view description, std::string_view value, uint8_t encoding = 0) {
        TagBytes body{encoding};
        AppendBytes(body, EncodeText(encoding, description, true));
        AppendBytes(body, EncodeText(encoding, value));
        return Frame("TXXX", body);
    }
    // RVA2 with one master-volume entry: gain in 1/512 dB units, a 16-bit peak
    // (32768 = full scale) when `peakBits` is 16, none when 0.
    Id3v2TagBuilder& Rva2(std::string_view identification, int16_t gain512, uint16_t peak,
                          uint8_t peakBits = 16, bool withOtherChannelFirst = false) {
        TagBytes body = EncodeText(0, identification, true);
        if (withOtherChannelFirst) AppendBytes(body, {2, 0x10, 0x00, 8, 0x7F});  // front right
        body.push_back(1);
        body.push_back(static_cast<uint8_t>(static_cast<uint16_t>(gain512) >> 8));
        body.push_back(static_cast<uint8_t>(gain512));
        body.push_back(peakBits);
        if (peakBits == 16) AppendBytes(body, {static_cast<uint8_t>(peak >> 8), static_cast<uint8_t>(peak)});
        return Frame("RVA2", body);
    }

    TagBytes Build() const {
        TagBytes content = extended_;
        AppendBytes(content, frames_);
        content.resize(content.size() + padding_, 0);
        TagBytes tag = AsciiBytes("ID3");
        tag.push_back(major_);
        tag.push_back(0);
        tag.push_back(flags_);
        AppendBytes(tag, SyncSafeSize(static_cast<uint32_t>(content.size())));
        AppendBytes(tag, content);
        return tag;
    }

private:
    uint8_t major_;
    uint8_t flags_ = 0;
    TFrameSizes sizes_;
    TagBytes extended_;
    TagBytes frames_;
    size_t padding_ = 0;
};

}  // namespace wl::test
