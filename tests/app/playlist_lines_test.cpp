// Playlist lines that name no file (too long, holding a NUL byte): left out
// of every read, counted, and reported in the status line.
#include <QTemporaryDir>

#include "playback/m3u.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

// `length` bytes of a path ending in ".mp3".
QByteArray PathOfLength(qsizetype length) { return "/m/" + QByteArray(length - 7, 'x') + ".mp3"; }

// Normal lines around a 10 MB line, a line with a NUL and one a byte too
// long; a line of exactly the limit and a long comment line.
QByteArray DamagedList() {
    QByteArray bytes("\xEF\xBB\xBF#EXTM3U\r\n/m/a.mp3\r\n");
    bytes += PathOfLength(10 * 1024 * 1024) + "\n";
    bytes += QByteArrayLiteral("/m/b\x00.mp3\n");
    bytes += "/m/c.mp3\r";
    bytes += PathOfLength(kMaxPlaylistLineBytes + 1) + "\r\n";
    bytes += PathOfLength(kMaxPlaylistLineBytes) + "\n";
    bytes += "#" + QByteArray(5000, 'c') + "\n";
    bytes += "/m/d.mp3";
    return bytes;
}

}  // namespace

TEST(PlaylistLines, TooLongAndNulLinesAreLeftOutAndCounted) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/l.m3u";
    const QByteArray bytes = DamagedList();
    ASSERT_TRUE(WriteText(path, bytes));
    const QString longest = QString::fromLatin1(PathOfLength(kMaxPlaylistLineBytes));
    const QStringList entries = {"/m/a.mp3", "/m/c.mp3", longest, "/m/d.mp3"};
    int skipped = 0;
    EXPECT_EQ(entries, ReadPlaylistFile(path, true, &skipped));
    EXPECT_EQ(skipped, 3);  // the comment is left out as a comment
    skipped = 0;
    EXPECT_EQ((QStringList{"#EXTM3U", "/m/a.mp3", "/m/c.mp3", longest, "/m/d.mp3"}),
              ReadPlaylistFile(path, false, &skipped));
    EXPECT_EQ(skipped, 4);
    skipped = 0;
    EXPECT_EQ((QStringList{"#EXTM3U", "/m/a.mp3", "/m/c.mp3", longest, "/m/d.mp3"}), DecodePlaylistText(bytes, &skipped));
    EXPECT_EQ(skipped, 4);
    // "%00" decoded names no file: the URL is kept as it stands.
    EXPECT_EQ(QStringLiteral("file:///m/b%00.mp3"), NormalizeEntry(QStringLiteral("file:///m/b%00.mp3")));
}

// The file is read a piece at a time: lines across the pieces' seams, a
// CR LF split by one, read as they are.
TEST(PlaylistLines, LinesAcrossReadPiecesStayWhole) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/l.m3u";
    QStringList lines;
    QByteArray bytes;
    // 99-byte lines, but the one that reaches the end of the first 64 KiB
    // has its CR as the last byte of it.
    for (int i = 0; i < 1400; ++i) {
        const qsizetype toSeam = 65535 - bytes.size();
        const qsizetype length = toSeam >= 20 && toSeam < 120 ? toSeam : 99;
        const QByteArray line = PathOfLength(length).replace(3, 6, QByteArray::number(100000 + i));
        lines << QString::fromLatin1(line);
        bytes += line + (length != 99 || i % 3 == 0 ? "\r\n" : "\n");
    }
    ASSERT_EQ(bytes.indexOf('\r', 65500), 65535);
    ASSERT_TRUE(WriteText(path, bytes));
    int skipped = 0;
    EXPECT_EQ(lines, ReadPlaylistFile(path, false, &skipped));
    EXPECT_EQ(skipped, 0);
}

using PlaylistLinesShown = AppFixture;

// The start's default playlist and damaged settings files: all of it in the
// status line once the start is done, the list holding the normal lines.
// Either report may come first (the screensaver window runs events while it
// is built; without them the playlist's comes first).
TEST_F(PlaylistLinesShown, StartReportsSkippedLinesAndDamagedSettings) {
    QByteArray record = EncodeSettings(TSettings{});
    record[2] = 7;
    for (const bool withSaver : {true, false}) {
        ASSERT_TRUE(WriteText(Home() + "wl.ini", record));
        ASSERT_TRUE(WriteText(Home() + "wavelantern.conf", "[Resume]\nVolume=500\n"));
        ASSERT_TRUE(WriteText(Home() + "wl21.m3u", DamagedList()));
        form2.reset();
        form1.reset();
        if (withSaver) {
            Create();
        } else {
            form1 = std::make_unique<TForm1>();
        }
        form1->FormShow();  // resumes the session: the default playlist
        ASSERT_TRUE(RunEventsUntil([&] { return form1->StatusText.contains("Skipped"); }))
            << form1->StatusText.toStdString();
        // The list starts with "#EXTM3U": read in the extended form, its long
        // comment is left out as a comment, not counted.
        EXPECT_EQ(form1->StatusText,
                  "Settings file wl.ini was damaged: defaults used for 1 option. "
                  "Settings file wavelantern.conf was damaged: defaults used for 1 option. "
                  "Skipped 3 playlist lines that were too long or not text");
        EXPECT_EQ(form1->Playlist.Paths(), (QStringList{"/m/a.mp3", "/m/c.mp3",
                                                        QString::fromLatin1(PathOfLength(kMaxPlaylistLineBytes)),
                                                        "/m/d.mp3"}));
    }
}

// An opened playlist reports its own.
TEST_F(PlaylistLinesShown, OpenedPlaylistReportsItsSkippedLine) {
    Create();
    const QString path = Home() + "list.m3u";
    ASSERT_TRUE(WriteText(path, QByteArrayLiteral("/m/a.mp3\n/m/\x00.mp3\n")));
    form1->ReadM3U(path);
    EXPECT_EQ(form1->StatusText, "Skipped 1 playlist line that was too long or not text");
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{"/m/a.mp3"});
}

}  // namespace wl::test
