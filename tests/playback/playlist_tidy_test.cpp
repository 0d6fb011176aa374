// Sorting and tidying the playlist: the playing entry and every entry's marks
// move with it, one signal tells it; duplicates and missing files removed;
// the random order's marks over a big list.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

#include "playback/playlist_model.h"

namespace wl::test {

namespace {

using K = PlaylistModel::TSortKey;

TPlaylistEntry Song(const QString& path, const QString& title = {}, const QString& artist = {}, int track = 0,
                    TSampleRange range = {}) {
    TPlaylistEntry entry;
    entry.Path = path;
    entry.Range = range;
    entry.Meta.Title = title;
    entry.Meta.Artist = artist;
    entry.Meta.Track = track;
    return entry;
}

// Counts what the list tells; Reordered's rows are kept.
struct Signals {
    int reordered = 0, other = 0;
    std::vector<int> from;
    explicit Signals(PlaylistModel& list) {
        QObject::connect(&list, &PlaylistModel::Reordered, [this](const std::vector<int>& f) {
            ++reordered;
            from = f;
        });
        QObject::connect(&list, &PlaylistModel::Added, [this] { ++other; });
        QObject::connect(&list, &PlaylistModel::Changed, [this] { ++other; });
        QObject::connect(&list, &PlaylistModel::Removed, [this] { ++other; });
        QObject::connect(&list, &PlaylistModel::Cleared, [this] { ++other; });
    }
};

QStringList Names(const PlaylistModel& list) {
    QStringList names;
    for (int r = 0; r < list.Rows(); ++r) names.append(QDir(list.Path(r)).dirName());
    return names;
}

}  // namespace

TEST(PlaylistTidy, SortingKeepsThePlayingEntryAndEveryMark) {
    PlaylistModel list;
    list.AddEntries({Song("/m/10 b.mp3", "Zebra", QStringLiteral("Élodie"), 2), Song("/m/2 a.mp3", "apple", "eddie"),
                     Song("/m/1 c.mp3", QStringLiteral("Äpfel"), "Frank", 10), Song("/m/x.mp3", "Aaa")});
    list.SetTags(3, TEntryTags{"Mango", "", "", 1, true});  // over what the list said
    list.SetProblem(0, "File not found");
    list.CurrentEntry = 3;
    list.MarkPlayed(2);
    list.NotPlayed[3] = 0;
    Signals told(list);

    EXPECT_EQ(3, list.Sort(K::Title));  // "apple" stays second
    EXPECT_EQ((QStringList{"1 c.mp3", "2 a.mp3", "x.mp3", "10 b.mp3"}), Names(list));
    EXPECT_EQ((std::vector<int>{2, 1, 3, 0}), told.from);
    EXPECT_EQ(1, list.CurrentEntry);
    EXPECT_EQ("1> Frank - Äpfel", list.Label(0));
    EXPECT_EQ("2. eddie - apple", list.Label(1));
    EXPECT_EQ((std::vector<int>{0, 2, 3, 4}),
              (std::vector<int>{list.NotPlayed[1], list.NotPlayed[2], list.NotPlayed[3], list.NotPlayed[4]}));
    EXPECT_EQ("Mango", list.Entry(2).Tags.Title);
    EXPECT_EQ("File not found", list.Entry(3).Problem);
    EXPECT_EQ(4, list.EntryCount);

    // An entry without an artist sorts by its name ("Aaa"); accents aside.
    list.Sort(K::Artist);
    EXPECT_EQ((QStringList{"x.mp3", "2 a.mp3", "10 b.mp3", "1 c.mp3"}), Names(list));
    EXPECT_EQ(4, list.CurrentEntry);
    // Numbers: the tags' over the list's, none last; in names by value.
    list.Sort(K::Track);
    EXPECT_EQ((QStringList{"x.mp3", "10 b.mp3", "1 c.mp3", "2 a.mp3"}), Names(list));
    list.Sort(K::FileName);
    EXPECT_EQ((QStringList{"1 c.mp3", "2 a.mp3", "10 b.mp3", "x.mp3"}), Names(list));
    EXPECT_EQ(1, list.CurrentEntry);
    EXPECT_EQ(0, list.NotPlayed[1]);
    EXPECT_EQ("File not found", list.Entry(2).Problem);
    const int signalled = told.reordered;
    EXPECT_EQ(0, list.Sort(K::Path));  // already in order: nothing told
    EXPECT_EQ(signalled, told.reordered);
    EXPECT_EQ(4, told.reordered);
    EXPECT_EQ(0, told.other);
}

TEST(PlaylistTidy, DuplicatesGoTheFirstStays) {
    PlaylistModel list;
    const TSampleRange part{0, 100};
    list.AddEntries({Song("/m/a.mp3"), Song("/m/b.mp3"), Song("/m/a.mp3"), Song("/m/a.mp3", {}, {}, 0, part),
                     Song("/m/c.mp3"), Song("/m/b.mp3"), Song("/m/a.mp3", {}, {}, 0, part)});
    list.CurrentEntry = 6;  // the second b
    list.NotPlayed[5] = 0;  // c picked
    Signals told(list);
    EXPECT_EQ(3, list.RemoveDuplicates());
    EXPECT_EQ((QStringList{"a.mp3", "b.mp3", "a.mp3", "c.mp3"}), Names(list));
    EXPECT_EQ(part, list.Entry(2).Range);
    EXPECT_EQ(2, list.CurrentEntry);  // the copy kept
    EXPECT_EQ((std::vector<int>{1, 2, 3, 0, 5, 6, 7}),
              (std::vector<int>{list.NotPlayed[1], list.NotPlayed[2], list.NotPlayed[3], list.NotPlayed[4],
                                list.NotPlayed[5], list.NotPlayed[6], list.NotPlayed[7]}));
    EXPECT_EQ(4, list.EntryCount);
    EXPECT_EQ(0, list.RemoveDuplicates());
    EXPECT_EQ(1, told.reordered);
    EXPECT_EQ(0, told.other);
}

TEST(PlaylistTidy, MissingFilesFoundAsThePlayerFindsThemAndRemoved) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString d = dir.path();
    ASSERT_TRUE(QDir(d).mkdir("Sub"));
    for (const char* name : {"a.mp3", "Sub/B.mp3"}) {
        QFile file(d + "/" + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QStringList paths{d + "/a.mp3", d + "/sub/b.MP3", d + "/gone.mp3", d + "/none/x.mp3",
                            "http://radio.example/live", d + "/A.MP3"};
    EXPECT_EQ((std::vector<int>{2, 3}), PlaylistModel::MissingRows(paths));
    EXPECT_EQ((std::vector<int>{1, 3, 5}), PlaylistModel::MissingRows(paths, [](const QString& path) {
                  return path.endsWith("/a.mp3") || path.endsWith("/gone.mp3");
              }));
    EXPECT_TRUE(PlaylistModel::MissingRows(paths, {}, [](int looked) { return looked == 0; }).empty());  // stopped

    PlaylistModel list;
    for (const QString& path : paths) ASSERT_TRUE(list.AddEntry(path));
    list.CurrentEntry = 4;  // goes: the entry before it is current, so Next plays the one after
    Signals told(list);
    EXPECT_EQ(2, list.RemoveRowsAt({3, 2, 2, 17, -1}));
    EXPECT_EQ(4, list.Rows());
    EXPECT_EQ(2, list.CurrentEntry);
    EXPECT_EQ("http://radio.example/live", list.Path(2));
    EXPECT_EQ(0, list.RemoveRowsAt({}));
    list.CurrentEntry = 1;
    EXPECT_EQ(4, list.RemoveRowsAt({0, 1, 2, 3}));  // every row: an empty list
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(0, list.EntryCount);
    EXPECT_EQ(0, list.CurrentEntry);
    EXPECT_TRUE(told.from.empty());
    EXPECT_EQ(2, told.reordered);
    EXPECT_EQ(0, told.other);
}

// Every entry once per round, before and after a sort that moves the marks,
// with the current entry beyond 16-bit numbers.
TEST(PlaylistTidy, RandomRoundOverAHundredThousandEntries) {
    constexpr int kEntries = 100'000;
    std::vector<TPlaylistEntry> entries;
    entries.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i)
        entries.push_back(Song(QStringLiteral("/m/%1.mp3").arg(i), QString::number(i * 7919 % kEntries)));
    PlaylistModel list;
    ASSERT_EQ(kEntries, list.AddEntries(entries));
    list.ResetNotPlayed();
    list.CurrentEntry = 90'000;
    std::vector<char> picked(kEntries, 0);
    int picks = 0;
    auto pick = [&] {
        const int n = list.PickRandom();
        if (n < 1 || n > kEntries) return false;
        const int original = list.Path(n - 1).sliced(3).chopped(4).toInt();
        if (picked[original]) return false;
        picked[original] = 1;
        ++picks;
        return true;
    };
    for (int i = 0; i < kEntries / 2; ++i) ASSERT_TRUE(pick()) << i;
    ASSERT_GT(list.Sort(K::Title), kEntries / 2);
    EXPECT_EQ("/m/89999.mp3", list.Path(list.CurrentEntry - 1));
    while (pick()) {
    }
    EXPECT_EQ(kEntries, picks);
    EXPECT_EQ(0, list.PickRandom());  // the round is over
    list.ResetNotPlayed();
    EXPECT_NE(0, list.PickRandom());
}

}  // namespace wl::test
