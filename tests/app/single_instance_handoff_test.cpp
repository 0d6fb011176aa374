// One instance per user and app folder: the claim is a lock that only one
// holder gets; later starts of the real program hand their arguments to the
// running instance (this test's Form1, wired as the program wires it) over
// its local server and end once it has taken them. The older file hand-off
// ("list.txt") is still taken on the housekeeping tick.
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/single_instance.h"
#include "tests/app/app_process.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

class SingleInstance : public AppFixture {
protected:
    void TearDown() override {
        server_.reset();
        claim_.reset();
        AppFixture::TearDown();
    }
    // Runs the program as a later start while this process's events run (the
    // instance here must answer it); its exit code.
    int SecondStart(const QStringList& arguments, const QString& workingFolder = QString(), QString* err = nullptr) {
        QProcess child;
        child.setProgram(QStringLiteral(WL_APP_BIN));
        child.setArguments(arguments);
        if (!workingFolder.isEmpty()) child.setWorkingDirectory(workingFolder);
        if (!err) child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        if (!RunEventsUntil([&] { return child.state() == QProcess::NotRunning; }, 30000)) {
            Reap(child);
            ADD_FAILURE() << "the second start did not end";
            return -1;
        }
        if (err) *err = QString::fromLocal8Bit(child.readAllStandardError());
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }
    // The running instance as main() makes it: claim, server, window.
    void CreateFirst() {
        claim_ = std::make_unique<TInstanceClaim>();
        ASSERT_TRUE(claim_->TryTake());
        server_ = std::make_unique<TInstanceServer>();
        ASSERT_TRUE(server_->Listen());
        Create();
        form1->Timer4->stop();
        form1->EndProgram = [] {};
        Ctl().SetHoldMs(0);
        QObject::connect(
            server_.get(), &TInstanceServer::HandOff, form1.get(),
            [this](const QStringList& arguments, qint64 startedMs) { form1->HandOver(arguments, startedMs); });
        form1->OnQuitStarted = [this] { server_->Close(); };
        server_->StartTaking();
    }
    std::unique_ptr<TInstanceClaim> claim_;
    std::unique_ptr<TInstanceServer> server_;
};

TEST_F(SingleInstance, ServerNameBelongsToTheUserAndTheAppFolder) {
    const QString mine = InstanceServerName();
    EXPECT_TRUE(mine.contains(QString::number(::getuid())));
    EXPECT_TRUE(mine.contains("Wavelantern"));
    EXPECT_EQ(InstanceLockPath(), mine + ".lock");
    QTemporaryDir other;
    setenv("WAVELANTERN_HOME", other.path().toUtf8().constData(), 1);
    EXPECT_NE(InstanceServerName(), mine);
    setenv("WAVELANTERN_HOME", home_.path().toUtf8().constData(), 1);
    EXPECT_EQ(InstanceServerName(), mine);
}

TEST_F(SingleInstance, ClaimIsHeldByOneAtATimeAndFreedWithItsHolder) {
    auto first = std::make_unique<TInstanceClaim>();
    TInstanceClaim second;
    ASSERT_TRUE(first->TryTake());
    EXPECT_TRUE(first->TryTake());  // taken once, kept
    EXPECT_FALSE(second.TryTake());
    EXPECT_TRUE(second.Error().isEmpty()) << second.Error().toStdString();
    // Another app folder has a claim of its own.
    QTemporaryDir other;
    setenv("WAVELANTERN_HOME", other.path().toUtf8().constData(), 1);
    TInstanceClaim elsewhere;
    EXPECT_TRUE(elsewhere.TryTake());
    setenv("WAVELANTERN_HOME", home_.path().toUtf8().constData(), 1);
    first.reset();
    EXPECT_TRUE(second.TryTake());
    EXPECT_TRUE(second.Held());
}

TEST_F(SingleInstance, SocketLeftByACrashDoesNotBlockTheNextInstance) {
    // A bound socket whose owner is gone: the file stays, nobody answers.
    const QByteArray path = QFile::encodeName(InstanceServerName());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<size_t>(path.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(QFile::decodeName(path)));
    EXPECT_FALSE(InstanceRunning(200));

    CreateFirst();
    EXPECT_TRUE(InstanceRunning(1000));
}

TEST_F(SingleInstance, LiveServerIsNotTakenOver) {
    QLocalServer first;
    ASSERT_TRUE(first.listen(InstanceServerName()));
    TInstanceServer second;
    EXPECT_FALSE(second.Listen());
    EXPECT_TRUE(second.AnotherAnswers());
    QLocalSocket probe;
    probe.connectToServer(InstanceServerName());
    ASSERT_TRUE(probe.waitForConnected(1000));
    EXPECT_TRUE(first.waitForNewConnection(1000));
}

TEST_F(SingleInstance, Mp3IsHandedOverAndPlayedAtOnce) {
    CreateFirst();
    form1->AddEntry("/old/one.mp3");
    form1->AddEntry("/old/two.mp3");
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", "/old/one.mp3\n"));
    const QByteArray settings = ReadAll(Home() + "wl.ini");
    QTemporaryDir music;
    const QString song = music.path() + "/song1.mp3";
    ASSERT_TRUE(WriteSilentMp3(song, 20 * 417));
    const QString folder = QDir::currentPath();

    ASSERT_EQ(SecondStart({"song1.mp3"}, music.path()), 0);
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{song});
    EXPECT_EQ(form1->CurrentEntry, 1);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Ctl().PlayingPath(), song);
    EXPECT_EQ(QDir::currentPath(), folder);
    // Nothing went through the app folder.
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), "/old/one.mp3\n");
    EXPECT_EQ(ReadAll(Home() + "wl.ini"), settings);

    // Once the instance is quitting it takes no more: the next start finds
    // no server to hand to.
    form1->Quit(true);
    EXPECT_FALSE(InstanceRunning(200));
}

TEST_F(SingleInstance, PlaylistIsHandedOverWithItsFolder) {
    CreateFirst();
    QTemporaryDir work;
    ASSERT_TRUE(QDir().mkpath(work.path() + "/lists/sub"));
    ASSERT_TRUE(WriteText(work.path() + "/lists/party.m3u",
                          "#EXTM3U\r\n#EXTINF:123,Someone - Something\r\na.mp3\r\n\r\nsub\\b.MP3\r\n"));
    ASSERT_TRUE(WriteSilentMp3(work.path() + "/lists/a.mp3", 20 * 417));
    ASSERT_TRUE(WriteSilentMp3(work.path() + "/lists/sub/b.mp3", 20 * 417));
    const QString here = QDir::currentPath();
    ASSERT_EQ(SecondStart({"lists/party.m3u"}, work.path()), 0);
    ASSERT_TRUE(Settle());
    // Its relative entries name the files beside it; the current folder stays.
    EXPECT_EQ(form1->Playlist.Paths(), (QStringList{work.path() + "/lists/a.mp3", work.path() + "/lists/sub/b.MP3"}));
    EXPECT_EQ(QDir::currentPath(), here);
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_EQ(Ctl().PlayingPath(), work.path() + "/lists/a.mp3");
}

TEST_F(SingleInstance, SeveralArgumentsHandOverEveryMp3InOrder) {
    CreateFirst();
    QTemporaryDir work;
    const QStringList songs{work.path() + "/a.mp3", work.path() + "/b.MP3", work.path() + "/abs/c.Mp3"};
    for (const QString& song : songs) ASSERT_TRUE(WriteSilentMp3(song, 20 * 417));
    ASSERT_EQ(SecondStart({"a.mp3", "notes.txt", "b.MP3", "list.m3u", songs[2]}, work.path()), 0);
    EXPECT_EQ(form1->Playlist.Paths(), songs);
    // What was left out is said.
    EXPECT_TRUE(form1->StatusText.contains("notes.txt")) << form1->StatusText.toStdString();
    EXPECT_TRUE(form1->StatusText.contains("list.m3u")) << form1->StatusText.toStdString();
}

TEST_F(SingleInstance, NothingPlayableKeepsTheList) {
    CreateFirst();
    form1->AddEntry("/old/one.mp3");
    QTemporaryDir work;
    ASSERT_EQ(SecondStart({}), 0);
    ASSERT_EQ(SecondStart({work.path() + "/readme.txt"}), 0);
    EXPECT_TRUE(form1->StatusText.contains("readme.txt")) << form1->StatusText.toStdString();
    ASSERT_TRUE(WriteText(work.path() + "/empty.m3u", "#EXTM3U\n"));
    ASSERT_EQ(SecondStart({work.path() + "/empty.m3u"}), 0);
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(form1->StatusText.contains("empty.m3u")) << form1->StatusText.toStdString();
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{"/old/one.mp3"});
}

// Starts within kHandOffBurstMs of the one before add to its files; a later
// one starts a list of its own; a playlist always replaces the list.
TEST_F(SingleInstance, BurstOfStartsAppendsTheirFiles) {
    CreateFirst();
    form1->AddEntry("/old/one.mp3");
    form1->HandOver({"/m/a.mp3"}, 10'000);
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{"/m/a.mp3"});
    form1->HandOver({"/m/b.mp3"}, 10'400);
    form1->HandOver({"/m/c.mp3", "/m/d.mp3"}, 11'300);
    EXPECT_EQ(form1->Playlist.Paths(), (QStringList{"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3"}));
    EXPECT_EQ(form1->CurrentEntry, 1);  // the first goes on playing
    form1->HandOver({"/m/e.mp3"}, 12'300);
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{"/m/e.mp3"});

    QTemporaryDir work;
    ASSERT_TRUE(WriteText(work.path() + "/p.m3u", "x.mp3\ny.mp3\n"));
    form1->HandOver({work.path() + "/p.m3u"}, 12'400);
    form1->HandOver({"/m/f.mp3"}, 12'500);  // waits for the list being read
    ASSERT_TRUE(RunEventsUntil([&] { return form1->Playlist.Rows() == 3; }));
    EXPECT_EQ(form1->Playlist.Paths(), (QStringList{work.path() + "/x.mp3", work.path() + "/y.mp3", "/m/f.mp3"}));
}

// No instance runs and 20 starts come at once: one of them becomes the
// instance, the other 19 hand over to it, and it ends up with all 20 files
// (seen in the playlist it saves as it quits on SIGTERM).
TEST(SingleInstanceStarts, TwentyAtOnceMakeOneInstanceWithEveryFile) {
    AppProcesses app;
    ASSERT_TRUE(app.Valid());
    QTemporaryDir music;
    QStringList songs;
    for (int i = 1; i <= 20; ++i) {
        songs << music.path() + QStringLiteral("/song%1.mp3").arg(i);
        ASSERT_TRUE(WriteSilentMp3(songs.back(), 20 * 417));
    }
    std::vector<std::unique_ptr<QProcess>> starts;
    for (const QString& song : songs) starts.push_back(app.Start({song}));
    auto finished = [&] {
        int n = 0;
        for (const auto& start : starts) n += start->state() == QProcess::NotRunning;
        return n;
    };
    const bool handedOver = RunEventsUntil([&] { return finished() >= 19; }, 60000);
    // Anything left over must not outlive the test.
    QProcess* instance = nullptr;
    for (const auto& start : starts) {
        if (start->state() != QProcess::NotRunning) instance = start.get();
    }
    EXPECT_TRUE(handedOver);
    EXPECT_EQ(finished(), 19);
    ASSERT_NE(instance, nullptr);
    for (const auto& start : starts) {
        if (start.get() == instance) continue;
        EXPECT_EQ(start->exitCode(), 0) << start->readAllStandardError().toStdString();
    }
    SendSignal(*instance, SIGTERM);
    const bool quit = RunEventsUntil([&] { return instance->state() == QProcess::NotRunning; }, 20000);
    for (auto& start : starts) Reap(*start);
    ASSERT_TRUE(quit);
    EXPECT_EQ(instance->exitStatus(), QProcess::NormalExit);
    const QStringList saved = QString::fromUtf8(ReadAll(app.Home() + "wl21.m3u")).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(saved.size(), 20);
    EXPECT_EQ(QSet<QString>(saved.begin(), saved.end()), QSet<QString>(songs.begin(), songs.end()));
}

// An older version answers on the socket but holds no lock: the start that
// gets the lock hands its files over the older way, and says so when the app
// folder cannot take them.
TEST_F(SingleInstance, OlderInstanceGetsTheFileHandOff) {
    QLocalServer older;
    ASSERT_TRUE(older.listen(InstanceServerName()));
    ASSERT_EQ(SecondStart({"/m/a.mp3"}), 0);
    EXPECT_EQ(ReadAll(Home() + "list.txt"), "/m/a.mp3\n");
    ASSERT_TRUE(QFile::remove(Home() + "list.txt"));
    ASSERT_TRUE(QDir().mkpath(Home() + "list.txt/x"));  // cannot be replaced by a file
    QString err;
    EXPECT_EQ(SecondStart({"/m/b.mp3"}, QString(), &err), 1);
    EXPECT_TRUE(err.contains("folder " + Home())) << err.toStdString();
    EXPECT_TRUE(err.contains(QString::fromLocal8Bit(std::strerror(EISDIR)))) << err.toStdString();
}

// While "list.txt" cannot take its new name, it and "list2.txt" stay for the
// next tick, and nothing else runs in that tick.
TEST_F(SingleInstance, FileHandOffIsTakenAndAFailedRenameRetried) {
    CreateFirst();
    QTemporaryDir work;
    ASSERT_TRUE(WriteText(Home() + "list.txt", "x.mp3\n"));
    ASSERT_TRUE(WriteText(Home() + "list2.txt", QFile::encodeName(work.path()) + "\n"));
    ASSERT_TRUE(QDir().mkpath(Home() + "wl21.m3u/blocker"));  // a folder cannot be replaced by a file
    const QString folder = QDir::currentPath();
    EXPECT_EQ(TakeHandOff(Home()), THandOff::Failed);
    form1->Timer4Timer();
    EXPECT_TRUE(QFile::exists(Home() + "list.txt"));
    EXPECT_TRUE(QFile::exists(Home() + "list2.txt"));
    EXPECT_EQ(QDir::currentPath(), folder);

    ASSERT_TRUE(QDir(Home() + "wl21.m3u").removeRecursively());
    form1->Timer4Timer();
    // The entries name the files in the playlist's folder; the current folder stays.
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), QFile::encodeName(work.path()) + "/x.mp3\n");
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
    EXPECT_EQ(QDir::currentPath(), folder);
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{work.path() + "/x.mp3"});
}

TEST(HandOffFiles, LaterHandOffWinsAndLeavesNoStalePlaylistFolder) {
    QTemporaryDir home;
    const QString folder = home.path() + "/";
    QTemporaryDir work;
    ASSERT_TRUE(WriteText(work.path() + "/p.m3u", "\xEF\xBB\xBF#EXTM3U\nx.mp3\n#c\ny.mp3"));
    ASSERT_TRUE(WriteHandOff(folder, {work.path() + "/p.m3u"}));
    EXPECT_EQ(ReadAll(folder + "list.txt"), "x.mp3\ny.mp3\n");
    EXPECT_TRUE(QFile::exists(folder + "list2.txt"));
    ASSERT_TRUE(WriteHandOff(folder, {"/m/z.mp3"}));
    EXPECT_EQ(ReadAll(folder + "list.txt"), "/m/z.mp3\n");
    EXPECT_FALSE(QFile::exists(folder + "list2.txt"));
    // No temporary files are left beside them.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"list.txt"});
    // An unreadable playlist hands over an empty list.
    ASSERT_TRUE(WriteHandOff(folder, {work.path() + "/missing.m3u"}));
    EXPECT_EQ(ReadAll(folder + "list.txt"), QByteArray());
    EXPECT_FALSE(QFile::exists(folder + "list2.txt"));
    // Several arguments: every ".mp3" one.
    ASSERT_TRUE(WriteHandOff(folder, {"/m/a.mp3", "/m/notes.txt", "/m/b.MP3"}));
    EXPECT_EQ(ReadAll(folder + "list.txt"), "/m/a.mp3\n/m/b.MP3\n");
    // An empty first argument hands over nothing.
    QFile::remove(folder + "list.txt");
    ASSERT_TRUE(WriteHandOff(folder, {QString(), "a.mp3"}));
    EXPECT_FALSE(QFile::exists(folder + "list.txt"));
    // A folder that cannot take the files: the file and the reason.
    QString error;
    EXPECT_FALSE(WriteHandOff(folder + "missing/", {"/m/z.mp3"}, &error));
    EXPECT_TRUE(error.contains(folder + "missing/list.txt")) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << error.toStdString();
}

// Streams' URLs are no paths: they stay as they are.
TEST(HandOffFiles, ArgumentsBecomeAbsolutePaths) {
    const QString here = QDir::currentPath();
    EXPECT_EQ(AbsoluteArguments({"a.mp3", "/x/../y/b.mp3", "file:///m/c%20d.mp3", "", "HTTPS://H/x.pls", "http://h/a b"}),
              (QStringList{here + "/a.mp3", "/y/b.mp3", "/m/c d.mp3", "", "HTTPS://H/x.pls", "http://h/a b"}));
}

}  // namespace wl::test
