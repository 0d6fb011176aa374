// Album sheets read into entries (ranges, titles, ReplayGain values, text
// encodings, line ends, pregaps, several files, what is left out and told),
// a real file's rate and length, and the extended playlist form that keeps
// such entries across a save and a load.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

#include "playback/cue_sheet.h"
#include "playback/m3u.h"
#include "playback/playlist_model.h"
#include "tests/stream_builder.h"
#include "tests/test_support.h"

namespace wl::test {

namespace {

constexpr int64_t kSamples = 600 * 44100;  // every file of the fake probe is 10 minutes long

// Files that exist are MP3 at 44.1 kHz (32 kHz when named so); the rest are missing.
TCueAudioFacts FakeProbe(const QString& path) {
    if (!QFile::exists(path)) return {QStringLiteral("no such file"), 0, -1};
    return {{}, path.contains(QLatin1String("32k")) ? 32000 : 44100, kSamples};
}

// Samples at 44.1 kHz for mm:ss:ff.
int64_t At(int mm, int ss, int ff) { return ((mm * 60 + ss) * 75 + ff) * 588; }

class CueSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"album.mp3", "b.mp3", "conv.mp3", "rate32k.mp3"}) Touch(name);
    }
    void Touch(const QString& name) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    TCueSheet Parse(const QByteArray& body, const QString& codePage = QStringLiteral("WINDOWS-1252")) {
        return ParseCueSheet(body, dir.path(), codePage, FakeProbe);
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    // 100 silent frames at 44.1 kHz (2.6 s).
    void Frames(const QString& name) {
        std::vector<uint8_t> bytes;
        const std::vector<uint8_t> frame = SilentFrameMpeg1(0, 0, 0);
        for (int i = 0; i < 100; ++i) bytes.insert(bytes.end(), frame.begin(), frame.end());
        ASSERT_TRUE(WriteFileBytes(Path(name).toStdString(), bytes));
    }
    QTemporaryDir dir;
};

}  // namespace

// Titles, performers, album fields, ReplayGain and the ranges with pregaps
// (INDEX 00 stays with the track before).
TEST_F(CueSheetTest, TracksOfOneFile) {
    const QByteArray body =
        "REM GENRE Rock\nREM REPLAYGAIN_ALBUM_GAIN -7.50 dB\nREM REPLAYGAIN_ALBUM_PEAK 0.987\n"
        "PERFORMER \"The Band\"\nTITLE \"Great Album\"\nFILE \"album.mp3\" MP3\n"
        "  TRACK 01 AUDIO\n    TITLE \"One\"\n    REM REPLAYGAIN_TRACK_GAIN -6.25 dB\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    PERFORMER \"Guest\"\n    PREGAP 00:02:00\n"
        "    INDEX 00 03:00:00\n    INDEX 01 03:02:00\n"
        "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 00 04:59:70\n    INDEX 01 05:00:37\n";
    const TCueSheet sheet = Parse(body);
    EXPECT_TRUE(sheet.Error.isEmpty()) << sheet.Error.toStdString();
    EXPECT_TRUE(sheet.Warning.isEmpty()) << sheet.Warning.toStdString();
    ASSERT_EQ(sheet.Entries.size(), 3u);
    const TPlaylistEntry& one = sheet.Entries[0];
    const TPlaylistEntry& two = sheet.Entries[1];
    const TPlaylistEntry& three = sheet.Entries[2];
    EXPECT_EQ(one.Path, Path("album.mp3"));
    EXPECT_EQ(one.Range, (TSampleRange{0, At(3, 2, 0)}));
    EXPECT_EQ(two.Range, (TSampleRange{At(3, 2, 0), At(5, 0, 37) - At(3, 2, 0)}));
    EXPECT_EQ(three.Range, (TSampleRange{At(5, 0, 37), -1}));
    EXPECT_EQ(one.Meta.LengthMs, 182000);
    EXPECT_EQ(three.Meta.LengthMs, (kSamples - At(5, 0, 37)) * 1000 / 44100);
    EXPECT_EQ(one.Meta.Title, "One");
    EXPECT_EQ(one.Meta.Artist, "The Band");
    EXPECT_EQ(two.Meta.Artist, "Guest");
    EXPECT_EQ(two.Meta.AlbumArtist, "The Band");
    EXPECT_EQ(three.Meta.Album, "Great Album");
    EXPECT_EQ(three.Meta.Track, 3);
    EXPECT_EQ(one.Meta.TrackGainDb, -6.25);
    EXPECT_FALSE(two.Meta.TrackGainDb.has_value());
    EXPECT_EQ(two.Meta.AlbumGainDb, -7.5);
    EXPECT_EQ(two.Meta.AlbumPeak, 0.987);
    EXPECT_EQ(PlaylistModel::OwnName(two), "Guest - Two");
}

// UTF-8 with and without a byte-order mark, Windows-1252 and another code
// page, CR LF and lone CR line ends.
TEST_F(CueSheetTest, EncodingsAndLineEnds) {
    const QByteArray tail = "FILE \"album.mp3\" MP3\r\nTRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\n";
    struct TCase {
        const char* What;
        QByteArray Body;
        QString CodePage;
        QString Title;
    } cases[] = {
        {"UTF-8", "TITLE \"Caf\xC3\xA9 \xE2\x82\xAC\"\n" + tail, "WINDOWS-1252", QStringLiteral("Café €")},
        {"UTF-8 BOM, CR LF", "\xEF\xBB\xBFTITLE \"Caf\xC3\xA9\"\r\n" + tail, "WINDOWS-1252", QStringLiteral("Café")},
        {"Windows-1252", "TITLE \"Caf\xE9 \x80\"\r\n" + tail, "WINDOWS-1252", QStringLiteral("Café €")},
        {"Windows-1251", "TITLE \"\xCC\xE8\xF0\"\r" + QByteArray(tail).replace("\r\n", "\r"), "WINDOWS-1251",
         QStringLiteral("Мир")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        const TCueSheet sheet = Parse(c.Body, c.CodePage);
        ASSERT_EQ(sheet.Entries.size(), 1u) << sheet.Error.toStdString();
        EXPECT_EQ(sheet.Entries[0].Meta.Album, c.Title);
        EXPECT_EQ(sheet.Entries[0].Path, Path("album.mp3"));
    }
}

// Several FILE lines: each file's last track runs to its end; a missing file's
// tracks are told and left out; a ".wav" the sheet names is found as the
// ".mp3" beside it; a rate that is no multiple of 75 rounds down.
TEST_F(CueSheetTest, SeveralFilesAndAMissingOne) {
    const QByteArray body =
        "FILE \"album.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n"
        "FILE \"gone.mp3\" MP3\nTRACK 03 AUDIO\nINDEX 01 00:00:00\nTRACK 04 AUDIO\nINDEX 01 00:10:00\n"
        "FILE b.mp3 MP3\nTRACK 05 AUDIO\nTITLE Five\nINDEX 01 00:00:00\n"
        "FILE \"CONV.wav\" WAVE\nTRACK 06 AUDIO\nINDEX 01 00:00:10\n"
        "FILE \"rate32k.mp3\" MP3\nTRACK 07 AUDIO\nINDEX 01 00:00:01\n";
    const TCueSheet sheet = Parse(body);
    ASSERT_EQ(sheet.Entries.size(), 5u);
    EXPECT_EQ(sheet.Entries[1].Range, (TSampleRange{60 * 44100, -1}));
    EXPECT_EQ(sheet.Entries[2].Path, Path("b.mp3"));
    EXPECT_EQ(sheet.Entries[2].Meta.Track, 5);
    EXPECT_EQ(sheet.Entries[2].Meta.Title, "Five");
    EXPECT_EQ(sheet.Entries[3].Path, Path("conv.mp3"));
    EXPECT_EQ(sheet.Entries[3].Range.First, 10 * 588);
    EXPECT_EQ(sheet.Entries[4].Range.First, 426);  // 32000 / 75 = 426.67
    EXPECT_TRUE(sheet.Warning.contains(QLatin1String("tracks 3, 4: gone.mp3: no such file"))) << sheet.Warning.toStdString();
}

// Indexes out of order or beyond the file's end, a track without INDEX 01, a
// data track: left out and told; the track before runs on to the next one
// kept. A sheet with nothing usable is an error.
TEST_F(CueSheetTest, BadIndexesAreToldAndLeftOut) {
    const QByteArray body =
        "FILE \"album.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 02:00:00\n"
        "TRACK 03 AUDIO\nINDEX 01 01:00:00\nTRACK 04 MODE1/2352\nINDEX 01 02:30:00\nTRACK 05 AUDIO\nINDEX 00 03:00:00\n"
        "TRACK 06 AUDIO\nINDEX 01 03:00:99\nTRACK 07 AUDIO\nINDEX 01 04:00:00\nTRACK 08 AUDIO\nINDEX 01 10:00:01\n";
    const TCueSheet sheet = Parse(body);
    ASSERT_EQ(sheet.Entries.size(), 3u);
    EXPECT_EQ(sheet.Entries[1].Meta.Track, 2);
    EXPECT_EQ(sheet.Entries[1].Range, (TSampleRange{At(2, 0, 0), At(4, 0, 0) - At(2, 0, 0)}));
    EXPECT_EQ(sheet.Entries[2].Range, (TSampleRange{At(4, 0, 0), -1}));
    for (const char* told : {"track 3: INDEX 01 not after", "track 4: not audio", "tracks 5, 6: no valid INDEX 01",
                             "track 8: INDEX 01 beyond the end"})
        EXPECT_TRUE(sheet.Warning.contains(QLatin1String(told))) << told << " in " << sheet.Warning.toStdString();

    EXPECT_FALSE(Parse("TITLE x\n").Error.isEmpty());
    const TCueSheet none = Parse("FILE \"gone.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_TRUE(none.Entries.empty());
    EXPECT_TRUE(none.Error.contains(QLatin1String("gone.mp3: no such file"))) << none.Error.toStdString();
}

// The rate and length of a real file's first frame and header frame.
TEST_F(CueSheetTest, ProbesARealFile) {
    const QString path = Path("frames.mp3");
    Frames("frames.mp3");
    const TCueAudioFacts facts = ProbeAudioFile(path);
    EXPECT_TRUE(facts.Error.isEmpty()) << facts.Error.toStdString();
    EXPECT_EQ(facts.SampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(facts.Samples), 100 * 1152, 1152);
    EXPECT_EQ(ProbeAudioFile(Path("gone.mp3")).Error, "no such file");
    Touch("empty.mp3");
    EXPECT_FALSE(ProbeAudioFile(Path("empty.mp3")).Error.isEmpty());
}

// A sheet's entries saved and loaded again are the same entries; a plain
// list stays plain; "#EXTINF:" titles are split and shown; an M3U entry that
// names a sheet adds its tracks; a sheet beside its file is found.
TEST_F(CueSheetTest, ExtendedPlaylistKeepsTracks) {
    const QByteArray body = "PERFORMER \"A & B\"\nTITLE \"Album=1\"\nREM REPLAYGAIN_ALBUM_GAIN -3.21 dB\n"
                            "FILE \"album.mp3\" MP3\nTRACK 01 AUDIO\nTITLE \"#1, a&b=c 100%\"\nINDEX 01 00:00:00\n"
                            "TRACK 02 AUDIO\nINDEX 01 00:01:01\n";
    Frames("album.mp3");
    Frames("b.mp3");
    QFile cue(Path("album.cue"));
    ASSERT_TRUE(cue.open(QIODevice::WriteOnly) && cue.write(body) == body.size());
    cue.close();
    EXPECT_EQ(CueSheetFor(Path("album.mp3")), Path("album.cue"));
    EXPECT_TRUE(CueSheetFor(Path("b.mp3")).isEmpty());

    PlaylistModel list;
    ASSERT_EQ(list.ReadList(Path("album.cue")), 2);
    ASSERT_TRUE(list.AddEntry(Path("b.mp3")));
    const std::vector<TPlaylistEntry> before = list.Entries();
    EXPECT_EQ(list.Label(0), "1. A & B - #1, a&b=c 100%");
    EXPECT_EQ(list.Label(1), "2. album #2");
    const QString saved = Path("saved.m3u");
    ASSERT_TRUE(list.Save(saved));
    PlaylistModel loaded;
    loaded.Load(saved);
    const std::vector<TPlaylistEntry> after = loaded.Entries();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].Path, before[i].Path) << i;
        EXPECT_EQ(after[i].Range, before[i].Range) << i;
        EXPECT_EQ(after[i].Meta, before[i].Meta) << i;
        EXPECT_EQ(after[i].Name, before[i].Name) << i;
    }
    // Read as a user's list too.
    PlaylistModel read;
    read.ReadList(saved);
    ASSERT_EQ(read.Rows(), 3);
    EXPECT_EQ(read.Entry(0).Meta, before[0].Meta);

    PlaylistModel plain;
    plain.AddEntry(Path("b.mp3"));
    EXPECT_EQ(EncodePlaylistEntries(plain.Entries()), (Path("b.mp3") + "\n").toUtf8());

    const QString m3u = Path("ext.m3u");
    QFile f(m3u);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("#EXTM3U\n#EXTINF:123,Some One - A Song\n" + Path("b.mp3") + "\n" + Path("album.cue") + "\n").toUtf8());
    f.close();
    PlaylistModel ext;
    ext.ReadList(m3u);
    ASSERT_EQ(ext.Rows(), 3);
    EXPECT_EQ(ext.Entry(0).Meta.Artist, "Some One");
    EXPECT_EQ(ext.Entry(0).Meta.Title, "A Song");
    EXPECT_EQ(ext.Entry(0).Meta.LengthMs, 123000);
    EXPECT_EQ(ext.Label(0), "1. Some One - A Song");
    EXPECT_EQ(ext.Entry(2).Range, before[1].Range);

    QStringList notices;
    QObject::connect(&ext, &PlaylistModel::Notice, [&notices](const QString& text) { notices.append(text); });
    EXPECT_EQ(ext.ReadList(Path("nothing.cue")), 0);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0], "nothing.cue: no such file");
}

}  // namespace wl::test
