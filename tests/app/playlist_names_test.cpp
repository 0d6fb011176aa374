// The playlist's text rules and the playlist file reader and writer.
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "playback/m3u.h"
#include "playback/playlist_names.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

TEST(PlaylistNames, ExtensionsAndDisplayNames) {
    EXPECT_TRUE(IsMp3Path(QStringLiteral("A.MP3")));
    EXPECT_TRUE(IsMp3Path(QStringLiteral("/m/b.Mp3")));
    EXPECT_FALSE(IsMp3Path(QStringLiteral("c.wav")));
    EXPECT_FALSE(IsMp3Path(QStringLiteral("mp3")));
    EXPECT_FALSE(IsMp3Path(QStringLiteral("/dir.mp3/file")));
    EXPECT_FALSE(IsMp3Path(QStringLiteral("a.mp3 ")));
    EXPECT_TRUE(IsPlaylistPath(QStringLiteral("/x/List.M3U")));
    EXPECT_TRUE(IsPlaylistPath(QStringLiteral("list.m3u8")));
    EXPECT_FALSE(IsPlaylistPath(QStringLiteral("list.m3u.txt")));

    EXPECT_EQ(QStringLiteral("x.mpeg3"), DisplayName(QStringLiteral("/music/x.mpeg3.mp3")));
    EXPECT_EQ(QStringLiteral("y"), DisplayName(QStringLiteral("C:\\y.MP3")));
    EXPECT_EQ(QStringLiteral("Song"), DisplayName(QStringLiteral("rel/Song.mp3")));
    EXPECT_EQ(QString(), DisplayName(QStringLiteral("/a/.mp")));  // shorter than 4: nothing left

    EXPECT_EQ(QStringLiteral("a.b"), TitleFromPath(QStringLiteral("/m/a.b.mp3")));
    EXPECT_EQ(QStringLiteral("noext"), TitleFromPath(QStringLiteral("/m.d/noext")));
    EXPECT_EQ(QString(), TitleFromPath(QString()));
}

TEST(PlaylistNames, EntryTextsAndMarks) {
    EXPECT_EQ(QStringLiteral("12. Song"), EntryText(12, false, QStringLiteral("/m/Song.mp3")));
    EXPECT_EQ(QStringLiteral("12> Song"), EntryText(12, true, QStringLiteral("/m/Song.mp3")));
    EXPECT_EQ(QStringLiteral("12> Song"), MarkPlayed(QStringLiteral("12. Song")));
    EXPECT_EQ(QStringLiteral("12> Song"), MarkPlayed(QStringLiteral("12> Song")));
    EXPECT_EQ(QStringLiteral("3> a.b"), MarkPlayed(QStringLiteral("3. a.b")));  // only the first
    EXPECT_EQ(QStringLiteral("1."), MarkPlayed(QStringLiteral("1.")));        // not the last character
    EXPECT_EQ(QString(), MarkPlayed(QString()));
}

TEST(PlaylistNames, StreamFacts) {
    EXPECT_EQ(QStringLiteral("128Kbps, 44Khz"), RateText(128000, 44100));
    EXPECT_EQ(QStringLiteral("V B R, 22Khz"), RateText(0, 22050));
    EXPECT_EQ(QStringLiteral("MPEG 1, Layer 3, Stereo"), FormatText(1, 3, 2));
    EXPECT_EQ(QStringLiteral("MPEG 2, Layer 2, Mono"), FormatText(2, 2, 1));
    EXPECT_EQ(QStringLiteral("MPEG 2.5, Layer 3, Stereo"), FormatText(3, 3, 2));
    EXPECT_EQ(QStringLiteral("MPEG , Layer 1, Stereo"), FormatText(0, 1, 2));
    EXPECT_EQ(QStringLiteral("/a.mp3"), JoinPath(QStringLiteral("/"), QStringLiteral("a.mp3")));
    EXPECT_EQ(QStringLiteral("/m/a.mp3"), JoinPath(QStringLiteral("/m"), QStringLiteral("a.mp3")));
}

TEST(PlaylistFiles, LineEndsByteOrderMarkAndEncodings) {
    QByteArray bytes("\xEF\xBB\xBF#EXTM3U\r\na.mp3\r\n\r\nb.mp3\nc.mp3\rM\xC3\xBCsic.mp3\n\xE4-latin.mp3\nlast.mp3");
    const QStringList lines = DecodePlaylistText(bytes);
    const QStringList expected = {QStringLiteral("#EXTM3U"), QStringLiteral("a.mp3"), QString(),
                                  QStringLiteral("b.mp3"), QStringLiteral("c.mp3"),
                                  QString::fromUtf8("M\xC3\xBCsic.mp3"), QString::fromUtf8("\xC3\xA4-latin.mp3"),
                                  QStringLiteral("last.mp3")};
    EXPECT_EQ(expected, lines);
    EXPECT_TRUE(DecodePlaylistText(QByteArray()).isEmpty());
    EXPECT_EQ(QStringList{QStringLiteral("x")}, DecodePlaylistText(QByteArray("x\r\n")));
}

TEST(PlaylistFiles, EntriesFromOtherSystemsAndUrls) {
    EXPECT_EQ(QStringLiteral("Music/a.mp3"), NormalizeEntry(QStringLiteral("Music\\a.mp3")));
    EXPECT_EQ(QStringLiteral("../up/a.mp3"), NormalizeEntry(QStringLiteral("..\\up\\a.mp3")));
    EXPECT_EQ(QStringLiteral("C:/x/a.mp3"), NormalizeEntry(QStringLiteral("C:\\x\\a.mp3")));
    EXPECT_EQ(QStringLiteral("Music/a.mp3"), NormalizeEntry(QStringLiteral("C:Music\\a.mp3")));
    EXPECT_EQ(QStringLiteral("a.mp3"), NormalizeEntry(QStringLiteral("d:a.mp3")));
    // A name with "/" is a path of this system and may hold a "\".
    EXPECT_EQ(QStringLiteral("/home/u/a\\b.mp3"), NormalizeEntry(QStringLiteral("/home/u/a\\b.mp3")));
    EXPECT_EQ(QStringLiteral("plain.mp3"), NormalizeEntry(QStringLiteral("plain.mp3")));
    EXPECT_EQ(QStringLiteral("/tmp/a b.mp3"), NormalizeEntry(QStringLiteral("file:///tmp/a%20b.mp3")));
    EXPECT_EQ(QString::fromUtf8("/m/\xC3\xA4.mp3"), NormalizeEntry(QStringLiteral("file:///m/%C3%A4.mp3")));
    EXPECT_EQ(QStringLiteral("/tmp/x.mp3"), NormalizeEntry(QStringLiteral("file://localhost/tmp/x.mp3")));
    EXPECT_EQ(QStringLiteral("C:/x/a.mp3"), NormalizeEntry(QStringLiteral("file:///C:/x/a.mp3")));
}

TEST(PlaylistFiles, ReadSkipsCommentsOnlyWhenAsked) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/l.m3u";
    ASSERT_TRUE(WriteText(path, "#EXTM3U\n#EXTINF:1,x - y.mp3\nsub\\a.mp3\n\nb.mp3\n"));
    EXPECT_EQ((QStringList{QStringLiteral("sub/a.mp3"), QStringLiteral("b.mp3")}), ReadPlaylistFile(path, true));
    EXPECT_EQ(4, ReadPlaylistFile(path, false).size());
    EXPECT_TRUE(ReadPlaylistFile(dir.path() + "/missing.m3u", true).isEmpty());
    EXPECT_TRUE(ReadPlaylistFile(dir.path(), true).isEmpty());  // a folder
}

TEST(PlaylistFiles, WriteIsUtf8AndAllOrNothing) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/out.m3u";
    const QStringList entries = {QString::fromUtf8("/m/\xC3\xA4 \xE2\x99\xAA.mp3"), QStringLiteral("rel.mp3")};
    ASSERT_TRUE(WritePlaylistFile(path, entries));
    EXPECT_EQ(QByteArray("/m/\xC3\xA4 \xE2\x99\xAA.mp3\nrel.mp3\n"), ReadAll(path));
    EXPECT_EQ(entries, ReadPlaylistFile(path, true));
    EXPECT_EQ(QStringList{QStringLiteral("out.m3u")}, QDir(dir.path()).entryList(QDir::Files));  // no leftovers
    // A target that cannot be written leaves nothing behind and says so.
    EXPECT_FALSE(WritePlaylistFile(dir.path() + "/no/such/folder/x.m3u", entries));
    ASSERT_TRUE(WritePlaylistFile(path, {}));
    EXPECT_TRUE(ReadAll(path).isEmpty());
    // A copy replaces the target's content entirely.
    const QString other = dir.path() + "/other.m3u";
    ASSERT_TRUE(WriteText(other, "a much longer old content\n"));
    ASSERT_TRUE(WritePlaylistFile(path, {QStringLiteral("n.mp3")}));
    ASSERT_TRUE(CopyFileSafely(path, other));
    EXPECT_EQ(QByteArray("n.mp3\n"), ReadAll(other));
    EXPECT_FALSE(CopyFileSafely(dir.path() + "/missing", other));
    EXPECT_EQ(QByteArray("n.mp3\n"), ReadAll(other));
}

}  // namespace wl::test
