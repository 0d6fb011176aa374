// List files that stay valid (relative entries against the list's folder,
// saved relative to the saved file's folder), lists beyond 32,767 entries,
// the cached resolver of missing entries and the background list loader.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "playback/entry_resolver.h"
#include "playback/list_loader.h"
#include "playback/m3u.h"
#include "playback/playlist_model.h"
#include "tests/stream_builder.h"
#include "tests/wait_until.h"

namespace wl::test {

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A few silent frames: a file other players take for MPEG audio.
bool WriteMp3(const QString& path) {
    const std::vector<uint8_t> frame = SilentFrameMpeg1(0, 0, 0);
    QByteArray bytes;
    for (int i = 0; i < 20; ++i) bytes.append(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
    return Write(path, bytes);
}

bool RunUntil(const std::function<bool()>& cond, int ms = 20000) {
    return WaitUntil(cond, std::chrono::milliseconds(ms), [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
}

// The lines of a list of `count` entries in `folder`: relative ones below it,
// absolute ones elsewhere, a station, and a track of a file in the extended form.
QByteArray BigList(int count) {
    QByteArray text = "#EXTM3U\n";
    for (int i = 1; i <= count; ++i) {
        if (i == 7) {
            text += "http://127.0.0.1:9/station\n";
        } else if (i == 8) {
            text += "#EXTWL-RANGE:1000,2000\n#EXTWL-META:title=Eight&track=8\nalbum/eight.mp3\n";
        } else if (i % 3 == 0) {
            text += "/elsewhere/" + QByteArray::number(i) + ".mp3\n";
        } else {
            text += "music/" + QByteArray::number(i % 50) + "/" + QByteArray::number(i) + ".mp3\n";
        }
    }
    return text;
}

}  // namespace

// 40,000 entries: read (relative ones made absolute against the list's
// folder), saved into another folder and read from there, entry for entry.
TEST(ListFiles, BeyondTheOldLimitSurviveLoadSaveLoad) {
    QTemporaryDir dir;
    const QString lists = dir.path() + "/lists";
    ASSERT_TRUE(Write(lists + "/big.m3u", BigList(40'000)));
    PlaylistModel first;
    first.Load(lists + "/big.m3u");
    ASSERT_EQ(first.Rows(), 40'000);
    EXPECT_EQ(first.EntryCount, 40'000);
    EXPECT_EQ(first.Path(0), lists + "/music/1/1.mp3");
    EXPECT_EQ(first.Path(2), "/elsewhere/3.mp3");
    EXPECT_EQ(first.Path(6), "http://127.0.0.1:9/station");
    EXPECT_EQ(first.Entry(7).Range, (TSampleRange{1000, 2000}));
    EXPECT_EQ(first.Path(39'999), lists + "/music/0/40000.mp3");

    // Saved below the folder the files lie in, and beside it.
    for (const QString& saved : {dir.path() + "/saved.m3u", dir.path() + "/other/deeper/saved.m3u"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(saved).absolutePath()));
        ASSERT_TRUE(first.Save(saved));
        PlaylistModel again;
        again.Load(saved);
        ASSERT_EQ(again.Rows(), 40'000) << saved.toStdString();
        for (int row = 0; row < first.Rows(); ++row) {
            const TPlaylistEntry a = first.Entry(row), b = again.Entry(row);
            ASSERT_TRUE(a.Path == b.Path && a.Range == b.Range && a.Meta == b.Meta) << row << " " << b.Path.toStdString();
        }
    }
    const QByteArray text = Read(dir.path() + "/saved.m3u");
    EXPECT_TRUE(text.contains("\nlists/music/1/1.mp3\n")) << "relative below the saved file's folder";
    EXPECT_TRUE(text.contains("\n/elsewhere/3.mp3\n"));
    EXPECT_TRUE(Read(dir.path() + "/other/deeper/saved.m3u").contains("\n" + QFile::encodeName(lists) + "/music/1/1.mp3\n"))
        << "absolute where not below it";
}

// What would be misread as something else is written so that it reads back.
TEST(ListFiles, RelativeLinesThatLookLikeSomethingElse) {
    QTemporaryDir dir;
    std::vector<TPlaylistEntry> entries(4);
    entries[0].Path = dir.path() + "/#hash.mp3";
    entries[1].Path = dir.path() + "/back\\slash.mp3";
    entries[2].Path = dir.path() + "/C:drive.mp3";
    entries[3].Path = dir.path() + "/sub/../plain.mp3";
    EXPECT_EQ(EncodePlaylistFor(entries, dir.path()), "./#hash.mp3\n./back\\slash.mp3\n./C:drive.mp3\nplain.mp3\n");
    ASSERT_TRUE(Write(dir.path() + "/l.m3u", EncodePlaylistFor(entries, dir.path())));
    PlaylistModel list;
    list.Load(dir.path() + "/l.m3u");
    EXPECT_EQ(list.Paths(), (QStringList{entries[0].Path, entries[1].Path, entries[2].Path, dir.path() + "/plain.mp3"}));
}

// Another player reads what we write: mpg123 finds every file of a list
// saved into another folder (files below it relative, others absolute).
TEST(ListFiles, OtherPlayersFindTheFilesOfASavedList) {
    const QString mpg123 = QStandardPaths::findExecutable(QStringLiteral("mpg123"));
    if (mpg123.isEmpty()) GTEST_SKIP() << "mpg123 is not installed: the saved list is not checked by another player";
    QTemporaryDir dir;
    ASSERT_TRUE(WriteMp3(dir.path() + "/music/a.mp3"));
    ASSERT_TRUE(WriteMp3(dir.path() + "/lists/sub/b c.mp3"));
    ASSERT_TRUE(Write(dir.path() + "/lists/evening.m3u", "../music/a.mp3\nsub\\b c.mp3\n"));
    PlaylistModel list;
    list.Load(dir.path() + "/lists/evening.m3u");
    ASSERT_EQ(list.Paths(), (QStringList{dir.path() + "/music/a.mp3", dir.path() + "/lists/sub/b c.mp3"}));
    for (const QString& saved : {dir.path() + "/saved.m3u", dir.path() + "/elsewhere/saved.m3u"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(saved).absolutePath()));
        ASSERT_TRUE(list.Save(saved));
        QProcess player;
        player.setWorkingDirectory(QDir::rootPath());  // nothing found through the current folder
        player.start(mpg123, {QStringLiteral("-t"), QStringLiteral("-q"), QStringLiteral("--list"), saved});
        ASSERT_TRUE(player.waitForFinished(30000));
        EXPECT_EQ(player.exitCode(), 0) << saved.toStdString() << "\n"
                                        << Read(saved).toStdString() << player.readAllStandardError().toStdString();
    }
}

// Missing entries in one large folder list it once; a change to the folder
// lists it again; the answers are those of a name-by-name search.
TEST(EntryResolver, ListsEachFolderOnceAndAgainWhenItChanges) {
    QTemporaryDir dir;
    const QString music = dir.path() + "/Music";
    ASSERT_TRUE(QDir().mkpath(music));
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(Write(music + QStringLiteral("/Song %1.mp3").arg(i), "x"));
    ASSERT_TRUE(Write(music + "/b.mp3", "x"));
    ASSERT_TRUE(Write(music + "/B.mp3", "x"));  // "B" < "b": the first in code point order
    TEntryResolver& resolver = TEntryResolver::Shared();
    const int64_t before = resolver.Listings();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 300; i += 4) {
                if (resolver.Resolve(music + QStringLiteral("/SONG %1.MP3").arg(i)) != music + QStringLiteral("/Song %1.mp3").arg(i))
                    ++wrong;
                const QString gone = music + QStringLiteral("/gone %1.mp3").arg(i);
                if (resolver.Resolve(gone) != gone) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(resolver.Listings() - before, 1);
    EXPECT_EQ(resolver.Resolve(dir.path() + "/music/b.MP3"), music + "/B.mp3");  // through the folder's parent
    EXPECT_EQ(resolver.Listings() - before, 2);

    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a modification time of its own
    ASSERT_TRUE(Write(music + "/New.mp3", "x"));
    EXPECT_EQ(resolver.Resolve(music + "/new.MP3"), music + "/New.mp3");
    EXPECT_EQ(resolver.Listings() - before, 3);
    EXPECT_EQ(ResolveEntryPath(music + "/NEW.mp3"), music + "/New.mp3");
    EXPECT_EQ(resolver.Listings() - before, 3);
}

// 100,000 entries come in batches, the first playable before the last is
// in; what the file left out is told once all are in.
TEST(ListLoader, BigListComesInBatches) {
    QTemporaryDir dir;
    QByteArray text;
    for (int i = 1; i <= 100'000; ++i) text += "m/" + QByteArray::number(i) + ".mp3\n";
    text += QByteArray(5000, 'x') + "\n";  // too long: left out, and told
    ASSERT_TRUE(Write(dir.path() + "/big.m3u", text));
    PlaylistModel list;
    list.AddEntry("/old.mp3");
    std::vector<int> batches;
    int skipped = 0;
    QObject::connect(&list, &PlaylistModel::Added, [&](int first, int last) { batches.push_back(last - first + 1); });
    QObject::connect(&list, &PlaylistModel::LinesSkipped, [&](const QString&, int n) { skipped = n; });
    int startedAt = -1, doneWith = -1;
    list.Loader().Start(dir.path() + "/big.m3u", TListKind::M3u, TLoadMode::Replace,
                        TListLoader::StartOnce([&] { startedAt = list.Rows(); }, false));
    TListLoader::TFollow follow;
    EXPECT_TRUE(list.Loader().Busy());
    EXPECT_EQ(list.Path(0), "/old.mp3");  // replaced only as the entries come
    ASSERT_TRUE(RunUntil([&] { return !list.Loader().Busy(); }));
    ASSERT_EQ(list.Rows(), 100'000);
    EXPECT_EQ(list.Path(0), dir.path() + "/m/1.mp3");
    EXPECT_GT(batches.size(), 1u);
    for (int n : batches) EXPECT_LE(n, static_cast<int>(TListLoader::kBatch));
    EXPECT_EQ(startedAt, static_cast<int>(TListLoader::kBatch));  // after the first batch
    EXPECT_EQ(skipped, 1);

    // Cleared meanwhile: what was still to come is dropped, nothing follows.
    follow.Done = [&](int, int added) { doneWith = added; };
    list.Loader().Start(dir.path() + "/big.m3u", TListKind::M3u, TLoadMode::Append, follow);
    ASSERT_TRUE(RunUntil([&] { return list.Rows() > 100'000; }));
    list.Clear();
    EXPECT_FALSE(list.Loader().Busy());
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.Rows(), 0);
    EXPECT_EQ(doneWith, -1);

    // Finished at once (as the program ends): every entry, no follow-up.
    list.AddEntry("/old.mp3");
    list.Loader().Start(dir.path() + "/big.m3u", TListKind::M3u, TLoadMode::Append, follow);
    EXPECT_TRUE(list.Loader().Finish(20000));
    EXPECT_EQ(list.Rows(), 100'001);
    EXPECT_EQ(doneWith, -1);
    EXPECT_FALSE(list.Loader().Busy());
}

// A list without entries replaces nothing when asked to replace only with
// entries, and says why; hand-offs wait for the list being read.
TEST(ListLoader, EmptyListLeavesTheListAndLaterWorkWaits) {
    QTemporaryDir dir;
    ASSERT_TRUE(Write(dir.path() + "/empty.m3u", "#EXTM3U\n"));
    ASSERT_TRUE(Write(dir.path() + "/two.m3u", "a.mp3\nb.mp3\n"));
    PlaylistModel list;
    list.AddEntry("/old.mp3");
    QStringList notices;
    QObject::connect(&list, &PlaylistModel::Notice, [&](const QString& text) { notices.append(text); });
    list.Loader().Start(dir.path() + "/empty.m3u", TListKind::Any, TLoadMode::ReplaceIfAny);
    ASSERT_TRUE(RunUntil([&] { return !list.Loader().Busy(); }));
    EXPECT_EQ(list.Paths(), QStringList{"/old.mp3"});
    EXPECT_EQ(notices, QStringList{"No entries in empty.m3u"});

    QStringList order;
    list.Loader().Start(dir.path() + "/two.m3u", TListKind::Any, TLoadMode::ReplaceIfAny,
                        {{}, [&](int, int added) { order.append(QStringLiteral("done %1").arg(added)); }});
    list.Loader().After([&] { order.append(QStringLiteral("after %1").arg(list.Rows())); });
    ASSERT_TRUE(RunUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (QStringList{"done 2", "after 2"}));
}

}  // namespace wl::test
