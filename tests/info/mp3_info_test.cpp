// Media information from tag and wrapper bytes built in memory: ID3v1, ID3v2
// (2.2, 2.3, 2.4), RIFF, MacBinary, the accessors' choice, text conversion and
// hostile input.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/genres.h"
#include "info/mp3_info.h"
#include "info/text_encoding.h"
#include "tests/test_support.h"

namespace {

using wl::mitID3V1;
using wl::mitID3V2;
using wl::mitLyrics;
using wl::mitMacBin;
using wl::mitRiff;
using wl::TMemoryStream;
using wl::TMP3Info;
using wl::TMP3InfoType;
using wl::TMPStreamReader;

using Bytes = std::vector<uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Repeat(uint8_t v, size_t n) { return Bytes(n, v); }
void PutBE32(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
Bytes BE32(uint32_t v) {
    Bytes b;
    PutBE32(b, v);
    return b;
}
Bytes LE32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes SyncSafe(uint32_t v) {
    return {static_cast<uint8_t>((v >> 21) & 0x7F), static_cast<uint8_t>((v >> 14) & 0x7F),
            static_cast<uint8_t>((v >> 7) & 0x7F), static_cast<uint8_t>(v & 0x7F)};
}
Bytes Utf16LE(std::u16string_view s, bool mark = true) {
    Bytes b;
    if (mark) b = {0xFF, 0xFE};
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
}
Bytes Utf16BE(std::u16string_view s, bool mark = true) {
    Bytes b;
    if (mark) b = {0xFE, 0xFF};
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c >> 8));
        b.push_back(static_cast<uint8_t>(c));
    }
    return b;
}

// Some bytes standing in for the audio (frame sync first).
Bytes Audio(size_t n = 1000) {
    Bytes b(n, 0x55);
    b[0] = 0xFF;
    b[1] = 0xFB;
    return b;
}

// ID3v1: fields are padded with zeros; track < 0 leaves a full 30-byte comment.
Bytes Id3v1(std::string_view title, std::string_view artist = "", std::string_view album = "",
            std::string_view year = "", std::string_view comment = "", int genre = 255,
            int track = -1, uint8_t fill = 0) {
    Bytes t = B("TAG");
    auto field = [&](std::string_view s, size_t n) {
        for (size_t i = 0; i < n; ++i) t.push_back(i < s.size() ? static_cast<uint8_t>(s[i]) : fill);
    };
    field(title, 30);
    field(artist, 30);
    field(album, 30);
    field(year, 4);
    field(comment, 30);
    if (track >= 0) {
        t[125] = 0;
        t[126] = static_cast<uint8_t>(track);
    }
    t.push_back(static_cast<uint8_t>(genre));
    return t;
}

Bytes Frame23(std::string_view id, const Bytes& body, uint8_t flags2 = 0) {
    Bytes f = B(id);
    PutBE32(f, static_cast<uint32_t>(body.size()));
    f.push_back(0);
    f.push_back(flags2);
    return f + body;
}
Bytes Frame24(std::string_view id, const Bytes& body, uint8_t flags2 = 0) {
    Bytes f = B(id) + SyncSafe(static_cast<uint32_t>(body.size()));
    f.push_back(0);
    f.push_back(flags2);
    return f + body;
}
Bytes Frame22(std::string_view id, const Bytes& body) {
    Bytes f = B(id);
    const auto n = static_cast<uint32_t>(body.size());
    f.push_back(static_cast<uint8_t>(n >> 16));
    f.push_back(static_cast<uint8_t>(n >> 8));
    f.push_back(static_cast<uint8_t>(n));
    return f + body;
}
// A text body: encoding byte, then the bytes.
Bytes Text(uint8_t encoding, const Bytes& bytes) { return Bytes{encoding} + bytes; }
Bytes Latin(std::string_view s) { return Text(0, B(s)); }

// ID3v2 header + content (frames, padding, extended header as given).
Bytes Id3v2(uint8_t major, uint8_t flags, const Bytes& content) {
    Bytes t = B("ID3");
    t.push_back(major);
    t.push_back(0);
    t.push_back(flags);
    return t + SyncSafe(static_cast<uint32_t>(content.size())) + content;
}

// Inserts a zero after every 0xFF (the writer's side of unsynchronisation).
Bytes Unsynchronise(const Bytes& in) {
    Bytes out;
    for (uint8_t b : in) {
        out.push_back(b);
        if (b == 0xFF) out.push_back(0);
    }
    return out;
}

struct Analysed {
    TMP3Info info;
    bool byteFollows = false;
};

// Head and tail analysis of `file` through a reader of the given capacity.
void Analyse(const Bytes& file, Analysed& out, int32_t capacity = 65536) {
    TMemoryStream stream(file);
    TMPStreamReader reader(capacity);
    reader.Open(&stream);
    out.info.Attach(&reader);
    out.byteFollows = out.info.AnalyzeHead();
    out.info.AnalyzeTail();
}

std::vector<std::string> Lines(std::initializer_list<const char*> l) {
    return std::vector<std::string>(l.begin(), l.end());
}

// ---------------------------------------------------------------- ID3v1

TEST(ID3v1Info, FieldsAreCutTrimmedAndListed) {
    Analysed a;
    Analyse(Audio() + Id3v1("Song", "Some Artist   ", "Album\x01\x1F", "1999", "nice"), a);
    EXPECT_TRUE(a.info.Found().Contains(mitID3V1));
    EXPECT_FALSE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.ID3v1List(), Lines({"TITLE=Song", "ARTIST=Some Artist", "ALBUM=Album",
                                         "YEAR=1999", "COMMENT=nice", "GENRE="}));
    EXPECT_EQ(a.info.Title(), "Song");
    EXPECT_EQ(a.info.Artist(), "Some Artist");
    EXPECT_EQ(a.info.Album(), "Album");
    EXPECT_EQ(a.info.Year(), "1999");
    EXPECT_EQ(a.info.Comment(), "nice");
    EXPECT_EQ(a.info.AudioStart(), 0);
    // The audio length runs to the end of the file, tag included.
    EXPECT_EQ(a.info.AudioLength(), 1128);

    Analysed spaces;
    Analyse(Audio() + Id3v1("", "", "", "", "", 255, -1, ' '), spaces);
    EXPECT_EQ(TMP3Info::Lookup(spaces.info.ID3v1List(), "TITLE"), "");
    EXPECT_EQ(spaces.info.Title(), "");
}

TEST(ID3v1Info, GenreNamesFromTheTable) {
    const std::pair<int, const char*> cases[] = {
        {0, "Blues"}, {17, "Rock"}, {147, "Synthpop"}, {148, ""}, {200, ""}, {248, "Heavy Rock(J)"},
        {254, "Tokusatsu(J)"},
        // 255 is what writers put for "no genre" (the encoders used here do).
        {255, ""}};
    for (const auto& [index, name] : cases) {
        Analysed a;
        Analyse(Audio() + Id3v1("T", "", "", "", "", index), a);
        EXPECT_EQ(a.info.Genre(), name) << "genre index " << index;
    }
    EXPECT_EQ(wl::GenreName(78), "Rock & Roll");
    EXPECT_EQ(wl::GenreName(-1), "");
    EXPECT_EQ(wl::GenreName(256), "");
}

TEST(ID3v1Info, TrackByte) {
    Analysed withTrack;
    Analyse(Audio() + Id3v1("T", "", "", "", "a comment", 17, 12), withTrack);
    EXPECT_EQ(withTrack.info.Track(), "12");
    EXPECT_EQ(withTrack.info.Comment(), "a comment");

    Analysed fullComment;  // byte 125 holds comment text: no track
    Analyse(Audio() + Id3v1("T", "", "", "", "123456789012345678901234567890"), fullComment);
    EXPECT_EQ(fullComment.info.Track(), "");
    EXPECT_EQ(fullComment.info.Comment(), "123456789012345678901234567890");
    EXPECT_EQ(TMP3Info::Lookup(fullComment.info.ID3v1List(), "TRACK"), "");

    Analysed zeroTrack;  // a short comment padded with zeros: track 0 is no track
    Analyse(Audio() + Id3v1("T", "", "", "", "short", 17, 0), zeroTrack);
    EXPECT_EQ(zeroTrack.info.Track(), "");
}

TEST(ID3v1Info, EightBitTextBecomesUtf8) {
    Analysed a;
    Analyse(Audio() + Id3v1("Caf\xE9 \x80 \x9F", "Bj\xC3\xB6rk"), a);
    EXPECT_EQ(a.info.Title(), "Café € Ÿ");   // Windows-1252
    EXPECT_EQ(a.info.Artist(), "Björk");      // already UTF-8: kept
}

TEST(ID3v1Info, OnlyExactlyAtTheEnd) {
    Analysed shortFile;  // shorter than a tag
    Analyse(B("TAG") + Repeat(0, 100), shortFile);
    EXPECT_FALSE(shortFile.info.Found().Contains(mitID3V1));

    Analysed moved;  // one byte after the tag
    Analyse(Audio() + Id3v1("Song") + Bytes{0}, moved);
    EXPECT_FALSE(moved.info.Found().Contains(mitID3V1));
    EXPECT_TRUE(moved.info.ID3v1List().empty());

    Analysed only;  // the whole file is the tag
    Analyse(Id3v1("Song"), only);
    EXPECT_EQ(only.info.Title(), "Song");
}

// ---------------------------------------------------------------- ID3v2.3

TEST(ID3v2Info, Version23FramesAndAudioStart) {
    const Bytes frames = Frame23("TIT2", Latin("A Title")) + Frame23("TPE1", Latin("An Artist")) +
                         Frame23("TALB", Text(0, B("An Album") + Bytes{0})) + Frame23("TYER", Latin("2001")) +
                         Frame23("TCON", Latin("(17)")) + Frame23("TIT1", Latin("Group")) +
                         Frame23("TRCK", Latin("4/10")) +
                         Frame23("COMM", Text(0, B("eng") + B("desc") + Bytes{0} + B("the comment"))) +
                         Frame23("WXXX", Text(0, B("site") + Bytes{0} + B("http://a.b/c")));
    const Bytes tag = Id3v2(3, 0, frames + Repeat(0, 64));
    Analysed a;
    Analyse(tag + Audio(), a);
    ASSERT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
    EXPECT_EQ(a.info.AudioLength(), 1000);
    EXPECT_TRUE(a.byteFollows);
    EXPECT_EQ(a.info.ID3v2List(),
              Lines({"TIT2=A Title", "TPE1=An Artist", "TALB=An Album", "TYER=2001", "TCON=(17)",
                     "TIT1=Group", "TRCK=4/10", "COMM=the comment", "WXXX=http://a.b/c"}));
    EXPECT_EQ(a.info.Title(), "A Title");
    EXPECT_EQ(a.info.Artist(), "An Artist");
    EXPECT_EQ(a.info.Album(), "An Album");
    EXPECT_EQ(a.info.Year(), "2001");
    EXPECT_EQ(a.info.Genre(), "Rock");  // from TCON, not the content group
    EXPECT_EQ(a.info.Track(), "4/10");
    EXPECT_EQ(a.info.Comment(), "the comment");
}

TEST(ID3v2Info, ExtendedHeaderIsSkipped) {
    const Bytes ext = BE32(6) + Bytes{0, 0, 0, 0, 0, 0};
    const Bytes tag = Id3v2(3, 0x40, ext + Frame23("TIT2", Latin("Behind")) + Repeat(0, 20));
    Analysed a;
    Analyse(tag + Audio(), a);
    EXPECT_EQ(a.info.Title(), "Behind");
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));

    // Negative, larger than the tag: no frames can be found, but the tag is
    // still skipped by its header's size.
    for (uint32_t bad : {0xFFFFFFF0u, 5000u}) {
        const Bytes badTag = Id3v2(3, 0x40, BE32(bad) + Frame23("TIT2", Latin("X")) + Repeat(0, 20));
        Analysed b;
        Analyse(badTag + Audio(), b);
        EXPECT_TRUE(b.info.Found().Contains(mitID3V2)) << bad;
        EXPECT_TRUE(b.info.ID3v2List().empty()) << bad;
        EXPECT_EQ(b.info.AudioStart(), static_cast<int64_t>(badTag.size())) << bad;
    }
}

TEST(ID3v2Info, TagEndsWhereItsHeaderSays) {
    // 4 bytes left after the last frame: too few for a frame header.
    const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("Kept")) + Repeat(0, 4));
    Analysed a;
    Analyse(tag + Audio(), a);
    EXPECT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
    EXPECT_EQ(a.info.ID3v2List(), Lines({"TIT2=Kept"}));

    // No padding at all: the frames end exactly at the tag end.
    const Bytes exact = Id3v2(3, 0, Frame23("TIT2", Latin("Exact")));
    Analysed b;
    Analyse(exact + Audio(), b);
    EXPECT_TRUE(b.info.Found().Contains(mitID3V2));
    EXPECT_EQ(b.info.AudioStart(), static_cast<int64_t>(exact.size()));

    // A frame running past the tag end is dropped; the audio starts at the
    // end the header gives.
    Bytes over = Id3v2(3, 0, Frame23("TIT2", Latin("Kept")) + Frame23("TPE1", Latin("Over")));
    over[9] -= 2;  // the tag now claims 2 bytes less
    Analysed c;
    Analyse(over + Audio(), c);
    EXPECT_TRUE(c.info.Found().Contains(mitID3V2));
    EXPECT_EQ(c.info.AudioStart(), static_cast<int64_t>(over.size()) - 2);
    EXPECT_EQ(c.info.ID3v2List(), Lines({"TIT2=Kept"}));
}

TEST(ID3v2Info, Utf16TextInBothByteOrders) {
    const std::u16string title = u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F3B5";
    const Bytes frames = Frame23("TIT2", Text(1, Utf16LE(title) + Bytes{0, 0})) +
                         Frame23("TPE1", Text(1, Utf16BE(u"Big Endian"))) +
                         Frame23("TALB", Text(1, Utf16LE(u"No Mark", false))) +
                         Frame23("TYER", Text(1, Utf16BE(u"1987") + Bytes{0, 0, 'x', 0}));
    Analysed a;
    Analyse(Id3v2(3, 0, frames) + Audio(), a);
    EXPECT_EQ(a.info.Title(), "Grüße 日本 🎵");
    EXPECT_EQ(a.info.Artist(), "Big Endian");
    EXPECT_EQ(a.info.Album(), "No Mark");  // without a mark: little-endian
    EXPECT_EQ(a.info.Year(), "1987");      // ends at the zero code unit
}

TEST(ID3v2Info, CommentFrames) {
    // As an encoder writes it in UTF-16: empty description, then marked text.
    const Bytes comm = Text(1, B("eng") + Bytes{0, 0} + Utf16LE(u"Hello there"));
    const Bytes commDesc =
        Text(1, B("deu") + Utf16LE(u"d") + Bytes{0, 0} + Utf16BE(u"Grüß") + Bytes{0, 0});
    Analysed a;
    Analyse(Id3v2(3, 0, Frame23("COMM", comm) + Frame23("COMM", commDesc)) + Audio(), a);
    EXPECT_EQ(a.info.ID3v2List(), Lines({"COMM=Hello there", "COMM=Grüß"}));
    EXPECT_EQ(a.info.Comment(), "Hello there");
}

TEST(ID3v2Info, FramesLargerThanTheReaderAreSkippedUnread) {
    const Bytes picture = Text(0, B("image/png") + Bytes{0} + Repeat(0xAB, 3000));
    const Bytes tag =
        Id3v2(3, 0, Frame23("APIC", picture) + Frame23("TIT2", Latin("After")) + Repeat(0, 30));
    Analysed a;
    Analyse(tag + Audio(), a, 1024);
    EXPECT_EQ(a.info.ID3v2List(), Lines({"TIT2=After"}));
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));

    Analysed big;  // with a big reader the picture frame is listed by its MIME type
    Analyse(tag + Audio(), big);
    EXPECT_EQ(big.info.ID3v2List(), Lines({"APIC=image/png", "TIT2=After"}));
}

TEST(ID3v2Info, UnsynchronisedVersion23TagIsResynchronised) {
    const Bytes frames = Frame23("TIT2", Latin("A\xFF\xE0Z")) + Repeat(0, 12);
    const Bytes tag = Id3v2(3, 0x80, Unsynchronise(frames));
    Analysed a;
    Analyse(tag + Audio(), a);
    ASSERT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.Title(), "A\u00FF\u00E0Z");
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));

    Analysed small;  // too big to resynchronise in the reader: skipped unread
    Analyse(tag + Audio(), small, 16);
    EXPECT_TRUE(small.info.Found().Contains(mitID3V2));
    EXPECT_TRUE(small.info.ID3v2List().empty());
    EXPECT_EQ(small.info.AudioStart(), static_cast<int64_t>(tag.size()));
}

TEST(ID3v2Info, UnknownVersionsAreSkippedUnread) {
    const Bytes tag = Id3v2(5, 0, Frame23("TIT2", Latin("Future")) + Repeat(0, 10));
    Analysed a;
    Analyse(tag + Audio(), a);
    EXPECT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_TRUE(a.info.ID3v2List().empty());
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
}

// ---------------------------------------------------------------- ID3v2.4, 2.2

TEST(ID3v2Info, Version24Frames) {
    const std::string longTitle(300, 'x');  // needs the sync-safe size
    const Bytes frames =
        Frame24("TIT2", Text(3, B(longTitle))) +
        Frame24("TPE1", Text(3, B("Sigur R\xC3\xB3s"))) +
        Frame24("TALB", Text(2, Utf16BE(u"\u00C1g\u00E6tis", false) + Bytes{0, 0})) +
        Frame24("TCON", Text(0, B("17"))) + Frame24("TDRC", Text(0, B("1999-06-12"))) +
        // grouping byte + data length indicator + unsynchronised body
        Frame24("TRCK", Bytes{7} + BE32(3) + Unsynchronise(Latin("\xFF" "2")), 0x40 | 0x01 | 0x02) +
        Frame24("TXXX", Text(3, B("x")), 0x08);  // compressed: not read
    const Bytes tag = Id3v2(4, 0, frames + Repeat(0, 50));
    Analysed a;
    Analyse(tag + Audio(), a);
    ASSERT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
    EXPECT_EQ(a.info.Title(), longTitle);
    EXPECT_EQ(a.info.Artist(), "Sigur Rós");
    EXPECT_EQ(a.info.Album(), "Ágætis");
    EXPECT_EQ(a.info.Genre(), "Rock");
    EXPECT_EQ(a.info.Year(), "1999-06-12");
    EXPECT_EQ(a.info.Track(), "\u00FF" "2");
    EXPECT_EQ(TMP3Info::Lookup(a.info.ID3v2List(), "TXXX"), "");
    EXPECT_EQ(a.info.ID3v2List().size(), 6u);
}

TEST(ID3v2Info, Version24FooterAndExtendedHeader) {
    const Bytes ext = SyncSafe(6) + Bytes{1, 0};
    const Bytes content = ext + Frame24("TIT2", Text(3, B("Footed")));
    Bytes footer = B("3DI") + Bytes{4, 0, 0x50} + SyncSafe(static_cast<uint32_t>(content.size()));
    const Bytes tag = Id3v2(4, 0x50, content) + footer;
    Analysed a;
    Analyse(tag + Audio(), a);
    ASSERT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.Title(), "Footed");
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
}

TEST(ID3v2Info, Version24TagLevelUnsynchronisation) {
    const Bytes tag = Id3v2(4, 0x80, Frame24("TIT2", Unsynchronise(Latin("Q\xFF\xFF"))));
    Analysed a;
    Analyse(tag + Audio(), a);
    EXPECT_EQ(a.info.Title(), "Q\u00FF\u00FF");
}

TEST(ID3v2Info, Version22FramesUnderTheirLongNames) {
    const Bytes frames = Frame22("TT2", Latin("Old")) + Frame22("TP1", Latin("Band")) +
                         Frame22("TAL", Latin("Record")) + Frame22("TYE", Latin("1990")) +
                         Frame22("TCO", Latin("(8)")) + Frame22("TRK", Latin("3")) +
                         Frame22("COM", Text(0, B("eng") + Bytes{0} + B("remark"))) +
                         Frame22("TEN", Latin("enc"));
    const Bytes tag = Id3v2(2, 0, frames + Repeat(0, 6));
    Analysed a;
    Analyse(tag + Audio(), a);
    ASSERT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), static_cast<int64_t>(tag.size()));
    EXPECT_EQ(a.info.ID3v2List(), Lines({"TIT2=Old", "TPE1=Band", "TALB=Record", "TYER=1990",
                                         "TCON=(8)", "TRCK=3", "COMM=remark", "TEN=enc"}));
    EXPECT_EQ(a.info.Genre(), "Jazz");
}

TEST(ID3v2Info, GenreTexts) {
    EXPECT_EQ(wl::GenreText("17"), "Rock");
    EXPECT_EQ(wl::GenreText("(17)"), "Rock");
    EXPECT_EQ(wl::GenreText("(17)Indie Rock"), "Indie Rock");
    EXPECT_EQ(wl::GenreText("(RX)"), "Remix");
    EXPECT_EQ(wl::GenreText("((odd)"), "(odd)");
    EXPECT_EQ(wl::GenreText("(255)"), "");
    EXPECT_EQ(wl::GenreText("Post-Rock"), "Post-Rock");
    EXPECT_EQ(wl::GenreText("1234"), "1234");
    EXPECT_EQ(wl::GenreText("(x"), "(x");
}

// ---------------------------------------------------------------- wrappers

Bytes Chunk(std::string_view id, const Bytes& body) {
    Bytes c = B(id) + LE32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() & 1) c.push_back(0);
    return c;
}

Bytes Riff(const Bytes& chunks) {
    return B("RIFF") + LE32(static_cast<uint32_t>(chunks.size() + 4)) + B("WAVE") + chunks;
}

TEST(RiffInfo, DataChunkAndInfoListUpToIID3) {
    const Bytes audio = Audio(1001);  // odd: padded
    const Bytes info = B("INFO") + Chunk("INAM", B("Wave Title")) + Chunk("IART", B("Wave Artist")) +
                       Chunk("ICMT", B("odd")) + Chunk("IGNR", Bytes{}) +
                       Chunk("IID3", Repeat(0, 10)) + Chunk("IPRD", B("not read"));
    const Bytes file = Riff(Chunk("fmt ", Repeat(1, 16)) + Chunk("data", audio) +
                            Chunk("junk", Repeat(2, 7)) + Chunk("LIST", info));
    Analysed a;
    Analyse(file, a);
    ASSERT_TRUE(a.info.Found().Contains(mitRiff));
    EXPECT_EQ(a.info.AudioStart(), 12 + 24 + 8);
    EXPECT_EQ(a.info.AudioLength(), 1001);
    EXPECT_EQ(a.info.RiffDataStart(), 44);
    EXPECT_EQ(a.info.RiffList(), Lines({"INAM=Wave Title", "IART=Wave Artist", "ICMT=odd"}));
    EXPECT_EQ(a.info.Title(), "Wave Title");
    EXPECT_EQ(a.info.Artist(), "Wave Artist");
    EXPECT_EQ(a.info.Comment(), "odd");
    EXPECT_EQ(a.info.Album(), "");
}

TEST(RiffInfo, Id3v2InsideTheDataChunk) {
    const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("Inner")) + Repeat(0, 10));
    const Bytes file = Riff(Chunk("fmt ", Repeat(1, 16)) + Chunk("data", tag + Audio(500)));
    Analysed a;
    Analyse(file, a);
    EXPECT_TRUE(a.info.Found().Contains(mitRiff));
    EXPECT_TRUE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), 44 + static_cast<int64_t>(tag.size()));
    EXPECT_EQ(a.info.AudioLength(), 500);
    EXPECT_EQ(a.info.Title(), "Inner");
}

TEST(RiffInfo, WithoutADataChunkOrWithBadSizes) {
    Analysed none;
    Analyse(Riff(Chunk("fmt ", Repeat(1, 16))) + Audio(), none);
    EXPECT_FALSE(none.info.Found().Contains(mitRiff));
    EXPECT_EQ(none.info.AudioStart(), 0);

    Analysed negative;
    Analyse(Riff(B("fmt ") + LE32(0x80000000u) + Repeat(1, 16) + Chunk("data", Audio())), negative);
    EXPECT_FALSE(negative.info.Found().Contains(mitRiff));

    Analysed huge;  // a chunk claiming far more than the file
    Analyse(Riff(B("fmt ") + LE32(0x7FFFFFF0u) + Repeat(1, 16)), huge);
    EXPECT_FALSE(huge.info.Found().Contains(mitRiff));

    // An INFO entry with a negative size ends the list.
    const Bytes info = B("INFO") + Chunk("INAM", B("ok")) + B("IART") + LE32(0xFFFFFFFFu) + B("zz");
    Analysed badInfo;
    Analyse(Riff(Chunk("data", Audio(10)) + Chunk("LIST", info)), badInfo);
    EXPECT_EQ(badInfo.info.RiffList(), Lines({"INAM=ok"}));
}

Bytes MacBinaryHeader(uint32_t dataLength, uint32_t resourceLength) {
    Bytes h(128, 0);
    h[1] = 5;
    const char* name = "track";
    std::copy(name, name + 5, h.begin() + 2);
    const Bytes d = BE32(dataLength), r = BE32(resourceLength);
    std::copy(d.begin(), d.end(), h.begin() + 83);
    std::copy(r.begin(), r.end(), h.begin() + 87);
    return h;
}

TEST(MacBinaryInfo, Id3v1AtTheEndOfTheDataFork) {
    const Bytes data = Audio(2000) + Id3v1("Fork Title");
    const Bytes resource = Repeat(3, 200 - 128) + Id3v1("Resource Title");
    const Bytes file = MacBinaryHeader(static_cast<uint32_t>(data.size()), 200) + data + resource;
    Analysed a;
    Analyse(file, a);
    EXPECT_TRUE(a.info.Found().Contains(mitMacBin));
    EXPECT_EQ(a.info.AudioStart(), 128);
    EXPECT_EQ(a.info.AudioLength(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(a.info.MacBinaryDataEnd(), 128 + static_cast<int64_t>(data.size()));
    EXPECT_EQ(a.info.Title(), "Fork Title");

    // With an ID3v2 tag at the start of the data fork.
    const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("Mac")) + Repeat(0, 10));
    const Bytes data2 = tag + Audio(300);
    Analysed b;
    Analyse(MacBinaryHeader(static_cast<uint32_t>(data2.size()), 0) + data2, b);
    EXPECT_EQ(b.info.AudioStart(), 128 + static_cast<int64_t>(tag.size()));
    EXPECT_EQ(b.info.AudioLength(), 300);

    Bytes bad = file;
    bad[1] = 0;  // no file name: not MacBinary
    Analysed c;
    Analyse(bad, c);
    EXPECT_FALSE(c.info.Found().Contains(mitMacBin));
    EXPECT_EQ(c.info.AudioStart(), 0);
    EXPECT_EQ(c.info.Title(), "Resource Title");
}

// ---------------------------------------------------------------- accessors

TEST(MP3InfoAccessors, LongestTextWinsAmongTheWantedSources) {
    auto file = [](const char* v1Artist, const char* v2Artist) {
        return Id3v2(3, 0, Frame23("TPE1", Latin(v2Artist))) + Audio() + Id3v1("", v1Artist);
    };
    Analysed a;
    Analyse(file("AB", "ABC"), a);
    EXPECT_EQ(a.info.Artist(), "ABC");
    Analysed tie;
    Analyse(file("ABC", "XYZ"), tie);
    EXPECT_EQ(tie.info.Artist(), "ABC");  // equal length: ID3v1 first
    tie.info.SetNeedInfoType({mitID3V2});
    EXPECT_EQ(tie.info.Artist(), "XYZ");
    Analysed longer;
    Analyse(file("Longer One", "ABC"), longer);
    longer.info.SetNeedInfoType({mitID3V2});
    EXPECT_EQ(longer.info.Artist(), "ABC");
    longer.info.SetNeedInfoType({mitMacBin, mitLyrics});
    EXPECT_EQ(longer.info.Artist(), "");
    longer.info.SetNeedInfoType({mitID3V1, mitRiff});
    EXPECT_EQ(longer.info.Artist(), "Longer One");
    EXPECT_EQ(TMP3Info().NeedInfoType(), (TMP3InfoType{mitID3V1, mitID3V2, mitRiff}));
}

TEST(MP3InfoAccessors, RiffCompetesAndLookupIgnoresCase) {
    const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("Short")));
    const Bytes info = B("INFO") + Chunk("INAM", B("A Longer Title")) + Chunk("ICRD", B("2020"));
    const Bytes file = Riff(Chunk("data", tag + Audio(100)) + Chunk("LIST", info));
    Analysed a;
    Analyse(file, a);
    EXPECT_EQ(a.info.Title(), "A Longer Title");
    EXPECT_EQ(a.info.Year(), "2020");
    a.info.SetNeedInfoType({mitID3V1, mitID3V2});
    EXPECT_EQ(a.info.Title(), "Short");
    EXPECT_EQ(TMP3Info::Lookup(a.info.RiffList(), "inam"), "A Longer Title");
    EXPECT_EQ(TMP3Info::Lookup({"A=b=c", "A=second"}, "a"), "b=c");
}

TEST(MP3InfoAccessors, AttachForgetsTheLastFile) {
    Analysed a;
    Analyse(Id3v2(3, 0, Frame23("TIT2", Latin("First"))) + Audio() + Id3v1("v1"), a);
    ASSERT_FALSE(a.info.Title().empty());
    a.info.Reset();
    EXPECT_EQ(a.info.Title(), "");
    EXPECT_TRUE(a.info.Found().Empty());
    EXPECT_EQ(a.info.AudioStart(), 0);
    EXPECT_EQ(a.info.AudioLength(), TMP3Info::kUnknownLength);
    EXPECT_EQ(a.info.RiffDataSize(), TMP3Info::kUnknownLength);
    EXPECT_FALSE(a.info.AnalyzeHead());  // nothing attached
}

TEST(MP3InfoAccessors, HeadAnswersWhetherAByteFollows) {
    Analysed tagOnly;
    Analyse(Id3v2(3, 0, Frame23("TIT2", Latin("Alone"))), tagOnly);
    EXPECT_TRUE(tagOnly.info.Found().Contains(mitID3V2));
    EXPECT_FALSE(tagOnly.byteFollows);
    EXPECT_EQ(tagOnly.info.AudioLength(), 0);
}

// ---------------------------------------------------------------- text

TEST(TextEncoding, Conversions) {
    using wl::EightBitToUtf8;
    using wl::IsValidUtf8;
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    const Bytes cp1252 = {0x80, 0x81, 0x99, 0xA0, 0xFF};
    EXPECT_EQ(EightBitToUtf8(cp1252), "\u20AC\u0081\u2122\u00A0\u00FF");
    const Bytes lone = {0x3D, 0xD8, 'a', 0};  // a lone high surrogate, little-endian
    EXPECT_EQ(wl::Utf16ToUtf8(lone, wl::TUtf16Order::LittleEndian), "\uFFFDa");
    const Bytes oddLength = {0xFE, 0xFF, 0, 'o', 0, 'k', 0};
    EXPECT_EQ(wl::Utf16ToUtf8(oddLength, wl::TUtf16Order::LittleEndian), "ok");
}

// ---------------------------------------------------------------- hostile input

TEST(MP3InfoHostile, SizesThatLieAreNotBelieved) {
    // A tag claiming more than the file holds.
    Bytes tooBig = Id3v2(3, 0, Frame23("TIT2", Latin("Big")));
    tooBig[6] = 0x7F;
    Analysed a;
    Analyse(tooBig + Audio(), a);
    EXPECT_FALSE(a.info.Found().Contains(mitID3V2));
    EXPECT_EQ(a.info.AudioStart(), 0);

    // Whole (not sync-safe) size bytes: about 2 GiB.
    Bytes whole = tooBig;
    whole[6] = whole[7] = whole[8] = whole[9] = 0xFF;
    Analysed b;
    Analyse(whole + Audio(), b);
    EXPECT_EQ(b.info.AudioStart(), 0);

    // Frames claiming gigabytes or more than the tag are dropped; the tag
    // still ends where its header says.
    for (uint32_t size : {0x7FFFFFFFu, 0x10000000u, 1000u}) {
        const Bytes tag = Id3v2(3, 0, B("TIT2") + BE32(size) + Bytes{0, 0} + Latin("x") + Repeat(0, 20));
        Analysed c;
        Analyse(tag + Audio(), c, 256);
        EXPECT_TRUE(c.info.Found().Contains(mitID3V2)) << size;
        EXPECT_TRUE(c.info.ID3v2List().empty()) << size;
        EXPECT_EQ(c.info.AudioStart(), static_cast<int64_t>(tag.size())) << size;
    }
    // A negative frame size reads as the start of the padding: the tag still
    // ends where its header says.
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu}) {
        const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("ok")) + B("TPE1") + BE32(size) +
                                          Bytes{0, 0} + Latin("x") + Repeat(0, 20));
        Analysed c;
        Analyse(tag + Audio(), c, 256);
        EXPECT_TRUE(c.info.Found().Contains(mitID3V2)) << size;
        EXPECT_EQ(c.info.AudioStart(), static_cast<int64_t>(tag.size())) << size;
        EXPECT_EQ(c.info.ID3v2List(), Lines({"TIT2=ok"}));
    }

    // Truncated: the file ends inside the tag.
    Bytes cut = Id3v2(3, 0, Frame23("TIT2", Latin("Truncated title")) + Repeat(0, 100));
    cut.resize(30);
    Analysed d;
    Analyse(cut, d);
    EXPECT_FALSE(d.info.Found().Contains(mitID3V2));
    EXPECT_EQ(d.info.AudioStart(), 0);
}

// Mutated tags through the real reader: never a crash, a hang or a read
// outside a buffer (run under the sanitizers), always sane results.
TEST(MP3InfoHostile, RandomlyMutatedInput) {
    const Bytes seeds[] = {
        Id3v2(3, 0x40, BE32(6) + Repeat(0, 6) + Frame23("TIT2", Text(1, Utf16LE(u"t\u00E9"))) +
                           Frame23("COMM", Text(0, B(std::string_view("eng\0d", 5)) + Bytes{0} + B("c"))) +
                           Repeat(0, 20)) + Audio(300) + Id3v1("v1", "a", "b", "1", "c", 17, 3),
        Id3v2(4, 0x50, Frame24("TIT2", Text(3, B("x")), 0x43) + Frame24("TPE1", Text(2, Utf16BE(u"y")))) +
            B("3DI") + Bytes{4, 0, 0x50, 0, 0, 0, 30} + Audio(200),
        Id3v2(2, 0, Frame22("TT2", Latin("two")) + Frame22("COM", Text(1, B("eng") + Utf16LE(u"c")))) +
            Audio(100),
        Id3v2(3, 0x80, Unsynchronise(Frame23("TIT2", Latin("\xFF\xFF")) + Repeat(0, 10))) + Audio(100),
        Riff(Chunk("fmt ", Repeat(1, 16)) + Chunk("data", Audio(51)) +
             Chunk("LIST", B("INFO") + Chunk("INAM", B("n")) + Chunk("IART", B("abc")))),
        MacBinaryHeader(400, 50) + Audio(272) + Id3v1("mac") + Repeat(0, 50),
        // 2.4 with plain frame sizes, gain and gapless frames, then a second tag.
        Id3v2(4, 0x40, Frame23("TIT2", Text(3, B(std::string(200, 't')))) +
                           Frame23("RVA2", B("track") + Bytes{0, 1, 0xF9, 0, 16, 0x70, 0}) +
                           Frame23("TXXX", Text(1, Utf16LE(u"REPLAYGAIN_TRACK_GAIN") + Bytes{0, 0} + Utf16LE(u"-6.2 dB"))) +
                           Frame23("COMM", Text(0, B("eng") + B("iTunSMPB") + Bytes{0} + B(" 0 210 3C4 A6A00"))) +
                           Repeat(0, 8)) +
            Id3v2(3, 0, Frame23("TALB", Latin("second"))) + Audio(100),
    };
    std::mt19937 rng(2024);
    int iterations = 0;
    for (int round = 0; round < 600; ++round) {
        for (const Bytes& seed : seeds) {
            Bytes file = seed;
            const int edits = 1 + static_cast<int>(rng() % 6);
            for (int e = 0; e < edits && !file.empty(); ++e) {
                const size_t at = rng() % file.size();
                switch (rng() % 5) {
                    case 0: file[at] = static_cast<uint8_t>(rng()); break;
                    case 1: file[at] = static_cast<uint8_t>(rng() % 2 ? 0xFF : 0x00); break;
                    case 2: file[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                    case 3: file.resize(at); break;
                    default: file.insert(file.begin() + static_cast<ptrdiff_t>(at), rng() % 16, 0); break;
                }
            }
            const int32_t capacity = std::array<int32_t, 3>{32, 256, 65536}[rng() % 3];
            Analysed a;
            Analyse(file, a, capacity);
            ++iterations;
            ASSERT_GE(a.info.AudioStart(), 0);
            ASSERT_LE(a.info.AudioStart(), static_cast<int64_t>(file.size()));
            for (const auto* list : {&a.info.ID3v1List(), &a.info.ID3v2List(), &a.info.RiffList()}) {
                for (const auto& line : *list) ASSERT_TRUE(wl::IsValidUtf8(line)) << line;
            }
            for (const std::string& v : {a.info.Title(), a.info.Artist(), a.info.Album(),
                                         a.info.Year(), a.info.Comment(), a.info.Genre(),
                                         a.info.Track()}) {
                ASSERT_TRUE(wl::IsValidUtf8(v)) << v;
            }
            const wl::TReplayGain gain = a.info.ReplayGain();
            for (const auto& v : {gain.trackGainDb, gain.trackPeak, gain.albumGainDb, gain.albumPeak}) {
                ASSERT_TRUE(!v || std::isfinite(*v));
            }
            const wl::TGaplessInfo& gapless = a.info.TagGapless();
            ASSERT_TRUE(!gapless.present ||
                        (gapless.encoderDelay >= 0 && gapless.padding >= 0 && gapless.sampleCount >= 0));
        }
    }
    EXPECT_EQ(iterations, 4200);
}

TEST(MP3InfoFiles, AnalysisThroughAFile) {
    wl::test::TempDir dir;
    const Bytes tag = Id3v2(3, 0, Frame23("TIT2", Latin("On Disk")) + Repeat(0, 100));
    const Bytes file = tag + Audio(70000) + Id3v1("v1", "Disk Artist");
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("t.mp3"), file));
    wl::TFileStream stream(dir.File("t.mp3"));
    TMPStreamReader reader(65536);
    reader.Open(&stream);
    TMP3Info info;
    info.Attach(&reader);
    EXPECT_TRUE(info.AnalyzeHead());
    info.AnalyzeTail();
    EXPECT_EQ(info.AudioStart(), static_cast<int64_t>(tag.size()));
    EXPECT_EQ(info.AudioLength(), 70128);
    EXPECT_EQ(info.Title(), "On Disk");
    EXPECT_EQ(info.Artist(), "Disk Artist");
}

}  // namespace
