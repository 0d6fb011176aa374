// Starting entries with real files: the cache copy, missing and unreadable
// files, the stream facts, the tag panel, and playlists whose relative
// entries come from other systems.
#include <QColor>
#include <QLineEdit>
#include <QPalette>

#include "playback/m3u.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

using PlaylistPlay = PlaylistFixture;

namespace {

TColor TextColorOf(const QWidget* widget) {
    const QColor c = widget->palette().color(QPalette::WindowText);
    return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

}  // namespace

TEST_F(PlaylistPlay, CacheCopyOnlyUpToNineMillionBytes) {
    QTemporaryDir dir;
    const QString big = dir.path() + "/big.mp3";
    const QString limit = dir.path() + "/limit.mp3";
    const QString over = dir.path() + "/over.mp3";
    const QString small = dir.path() + "/small.mp3";
    ASSERT_TRUE(WriteSilentMp3(big, 10'000'000));
    ASSERT_TRUE(WriteSilentMp3(limit, 9'000'000));
    ASSERT_TRUE(WriteSilentMp3(over, 9'000'001));
    ASSERT_TRUE(WriteSilentMp3(small, 2'000'000));
    Add({big, limit, over, small});
    form1->Settings.UseCache = 1;
    form1->ApplyPlayOptions();
    const QString cache = Home() + "wl21.mp3";

    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(big, Ctl().PlayingPath());
    EXPECT_EQ(big.toStdString(), PlayerFile().toStdString()) << form1->StatusText.toStdString();
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_FALSE(QFile::exists(cache));

    form1->CurrentEntry = 4;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(cache, Ctl().PlayingPath());
    EXPECT_EQ(cache.toStdString(), PlayerFile().toStdString());
    EXPECT_EQ(2'000'000, QFileInfo(cache).size());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_EQ("small", form1->TitleText);  // the title is the entry's, not the cache's

    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(cache, Ctl().PlayingPath());
    EXPECT_EQ(9'000'000, QFileInfo(cache).size());  // replaced
    form1->CurrentEntry = 3;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(over, Ctl().PlayingPath());

    form1->Settings.UseCache = 0;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 4;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(small, Ctl().PlayingPath());
}

TEST_F(PlaylistPlay, TheCacheFileItselfAsAnEntryIsNotDeleted) {
    const QString cache = Home() + "wl21.mp3";
    ASSERT_TRUE(WriteSilentMp3(cache, 400'000));
    form1->AddEntry(cache);
    form1->Settings.UseCache = 1;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(QFile::exists(cache));
    EXPECT_EQ(400'000, QFileInfo(cache).size());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
}

TEST_F(PlaylistPlay, MissingFileShowsItsNameAndIsSkipped) {
    QTemporaryDir dir;
    const QString gone = dir.path() + "/Gone Song.mp3";
    const QString real = dir.path() + "/Real.mp3";
    ASSERT_TRUE(WriteSilentMp3(real, 400'000));
    Add({real, gone});
    form1->Edit1->setText("old artist");
    form1->Edit7->setText("old format");

    // The last entry: nothing follows it.
    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("Gone Song", form1->TitleText);
    EXPECT_EQ(gone, Ctl().PlayingPath());
    EXPECT_EQ("2> Gone Song", Text(1));
    EXPECT_EQ(QString(), form1->Edit7->text());
    EXPECT_EQ(QString(), form1->Edit1->text());
    EXPECT_EQ("000 kbps, 00 khz", form1->Label6->text());
    EXPECT_EQ("2 - 2", form1->Label2->text());
    EXPECT_EQ("Cannot play 2. Gone Song: file not found", form1->StatusText);
    EXPECT_EQ(form1->Playlist.Entry(1).Problem, "File not found");
    EXPECT_EQ(TStatePicture::Stop, form1->ShownState);
    EXPECT_EQ(mpsStopped, PlayerStatus());

    // Followed by an entry: passed over to it as at an entry's end.
    form1->ClearPlaylist();
    Add({gone, real});
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().IsOpen(); }));
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ(real, Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_EQ("128Kbps, 44Khz", form1->Label6->text());
    EXPECT_EQ("MPEG 1, Layer 3, Stereo", form1->Edit7->text());
    EXPECT_EQ(kLampLitColor, TextColorOf(form1->Label9));
    EXPECT_EQ(kLampLitColor, TextColorOf(form1->Label4));
    EXPECT_EQ("2 - 2", form1->Label2->text());
    EXPECT_EQ(TStatePicture::Play, form1->ShownState);
}

TEST_F(PlaylistPlay, MonoStreamLightsOneLamp) {
    QTemporaryDir dir;
    const QString mono = dir.path() + "/mono.mp3";
    ASSERT_TRUE(WriteSilentMp3(mono, 400'000, 3));
    form1->AddEntry(mono);
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("MPEG 1, Layer 3, Mono", form1->Edit7->text());
    EXPECT_EQ(kLampLitColor, TextColorOf(form1->Label9));
    EXPECT_EQ(kUnlitColor, TextColorOf(form1->Label4));
}

TEST_F(PlaylistPlay, UnplayableFileIsTreatedLikeAMissingOne) {
    QTemporaryDir dir;
    const QString junk = dir.path() + "/junk.mp3";
    ASSERT_TRUE(WriteText(junk, QByteArray(5000, 'x')));
    const QString real = dir.path() + "/real.mp3";
    ASSERT_TRUE(WriteSilentMp3(real, 400'000));
    Add({junk, real});
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().IsOpen(); }));
    EXPECT_EQ("Cannot open junk.mp3: unknown MPEG Audio format.", form1->StatusText);
    EXPECT_EQ(real, Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
}

TEST_F(PlaylistPlay, TagPanelShowsTheTagsAndNotTheFileName) {
    QTemporaryDir dir;
    const QString tagged = dir.path() + "/tagged.mp3";
    const QString untagged = dir.path() + "/Plain Name.mp3";
    const QString named = dir.path() + "/named.mp3";
    ASSERT_TRUE(WriteSilentMp3(tagged, 400'000, 0,
                               Id3v1Tag("A Title", "An Artist", "An Album", "1999", "A comment", 7, 17)));
    ASSERT_TRUE(WriteSilentMp3(untagged, 400'000));
    ASSERT_TRUE(WriteSilentMp3(named, 400'000, 0, Id3v1Tag("named.mp3", "X", "", "", "", 0, 255)));
    Add({tagged, untagged, named});

    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("An Artist", form1->Edit1->text());
    EXPECT_EQ("A Title", form1->Edit2->text());
    EXPECT_EQ("An Album", form1->Edit4->text());
    EXPECT_EQ("A comment", form1->Edit3->text());
    EXPECT_EQ("1999", form1->Edit5->text());
    EXPECT_EQ("Rock", form1->Edit6->text());
    EXPECT_EQ("7", form1->Edit8->text());

    // No title: the player names the file, which the panel does not show.
    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(QString(), form1->Edit2->text());
    EXPECT_EQ(QString(), form1->Edit1->text());
    // A title equal to the file name is hidden too.
    form1->CurrentEntry = 3;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(QString(), form1->Edit2->text());
    EXPECT_EQ("X", form1->Edit1->text());
    // Played from the cache the file name is "wl21.mp3".
    form1->Settings.UseCache = 1;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Home() + "wl21.mp3", Ctl().PlayingPath());
    EXPECT_EQ(QString(), form1->Edit2->text());
}

TEST_F(PlaylistPlay, WindowsPlaylistFindsTheFilesBesideIt) {
    QTemporaryDir dir;
    const QString song = dir.path() + "/Music/Sub/a.mp3";
    ASSERT_TRUE(WriteSilentMp3(song, 400'000));
    const QString list = dir.path() + "/win.m3u";
    ASSERT_TRUE(WriteText(list, "#EXTM3U\r\n#EXTINF:1,A\r\nMusic\\Sub\\a.mp3\r\nC:\\Elsewhere\\b.mp3\r\n"));
    form1->DropFiles({list});
    ASSERT_TRUE(Settle());
    EXPECT_EQ((QStringList{song, dir.path() + "/C:/Elsewhere/b.mp3"}), Column(1));
    // The #EXTINF title is shown (the file has no tags to replace it).
    EXPECT_EQ((QStringList{"1> A", "2. b"}), Column(0));
    EXPECT_EQ(song, Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    // The absolute Windows entry names nothing here.
    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ("b", form1->TitleText);
    EXPECT_EQ("Cannot play 2. b: file not found", form1->StatusText);
    EXPECT_EQ(mpsStopped, PlayerStatus());
}

// Entries written on a system that ignores case find their files component
// by component; among names differing only in case the first in name order wins.
TEST_F(PlaylistPlay, EntriesFromCaseBlindSystemsFindTheirFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteSilentMp3(dir.path() + "/Music/Sub/b.mp3", 400'000));
    ASSERT_TRUE(WriteSilentMp3(dir.path() + "/Music/x/song.mp3", 400'000));
    ASSERT_TRUE(WriteSilentMp3(dir.path() + "/Music/x/Song.mp3", 400'000));
    const QString list = dir.path() + "/win.m3u";
    ASSERT_TRUE(WriteText(list, "music\\SUB\\B.MP3\r\nMUSIC\\X\\SONG.mp3\r\nMusic\\Sub\\none.mp3\r\n"));
    form1->DropFiles({list});
    ASSERT_TRUE(Settle());
    const QString d = dir.path();
    EXPECT_EQ((QStringList{d + "/music/SUB/B.MP3", d + "/MUSIC/X/SONG.mp3", d + "/Music/Sub/none.mp3"}), Column(1));
    EXPECT_EQ(d + "/Music/Sub/b.mp3", Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(d + "/Music/x/Song.mp3", Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(d + "/Music/Sub/none.mp3", Ctl().PlayingPath());  // still missing: left as written
    EXPECT_EQ(mpsStopped, PlayerStatus());

    // Absolute paths, and paths that exist as written, resolve the same way.
    EXPECT_EQ(dir.path() + "/Music/Sub/b.mp3", ResolveEntryPath(dir.path() + "/MUSIC/sub/B.mp3"));
    EXPECT_EQ(dir.path() + "/Music/x/song.mp3", ResolveEntryPath(dir.path() + "/Music/x/song.mp3"));
    EXPECT_EQ(dir.path() + "/Music/./Sub/b.mp3", ResolveEntryPath(dir.path() + "/music/./sub/B.MP3"));
    EXPECT_EQ(QString(), ResolveEntryPath(QString()));
}

TEST_F(PlaylistPlay, Utf8PlaylistWithByteOrderMark) {
    QTemporaryDir dir;
    const QString song = dir.path() + QString::fromUtf8("/M\xC3\xBCsik/\xC3\xA4 \xE2\x99\xAA.mp3");
    const QString latin = dir.path() + QString::fromUtf8("/caf\xC3\xA9.mp3");
    ASSERT_TRUE(WriteSilentMp3(song, 400'000));
    ASSERT_TRUE(WriteSilentMp3(latin, 400'000));
    const QString list = dir.path() + "/list.m3u8";
    ASSERT_TRUE(WriteText(list, "\xEF\xBB\xBF#EXTM3U\nM\xC3\xBCsik/\xC3\xA4 \xE2\x99\xAA.mp3\ncaf\xE9.mp3\n"));
    form1->RunOpenDialog = [&](const QString&, const QString&, bool, auto answer) { answer({list}); };
    form1->Image13Click();
    ASSERT_TRUE(Settle());
    ASSERT_EQ(2, form1->EntryCount);
    EXPECT_EQ(QString::fromUtf8("1> \xC3\xA4 \xE2\x99\xAA"), Text(0));
    EXPECT_EQ(latin, Text(1, 1));
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_EQ(QString::fromUtf8("\xC3\xA4 \xE2\x99\xAA"), form1->TitleText);
    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(latin, Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
}

}  // namespace wl::test
