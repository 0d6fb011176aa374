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

// 2.2 identifiers under their 2.3 names; the others keep their 3 letters.
std::string FrameId22(std::string_view id) {
    static constexpr std::pair<const char*, const char*> kMap[] = {
        {"TT2", "TIT2"}, {"TP1", "TPE1"}, {"TAL", "TALB"}, {"TYE", "TYER"},
        {"TCO", "TCON"}, {"COM", "COMM"}, {"TRK", "TRCK"}, {"TXX", "TXXX"},
        {"WXX", "WXXX"}, {"ULT", "USLT"}, {"UFI", "UFID"}, {"POP", "POPM"}};
    for (const auto& [from, to] : kMap) {
        if (id == from) return to;
    }
    return std::string(id);
}

// The offset from the end of the 10-byte header at which the frames begin,
// when the extended-header flag is set; `p` holds the first `available` bytes
// after the header. Empty when no frames can be found.
std::optional<int64_t> FramesOffset(const uint8_t* p, int64_t available, int major, int64_t size) {
    if (available < 4) return std::nullopt;
    // Some writers set the flag without writing an extended header.
    if (IsFrameId(p)) return 0;
    if (major == 3) {
        const int64_t e = BigEndian32(p);
        if (e < 0 || 4 + e > size) return std::nullopt;
        return 4 + e;
    }
    // 2.4: a sync-safe size that counts its own 4 bytes.
    const int64_t e = SyncSafe32(p);
    if (e < 6 || e > size) return std::nullopt;
    return e;
}

// Copies n (at most 4) bytes at the file offset `at` (not before the reader's
// position); the reader stays where it was.
bool PeekAt(TMPStreamReader& r, int64_t at, int32_t n, uint8_t* out) {
    const int64_t position = r.Position();
    const int64_t ahead = at - position;
    if (ahead < 0) return false;
    if (ahead + n <= r.Capacity()) {
        if (!r.Need(static_cast<int32_t>(ahead + n))) return false;
        std::memcpy(out, r.Data() + ahead, static_cast<size_t>(n));
        return true;
    }
    r.Seek(at, TSeekOrigin::soBeginning);
    const bool ok = r.Need(n);
    if (ok) std::memcpy(out, r.Data(), static_cast<size_t>(n));
    r.Seek(position, TSeekOrigin::soBeginning);
    return ok;
}

// True when a frame ending at `at` is followed by another frame, by padding,
// or by nothing (the end of the frames).
bool IsFrameBoundary(TMPStreamReader& r, int64_t at, int64_t end) {
    if (at == end) return true;
    if (at > end) return false;
    const auto n = static_cast<int32_t>(std::min<int64_t>(4, end - at));
    uint8_t b[4] = {};
    if (!PeekAt(r, at, n, b)) return false;
    if (std::all_of(b, b + n, [](uint8_t c) { return c == 0; })) return true;
    return n == 4 && IsFrameId(b);
}

bool IsFrameId22(const uint8_t* p) {
    return std::all_of(p, p + 3, [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
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
    plainComment_.reset();
    describedComment_.reset();
    gapless_ = {};
    gainFromText_ = {};
    gainFromRva2_ = {};
}

void TMP3Info::Attach(TMPStreamReader* reader) {
    Reset();
    reader_ = reader;
}

bool TMP3Info::AnalyzeHead() {
    if (!reader_ || !reader_->Active()) return false;
    AnalyzeMacBinary();
    AnalyzeRiffHead();
    // Taggers that prepend a new tag may keep the old one behind it.
    while (AnalyzeID3v2()) found_.Include(mitID3V2);
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
    const int64_t end = s + 10 + size + footer;
    // A tag that claims more than the file holds is not a tag: skipping it
    // would hide all the audio.
    if (end > r.Size()) return false;

    ReadID3v2Tag(s, major, flags, size);
    // Whatever its frames were like, the tag ends where its header says: a
    // damaged tag never hides the audio after it.
    if (r.Position() <= end) {
        r.Skip(end - r.Position());
    } else {
        r.Seek(end, TSeekOrigin::soBeginning);
    }
    audioStart_ = end;
    // A tag longer than the wrapper says the audio is leaves no audio, not a
    // negative length.
    if (audioLength_ != kUnknownLength) audioLength_ = std::max<int64_t>(0, audioLength_ - (end - s));
    return true;
}

// Reads the frames of the tag whose header is at `start`, as far as they can be
// read; the reader is left anywhere.
void TMP3Info::ReadID3v2Tag(int64_t start, int major, uint8_t flags, int64_t size) {
    TMPStreamReader& r = *reader_;
    // 2.2 with flag 0x40 is compressed; versions without a known frame layout
    // are skipped unread.
    if (!(major == 3 || major == 4 || (major == 2 && !(flags & 0x40)))) return;
    const bool unsynchronised = (flags & kID3Unsynchronised) != 0;
    const bool extended = major != 2 && (flags & kID3ExtendedHeader);

    if (unsynchronised && major != 4) {
        // 2.2 and 2.3 unsynchronise the whole tag, frame headers included: read
        // it resynchronised from memory when it fits, else skip it unread.
        if (10 + size > r.Capacity() || !r.Need(static_cast<int32_t>(10 + size))) return;
        std::vector<uint8_t> body = Resynchronise(std::span(r.Data() + 10, static_cast<size_t>(size)));
        int64_t framesStart = 0;
        if (extended) {
            const auto offset = FramesOffset(body.data(), static_cast<int64_t>(body.size()), major,
                                             static_cast<int64_t>(body.size()));
            if (!offset) return;
            framesStart = *offset;
        }
        TMemoryStream memory(std::move(body));
        TMPStreamReader inner(r.Capacity());
        inner.Open(&memory);
        if (!inner.Skip(framesStart)) return;
        ReadID3v2Frames(inner, memory.Size(), major, false);
        return;
    }
    int64_t framesStart = start + 10;
    if (extended) {
        const auto available = static_cast<int32_t>(std::min<int64_t>(size, 4));
        if (!r.Need(10 + available)) return;
        const auto offset = FramesOffset(r.Data() + 10, available, major, size);
        if (!offset) return;
        framesStart += *offset;
    }
    if (!r.Skip(framesStart - start)) return;
    ReadID3v2Frames(r, start + 10 + size, major, major == 4 && unsynchronised);
}

// Reads frames from the reader's position up to `end`, stopping at the padding,
// at bytes that are not a frame, and at a frame that would pass `end`.
void TMP3Info::ReadID3v2Frames(TMPStreamReader& r, int64_t end, int major, bool unsynchronised) {
    const int32_t headerSize = major == 2 ? 6 : 10;
    while (end - r.Position() >= headerSize) {
        if (!r.Need(headerSize)) return;
        uint8_t header[10];
        std::memcpy(header, r.Data(), static_cast<size_t>(headerSize));
        // Padding (zeros), or bytes that are not a frame: the frames end here.
        if (major == 2 ? !IsFrameId22(header) : !IsFrameId(header)) return;
        int64_t n;
        uint8_t formatFlags = 0;
        std::string id;
        if (major == 2) {
            n = int64_t{header[3]} << 16 | int64_t{header[4]} << 8 | header[5];
            id = FrameId22(View(header, 3));
        } else {
            n = major == 4 ? SyncSafe32(header + 4) : BigEndian32(header + 4);
            formatFlags = header[9];
            id = std::string(View(header, 4));
        }
        if (major == 4) {
            // Some writers put plain 32-bit sizes in 2.4 frames: take the plain
            // reading when only it lands on a frame, the padding or the end.
            const int64_t plain = BigEndian32(header + 4);
            const int64_t here = r.Position();
            if (plain != n && plain > 0 && !IsFrameBoundary(r, here + 10 + n, end) &&
                IsFrameBoundary(r, here + 10 + plain, end)) {
                n = plain;
            }
        }
        if (n < 0) return;
        // A frame running past the end of the tag is dropped.
        if (r.Position() + headerSize + n > end) return;
        if (headerSize + n <= r.Capacity()) {
            if (!r.Need(static_cast<int32_t>(headerSize + n))) return;
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
                if (const auto text = ReadFrameText(id, body)) {
                    // A user text shows its description too: its value alone says nothing.
                    const bool described = id == "TXXX" && !text->description.empty();
                    id3v2_.push_back(id + "=" + (described ? text->description + ": " : std::string()) +
                                     text->value);
                    NoteFrame(id, *text, body);
                }
            }
        }
        if (!r.Skip(headerSize + n)) return;
    }
}

void TMP3Info::NoteFrame(const std::string& id, const TID3v2FrameText& text, std::span<const uint8_t> body) {
    if (id == "COMM") {
        if (text.description.empty()) {
            if (!plainComment_) plainComment_ = text.value;
        } else if (!describedComment_ && !IsMachineCommentDescription(text.description)) {
            describedComment_ = text.value;
        }
    }
    if ((id == "COMM" || id == "TXXX") && !gapless_.present && EqualsNoCase(text.description, "iTunSMPB")) {
        ParseGaplessText(text.value, gapless_);
    }
    if (id == "TXXX") {
        const std::pair<const char*, std::optional<double>*> gains[] = {
            {"REPLAYGAIN_TRACK_GAIN", &gainFromText_.trackGainDb},
            {"REPLAYGAIN_ALBUM_GAIN", &gainFromText_.albumGainDb}};
        const std::pair<const char*, std::optional<double>*> peaks[] = {
            {"REPLAYGAIN_TRACK_PEAK", &gainFromText_.trackPeak},
            {"REPLAYGAIN_ALBUM_PEAK", &gainFromText_.albumPeak}};
        for (const auto& [name, slot] : gains) {
            if (!*slot && EqualsNoCase(text.description, name)) *slot = ParseGainText(text.value);
        }
        for (const auto& [name, slot] : peaks) {
            if (!*slot && EqualsNoCase(text.description, name)) *slot = ParsePeakText(text.value);
        }
    }
    if (id == "RVA2") {
        const auto master = ReadRva2(body);
        if (!master) return;
        const bool track = EqualsNoCase(master->identification, "track");
        const bool album = EqualsNoCase(master->identification, "album");
        auto& gain = track ? gainFromRva2_.trackGainDb : gainFromRva2_.albumGainDb;
        auto& peak = track ? gainFromRva2_.trackPeak : gainFromRva2_.albumPeak;
        if ((track || album) && !gain) {
            gain = master->gainDb;
            peak = master->peak;
        }
    }
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
std::string TMP3Info::Comment() const {
    const std::string v2 = plainComment_ ? *plainComment_ : describedComment_.value_or(std::string());
    return ChooseValues(Lookup(id3v1_, "COMMENT"), v2, Lookup(riff_, "ICMT"));
}
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

TReplayGain TMP3Info::ReplayGain() const {
    // The user texts win over RVA2 value by value.
    TReplayGain g = gainFromText_;
    if (!g.trackGainDb) g.trackGainDb = gainFromRva2_.trackGainDb;
    if (!g.trackPeak) g.trackPeak = gainFromRva2_.trackPeak;
    if (!g.albumGainDb) g.albumGainDb = gainFromRva2_.albumGainDb;
    if (!g.albumPeak) g.albumPeak = gainFromRva2_.albumPeak;
    return g;
}

}  // namespace wl
