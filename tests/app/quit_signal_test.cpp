// The real program ended by SIGTERM, SIGINT or SIGHUP quits as its "X"
// does: the playlist, the resume entry and position and the volume are
// saved. A save that fails then (nobody to ask) is reported on stderr, the
// old files stay whole and the resume point keeps referring to the old list.
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "tests/app/app_process.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

namespace {

constexpr qint64 kSongBytes = 1'000'000;  // about a minute
constexpr qint64 kBytesPerSecond = 44100 * 4;

QByteArray List(const QStringList& paths, const char* lineEnd) {
    QByteArray text;
    for (const QString& path : paths) text += path.toUtf8() + lineEnd;
    return text;
}

QByteArray ResumeConf(int entry, qint64 positionMs, int volume) {
    return "[Playback]\nResumePlayback=true\n\n[Resume]\nEntry=" + QByteArray::number(entry) +
           "\nPositionMs=" + QByteArray::number(positionMs) + "\nVolume=" + QByteArray::number(volume) +
           "\nWasPlaying=true\n";
}

bool Ended(QProcess& process, int ms) {
    return RunEventsUntil([&] { return process.state() == QProcess::NotRunning; }, ms);
}

}  // namespace

// Each signal to its own instance (all three at once): each was playing
// entry 2 of its list for a while, resumed from 5 s with volume 40.
TEST(QuitSignal, TermIntAndHupSaveTheSession) {
    QTemporaryDir music;
    QStringList songs;
    for (const char* name : {"one.mp3", "two.mp3", "three.mp3"}) {
        songs << music.path() + "/" + name;
        ASSERT_TRUE(WriteSilentMp3(songs.back(), kSongBytes));
    }
    struct TRun {
        int signal;
        AppProcesses app;
        QString wav;
        std::unique_ptr<QProcess> process;
    };
    std::vector<std::unique_ptr<TRun>> runs;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        auto run = std::make_unique<TRun>();
        run->signal = signal;
        ASSERT_TRUE(run->app.Valid());
        // The list as another program wrote it (CR LF, a header): the saved
        // one is told apart by its plain form.
        ASSERT_TRUE(WriteText(run->app.Home() + "wl21.m3u", "#EXTM3U\r\n" + List(songs, "\r\n")));
        ASSERT_TRUE(WriteText(run->app.Home() + "wavelantern.conf", ResumeConf(2, 5000, 40)));
        // What the null device is given goes to a file too: its growth shows
        // that playback runs.
        run->wav = run->app.Home() + "out.wav";
        QProcessEnvironment env = run->app.Environment();
        env.insert("WAVELANTERN_AUDIO", "wav:" + run->wav);
        run->process = run->app.Start({}, env);
        runs.push_back(std::move(run));
    }
    // Playing (what the device was given runs ahead of what it has played).
    const bool playing = RunEventsUntil(
        [&] {
            for (const auto& run : runs) {
                if (QFileInfo(run->wav).size() < 2 * kBytesPerSecond) return false;
            }
            return true;
        },
        30000);
    for (const auto& run : runs) {
        if (playing) SendSignal(*run->process, run->signal);
    }
    bool ended = true;
    for (const auto& run : runs) ended = Ended(*run->process, 20000) && ended;
    for (const auto& run : runs) Reap(*run->process);
    ASSERT_TRUE(playing) << "playback did not start";
    ASSERT_TRUE(ended);

    for (const auto& run : runs) {
        SCOPED_TRACE(strsignal(run->signal));
        EXPECT_EQ(run->process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run->process->exitCode(), 0);
        EXPECT_EQ(ReadAll(run->app.Home() + "wl21.m3u"), List(songs, "\n"));
        EXPECT_EQ(run->app.Conf("Resume/Entry").toInt(), 2);
        EXPECT_GT(run->app.Conf("Resume/PositionMs").toLongLong(), 5000);  // where it was, not where it began
        EXPECT_EQ(run->app.Conf("Resume/Volume").toInt(), 40);
        EXPECT_TRUE(run->app.Conf("Resume/WasPlaying").toBool());
        EXPECT_TRUE(QFileInfo::exists(run->app.Home() + "wl.ini"));
    }
}

// A file size limit (the way a full disk fails a write, and one that holds
// for root too) lets the settings through but not the longer playlist.
TEST(QuitSignal, PlaylistThatCannotBeWrittenIsReportedAndLosesNothing) {
    AppProcesses app;
    ASSERT_TRUE(app.Valid());
    QTemporaryDir music;
    const QString folder = music.path() + "/" + QString(200, 'x');
    QStringList songs;
    for (int i = 1; i <= 6; ++i) {
        songs << folder + QStringLiteral("/song%1.mp3").arg(i);
        ASSERT_TRUE(WriteSilentMp3(songs.back(), 20 * 417));
    }
    ASSERT_GT(List(songs, "\n").size(), 1024);
    const QByteArray oldList = "/old/a.mp3\n/old/b.mp3\n/old/c.mp3\n";
    ASSERT_TRUE(WriteText(app.Home() + "wl21.m3u", oldList));
    ASSERT_TRUE(WriteText(app.Home() + "wavelantern.conf", ResumeConf(3, 7000, 40)));

    QProcess instance;
    instance.setProgram(QStringLiteral(WL_APP_BIN));
    instance.setArguments(songs);
    instance.setProcessEnvironment(app.Environment());
    instance.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    instance.start();
    // Its socket is there once it has claimed its place (a signal from then
    // on is handled as soon as its window stands).
    const bool claimed = RunEventsUntil([&] { return QFileInfo::exists(app.ServerName()); }, 30000);
    ASSERT_TRUE(claimed) << instance.readAllStandardError().toStdString();
    SendSignal(instance, SIGTERM);
    const bool ended = Ended(instance, 20000);
    Reap(instance);
    ASSERT_TRUE(ended);
    EXPECT_EQ(instance.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(instance.exitCode(), 0);

    const QString err = QString::fromLocal8Bit(instance.readAllStandardError());
    const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
    EXPECT_TRUE(err.contains("could not save " + app.Home() + "wl21.m3u: " + reason)) << err.toStdString();
    EXPECT_EQ(ReadAll(app.Home() + "wl21.m3u"), oldList);
    // The resume point still names entry 3 of the old list (the session's
    // would be entry 1 of the new one).
    EXPECT_EQ(app.Conf("Resume/Entry").toInt(), 3);
    EXPECT_EQ(app.Conf("Resume/PositionMs").toLongLong(), 7000);
    EXPECT_EQ(QDir(app.Home()).entryList({"*.wl-*"}, QDir::Files), QStringList());  // no temporary file left
}

}  // namespace wl::test
