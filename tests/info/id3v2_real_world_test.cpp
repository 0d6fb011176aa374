// ID3v2 tags as real taggers write them, damage included: plain frame sizes in
// 2.4, tags in a row, a flagged but missing extended header, broken frames,
// comment choice, byte-order marks, URL frames; and the gapless and ReplayGain
// values read from comment, user-text and RVA2 frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/stream_reader.h"
#include "info/mp3_info.h"
#include "info/text_encoding.h"
#include "tests/stream_builder.h"
#include "tests/tag_builder.h"
#include "tests/test_support.h"
#include "tools/info_print.h"

namespace {

using wl::mitID3V2;
using wl::TMP3Info;
using wl::test::AppendBytes;
using wl::test::AsciiBytes;
using wl::test::EncodeText;
using wl::test::Id3v2TagBuilder;
using wl::test::TagBytes;
using wl::test::TFrameSizes;

// Two real MPEG-1 Layer III frames standing for the audio.
TagBytes Audio() {
    TagBytes b = wl::test::SilentFrameMpeg1(0, 0, 0);
    AppendBytes(b, wl::test::SilentFrameMpeg1(0, 0, 0));
    return b;
}

TagBytes Join(std::initializer_list<TagBytes> parts) {
    TagBytes out;
    for (const auto& p : parts) AppendBytes(out, p);
    return out;
}

struct Analysed {
    TMP3Info info;
    int64_t fileSize = 0;
};

void Analyse(const TagBytes& file, Analysed& out, int32_t capacity = 65536) {
    wl::TMemoryStream stream(file);
    wl::TMPStreamReader reader(capacity);
    reader.Open(&stream);
    out.info.Attach(&reader);
    out.info.AnalyzeHead();
    out.info.AnalyzeTail();
    out.fileSize = static_cast<int64_t>(file.size());
}

// The audio of `file` starts at `at` with a frame sync.
void ExpectAudioAt(const Analysed& a, const TagBytes& file, size_t at) {
    EXPECT_TRUE(a.info.Found().Contains(mitID3V2));
    ASSERT_EQ(a.info.AudioStart(), static_cast<int64_t>(at));
    ASSERT_LT(at + 1, file.size());
    EXPECT_EQ(file[at], 0xFF);
    EXPECT_EQ(file[at + 1] & 0xE0, 0xE0);
    EXPECT_EQ(a.info.AudioLength(), static_cast<int64_t>(file.size() - at));
}

// ---------------------------------------------------------------- tag walking

TEST(RealWorldTags, Version24WithPlainFrameSizes) {
    const std::string longComment(5000, 'c');  // plain 0x1388: the sync-safe reading differs
    const std::string title(300, 't');         // plain 0x12C: 7-bit bytes, read sync-safe as 172
    auto build = [&](size_t padding) {
        return Id3v2TagBuilder(4)
            .FrameSizes(TFrameSizes::Plain)
            .Text("TIT2", title, 3)
            .Comment("", longComment)
            .Text("TPE1", "After The Big One", 3)
            .Padding(padding)
            .Build();
    };
    for (size_t padding : {size_t{0}, size_t{2}, size_t{700}}) {
        const TagBytes tag = build(padding);
        ASSERT_GT(tag.size(), 4096u);
        const TagBytes file = Join({tag, Audio()});
        // A reader smaller than the big frame looks past it by seeking.
        for (int32_t capacity : {65536, 1024}) {
            Analysed a;
            Analyse(file, a, capacity);
            SCOPED_TRACE(testing::Message() << "padding " << padding << ", reader " << capacity);
            ExpectAudioAt(a, file, tag.size());
            EXPECT_EQ(a.info.Title(), title);
            EXPECT_EQ(a.info.Artist(), "After The Big One");
            EXPECT_EQ(a.info.Comment(), capacity > 5100 ? longComment : "");
        }
    }

    // A sync-safe size is kept when it lands on a frame, even where the plain
    // reading would land on one too: 00 00 01 00 is 128 sync-safe, 256 plain.
    TagBytes first{0};
    AppendBytes(first, EncodeText(0, std::string(127, 'a')));
    TagBytes second = Join({{0}, AsciiBytes("Real")});
    second.resize(118, 0);
    AppendBytes(second, Join({AsciiBytes("TPE1"), {0, 0, 0, 2, 0, 0, 0, 'x'}}));
    second.resize(200, 0);
    const TagBytes syncSafe = Id3v2TagBuilder(4).Frame("TIT2", first).Frame("TALB", second).Build();
    Analysed s;
    Analyse(Join({syncSafe, Audio()}), s);
    EXPECT_EQ(s.info.Title(), std::string(127, 'a'));
    EXPECT_EQ(s.info.Album(), "Real");
    EXPECT_EQ(s.info.Artist(), "");
}

TEST(RealWorldTags, DamagedTagsStillEndWhereTheirHeaderSays) {
    struct Case {
        const char* what;
        TagBytes tag;
        std::vector<std::string> lines;
    };
    auto leftover = Id3v2TagBuilder(3).Text("TIT2", "Kept").Build();
    AppendBytes(leftover, {'x', 'y', 'z'});  // junk after the last frame
    leftover[9] += 3;
    auto garbage = Id3v2TagBuilder(3).Text("TIT2", "Kept").Frame("TPE1", {0, 'A'}).Build();
    garbage[10 + 15] = 'a';  // a lower-case identifier: not a frame
    auto overrun = Id3v2TagBuilder(4).Text("TIT2", "Kept", 3).Text("TPE1", "Cut", 3).Build();
    overrun[9] -= 3;  // the last frame now runs past the end
    overrun.resize(overrun.size() - 3);
    TagBytes unsyncBig = Id3v2TagBuilder(3).HeaderFlags(0x80).Text("TIT2", std::string(3000, 'u')).Build();
    TagBytes footed = Id3v2TagBuilder(4).HeaderFlags(0x10).Text("TIT2", "Kept", 3).Padding(3).Build();
    AppendBytes(footed, Join({AsciiBytes("3DI"), {4, 0, 0x10}, TagBytes(footed.begin() + 6, footed.begin() + 10)}));
    const Case cases[] = {
        {"leftover bytes", leftover, {"TIT2=Kept"}},
        {"bytes that are no frame", garbage, {"TIT2=Kept"}},
        {"frame past the end", overrun, {"TIT2=Kept"}},
        {"unknown version", Id3v2TagBuilder(7).Text("TIT2", "Future").Build(), {}},
        {"unsynchronised, larger than the reader", unsyncBig, {}},
        {"2.4 footer after padding", footed, {"TIT2=Kept"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TagBytes file = Join({c.tag, Audio()});
        Analysed a;
        Analyse(file, a, 2048);
        ExpectAudioAt(a, file, c.tag.size());
        EXPECT_EQ(a.info.ID3v2List(), c.lines);
    }
}

TEST(RealWorldTags, EveryTagInARowIsSkippedAndTheFirstWins) {
    const TagBytes newest = Id3v2TagBuilder(4).Text("TIT2", "New", 3).Padding(20).Build();
    const TagBytes older = Id3v2TagBuilder(3)
                               .Text("TIT2", "Old Longer Title")
                               .Text("TALB", "Old Album")
                               .Comment("", "old comment")
                               .Padding(100)
                               .Build();
    auto damaged = Id3v2TagBuilder(3).Text("TPE1", "Oldest").Build();
    AppendBytes(damaged, {1, 2, 3});
    damaged[9] += 3;
    const TagBytes file = Join({newest, older, damaged, Audio()});
    Analysed a;
    Analyse(file, a);
    ExpectAudioAt(a, file, newest.size() + older.size() + damaged.size());
    EXPECT_EQ(a.info.ID3v2List(),
              (std::vector<std::string>{"TIT2=New", "TIT2=Old Longer Title", "TALB=Old Album",
                                        "COMM=old comment", "TPE1=Oldest"}));
    EXPECT_EQ(a.info.Title(), "New");  // the newest tag's value, though shorter
    EXPECT_EQ(a.info.Album(), "Old Album");
    EXPECT_EQ(a.info.Artist(), "Oldest");
    EXPECT_EQ(a.info.Comment(), "old comment");

    // A tag after a gap is audio data, not a tag in the row.
    const TagBytes gap = Join({newest, {0}, older, Audio()});
    Analysed b;
    Analyse(gap, b);
    EXPECT_EQ(b.info.AudioStart(), static_cast<int64_t>(newest.size()));
}

TEST(RealWorldTags, ExtendedHeaderFlagWithoutAnExtendedHeader) {
    for (uint8_t major : {uint8_t{3}, uint8_t{4}}) {
        SCOPED_TRACE(testing::Message() << "version 2." << int{major});
        const TagBytes flagOnly = Id3v2TagBuilder(major).HeaderFlags(0x40).Text("TIT2", "Flag Only").Padding(10).Build();
        const TagBytes real = Id3v2TagBuilder(major).ExtendedHeader().Text("TIT2", "Real Header").Padding(10).Build();
        for (const auto& [tag, title] : {std::pair{flagOnly, "Flag Only"}, std::pair{real, "Real Header"}}) {
            const TagBytes file = Join({tag, Audio()});
            Analysed a;
            Analyse(file, a);
            ExpectAudioAt(a, file, tag.size());
            EXPECT_EQ(a.info.Title(), title);
        }
    }
    // The same in an unsynchronised 2.3 tag (no 0xFF in it, so its bytes are unchanged).
    const TagBytes unsync = Id3v2TagBuilder(3).HeaderFlags(0xC0).Text("TIT2", "Unsync Flag").Build();
    Analysed u;
    Analyse(Join({unsync, Audio()}), u);
    EXPECT_EQ(u.info.Title(), "Unsync Flag");
}

// ---------------------------------------------------------------- frame texts

TEST(RealWorldTags, BrokenFramesLeaveNothingBehind) {
    const TagBytes tag = Id3v2TagBuilder(3)
                             .Frame("COMM", Join({{0}, AsciiBytes("eng")}))  // language only
                             .Frame("COMM", Join({{0}, AsciiBytes("en")}))   // cut inside the language
                             .Frame("COMM", Join({{1}, AsciiBytes("eng"), EncodeText(1, "no end")}))
                             .Frame("TXXX", Join({{0}, AsciiBytes("description only")}))
                             .Frame("TPE1", Join({{9}, AsciiBytes("encoding 9")}))
                             .Frame("TALB", {})
                             .Text("TIT2", "Whole")
                             .Build();
    const TagBytes file = Join({tag, Audio()});
    Analysed a;
    Analyse(file, a);
    ExpectAudioAt(a, file, tag.size());
    EXPECT_EQ(a.info.ID3v2List(), (std::vector<std::string>{"TIT2=Whole"}));
    EXPECT_EQ(a.info.Comment(), "");
    EXPECT_EQ(a.info.Artist(), "");
}

TEST(RealWorldTags, CommentIsTheOneMeantForPeople) {
    const std::string norm = " 00000A2B 00000A2B 00002F53 00002F53 00000000";
    auto comments = [&](bool withPlain) {
        Id3v2TagBuilder b(3);
        b.Comment("iTunNORM", norm).Comment("ITUNES_CDDB_IDS", "9+647C467468A+1234").Comment("itunpgap", "0");
        b.Comment("Songs-DB_Custom1", "custom text").Comment("another", "not this");
        if (withPlain) b.Comment("", "the real comment", 1, "deu").Comment("", "a later one");
        return Join({b.Build(), Audio()});
    };
    Analysed plain;
    Analyse(comments(true), plain);
    EXPECT_EQ(plain.info.Comment(), "the real comment");
    Analysed described;
    Analyse(comments(false), described);
    EXPECT_EQ(described.info.Comment(), "custom text");

    // Machine-written ones only: no ID3v2 comment, so the ID3v1 one shows.
    const TagBytes machine = Id3v2TagBuilder(3).Comment("iTunNORM", norm).Comment("iTunSMPB", norm).Build();
    TagBytes v1 = AsciiBytes("TAG");
    v1.resize(128, 0);
    std::copy_n("v1 remark", 9, v1.begin() + 97);
    Analysed m;
    Analyse(Join({machine, Audio(), v1}), m);
    EXPECT_EQ(m.info.Comment(), "v1 remark");
    // The usual choice among the sources: the longer text wins.
    const TagBytes shortOne = Id3v2TagBuilder(3).Comment("", "short").Build();
    Analysed longest;
    Analyse(Join({shortOne, Audio(), v1}), longest);
    EXPECT_EQ(longest.info.Comment(), "v1 remark");
    longest.info.SetNeedInfoType({mitID3V2});
    EXPECT_EQ(longest.info.Comment(), "short");
}

TEST(RealWorldTags, ByteOrderMarksAloneAreEmptyAndUrlsAreWhole) {
    const TagBytes tag = Id3v2TagBuilder(3)
                             .Frame("TALB", {1, 0xFF, 0xFE})
                             .Frame("TPE1", {1, 0xFE, 0xFF, 0x00, 0x00})
                             .Frame("TCON", {0, 0xFE, 0xFF})  // a mark under the 8-bit encoding
                             .Frame("TYER", {0, 0xFF, 0xFE, 0x00})
                             .Frame("TCOM", {3, 0xEF, 0xBB, 0xBF})
                             .Frame("TIT2", {1, 0xFF, 0xFE, 0xFF, 0xFE, 'H', 0, 'i', 0})
                             .Frame("COMM", Join({{1}, AsciiBytes("eng"), {0xFF, 0xFE, 0, 0, 0xFF, 0xFE}}))
                             .Frame("WOAR", AsciiBytes("http://artist.example/page"))
                             .Frame("WXXX", Join({{1}, EncodeText(1, "home", true), AsciiBytes("https://w.example/")}))
                             .Build();
    const TagBytes file = Join({tag, Audio()});
    Analysed a;
    Analyse(file, a);
    EXPECT_EQ(a.info.ID3v2List(),
              (std::vector<std::string>{"TALB=", "TPE1=", "TCON=", "TYER=", "TCOM=", "TIT2=Hi", "COMM=",
                                        "WOAR=http://artist.example/page", "WXXX=https://w.example/"}));

    // The listing of wl-decode --info shows the same.
    wl::test::TempDir dir;
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("t.mp3"), file));
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::string error;
    ASSERT_TRUE(wl::tools::PrintMediaInfo(dir.File("t.mp3"), out, error)) << error;
    std::fclose(out);
    const std::string listing(text, size);
    std::free(text);
    EXPECT_NE(listing.find("  WOAR=http://artist.example/page\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("  TALB=\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("\xC3\xBE"), std::string::npos) << listing;  // no "þ"
}

// ---------------------------------------------------------------- gapless, gain

TEST(TagGainAndGapless, GaplessFromCommentOrUserText) {
    const std::string smpb =
        " 00000000 00000210 000003C4 00000000000A6A00 00000000 00000000 00000000 00000000";
    const TagBytes fromComment = Id3v2TagBuilder(3).Comment("iTunSMPB", smpb).Comment("", "hello").Build();
    Analysed c;
    Analyse(Join({fromComment, Audio()}), c);
    const wl::TGaplessInfo& g = c.info.TagGapless();
    EXPECT_TRUE(g.present);
    EXPECT_EQ(g.encoderDelay, 0x210);
    EXPECT_EQ(g.padding, 0x3C4);
    EXPECT_EQ(g.sampleCount, 0xA6A00);
    EXPECT_EQ(c.info.Comment(), "hello");

    // In a UTF-16 user text of a 2.4 tag; the first one that parses counts.
    const TagBytes fromText = Id3v2TagBuilder(4)
                                  .UserText("ITUNSMPB", "not hex at all", 1)
                                  .UserText("iTunSMPB", "00000000 00000840 00000100 0000000000001000", 1)
                                  .UserText("iTunSMPB", "00000000 00000001 00000002 0000000000000003", 1)
                                  .Build();
    Analysed t;
    Analyse(Join({fromText, Audio()}), t);
    EXPECT_TRUE(t.info.TagGapless().present);
    EXPECT_EQ(t.info.TagGapless().encoderDelay, 0x840);
    EXPECT_EQ(t.info.TagGapless().padding, 0x100);
    EXPECT_EQ(t.info.TagGapless().sampleCount, 0x1000);

    // Too few fields, a field too long, a negative count: nothing.
    for (const char* bad : {" 00000000 00000210 000003C4", " 0 1 2 11111111111111111", " 0 1 2 FFFFFFFFFFFFFFFF"}) {
        Analysed b;
        Analyse(Join({Id3v2TagBuilder(3).Comment("iTunSMPB", bad).Build(), Audio()}), b);
        EXPECT_FALSE(b.info.TagGapless().present) << bad;
    }
    c.info.Reset();
    EXPECT_FALSE(c.info.TagGapless().present);
}

TEST(TagGainAndGapless, ReplayGainFromUserTexts) {
    const TagBytes tag = Id3v2TagBuilder(3)
                             .UserText("replaygain_track_gain", "-6.20 dB")
                             .UserText("REPLAYGAIN_TRACK_PEAK", "0.988123")
                             .UserText("ReplayGain_Album_Gain", "+1,5dB", 1)
                             .UserText("replaygain_album_peak", "1.051", 1)
                             .UserText("replaygain_track_gain", "-1.00 dB")  // a second one: ignored
                             .Build();
    Analysed a;
    Analyse(Join({tag, Audio()}), a);
    const wl::TReplayGain g = a.info.ReplayGain();
    ASSERT_TRUE(g.trackGainDb && g.trackPeak && g.albumGainDb && g.albumPeak);
    EXPECT_DOUBLE_EQ(*g.trackGainDb, -6.2);
    EXPECT_DOUBLE_EQ(*g.trackPeak, 0.988123);
    EXPECT_DOUBLE_EQ(*g.albumGainDb, 1.5);
    EXPECT_DOUBLE_EQ(*g.albumPeak, 1.051);
    // Listed with their descriptions.
    EXPECT_EQ(a.info.ID3v2List().front(), "TXXX=replaygain_track_gain: -6.20 dB");

    // Values that are not numbers are absent.
    const TagBytes bad = Id3v2TagBuilder(4)
                             .UserText("REPLAYGAIN_TRACK_GAIN", "loud", 3)
                             .UserText("REPLAYGAIN_TRACK_PEAK", "-0.5", 3)
                             .UserText("REPLAYGAIN_ALBUM_GAIN", "nan dB", 3)
                             .UserText("REPLAYGAIN_ALBUM_PEAK", "0.9x", 3)
                             .Build();
    Analysed b;
    Analyse(Join({bad, Audio()}), b);
    const wl::TReplayGain none = b.info.ReplayGain();
    EXPECT_FALSE(none.trackGainDb || none.trackPeak || none.albumGainDb || none.albumPeak);
}

TEST(TagGainAndGapless, ReplayGainFromRva2AndTheUserTextsWin) {
    const TagBytes tag = Id3v2TagBuilder(4)
                             .Rva2("TRACK", -1792, 0x7000)             // -3.5 dB, 0.875
                             .Rva2("album", 1024, 0, 0, true)          // +2 dB, no peak; master second
                             .Rva2("track", 512, 0x4000)               // a second track entry: ignored
                             .Rva2("some file name", 2560, 0x1000)     // neither track nor album
                             .UserText("REPLAYGAIN_ALBUM_GAIN", "-4.00 dB", 3)
                             .Build();
    Analysed a;
    Analyse(Join({tag, Audio()}), a);
    const wl::TReplayGain g = a.info.ReplayGain();
    ASSERT_TRUE(g.trackGainDb && g.trackPeak && g.albumGainDb);
    EXPECT_DOUBLE_EQ(*g.trackGainDb, -3.5);
    EXPECT_DOUBLE_EQ(*g.trackPeak, 0.875);
    EXPECT_DOUBLE_EQ(*g.albumGainDb, -4.0);  // the user text wins
    EXPECT_FALSE(g.albumPeak);
    EXPECT_EQ(wl::TMP3Info::Lookup(a.info.ID3v2List(), "RVA2"), "TRACK");

    // Without a master-volume entry, or cut short: nothing.
    Analysed none;
    Analyse(Join({Id3v2TagBuilder(3)
                      .Frame("RVA2", Join({AsciiBytes("track"), {0}, {2, 0x10, 0x00, 16, 0x7F, 0xFF}}))
                      .Frame("RVA2", Join({AsciiBytes("album"), {0}, {1, 0x10, 0x00, 16, 0x7F}}))
                      .Build(),
                  Audio()}),
            none);
    const wl::TReplayGain n = none.info.ReplayGain();
    EXPECT_FALSE(n.trackGainDb || n.trackPeak || n.albumGainDb || n.albumPeak);
}

TEST(TagGainAndGapless, InfoListingShowsThem) {
    const TagBytes tag = Id3v2TagBuilder(3)
                             .Comment("iTunSMPB", " 00000000 00000240 00000300 0000000000020000")
                             .UserText("REPLAYGAIN_TRACK_GAIN", "-6.20 dB")
                             .Rva2("album", -512, 0x8000)
                             .Build();
    wl::test::TempDir dir;
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("g.mp3"), Join({tag, Audio()})));
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::string error;
    ASSERT_TRUE(wl::tools::PrintMediaInfo(dir.File("g.mp3"), out, error)) << error;
    std::fclose(out);
    const std::string listing(text, size);
    std::free(text);
    EXPECT_NE(listing.find("gapless:      delay 576, padding 768, 131072 samples\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("track gain:   -6.20 dB\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("album gain:   -1.00 dB\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("album peak:   1.000000\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("track peak:"), std::string::npos) << listing;
}

}  // namespace
