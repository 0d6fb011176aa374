// The tag scan and its cache: tags reach the model from a thread of their
// own, missing files are marked, moved rows get their own file's tags, and
// the cache answers for unchanged files only and survives a damaged file.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <random>
#include <thread>
#include <string>

#include "playback/tag_cache.h"
#include "playback/tag_scan.h"
#include "tests/tag_builder.h"
#include "tests/wait_until.h"

namespace wl::test {

namespace {

// An MP3 file: an ID3v2.3 tag with the texts given, then one frame.
bool WriteTagged(const QString& path, std::string_view title, std::string_view artist = "",
                 std::string_view album = "", std::string_view track = "") {
    Id3v2TagBuilder builder(3);
    if (!title.empty()) builder.Text("TIT2", title);
    if (!artist.empty()) builder.Text("TPE1", artist);
    if (!album.empty()) builder.Text("TALB", album);
    if (!track.empty()) builder.Text("TRCK", track);
    TagBytes bytes = builder.Build();
    AppendBytes(bytes, {0xFF, 0xFB, 0x90, 0x64});
    bytes.resize(bytes.size() + 413, 0);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

bool RunEventsUntil(const std::function<bool()>& cond, int ms = 20'000) {
    return WaitUntil(cond, std::chrono::milliseconds(ms), [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
}

void Add(PlaylistModel& model, const QStringList& paths) {
    std::vector<TPlaylistEntry> entries;
    for (const QString& path : paths) {
        TPlaylistEntry entry;
        entry.Path = path;
        entries.push_back(entry);
    }
    ASSERT_EQ(static_cast<int>(paths.size()), model.AddEntries(entries));
}

TEntryTags Tags(const char* title, const char* artist, const char* album, int track) {
    return TEntryTags{QString::fromUtf8(title), QString::fromUtf8(artist), QString::fromUtf8(album), track, true};
}

}  // namespace

TEST(TagScan, TagsReachTheModelFromItsOwnThread) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tagged = dir.path() + "/a.mp3", bare = dir.path() + "/b.mp3";
    ASSERT_TRUE(WriteTagged(tagged, "Night Song", "The Band", "Album", "3/12"));
    ASSERT_TRUE(WriteTagged(bare, ""));
    ASSERT_TRUE(WriteTagged(dir.path() + "/Sub/Case.mp3", "Found"));
    const QString stream = "http://example.invalid/live";
    PlaylistModel model;
    TTagScan scan(model, QString());
    Add(model, {tagged, bare, dir.path() + "/sub/CASE.mp3", dir.path() + "/gone.mp3", stream, tagged});
    scan.Schedule();
    // The files are read while this thread runs no events at all; nothing
    // reaches the model until it does.
    ASSERT_TRUE(WaitUntil([&] { return scan.ThreadIdle(); }, std::chrono::seconds(20)));
    EXPECT_EQ(5, scan.Looked());  // not the stream
    EXPECT_FALSE(model.Entry(0).Tags.Known);
    ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));

    EXPECT_EQ(Tags("Night Song", "The Band", "Album", 3), model.Entry(0).Tags);
    EXPECT_EQ(model.Entry(0).Tags, model.Entry(5).Tags);  // every row of the path
    EXPECT_EQ(Tags("", "", "", 0), model.Entry(1).Tags);
    EXPECT_EQ("Found", model.Entry(2).Tags.Title);  // the name in another case
    EXPECT_EQ(QString(), model.Entry(2).Problem);
    EXPECT_EQ(kFileNotFound, model.Entry(3).Problem);
    EXPECT_FALSE(model.Entry(3).Tags.Known);
    EXPECT_FALSE(model.Entry(4).Tags.Known);
    EXPECT_EQ(QString(), model.Entry(4).Problem);

    // A file that appears is found once the list is read again.
    ASSERT_TRUE(WriteTagged(dir.path() + "/gone.mp3", "Back"));
    model.Clear();
    Add(model, {dir.path() + "/gone.mp3"});
    ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));
    EXPECT_EQ("Back", model.Entry(0).Tags.Title);
    EXPECT_EQ(QString(), model.Entry(0).Problem);
}

TEST(TagScan, MovedRowsGetTheirOwnFilesTags) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList paths;
    for (int i = 0; i < 300; ++i) {
        paths << dir.path() + QStringLiteral("/%1.mp3").arg(i);
        ASSERT_TRUE(WriteTagged(paths.back(), QStringLiteral("T%1").arg(i).toStdString()));
    }
    PlaylistModel model;
    TTagScan scan(model, QString());
    auto own = [&](int row) {
        const TPlaylistEntry entry = model.Entry(row);
        return entry.Tags.Title == "T" + QFileInfo(entry.Path).completeBaseName();
    };
    int wrong = 0;
    QObject::connect(&scan, &TTagScan::TagsRead, [&](int row) { wrong += own(row) ? 0 : 1; });
    Add(model, paths);
    scan.ShowingRows(250, 259);
    scan.Schedule();
    // Every row moves up with results for the old rows on their way.
    ASSERT_TRUE(WaitUntil([&] { return scan.Looked() >= 100; }, std::chrono::seconds(20)));
    model.RemoveEntries(0, 9);
    ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));
    ASSERT_EQ(290, model.Rows());
    EXPECT_EQ(0, wrong);  // not even for a while
    for (int row = 0; row < model.Rows(); ++row) EXPECT_TRUE(own(row)) << row;
    // A sort while rows are still to read: each row ends with its own tags.
    Add(model, paths);
    scan.Schedule();
    model.Sort(PlaylistModel::TSortKey::Path);
    ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));
    EXPECT_EQ(0, wrong);
    for (int row = 0; row < model.Rows(); ++row) EXPECT_TRUE(model.Entry(row).Tags.Known && own(row)) << row;
    // A cleared list leaves nothing to wait for.
    model.Clear();
    EXPECT_FALSE(scan.Pending());
}

TEST(TagScan, AStartAfterTheFirstTakesUnchangedFilesFromTheCache) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cache = dir.path() + "/cache/tags.bin";
    const QString same = dir.path() + "/same.mp3", changed = dir.path() + "/changed.mp3";
    ASSERT_TRUE(WriteTagged(same, "Alpha"));
    ASSERT_TRUE(WriteTagged(changed, "Alpha"));
    {
        PlaylistModel model;
        TTagScan scan(model, cache);
        Add(model, {same, changed});
        ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));
        EXPECT_EQ("Alpha", model.Entry(0).Tags.Title);
    }  // written as the scan ends
    ASSERT_TRUE(QFile::exists(cache));
    // Other texts of the same length: one file keeps its time, the other not.
    struct stat before {};
    ASSERT_EQ(0, ::stat(QFile::encodeName(same).constData(), &before));
    ASSERT_TRUE(WriteTagged(same, "Omega"));
    ASSERT_TRUE(WriteTagged(changed, "Omega"));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, QFile::encodeName(same).constData(), times, 0));
    const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, QFile::encodeName(changed).constData(), later, 0));

    PlaylistModel model;
    TTagScan scan(model, cache);
    Add(model, {same, changed});
    ASSERT_TRUE(RunEventsUntil([&] { return !scan.Pending(); }));
    EXPECT_EQ("Alpha", model.Entry(0).Tags.Title);  // from the cache: only its stamp was looked at
    EXPECT_EQ("Omega", model.Entry(1).Tags.Title);
}

TEST(TagCache, AnswersForTheSameSizeAndTimeAndDropsTheLongestUnused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.path() + "/tags.bin";
    const TEntryTags first = Tags("Tītle ☂", "Ärtist", "", 7);
    TTagCache cache;
    cache.Put("/m/a.mp3", {100, 5}, first);
    cache.Put("/m/b.mp3", {200, 6}, Tags("", "", "", 0));
    ASSERT_TRUE(cache.Save(file));
    EXPECT_FALSE(cache.Dirty());

    TTagCache loaded;
    ASSERT_TRUE(loaded.Load(file));
    EXPECT_EQ(2u, loaded.Size());
    EXPECT_EQ(first, loaded.Find("/m/a.mp3", {100, 5}));
    EXPECT_EQ(Tags("", "", "", 0), loaded.Find("/m/b.mp3", {200, 6}));
    EXPECT_FALSE(loaded.Find("/m/a.mp3", {101, 5}));  // size changed
    EXPECT_FALSE(loaded.Find("/m/a.mp3", {100, 4}));  // modification time changed
    EXPECT_FALSE(loaded.Find("/m/c.mp3", {100, 5}));
    EXPECT_FALSE(loaded.Dirty());

    TTagCache small(3);
    for (const char* path : {"/1", "/2", "/3"}) small.Put(path, {1, 1}, first);
    EXPECT_TRUE(small.Find("/1", {1, 1}));  // now used more recently than /2
    small.Put("/4", {1, 1}, first);
    EXPECT_EQ(3u, small.Size());
    EXPECT_FALSE(small.Find("/2", {1, 1}));
    EXPECT_TRUE(small.Find("/1", {1, 1}));
    EXPECT_TRUE(small.Find("/4", {1, 1}));
}

TEST(TagCache, ADamagedFileIsIgnoredAndWrittenAnew) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.path() + "/tags.bin";
    TTagCache missing;
    EXPECT_TRUE(missing.Load(file));  // none yet: nothing to rewrite
    EXPECT_FALSE(missing.Dirty());

    TTagCache cache;
    for (int i = 0; i < 20; ++i)
        cache.Put(QStringLiteral("/music/%1.mp3").arg(i), {i, i * 3}, Tags("Title", "Artist", "Album", i));
    ASSERT_TRUE(cache.Save(file));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray sound = in.readAll();
    in.close();

    auto loadsDamaged = [&](const QByteArray& bytes) {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) return false;
        out.close();
        TTagCache damaged;
        return !damaged.Load(file) && damaged.Size() == 0 && damaged.Dirty();
    };
    std::mt19937 random(33);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = sound;
        switch (round % 4) {
            case 0:  // cut short
                bytes.truncate(static_cast<qsizetype>(random() % static_cast<unsigned>(sound.size())));
                break;
            case 1:  // a few bytes changed
                for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
                    const auto at = static_cast<qsizetype>(random() % static_cast<unsigned>(bytes.size()));
                    bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random() % 255));
                }
                if (bytes == sound) bytes[0] = 'X';
                break;
            case 2:  // noise after a sound header
                bytes.truncate(20);
                for (int n = static_cast<int>(random() % 4000); n > 0; --n) bytes.append(static_cast<char>(random()));
                break;
            default:  // noise alone
                bytes.clear();
                for (int n = static_cast<int>(random() % 4000); n > 0; --n) bytes.append(static_cast<char>(random()));
        }
        ASSERT_TRUE(loadsDamaged(bytes)) << "round " << round;
    }
    // The next save replaces it by one that loads.
    TTagCache fresh;
    EXPECT_FALSE(fresh.Load(file));
    fresh.Put("/music/new.mp3", {1, 2}, Tags("New", "", "", 0));
    ASSERT_TRUE(fresh.Save(file));
    TTagCache again;
    EXPECT_TRUE(again.Load(file));
    EXPECT_EQ(1u, again.Size());
}

}  // namespace wl::test
