#include "info/id3v2_frames.h"

#include <charconv>
#include <cmath>

#include "info/text_encoding.h"

namespace wl {

int64_t SyncSafe32(const uint8_t* p) {
    return int64_t{p[0] & 0x7F} << 21 | int64_t{p[1] & 0x7F} << 14 | int64_t{p[2] & 0x7F} << 7 | (p[3] & 0x7F);
}

std::vector<uint8_t> Resynchronise(std::span<const uint8_t> in) {
    std::vector<uint8_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00) ++i;
    }
    return out;
}

namespace {

// ReplayGain values beyond what an RVA2 frame can hold (16 bits of 1/512 dB)
// are taken for damage.
constexpr double kLargestGainDb = 64.0;

std::string_view View(std::span<const uint8_t> bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::span<const uint8_t> Bytes(std::string_view s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

bool StartsWith(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> prefix) {
    if (bytes.size() < prefix.size()) return false;
    size_t i = 0;
    for (uint8_t b : prefix) {
        if (bytes[i++] != b) return false;
    }
    return true;
}

// 8-bit text cut at the first zero and trimmed, as UTF-8.
std::string EightBitText(std::span<const uint8_t> bytes) {
    return EightBitToUtf8(Bytes(CutAndTrim(View(bytes))));
}

// Text in the frame's encoding (0 Latin-1, 1 UTF-16 with a mark, 2 UTF-16
// big-endian, 3 UTF-8). A byte-order mark alone is an empty text.
std::string DecodeText(uint8_t encoding, std::span<const uint8_t> bytes) {
    const bool utf16Mark = StartsWith(bytes, {0xFF, 0xFE}) || StartsWith(bytes, {0xFE, 0xFF});
    std::string text;
    if (encoding == 1 || encoding == 2 || utf16Mark) {
        // A UTF-16 mark under an 8-bit encoding byte: UTF-16 text all the same.
        const auto order = encoding == 2 ? TUtf16Order::BigEndian : TUtf16Order::LittleEndian;
        text = Utf16ToUtf8(bytes, order);
    } else {
        if (StartsWith(bytes, {0xEF, 0xBB, 0xBF})) bytes = bytes.subspan(3);
        text = EightBitText(bytes);
    }
    // Marks left in the text (a second one, or UTF-8 written as UTF-16) show nothing.
    while (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return std::string(TrimRight(text));
}

// Splits at the first terminator of the encoding: a zero byte, or for UTF-16
// a zero code unit at an even offset. False when there is none.
bool SplitAtTerminator(uint8_t encoding, std::span<const uint8_t> bytes, std::span<const uint8_t>& before,
                       std::span<const uint8_t>& after) {
    const bool wide = encoding == 1 || encoding == 2;
    const size_t step = wide ? 2 : 1;
    for (size_t i = 0; i + step <= bytes.size(); i += step) {
        if (bytes[i] == 0 && (!wide || bytes[i + 1] == 0)) {
            before = bytes.first(i);
            after = bytes.subspan(i + step);
            return true;
        }
    }
    return false;
}

// URL link frames hold the URL alone, without an encoding byte.
bool IsUrlFrame(std::string_view id) { return !id.empty() && id[0] == 'W' && id != "WXXX"; }

// Frames that begin with an 8-bit owner or identification text instead of an
// encoding byte.
bool StartsWithOwner(std::string_view id) {
    for (const char* owner : {"UFID", "PRIV", "POPM", "RVA2", "AENC", "ENCR", "GRID"}) {
        if (id == owner) return true;
    }
    return false;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A decimal number in the C locale's form, a comma also taken as the point.
std::optional<double> ParseDecimal(std::string_view s) {
    s = Trim(s);
    if (s.size() >= 2 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
    std::string text(s);
    if (text.find('.') == std::string::npos) {
        const size_t comma = text.find(',');
        if (comma != std::string::npos && text.find(',', comma + 1) == std::string::npos) text[comma] = '.';
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc{} || at != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

bool IsFrameId(const uint8_t* p) {
    for (int i = 0; i < 4; ++i) {
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9'))) return false;
    }
    return true;
}

std::optional<TID3v2FrameText> ReadFrameText(std::string_view id, std::span<const uint8_t> body) {
    TID3v2FrameText out;
    if (IsUrlFrame(id) || StartsWithOwner(id)) {
        out.value = EightBitText(body);
        return out;
    }
    const bool described = id == "COMM" || id == "USLT" || id == "TXXX" || id == "WXXX";
    const bool text = described || (!id.empty() && id[0] == 'T');
    if (body.empty()) {
        if (text) return std::nullopt;
        return out;
    }
    const uint8_t encoding = body[0];
    auto rest = body.subspan(1);
    if (!text) {
        // Other frames: the first 8-bit text after the leading byte (an
        // attached picture's MIME type, say).
        out.value = EightBitText(rest);
        return out;
    }
    if (encoding > 3) return std::nullopt;
    if (!described) {
        out.value = DecodeText(encoding, rest);
        return out;
    }
    if (id == "COMM" || id == "USLT") {
        if (rest.size() < 3) return std::nullopt;  // the language code
        rest = rest.subspan(3);
    }
    std::span<const uint8_t> description, value;
    if (!SplitAtTerminator(encoding, rest, description, value)) return std::nullopt;
    out.description = DecodeText(encoding, description);
    // A URL is always 8-bit text.
    out.value = id == "WXXX" ? EightBitText(value) : DecodeText(encoding, value);
    return out;
}

bool IsMachineCommentDescription(std::string_view d) {
    constexpr std::string_view kCddbPrefix = "iTunes_CDDB_";
    return EqualsNoCase(d, "iTunNORM") || EqualsNoCase(d, "iTunSMPB") || EqualsNoCase(d, "iTunPGAP") ||
           (d.size() >= kCddbPrefix.size() && EqualsNoCase(d.substr(0, kCddbPrefix.size()), kCddbPrefix));
}

bool ParseGaplessText(std::string_view text, TGaplessInfo& out) {
    uint64_t fields[4] = {};
    int count = 0;
    size_t i = 0;
    while (count < 4) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        const size_t start = i;
        uint64_t v = 0;
        for (; i < text.size() && text[i] != ' ' && text[i] != '\t'; ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                return false;
            }
            if (i - start >= 16) return false;
            v = v << 4 | static_cast<uint64_t>(digit);
        }
        if (i == start) return false;
        fields[count++] = v;
    }
    constexpr uint64_t kMax32 = 0x7FFFFFFF;
    if (fields[1] > kMax32 || fields[2] > kMax32 || fields[3] > 0x7FFFFFFFFFFFFFFFull) return false;
    out.present = true;
    out.encoderDelay = static_cast<int32_t>(fields[1]);
    out.padding = static_cast<int32_t>(fields[2]);
    out.sampleCount = static_cast<int64_t>(fields[3]);
    return true;
}

std::optional<double> ParseGainText(std::string_view text) {
    text = Trim(text);
    if (text.size() >= 2 && EqualsNoCase(text.substr(text.size() - 2), "dB")) text.remove_suffix(2);
    const auto gain = ParseDecimal(text);
    if (!gain || std::fabs(*gain) > kLargestGainDb) return std::nullopt;
    return gain;
}

std::optional<double> ParsePeakText(std::string_view text) {
    const auto peak = ParseDecimal(text);
    if (!peak || *peak < 0) return std::nullopt;
    return peak;
}

std::optional<TRva2Master> ReadRva2(std::span<const uint8_t> body) {
    std::span<const uint8_t> identification, rest;
    if (!SplitAtTerminator(0, body, identification, rest)) return std::nullopt;
    // Per channel: type, 16-bit signed gain in 1/512 dB, peak width in bits,
    // the peak in as many whole bytes.
    while (rest.size() >= 4) {
        const uint8_t type = rest[0];
        const auto gain = static_cast<int16_t>(static_cast<uint16_t>(rest[1] << 8 | rest[2]));
        const int bits = rest[3];
        const size_t peakBytes = static_cast<size_t>(bits + 7) / 8;
        if (rest.size() < 4 + peakBytes) return std::nullopt;
        if (type == 1) {
            TRva2Master master;
            master.identification = EightBitText(identification);
            master.gainDb = gain / 512.0;
            if (bits > 0) {
                double peak = 0;
                for (size_t k = 0; k < peakBytes; ++k) peak = peak * 256 + rest[4 + k];
                // Full scale is the largest signed sample of that width.
                master.peak = std::ldexp(peak, -(bits - 1));
            }
            return master;
        }
        rest = rest.subspan(4 + peakBytes);
    }
    return std::nullopt;
}

}  // namespace wl
