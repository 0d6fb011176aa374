// Finding entries as the user types: the matching rules, narrowing, and the
// index following the list's changes.
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <vector>

#include "playback/playlist_model.h"
#include "playback/playlist_search.h"

namespace wl::test {

namespace {

TPlaylistEntry Song(const QString& path, const QString& artist = {}, const QString& title = {},
                    const QString& album = {}) {
    TPlaylistEntry entry;
    entry.Path = path;
    entry.Meta.Artist = artist;
    entry.Meta.Title = title;
    entry.Meta.Album = album;
    return entry;
}

using Rows = std::vector<int>;

}  // namespace

TEST(PlaylistSearch, EveryWordMatchesAFieldRegardlessOfCaseAndAccents) {
    EXPECT_EQ("beyonce strasse fish ae o", FoldForSearch(u"BEYONCÉ Straße ﬁsh Æ Ø"));
    EXPECT_EQ("istanbul dz", FoldForSearch(u"İstanbul ǅ"));

    PlaylistModel list;
    list.AddEntries({
        Song("/m/jh/mt.mp3", {}, QStringLiteral("Jimi Hendrix – Mystery Train")),
        Song("/m/b/04.mp3", QStringLiteral("Beyoncé"), "Halo", "I Am... Sasha Fierce"),
        Song("/m/x/Hendrix live at the Fillmore.mp3"),  // the file name only
        Song("/m/s/strasse.mp3", "Kraftwerk", QStringLiteral("Autobahn Straße")),
        Song("http://radio.example/train", {}, "Night Train FM"),
    });
    TPlaylistSearch search(list);
    ASSERT_EQ(5, search.Rows());

    EXPECT_EQ((Rows{0}), search.Find("hendrix train"));
    EXPECT_EQ((Rows{0}), search.Find("  TRAIN   jimi "));
    EXPECT_EQ((Rows{0, 2}), search.Find("HENDRIX"));
    EXPECT_EQ((Rows{1}), search.Find("beyonce"));
    EXPECT_EQ((Rows{1}), search.Find(QStringLiteral("BEYONCÉ fierce")));  // artist and album
    EXPECT_EQ((Rows{2}), search.Find("fillmore hendrix"));
    EXPECT_EQ((Rows{3}), search.Find("strasse"));
    EXPECT_EQ((Rows{3}), search.Find(QStringLiteral("straße")));
    EXPECT_EQ((Rows{0, 4}), search.Find("train"));  // a stream by its title
    EXPECT_EQ((Rows{}), search.Find("hendrix halo"));  // words of two entries: neither
    EXPECT_EQ((Rows{}), search.Find("radio.example"));  // a URL has no file name
    EXPECT_EQ((Rows{0, 1, 2, 3, 4}), search.Find("   "));
    // A word never spans two fields.
    EXPECT_EQ((Rows{}), search.Find("trainjimi"));

    // The file's tags count over what the list said.
    list.SetTags(1, TEntryTags{"Sweet Dreams", "Beyonce Knowles", "", 3, true});
    EXPECT_EQ((Rows{1}), search.Find("dreams knowles fierce"));  // the album from the list still
    EXPECT_EQ((Rows{1}), search.Find("halo"));  // the name shown still says it
    list.SetName(1, "Beyonce Knowles - Sweet Dreams");
    EXPECT_EQ((Rows{}), search.Find("halo"));
}

TEST(PlaylistSearch, NarrowingFindsWhatAFreshSearchFinds) {
    const QStringList words{"love", "night", "train", "blue", "song", "dance", "moon", "rain"};
    std::vector<TPlaylistEntry> entries;
    QRandomGenerator rng(7);
    for (int i = 0; i < 3000; ++i) {
        auto word = [&] { return words[rng.bounded(words.size())]; };
        entries.push_back(Song(QStringLiteral("/m/%1.mp3").arg(i), "The " + word(), word() + " " + word(), word()));
    }
    PlaylistModel list;
    list.AddEntries(entries);
    TPlaylistSearch typed(list);
    // Typed letter by letter, with a backspace and a second word.
    const QStringList steps{"n", "ni", "nig", "nigh", "night", "night ", "night r", "night ra", "night r",
                            "night rai", "night rain", "ight rain", "the rain"};
    for (const QString& query : steps) {
        TPlaylistSearch fresh(list);
        const Rows hits = typed.Find(query);
        EXPECT_EQ(fresh.Find(query), hits) << query.toStdString();
        EXPECT_FALSE(hits.empty()) << query.toStdString();
    }
}

TEST(PlaylistSearch, FollowsTheListsChanges) {
    PlaylistModel list;
    list.AddEntries({Song("/m/a.mp3", "Anna", "Apple"), Song("/m/b.mp3", "Bert", "Banana"),
                     Song("/m/c.mp3", "Carl", "Cherry")});
    TPlaylistSearch search(list);
    int told = 0;
    QObject::connect(&search, &TPlaylistSearch::IndexChanged, [&] { ++told; });
    EXPECT_EQ((Rows{1}), search.Find("ban"));

    list.SetTags(2, TEntryTags{"Banana Split", "Carl", "", 0, true});  // Changed
    EXPECT_EQ((Rows{1, 2}), search.Find("banana"));
    list.AddEntry(Song("/m/d.mp3", "Dora", "Banana Boat"));  // Added
    EXPECT_EQ((Rows{1, 2, 3}), search.Find("banana"));
    list.RemoveEntries(1, 1);  // Removed, then every row Changed
    EXPECT_EQ((Rows{1, 2}), search.Find("banana"));
    EXPECT_EQ("/m/d.mp3", list.Path(2));
    list.Sort(PlaylistModel::TSortKey::Title);  // Reordered: Apple, Banana Boat, Banana Split
    EXPECT_EQ((Rows{1, 2}), search.Find("banana"));
    EXPECT_EQ((Rows{1}), search.Find("banana boat"));
    EXPECT_EQ(list.Path(1), "/m/d.mp3");
    list.Clear();
    EXPECT_EQ((Rows{}), search.Find("banana"));
    list.AddEntry(Song("/m/e.mp3", "Eve", "Banana"));
    EXPECT_EQ((Rows{0}), search.Find("banana"));
    EXPECT_GE(told, 6);
}

}  // namespace wl::test
