#include "engine/icy.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "decoder/frame_header.h"
#include "info/text_encoding.h"

namespace wl {

void TIcySplitter::Reset(int32_t metaInterval) {
    metaInterval_ = std::max(metaInterval, 0);
    audioBytes_ = 0;
    untilBlock_ = metaInterval_;
    blockLength_ = -1;
    block_.clear();
}

bool TIcySplitter::Feed(std::span<const uint8_t> bytes, const TAudioFn& audio, const TBlockFn& block) {
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t left = bytes.size() - i;
        if (metaInterval_ == 0 || (blockLength_ < 0 && untilBlock_ > 0)) {
            const size_t take = metaInterval_ == 0 ? left : std::min<size_t>(left, static_cast<size_t>(untilBlock_));
            if (metaInterval_ != 0) untilBlock_ -= static_cast<int64_t>(take);
            audioBytes_ += static_cast<int64_t>(take);
            if (!audio(bytes.subspan(i, take))) return false;
            i += take;
        } else if (blockLength_ < 0) {
            blockLength_ = bytes[i++] * 16;
            block_.clear();
            if (blockLength_ == 0) {
                blockLength_ = -1;
                untilBlock_ = metaInterval_;
            }
        } else {
            const size_t take = std::min(left, static_cast<size_t>(blockLength_) - block_.size());
            block_.append(reinterpret_cast<const char*>(bytes.data() + i), take);
            i += take;
            if (block_.size() == static_cast<size_t>(blockLength_)) {
                blockLength_ = -1;
                untilBlock_ = metaInterval_;
                if (!block(block_, audioBytes_)) return false;
            }
        }
    }
    return true;
}

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

size_t FindNoCase(std::string_view text, std::string_view what, size_t from) {
    if (what.size() > text.size()) return std::string_view::npos;
    for (size_t at = from; at + what.size() <= text.size(); ++at) {
        size_t k = 0;
        while (k < what.size() && Lower(text[at + k]) == Lower(what[k])) ++k;
        if (k == what.size()) return at;
    }
    return std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && FindNoCase(text.substr(0, prefix.size()), prefix, 0) == 0;
}

// Only NULs and blanks from `at` on.
bool RestIsEmpty(std::string_view b, size_t at) {
    for (; at < b.size(); ++at) {
        if (!IsBlank(b[at])) return false;
    }
    return true;
}

// Another field ("Key='") starts at `at`, blanks before it allowed.
bool FieldStartsAt(std::string_view b, size_t at) {
    while (at < b.size() && (b[at] == ' ' || b[at] == '\t')) ++at;
    const size_t keyStart = at;
    while (at < b.size() && (std::isalnum(static_cast<unsigned char>(b[at])) || b[at] == '_' || b[at] == '-')) ++at;
    return at > keyStart && at + 1 < b.size() && b[at] == '=' && b[at + 1] == '\'';
}

}  // namespace

std::optional<std::string> ParseStreamTitle(std::string_view b) {
    static constexpr std::string_view kKey = "StreamTitle='";
    size_t start = std::string_view::npos;
    for (size_t at = 0; (at = FindNoCase(b, kKey, at)) != std::string_view::npos; ++at) {
        // Only a field of its own, not the end of another key.
        if (at == 0 || b[at - 1] == ';' || IsBlank(b[at - 1])) {
            start = at + kKey.size();
            break;
        }
    }
    if (start == std::string_view::npos) return std::nullopt;
    for (size_t q = start; (q = b.find("';", q)) != std::string_view::npos; ++q) {
        if (RestIsEmpty(b, q + 2) || FieldStartsAt(b, q + 2)) return std::string(b.substr(start, q - start));
    }
    std::string_view rest = b.substr(start);
    while (!rest.empty() && rest.back() == '\0') rest.remove_suffix(1);
    if (!rest.empty() && rest.back() == '\'') rest.remove_suffix(1);
    return std::string(rest);
}

namespace {

// `bytes` read in `codePage` as UTF-8; nullopt when iconv does not know it.
std::optional<std::string> IconvToUtf8(std::string_view bytes, const std::string& codePage) {
    iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::array<char, 1024> chunk;
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    bool flushing = false;
    for (;;) {
        char* o = chunk.data();
        size_t oLeft = chunk.size();
        const size_t r = flushing ? iconv(cd, nullptr, nullptr, &o, &oLeft) : iconv(cd, &in, &inLeft, &o, &oLeft);
        const int error = errno;
        out.append(chunk.data(), chunk.size() - oLeft);
        if (r != static_cast<size_t>(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (error == E2BIG) continue;
        out += "\xEF\xBF\xBD";
        if (error == EILSEQ && inLeft > 0) {
            ++in;  // a byte the code page lacks
            --inLeft;
            continue;
        }
        // Cut inside a character (or anything else): the rest is lost.
        inLeft = 0;
        flushing = true;
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string DecodeStationText(std::string_view bytes, const std::string& codePage) {
    std::string text;
    if (IsValidUtf8(bytes)) {
        text.assign(bytes);
    } else {
        const auto converted = IconvToUtf8(bytes, codePage);
        const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
        text = converted && IsValidUtf8(*converted) ? *converted : Windows1252ToUtf8({raw, bytes.size()});
    }
    // Control characters out: C0, DEL and C1 (U+0080..U+009F, C2 80..C2 9F).
    std::string clean;
    clean.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c == '\t' || c == '\n' || c == '\r') {
            clean.push_back(' ');
        } else if (c < 0x20 || c == 0x7F) {
            continue;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) < 0xA0) {
            ++i;
        } else {
            clean.push_back(static_cast<char>(c));
        }
    }
    const size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

std::string BareContentType(std::string_view contentType) {
    std::string_view t = contentType.substr(0, contentType.find(';'));
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    std::string out(t);
    for (char& c : out) c = Lower(c);
    return out;
}

bool SplitHeaderLine(std::string_view line, std::string_view& name, std::string_view& value) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = line.substr(0, colon);
    value = line.substr(colon + 1);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    return true;
}

namespace {

bool OneOf(const std::string& type, std::initializer_list<std::string_view> types) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// The kind a body's first bytes show beyond doubt; Undecided when they do not.
TStreamKind BodySignature(std::span<const uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.starts_with("OggS")) return TStreamKind::Ogg;
    if (text.starts_with("ID3")) return TStreamKind::Mpeg;
    if (text.starts_with("fLaC")) return TStreamKind::Other;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    for (std::string_view page : {"<!doctype html", "<html", "<head", "<body"}) {
        if (StartsWithNoCase(text, page)) return TStreamKind::Html;
    }
    for (std::string_view list : {"[playlist]", "#extm3u", "<playlist", "http://", "https://"}) {
        if (StartsWithNoCase(text, list)) return TStreamKind::List;
    }
    if (StartsWithNoCase(text, "<?xml")) {
        return FindNoCase(text.substr(0, 1024), "<playlist", 0) != std::string_view::npos ? TStreamKind::List
                                                                                           : TStreamKind::Other;
    }
    if (StartsWithNoCase(text, "<!doctype")) return TStreamKind::Html;
    return TStreamKind::Undecided;
}

// ADTS frame length at `p` (0 when no ADTS header starts there); needs 7 bytes.
int32_t AdtsFrameLength(const uint8_t* p) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 0x0F) > 12) return 0;
    const int32_t length = ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5);
    return length >= 7 ? length : 0;
}

// MPEG frame length at `p` (free format aside; 0 when no header starts there).
int32_t MpegFrameLength(const uint8_t* p, TMPEGFrameHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const int32_t length = ParseFrameHeader(p, 4, h);
    return length > 0 && h.BitrateIndex != 0 ? FrameBytes(h, length) : 0;
}

bool SameFormat(const TMPEGFrameHeader& a, const TMPEGFrameHeader& b) {
    return a.SyncKind == b.SyncKind && a.VersionId == b.VersionId && a.Layer == b.Layer &&
           a.SampleRateIndex == b.SampleRateIndex;
}

// Frame sync confirmed by the next frame's header.
TStreamKind SniffSync(std::span<const uint8_t> bytes, bool wholeBody) {
    const size_t n = bytes.size();
    const uint8_t* b = bytes.data();
    for (size_t p = 0; p + 7 <= n; ++p) {
        if (b[p] != 0xFF) continue;
        TMPEGFrameHeader h{};
        if (const int32_t length = MpegFrameLength(b + p, h); length > 0) {
            const size_t next = p + static_cast<size_t>(length);
            TMPEGFrameHeader h2{};
            if (next + 4 <= n) {
                if (MpegFrameLength(b + next, h2) > 0 && SameFormat(h, h2)) return TStreamKind::Mpeg;
            } else if (wholeBody) {
                return TStreamKind::Mpeg;
            } else if (n < kSniffBytes) {
                return TStreamKind::Undecided;
            }
        }
        if (const int32_t length = AdtsFrameLength(b + p); length > 0) {
            const size_t next = p + static_cast<size_t>(length);
            if (next + 7 <= n) {
                if (AdtsFrameLength(b + next) > 0) return TStreamKind::Aac;
            } else if (wholeBody) {
                return TStreamKind::Aac;
            } else if (n < kSniffBytes) {
                return TStreamKind::Undecided;
            }
        }
    }
    return wholeBody || n >= kSniffBytes ? TStreamKind::Other : TStreamKind::Undecided;
}

}  // namespace

TStreamKind SniffAudio(std::string_view contentType, std::span<const uint8_t> firstBytes, bool wholeBody) {
    // The longest signature looked at first is 14 bytes; wait for them.
    if (firstBytes.size() < 16 && !wholeBody) return TStreamKind::Undecided;
    if (const TStreamKind kind = BodySignature(firstBytes); kind != TStreamKind::Undecided) return kind;
    const std::string type = BareContentType(contentType);
    if (OneOf(type, {"audio/x-scpls", "audio/scpls", "audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
                     "application/vnd.apple.mpegurl", "application/xspf+xml", "application/pls+xml"})) {
        return TStreamKind::List;
    }
    if (OneOf(type, {"text/html", "application/xhtml+xml"})) return TStreamKind::Html;
    if (OneOf(type, {"audio/aac", "audio/aacp", "audio/x-aac", "audio/mp4", "audio/x-m4a"})) return TStreamKind::Aac;
    if (OneOf(type, {"application/ogg", "audio/ogg", "audio/x-ogg", "audio/opus", "audio/vorbis"})) {
        return TStreamKind::Ogg;
    }
    if (OneOf(type, {"audio/mpeg", "audio/mp3", "audio/x-mpeg", "audio/mpeg3", "audio/x-mp3", "audio/mpg",
                     "audio/x-mpeg-3"})) {
        return TStreamKind::Mpeg;
    }
    if (!OneOf(type, {"", "application/octet-stream", "binary/octet-stream", "text/plain", "audio/x-unknown",
                      "unknown/unknown"})) {
        return TStreamKind::Other;
    }
    return SniffSync(firstBytes, wholeBody);
}

}  // namespace wl
