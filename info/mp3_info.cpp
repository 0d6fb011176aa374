#include "info/mp3_info.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "info/genres.h"
#include "info/text_encoding.h"

namespace wl {

namespace {

constexpr uint8_t kID3Unsynchronised = 0x80;
constexpr uint8_t kID3ExtendedHeader = 0x40;
constexpr uint8_t kID3Footer = 0x10;  // 2.4 only
// ID3v1 writers put 255 for "no genre".
constexpr int kNoGenre = 255;

int64_t BigEndian32(const uint8_t* p) {
    // Signed, as the size fields are read: a hostile 0x80000000.. is negative.
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | p[3]);
}

int64_t LittleEndian32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[1]) << 8 | p[0]);
}

int64_t SyncSafe32(const uint8_t* p) {
    return int64_t{p[0] & 0x7F} << 21 | int64_t{p[1] & 0x7F} << 14 | int64_t{p[2] & 0x7F} << 7 |
           (p[3] & 0x7F);
}

std::string_view View(const uint8_t* p, size_t n) {
    return std::string_view(reinterpret_cast<const char*>(p), n);
}

std::span<const uint8_t> Bytes(std::string_view s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A fixed-size 8-bit text field: cut at the first zero, trimmed, as UTF-8.
std::string FieldText(const uint8_t* p, size_t n) {
    return EightBitToUtf8(Bytes(CutAndTrim(View(p, n))));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Undoes ID3v2 unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::vector<uint8_t> Resynchronise(std::span<const uint8_t> in) {
    std::vector<uint8_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00) ++i;
    }
    return out;
}

// 2.2 identifiers under their 2.3 names; the others keep their 3 letters.
std::string FrameId22(std::string_view id) {
    static constexpr std::pair<const char*, const char*> kMap[] = {
        {"TT2", "TIT2"}, {"TP1", "TPE1"}, {"TAL", "TALB"}, {"TYE", "TYER"},
        {"TCO", "TCON"}, {"COM", "COMM"}, {"TRK", "TRCK"}};
    for (const auto& [from, to] : kMap) {
        if (id == from) return to;
    }
    return std::string(id);
}

// The text of a UTF-16 (encoding 1: little-endian unless a mark says
// otherwise; 2: big-endian unless a mark says otherwise) or 8-bit string.
std::string EncodedText(uint8_t encoding, std::span<const uint8_t> bytes) {
    if (encoding == 1 || encoding == 2) {
        const auto order = encoding == 1 ? TUtf16Order::LittleEndian : TUtf16Order::BigEndian;
        return std::string(TrimRight(Utf16ToUtf8(bytes, order)));
    }
    return EightBitToUtf8(Bytes(CutAndTrim(View(bytes.data(), bytes.size()))));
}

// The bytes after the last zero byte that comes before the final byte (all of
// them when there is none): drops a comment's language and description and a
// URL's description.
std::span<const uint8_t> AfterLastZero(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return bytes;
    for (size_t i = bytes.size() - 1; i-- > 0;) {
        if (bytes[i] == 0) return bytes.subspan(i + 1);
    }
    return bytes;
}

// A frame's value from its body (encoding byte first).
std::string FrameValue(std::string_view id, std::span<const uint8_t> body) {
    if (body.empty()) return {};
    const uint8_t encoding = body[0];
    const auto text = body.subspan(1);
    if (id == "COMM") {
        if (encoding == 1 || encoding == 2) {
            // Language (3 bytes), description, a zero code unit, the text.
            if (text.size() < 3) return {};
            auto units = text.subspan(3);
            for (size_t i = 0; i + 1 < units.size(); i += 2) {
                if (units[i] == 0 && units[i + 1] == 0) {
                    units = units.subspan(i + 2);
                    break;
                }
            }
            return EncodedText(encoding, units);
        }
        return EncodedText(encoding, AfterLastZero(text));
    }
    if (id == "WXXX") {
        return EightBitToUtf8(Bytes(CutAndTrim(View(AfterLastZero(text).data(),
                                                    AfterLastZero(text).size()))));
    }
    if (!id.empty() && id[0] == 'T') return EncodedText(encoding, text);
    return EncodedText(0, text);
}

}  // namespace

std::string GenreText(std::string_view value) {
    value = TrimRight(value);
    auto numberName = [](std::string_view digits, std::string* out) {
        if (digits.empty() || digits.size() > 3) return false;
        int n = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + (c - '0');
        }
        if (n > 255) return false;
        *out = n == kNoGenre ? std::string() : std::string(GenreName(n));
        return true;
    };
    std::string name;
    if (numberName(value, &name)) return name;
    if (value.size() >= 2 && value[0] == '(' && value[1] == '(') return std::string(value.substr(1));
    if (!value.empty() && value[0] == '(') {
        const size_t close = value.find(')');
        if (close != std::string_view::npos) {
            const std::string_view inner = value.substr(1, close - 1);
            const std::string_view rest = value.substr(close + 1);
            std::string known;
            if (inner == "RX") {
                known = "Remix";
            } else if (inner == "CR") {
                known = "Cover";
            } else if (!numberName(inner, &known)) {
                return std::string(value);
            }
            // A refinement after the reference is the more exact text.
            if (!rest.empty() && rest[0] != '(') return std::string(rest);
            return known;
        }
    }
    return std::string(value);
}

void TMP3Info::Reset() {
    reader_ = nullptr;
    found_ = {};
    audioStart_ = 0;
    audioLength_ = kUnknownLength;
    macBinDataEnd_ = 0;
    riffDataStart_ = 0;
    riffDataSize_ = kUnknownLength;
    riff_.clear();
    id3v1_.clear();
    id3v2_.clear();
}

void TMP3Info::Attach(TMPStreamReader* reader) {
    Reset();
    reader_ = reader;
}

bool TMP3Info::AnalyzeHead() {
    if (!reader_ || !reader_->Active()) return false;
    AnalyzeMacBinary();
    AnalyzeRiffHead();
    if (AnalyzeID3v2()) found_.Include(mitID3V2);
    return reader_->Need(1);
}

void TMP3Info::AnalyzeMacBinary() {
    TMPStreamReader& r = *reader_;
    if (!r.Need(128)) return;
    const uint8_t* d = r.Data();
    if (d[0] != 0 || d[1] < 1 || d[1] > 31 || d[74] != 0 || d[82] != 0) return;
    const int64_t dataLength = BigEndian32(d + 83);
    const int64_t resourceLength = BigEndian32(d + 87);
    if (dataLength < 0 || resourceLength < 0) return;
    r.Skip(128);
    audioStart_ = r.Position();
    audioLength_ = dataLength;
    macBinDataEnd_ = audioStart_ + dataLength;
    found_.Include(mitMacBin);
}

// Walks the chunks from the reader's position to one named `id` (with the
// form type `form` when given); the reader is left at its header.
bool TMP3Info::FindRiffChunk(const char* id, const char* form) {
    TMPStreamReader& r = *reader_;
    for (;;) {
        if (!r.Need(8)) return false;
        const int64_t size = LittleEndian32(r.Data() + 4);
        if (size < 1) return false;
        if (std::memcmp(r.Data(), id, 4) == 0) {
            if (!form) return true;
            if (!r.Need(12)) return false;
            if (std::memcmp(r.Data() + 8, form, 4) == 0) return true;
        }
        if (!r.Skip(8 + size + (size & 1))) return false;
    }
}

void TMP3Info::AnalyzeRiffHead() {
    TMPStreamReader& r = *reader_;
    const int64_t start = r.Position();
    if (!r.Need(12) || std::memcmp(r.Data(), "RIFF", 4) != 0) return;
    r.Skip(12);
    if (!FindRiffChunk("data", nullptr)) {
        r.Seek(start, TSeekOrigin::soBeginning);
        return;
    }
    const int64_t size = LittleEndian32(r.Data() + 4);
    r.Skip(8);
    riffDataStart_ = r.Position();
    riffDataSize_ = size;
    audioStart_ = riffDataStart_;
    audioLength_ = size;
    found_.Include(mitRiff);
}

bool TMP3Info::AnalyzeID3v2() {
    TMPStreamReader& r = *reader_;
    const int64_t s = r.Position();
    if (!r.Need(10) || std::memcmp(r.Data(), "ID3", 3) != 0) return false;
    const uint8_t* d = r.Data();
    const int major = d[3];
    const uint8_t flags = d[5];
    // The size bytes are taken whole (a conforming tag has 7 bits in each).
    const int64_t size = int64_t{d[6]} << 21 | int64_t{d[7]} << 14 | int64_t{d[8]} << 7 | d[9];
    if (size <= 0) return false;
    const int64_t footer = major == 4 && (flags & kID3Footer) ? 10 : 0;
    const int64_t framesEnd = s + 10 + size;
    const int64_t end = framesEnd + footer;
    // A tag that claims more than the file holds is not a tag: skipping it
    // would hide all the audio.
    if (end > r.Size()) return false;

    auto fail = [&] {
        r.Seek(s, TSeekOrigin::soBeginning);
        return false;
    };
    const bool unsynchronised = (flags & kID3Unsynchronised) != 0;
    bool frameWalk = major == 3 || major == 4 || (major == 2 && !(flags & 0x40));  // 2.2: 0x40 = compressed

    if (frameWalk && unsynchronised && major != 4) {
        // 2.2 and 2.3 unsynchronise the whole tag, frame headers included: read
        // it resynchronised from memory when it fits, else skip it unread.
        frameWalk = false;
        if (10 + size <= r.Capacity()) {
            if (!r.Need(static_cast<int32_t>(10 + size))) return fail();
            std::vector<uint8_t> tag(r.Data(), r.Data() + 10 + size);
            std::vector<uint8_t> body = Resynchronise(std::span(tag).subspan(10));
            int64_t framesStart = 0;
            if (major == 3 && (flags & kID3ExtendedHeader)) {
                if (body.size() < 4) return fail();
                const int64_t e = BigEndian32(body.data());
                if (e < 0 || e > static_cast<int64_t>(body.size()) - 4) return fail();
                framesStart = 4 + e;
            }
            TMemoryStream memory(std::move(body));
            TMPStreamReader inner(r.Capacity());
            inner.Open(&memory);
            inner.Skip(framesStart);
            if (!ReadID3v2Frames(inner, memory.Size(), major, false)) return fail();
        }
        if (!r.Skip(10 + size)) return fail();
    } else if (frameWalk) {
        int64_t framesStart = s + 10;
        if (flags & kID3ExtendedHeader) {
            if (!r.Need(14)) return fail();
            if (major == 3) {
                const int64_t e = BigEndian32(r.Data() + 10);
                if (e < 0 || e > size) return fail();
                framesStart = s + 14 + e;
            } else {
                // 2.4: a sync-safe size that counts its own 4 bytes.
                const int64_t e = SyncSafe32(r.Data() + 10);
                if (e < 6 || e > size) return fail();
                framesStart = s + 10 + e;
            }
        }
        if (!r.Skip(framesStart - s)) return fail();
        if (!ReadID3v2Frames(r, framesEnd, major, major == 4 && unsynchronised)) return fail();
        if (footer && !r.Skip(footer)) return fail();
    } else {
        // Versions without a known frame layout are skipped unread.
        if (!r.Skip(end - s)) return fail();
    }
    if (r.Position() != end) return fail();
    audioStart_ = r.Position();
    // A tag longer than the wrapper says the audio is leaves no audio, not a
    // negative length.
    if (audioLength_ != kUnknownLength) audioLength_ = std::max<int64_t>(0, audioLength_ - (end - s));
    return true;
}

// Reads frames from the reader's position up to `end`; true when the last frame
// (or the padding) ends exactly there. Lines read before a failure stay.
bool TMP3Info::ReadID3v2Frames(TMPStreamReader& r, int64_t end, int major, bool unsynchronised) {
    const int32_t headerSize = major == 2 ? 6 : 10;
    while (end - r.Position() >= headerSize) {
        if (!r.Need(headerSize)) return false;
        const uint8_t* d = r.Data();
        int64_t n;
        uint8_t formatFlags = 0;
        std::string id;
        if (major == 2) {
            n = int64_t{d[3]} << 16 | int64_t{d[4]} << 8 | d[5];
            id = FrameId22(CutAndTrim(View(d, 3)));
        } else {
            n = major == 4 ? SyncSafe32(d + 4) : BigEndian32(d + 4);
            formatFlags = d[9];
            id = std::string(CutAndTrim(View(d, 4)));
        }
        if (n <= 0) {
            // Padding: zeros to the end of the tag.
            return r.Skip(end - r.Position()) && r.Position() == end;
        }
        if (headerSize + n <= r.Capacity()) {
            if (!r.Need(static_cast<int32_t>(headerSize + n))) return false;
            std::span<const uint8_t> body(r.Data() + headerSize, static_cast<size_t>(n));
            bool readable = true;
            std::vector<uint8_t> resynchronised;
            if (major == 3) {
                if (formatFlags & 0xC0) readable = false;  // compressed or encrypted
                if (formatFlags & 0x20) body = body.subspan(std::min<size_t>(1, body.size()));
            } else if (major == 4) {
                if (formatFlags & 0x0C) readable = false;  // compressed or encrypted
                if (formatFlags & 0x40) body = body.subspan(std::min<size_t>(1, body.size()));
                if (formatFlags & 0x01) body = body.subspan(std::min<size_t>(4, body.size()));
                if ((formatFlags & 0x02) || unsynchronised) {
                    resynchronised = Resynchronise(body);
                    body = resynchronised;
                }
            }
            if (readable) {
                std::string safeId = EightBitToUtf8(Bytes(id));
                std::string value = FrameValue(safeId, body);
                id3v2_.push_back(safeId + "=" + value);
            }
        }
        if (r.Position() + headerSize + n > end) return false;
        if (!r.Skip(headerSize + n)) return false;
    }
    return r.Position() == end;
}

void TMP3Info::AnalyzeTail() {
    if (!reader_ || !reader_->Active()) return;
    TMPStreamReader& r = *reader_;
    if (audioLength_ == kUnknownLength) audioLength_ = std::max<int64_t>(0, r.Size() - audioStart_);
    if (found_.Contains(mitRiff)) {
        try {
            ReadRiffInfo();
        } catch (...) {
            // A damaged INFO list only ends its reading.
        }
    }
    AnalyzeID3v1();
}

void TMP3Info::ReadRiffInfo() {
    TMPStreamReader& r = *reader_;
    const int64_t after = riffDataStart_ + riffDataSize_ + (riffDataSize_ & 1);
    if (after > r.Size()) return;
    r.Seek(after, TSeekOrigin::soBeginning);
    if (!FindRiffChunk("LIST", "INFO")) return;
    const int64_t size = LittleEndian32(r.Data() + 4);
    if (size < 0) return;
    const int64_t end = r.Position() + size + 8;
    r.Skip(12);
    while (r.Position() < end) {
        if (!r.Need(8)) return;
        const std::string id = EightBitToUtf8(Bytes(CutAndTrim(View(r.Data(), 4))));
        const int64_t n = LittleEndian32(r.Data() + 4);
        r.Skip(8);
        if (n < 0 || id == "IID3") return;
        if (!r.Need(static_cast<int32_t>(n))) return;
        const std::string value = FieldText(r.Data(), static_cast<size_t>(n));
        if (!id.empty() && !value.empty()) riff_.push_back(id + "=" + value);
        if (!r.Skip(n + (n & 1))) return;
    }
}

void TMP3Info::AnalyzeID3v1() {
    TMPStreamReader& r = *reader_;
    const int64_t p = (found_.Contains(mitMacBin) ? macBinDataEnd_ : r.Size()) - 128;
    if (p < 0) return;
    r.Seek(p, TSeekOrigin::soBeginning);
    if (!r.Need(128) || std::memcmp(r.Data(), "TAG", 3) != 0) return;
    const uint8_t* d = r.Data();
    id3v1_.push_back("TITLE=" + FieldText(d + 3, 30));
    id3v1_.push_back("ARTIST=" + FieldText(d + 33, 30));
    id3v1_.push_back("ALBUM=" + FieldText(d + 63, 30));
    id3v1_.push_back("YEAR=" + FieldText(d + 93, 4));
    id3v1_.push_back("COMMENT=" + FieldText(d + 97, 30));
    id3v1_.push_back("GENRE=" + std::string(d[127] == kNoGenre ? "" : GenreName(d[127])));
    // Byte 125 = 0 marks a track number in byte 126; track 0 means none.
    if (d[125] == 0 && d[126] != 0) id3v1_.push_back("TRACK=" + std::to_string(d[126]));
    found_.Include(mitID3V1);
}

std::string TMP3Info::Lookup(const std::vector<std::string>& list, std::string_view key) {
    for (const std::string& line : list) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (EqualsNoCase(std::string_view(line).substr(0, eq), key)) return line.substr(eq + 1);
    }
    return {};
}

std::string TMP3Info::ChooseValues(const std::string& v1, const std::string& v2,
                             const std::string& riff) const {
    const std::string empty;
    const std::string* best = needInfoType_.Contains(mitID3V1) ? &v1 : &empty;
    if (needInfoType_.Contains(mitID3V2) && v2.size() > best->size()) best = &v2;
    if (needInfoType_.Contains(mitRiff) && riff.size() > best->size()) best = &riff;
    return *best;
}

std::string TMP3Info::ChooseKeys(std::string_view v1Key, std::string_view v2Key,
                             std::string_view riffKey) const {
    return ChooseValues(v1Key.empty() ? std::string() : Lookup(id3v1_, v1Key),
                  v2Key.empty() ? std::string() : Lookup(id3v2_, v2Key),
                  riffKey.empty() ? std::string() : Lookup(riff_, riffKey));
}

std::string TMP3Info::Album() const { return ChooseKeys("ALBUM", "TALB", "IPRD"); }
std::string TMP3Info::Artist() const { return ChooseKeys("ARTIST", "TPE1", "IART"); }
// The ID3v2 comment counts too: it is where most taggers put it.
std::string TMP3Info::Comment() const { return ChooseKeys("COMMENT", "COMM", "ICMT"); }
std::string TMP3Info::Genre() const {
    // "TCON" is the genre frame ("TIT1" is the content group).
    return ChooseValues(Lookup(id3v1_, "GENRE"), GenreText(Lookup(id3v2_, "TCON")),
                  Lookup(riff_, "IGNR"));
}
std::string TMP3Info::Title() const { return ChooseKeys("TITLE", "TIT2", "INAM"); }
std::string TMP3Info::Track() const { return ChooseKeys("TRACK", "TRCK", ""); }
std::string TMP3Info::Year() const {
    std::string v2 = Lookup(id3v2_, "TYER");
    if (v2.empty()) v2 = Lookup(id3v2_, "TDRC");
    return ChooseValues(Lookup(id3v1_, "YEAR"), v2, Lookup(riff_, "ICRD"));
}

}  // namespace wl
