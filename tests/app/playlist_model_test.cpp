// The playlist on its own (no window), and the grid following changes made
// straight on the list, as the media controls and the hand-off make them.
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include "playback/playlist_model.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

TEST(PlaylistModel, UserPlaylistReadAndSavedWithoutAWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString user = dir.path() + "/mix.m3u";
    ASSERT_TRUE(WriteText(user, "#EXTM3U\n#EXTINF:3,a\n/m/a.mp3\nsub\\b.MP3\nnotes.txt\nfile:///m/c%20d.mp3\n"));
    PlaylistModel list;
    list.ReadM3U(user);
    list.ReadM3U(dir.path() + "/missing.m3u");  // nothing added
    ASSERT_EQ(3, list.EntryCount);
    EXPECT_EQ((QStringList{"/m/a.mp3", "sub/b.MP3", "/m/c d.mp3"}), list.Paths());
    list.MarkPlayed(1);
    EXPECT_EQ("2> b", list.Label(1));

    const QString own = dir.path() + "/own.m3u";
    ASSERT_TRUE(list.Save(own));
    list.CurrentEntry = 2;
    PlaylistModel again;
    again.CurrentEntry = 3;
    again.AddEntry("/m/old.mp3");
    again.Load(own);  // replaces the list
    EXPECT_EQ(list.Paths(), again.Paths());
    EXPECT_EQ((QStringList{"1. a", "2. b", "3. c d"}),
              (QStringList{again.Label(0), again.Label(1), again.Label(2)}));  // nothing played yet
    EXPECT_EQ(0, again.CurrentEntry);
    EXPECT_TRUE(again.Label(3).isEmpty());

    // An empty list saves an empty file.
    again.Clear();
    ASSERT_TRUE(again.Save(own));
    EXPECT_TRUE(ReadAll(own).isEmpty());

    // A file that cannot be written says why; nothing is left behind.
    QString reason;
    EXPECT_FALSE(list.Save(dir.path() + "/missing/own.m3u", &reason));
    EXPECT_TRUE(reason.contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << reason.toStdString();
    EXPECT_EQ((QStringList{"mix.m3u", "own.m3u"}), QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));
}

using PlaylistModelView = PlaylistFixture;

TEST_F(PlaylistModelView, GridFollowsChangesMadeOnTheList) {
    PlaylistModel& list = form1->Playlist;
    for (const char* path : {"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3"}) ASSERT_TRUE(list.AddEntry(path));
    EXPECT_EQ((QStringList{"1. a", "2. b", "3. c", "4. d"}), Column(0));
    list.MarkPlayed(3);
    list.SetName(0, "Artist - A");
    EXPECT_EQ((QStringList{"1. Artist - A", "2. b", "3. c", "4> d"}), Column(0));

    // Removed rows take their flags along; the names are made anew.
    list.ResetNotPlayed();
    list.NotPlayed[4] = 0;
    list.RemoveEntries(1, 2);
    EXPECT_EQ((QStringList{"1. a", "2> d"}), Column(0));
    EXPECT_EQ(2, GridRows());
    EXPECT_EQ("/m/d.mp3", GridText(1, 1));

    list.Clear();
    EXPECT_EQ(QStringList{}, Column(0));
    EXPECT_EQ(0, GridRows());
    EXPECT_TRUE(form1->PlaylistEmpty());
}

}  // namespace wl::test
