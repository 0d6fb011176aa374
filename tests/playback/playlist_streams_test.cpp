// Stream entries in the playlist: URLs added, named and kept verbatim
// through the playlist files; an entry replaced by the stations of the list
// it named; a full list told.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "playback/playlist_model.h"

namespace wl::test {

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Collects what the list tells (Notice), in order.
void Collect(PlaylistModel& list, QStringList& notices) {
    QObject::connect(&list, &PlaylistModel::Notice, [&notices](const QString& text) { notices.append(text); });
}

TPlaylistEntry Station(const QString& url, const QString& title = {}) {
    TPlaylistEntry entry;
    entry.Path = url;
    entry.Meta.Title = title;
    return entry;
}

}  // namespace

TEST(PlaylistStreams, UrlsAreEntriesKeptVerbatimThroughTheFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PlaylistModel list;
    EXPECT_TRUE(list.AddEntry("/m/a.mp3"));
    EXPECT_TRUE(list.AddEntry("HTTP://Radio.example:8000/live"));
    EXPECT_TRUE(list.AddEntry(Station("https://b.example/x", "Radio B")));
    EXPECT_FALSE(list.AddEntry("ftp://c.example/live"));
    EXPECT_FALSE(list.AddEntry("https://"));
    EXPECT_EQ((QStringList{"1. a", "2. HTTP://Radio.example:8000/live", "3. Radio B"}),
              (QStringList{list.Label(0), list.Label(1), list.Label(2)}));

    // A user's playlist: URL lines as they stand, an #EXTINF title for a stream.
    const QString user = dir.path() + "/radio.m3u";
    const QByteArray lines = "http://s.example/a?x=1&y=2\nhttps://s.example/\xC3\xBC ber\nhttp://s.example/list.pls\n";
    ASSERT_TRUE(Write(user, "#EXTM3U\n#EXTINF:-1,Station A\n" + lines));
    list.ReadM3U(user);
    ASSERT_EQ(list.Rows(), 6);
    EXPECT_EQ(list.Label(3), "4. Station A");
    EXPECT_EQ(list.Entry(3).Meta.Title, "Station A");

    // Saved verbatim; loaded back the same.
    const QString own = dir.path() + "/own.m3u";
    ASSERT_TRUE(list.Save(own));
    EXPECT_EQ(Read(own), "/m/a.mp3\nHTTP://Radio.example:8000/live\nhttps://b.example/x\n" + lines);
    PlaylistModel again;
    again.Load(own);
    EXPECT_EQ(again.Paths(), list.Paths());
}

// The stations of a list take the place of the entry that named it: numbers,
// played marks, random-order flags and the current entry stay right, and the
// view hears of the new rows.
TEST(PlaylistStreams, EntryReplacedByItsStations) {
    PlaylistModel list;
    for (const char* path : {"/m/a.mp3", "http://h/list.pls", "/m/c.mp3", "/m/d.mp3"}) ASSERT_TRUE(list.AddEntry(path));
    list.ResetNotPlayed();
    list.NotPlayed[2] = 0;  // the list's entry and d were picked in a random round
    list.NotPlayed[4] = 0;
    list.RenumberEntries();
    list.CurrentEntry = 2;
    std::vector<int> added;
    std::vector<std::pair<int, int>> changed;
    QObject::connect(&list, &PlaylistModel::Added, [&added](int first, int last) {
        added.push_back(first);
        added.push_back(last);
    });
    QObject::connect(&list, &PlaylistModel::Changed, [&changed](int first, int last) { changed.emplace_back(first, last); });

    EXPECT_EQ(list.ReplaceEntry(1, {Station("http://s/1", "One"), Station("ftp://s/x"), Station("http://s/2"),
                                    Station("https://s/3", "Three")}),
              3);
    EXPECT_EQ((QStringList{"/m/a.mp3", "http://s/1", "http://s/2", "https://s/3", "/m/c.mp3", "/m/d.mp3"}), list.Paths());
    EXPECT_EQ((QStringList{"1. a", "2> One", "3. http://s/2", "4. Three", "5. c", "6> d"}),
              (QStringList{list.Label(0), list.Label(1), list.Label(2), list.Label(3), list.Label(4), list.Label(5)}));
    EXPECT_EQ(list.EntryCount, 6);
    EXPECT_EQ(list.CurrentEntry, 2);
    std::vector<int32_t> flags;
    for (int n = 1; n <= 6; ++n) flags.push_back(list.NotPlayed[n]);
    EXPECT_EQ((std::vector<int32_t>{1, 0, 3, 4, 5, 0}), flags);
    EXPECT_EQ(added, (std::vector<int>{4, 5}));
    EXPECT_EQ(changed, (std::vector<std::pair<int, int>>{{1, 5}}));

    // A current entry below moves with its row; one station in place of one.
    list.CurrentEntry = 5;
    EXPECT_EQ(list.ReplaceEntry(3, {Station("http://s/4")}), 1);
    EXPECT_EQ(list.CurrentEntry, 5);
    EXPECT_EQ(list.ReplaceEntry(0, {Station("http://s/5"), Station("http://s/6")}), 2);
    EXPECT_EQ(list.CurrentEntry, 6);
    EXPECT_EQ(list.Path(6), "/m/d.mp3");

    // Nothing to stand in its place, or no entry there: nothing changes.
    EXPECT_EQ(list.ReplaceEntry(1, {Station("rtsp://s/"), Station("")}), 0);
    EXPECT_EQ(list.ReplaceEntry(7, {Station("http://s/7")}), 0);
    EXPECT_EQ(list.Rows(), 7);
}

// Entries beyond the list's capacity are told, whichever way they come.
TEST(PlaylistStreams, FullListIsTold) {
    QStringList notices;
    PlaylistModel list;
    list.Capacity = 100;
    for (int i = 1; i < list.Capacity; ++i) list.AddEntry(QStringLiteral("/m/%1.mp3").arg(i));
    Collect(list, notices);
    EXPECT_EQ(list.ReplaceEntry(0, {Station("http://s/1"), Station("http://s/2"), Station("http://s/3")}), 2);
    EXPECT_EQ(list.EntryCount, 100);
    EXPECT_EQ(list.Path(99), "/m/99.mp3");
    EXPECT_EQ(list.AddEntries({Station("http://s/4"), Station("http://s/5")}), 0);
    ASSERT_EQ(notices.size(), 2);
    EXPECT_EQ(notices[0], "The playlist is full (100 entries): 1 entry not added");
    EXPECT_EQ(notices[1], "The playlist is full (100 entries): 2 entries not added");
}

}  // namespace wl::test
