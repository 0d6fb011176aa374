// A start with a collection-sized default playlist, as a user meets it: how
// long until the first entry plays and the whole list is shown, the longest
// main-thread stall meanwhile (a 1 ms probe timer), the memory held, how long
// saving the list takes, and how long the quit takes.
//
// Usage: wl_collection_start FILE.mp3 [ENTRIES [MISSING_PERCENT]]
// The entries are hard links to FILE.mp3 in a temporary folder (a tenth of
// them, by default, left missing), listed in a fresh app folder's wl21.m3u.
// Run on the offscreen platform with the null sound device:
//   QT_QPA_PLATFORM=offscreen WAVELANTERN_AUDIO=null build/bench/wl_collection_start demo/wavelantern-demo.mp3
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/form1.h"
#include "app/memory_tuning.h"

namespace {

// "VmRSS" or "VmHWM" of this process in MB.
double MemoryMb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + std::string(key).size() + 1) / 1024.0;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("WAVELANTERN_AUDIO", "null", 0);
    wl::ReturnLargeBlocksToSystem();  // as the program does
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.mp3 [ENTRIES [MISSING_PERCENT]]\n", argv[0]);
        return 2;
    }
    const QString source = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const int entries = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100'000;
    const int missingPercent = argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 100) : 10;

    QTemporaryDir home, music, cache;
    setenv("WAVELANTERN_HOME", home.path().toUtf8().constData(), 1);
    setenv("XDG_CACHE_HOME", cache.path().toUtf8().constData(), 1);
    QByteArray list;
    QString linkTo = source;
    for (int i = 0; i < entries; ++i) {
        const QString name = QStringLiteral("%1/Artist %2/%3 - Song %4.mp3")
                                 .arg(music.path())
                                 .arg(i / 1000, 3, 10, QLatin1Char('0'))
                                 .arg(i % 1000, 3, 10, QLatin1Char('0'))
                                 .arg(i);
        // The first entry always plays; every (100 / percent)-th after it is missing.
        const bool missing = i > 0 && missingPercent > 0 && i % (100 / std::max(1, missingPercent)) == 0;
        if (!missing) {
            QDir().mkpath(QFileInfo(name).absolutePath());
            if (::link(QFile::encodeName(linkTo).constData(), QFile::encodeName(name).constData()) != 0) {
                // A file takes only so many links: a copy takes the next ones.
                if (!QFile::copy(source, name)) {
                    std::fprintf(stderr, "cannot make %s\n", qPrintable(name));
                    return 1;
                }
                linkTo = name;
            }
        }
        list += name.toUtf8() + '\n';
    }
    {
        QFile file(home.path() + QStringLiteral("/wl21.m3u"));
        if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size()) return 1;
    }
    {
        // The last session played the first entry: this start plays it on.
        QFile conf(home.path() + QStringLiteral("/wavelantern.conf"));
        const QByteArray text = "[Resume]\nEntry=1\nPositionMs=0\nWasPlaying=true\n";
        if (!conf.open(QIODevice::WriteOnly) || conf.write(text) != text.size()) return 1;
    }

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), longest = 0, playingAt = -1, shownAt = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    auto owned = std::make_unique<wl::TForm1>();
    wl::TForm1& form = *owned;
    form.show();
    last = clock.nsecsElapsed();  // stalls of the running window, from its first event on
    probe.start(1);
    QTimer watch;
    double rss = 0, peak = 0, heap = 0, saveMs = 0, quitMs = 0;
    QElapsedTimer quitClock;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (playingAt < 0 && form.Controller->IsOpen() && form.Controller->State() == wl::TPlayState::Playing)
            playingAt = now;
        if (shownAt < 0 && form.Playlist.Rows() >= entries) shownAt = now;
        // Three seconds after both, with the tags read meanwhile: memory, a
        // save, then the quit.
        if (playingAt >= 0 && shownAt >= 0 && now > std::max(playingAt, shownAt) + 3'000'000'000LL && !quitClock.isValid()) {
            rss = MemoryMb("VmRSS:");
            peak = MemoryMb("VmHWM:");
            heap = static_cast<double>(mallinfo2().uordblks) / (1 << 20);
            QElapsedTimer save;
            save.start();
            form.SaveDefaultPlaylist();
            saveMs = save.nsecsElapsed() / 1e6;
            probe.stop();
            quitClock.start();
            form.Quit(true);
        }
        if (now > 60'000'000'000LL && !quitClock.isValid()) {
            std::fprintf(stderr, "gave up after 60 s: %d of %d entries, playing %s\n", form.Playlist.Rows(), entries,
                         playingAt >= 0 ? "yes" : "no");
            QCoreApplication::exit(1);
        }
    });
    watch.start(1);
    const int code = app.exec();
    owned.reset();  // the window's end: the workers stopped, the tag cache written
    if (quitClock.isValid()) quitMs = quitClock.nsecsElapsed() / 1e6;
    if (code != 0) return code;
    std::printf("entries %d (%d%% missing)\n", entries, missingPercent);
    std::printf("playing after        %8.0f ms\n", playingAt / 1e6);
    std::printf("whole list shown     %8.0f ms\n", shownAt / 1e6);
    std::printf("longest stall        %8.1f ms (until the save)\n", longest / 1e6);
    std::printf("resident / peak      %8.0f / %.0f MB (heap in use %.0f MB)\n", rss, peak, heap);
    std::printf("save                 %8.0f ms\n", saveMs);
    std::printf("quit                 %8.0f ms (to the window's end)\n", quitMs);
    return 0;
}
