// The tag scan over a big list: small MP3 files with ID3v2 tags made in a
// temporary folder, read by the scan's thread into a playlist model with no
// tag cache (cold), then again by a new scan with the cache the first wrote
// (warm, as at a second start). Prints for each run the total time, the
// entries per second, when the first 40 rows (a screenful) had their tags,
// the longest the list's thread could not run a 1 ms timer, the time the
// scan took to stop (writing the cache) and the resident memory.
//
//   wl_tag_cache_bench [ENTRIES] [FOLDER]
//
// ENTRIES defaults to 100,000; FOLDER (kept, and reused when it already holds
// the files) defaults to a temporary one.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/playlist_model.h"
#include "playback/tag_scan.h"
#include "tests/tag_builder.h"

namespace {

using wl::test::Id3v2TagBuilder;
using wl::test::TagBytes;

constexpr int kFilesPerFolder = 1000;
constexpr int kScreenRows = 40;

QString FilePath(const QString& root, int i) {
    return root + QStringLiteral("/Artist %1/%2 - Song number %2.mp3").arg(i / kFilesPerFolder).arg(i);
}

bool MakeFiles(const QString& root, int count) {
    for (int i = 0; i < count; ++i) {
        const QString path = FilePath(root, i);
        if (i % kFilesPerFolder == 0) QDir().mkpath(QFileInfo(path).absolutePath());
        if (QFile::exists(path)) continue;
        const std::string n = std::to_string(i);
        TagBytes bytes = Id3v2TagBuilder(3)
                             .Text("TIT2", "Song number " + n)
                             .Text("TPE1", "Artist " + std::to_string(i / kFilesPerFolder))
                             .Text("TALB", "Album " + std::to_string(i / 12))
                             .Text("TRCK", std::to_string(i % 12 + 1))
                             .Padding(64)
                             .Build();
        wl::test::AppendBytes(bytes, {0xFF, 0xFB, 0x90, 0x64});  // one silent frame
        bytes.resize(bytes.size() + 413, 0);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size()))
            return false;
    }
    return true;
}

long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

struct TRun {
    double TotalMs = 0, ScreenMs = -1, LongestGapMs = 0, StopMs = 0;
    int Known = 0, Missing = 0;
    long ResidentKb = 0;
};

TRun Scan(const QString& root, int count, const QString& cache) {
    TRun run;
    wl::PlaylistModel model;
    auto scan = std::make_unique<wl::TTagScan>(model, cache);
    std::vector<wl::TPlaylistEntry> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) entries[static_cast<size_t>(i)].Path = FilePath(root, i);
    int screenKnown = 0;
    QObject::connect(scan.get(), &wl::TTagScan::TagsRead, [&](int row) { screenKnown += row < kScreenRows; });

    // From the list's rows being there (adding them is the model's time).
    model.AddEntries(entries);
    entries.clear();
    entries.shrink_to_fit();
    QElapsedTimer clock;
    clock.start();
    scan->ShowingRows(0, kScreenRows - 1);
    // A probe asking to run every millisecond: the longest gap between two
    // of its runs is the longest the list's thread could not take input.
    QTimer probe;
    probe.setInterval(1);
    qint64 last = clock.nsecsElapsed();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        run.LongestGapMs = std::max(run.LongestGapMs, (now - last) / 1e6);
        last = now;
        if (run.ScreenMs < 0 && screenKnown >= kScreenRows) run.ScreenMs = now / 1e6;
        if (!scan->Pending()) QCoreApplication::quit();
    });
    probe.start();
    QCoreApplication::exec();
    run.TotalMs = clock.nsecsElapsed() / 1e6;
    for (int row = 0; row < model.Rows(); ++row) {
        const wl::TPlaylistEntry entry = model.Entry(row);
        run.Known += entry.Tags.Known && !entry.Tags.Title.isEmpty();
        run.Missing += !entry.Problem.isEmpty();
    }
    run.ResidentKb = ResidentKb();
    QElapsedTimer stop;
    stop.start();
    scan.reset();  // writes the cache when it changed
    run.StopMs = stop.nsecsElapsed() / 1e6;
    return run;
}

void Print(const char* name, const TRun& run, int count) {
    std::printf("%-5s %8.0f ms  %9.0f entries/s  first %d rows %7.1f ms  longest gap %6.1f ms  stop %6.1f ms  "
                "RSS %6.1f MB  (%d with a title, %d missing)\n",
                name, run.TotalMs, count / (run.TotalMs / 1000.0), kScreenRows, run.ScreenMs, run.LongestGapMs,
                run.StopMs, run.ResidentKb / 1024.0, run.Known, run.Missing);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100'000;
    std::optional<QTemporaryDir> temporary;
    QString root;
    if (argc > 2) {
        root = QString::fromLocal8Bit(argv[2]);
    } else {
        temporary.emplace();
        if (!temporary->isValid()) return 1;
        root = temporary->path();
    }
    QElapsedTimer making;
    making.start();
    if (!MakeFiles(root + QStringLiteral("/files"), count)) {
        std::fprintf(stderr, "could not write the files under %s\n", qPrintable(root));
        return 1;
    }
    std::printf("%d files ready in %.1f s\n", count, making.elapsed() / 1000.0);
    const QString cache = root + QStringLiteral("/cache/tags.bin");
    if (QFile::exists(cache)) {
        // Left by a former run into FOLDER: its memory measured before anything else was allocated.
        const long before = ResidentKb();
        wl::TTagCache kept;
        kept.Load(cache);
        std::printf("former cache: %zu files, %.1f MB in memory\n", kept.Size(), (ResidentKb() - before) / 1024.0);
    }
    QFile::remove(cache);

    Print("cold", Scan(root + QStringLiteral("/files"), count, cache), count);
    {
        const long before = ResidentKb();
        QElapsedTimer loading;
        loading.start();
        wl::TTagCache kept;
        kept.Load(cache);
        std::printf("cache file %.1f MB, %zu files, loaded in %.1f ms, %.1f MB in memory\n",
                    QFileInfo(cache).size() / 1048576.0, kept.Size(), loading.nsecsElapsed() / 1e6,
                    (ResidentKb() - before) / 1024.0);
    }
    Print("warm", Scan(root + QStringLiteral("/files"), count, cache), count);
    return 0;
}
