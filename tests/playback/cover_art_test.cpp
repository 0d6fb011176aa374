// The art cache and the art of an entry: embedded pictures written once and
// named by their bytes, the folder image used where it lies, and the cache
// kept under its limits with the oldest files going first.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

#include "playback/cover_art.h"
#include "tests/tag_builder.h"
#include "tests/test_support.h"

namespace {

using wl::TArtCache;
using wl::TPicture;
using wl::test::TagBytes;

TPicture Picture(uint32_t n, size_t size = 100) {
    TPicture p;
    p.Type = 3;
    p.Extension = "png";
    p.Data = wl::test::AsciiBytes("\x89PNG\r\n\x1A\n");
    for (size_t i = 0; i < size; ++i) p.Data.push_back(static_cast<uint8_t>(n >> (8 * (i % 4))));
    wl::test::AppendBytes(p.Data, wl::test::AsciiBytes("IEND...."));
    return p;
}

size_t CountFiles(const QString& folder) { return QDir(folder).entryList(QDir::Files).size(); }

TEST(ArtCache, WrittenOnceByContentAndPrunedOldestFirst) {
    wl::test::TempDir dir;
    const TArtCache cache(QString::fromStdString(dir.File("art")));
    const QString first = cache.Store(Picture(1));
    ASSERT_FALSE(first.isEmpty());
    EXPECT_TRUE(QFileInfo(first).fileName().endsWith(".png"));
    EXPECT_EQ(QFileInfo(first).fileName().size(), 36);
    EXPECT_EQ(cache.Store(Picture(1)), first);
    EXPECT_NE(cache.Store(Picture(2)), first);
    EXPECT_EQ(wl::test::ReadFileBytes(first.toStdString()), Picture(1).Data);
    EXPECT_EQ(CountFiles(cache.Folder()), 2u);

    // Past the file limit the least recently used go; one used again stays.
    namespace fs = std::filesystem;
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(first.toStdString(), old - std::chrono::minutes(1));
    QString third;
    for (uint32_t i = 3; i <= TArtCache::kMaxFiles + 5; ++i) {
        const QString path = cache.Store(Picture(i));
        ASSERT_FALSE(path.isEmpty());
        if (i == 3) third = path;
        if (i < 100) fs::last_write_time(path.toStdString(), old + std::chrono::seconds(i));
        if (i == 50) {
            EXPECT_EQ(cache.Store(Picture(1)), first);  // used now
        }
    }
    EXPECT_EQ(CountFiles(cache.Folder()), static_cast<size_t>(TArtCache::kMaxFiles));
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_FALSE(QFile::exists(third));
    // The byte limit: a few large pictures push the small ones out.
    for (uint32_t i = 0; i < 4; ++i) ASSERT_FALSE(cache.Store(Picture(5000 + i, 15u << 20)).isEmpty());
    qint64 total = 0;
    for (const QFileInfo& f : QDir(cache.Folder()).entryInfoList(QDir::Files)) total += f.size();
    EXPECT_LE(total, TArtCache::kMaxBytes);
    EXPECT_GE(total, 3 * (15ll << 20));
}

TEST(ArtCache, EmbeddedBeforeFolderImageAndNoneForStreams) {
    wl::test::TempDir dir;
    const TArtCache cache(QString::fromStdString(dir.File("art")));
    const TPicture picture = Picture(7);
    TagBytes body{0};
    wl::test::AppendBytes(body, wl::test::AsciiBytes("image/png"));
    wl::test::AppendBytes(body, {0, 3, 0});
    wl::test::AppendBytes(body, picture.Data);
    TagBytes file = wl::test::Id3v2TagBuilder(3).Frame("APIC", body).Build();
    file.resize(file.size() + 1000, 0x55);
    std::filesystem::create_directories(dir.File("album"));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("album/embedded.mp3"), file));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("album/plain.mp3"), TagBytes(1000, 0x55)));

    const auto source = [&](const char* name) { return QString::fromStdString(dir.File(name)); };
    EXPECT_TRUE(wl::FindCoverArt(source("album/plain.mp3"), cache).isEmpty());
    const QString embedded = wl::FindCoverArt(source("album/embedded.mp3"), cache);
    EXPECT_TRUE(embedded.startsWith(cache.Folder() + "/")) << embedded.toStdString();
    EXPECT_EQ(wl::test::ReadFileBytes(embedded.toStdString()), picture.Data);

    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("album/Folder.jpg"), TagBytes(10, 1)));
    EXPECT_EQ(wl::FindCoverArt(source("album/plain.mp3"), cache), source("album/Folder.jpg"));
    EXPECT_EQ(wl::FindCoverArt(source("album/embedded.mp3"), cache), embedded);
    EXPECT_TRUE(wl::FindCoverArt("http://example.org/stream", cache).isEmpty());
}

TEST(ArtCache, FolderFromTheEnvironment) {
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/tmp/wl-cache-test");
    EXPECT_EQ(TArtCache::DefaultFolder(), "/tmp/wl-cache-test/wavelantern/art");
    qputenv("XDG_CACHE_HOME", "relative");
    EXPECT_EQ(TArtCache::DefaultFolder(), QDir::homePath() + "/.cache/wavelantern/art");
    if (saved.isNull()) qunsetenv("XDG_CACHE_HOME"); else qputenv("XDG_CACHE_HOME", saved);
}

}  // namespace
