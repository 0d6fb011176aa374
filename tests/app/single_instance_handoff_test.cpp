// One instance per user and app folder: a second start of the real program
// finds the running one (this test's Form1), writes the hand-off files and
// ends; the running instance takes them on its next housekeeping tick.
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/single_instance.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

class SingleInstance : public AppFixture {
protected:
    // Runs the program as a second start; its exit code.
    int SecondStart(const QStringList& arguments, const QString& workingFolder = QString()) {
        QProcess child;
        child.setProgram(QStringLiteral(WL_APP_BIN));
        child.setArguments(arguments);
        if (!workingFolder.isEmpty()) child.setWorkingDirectory(workingFolder);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        if (!child.waitForFinished(30000)) {
            child.kill();
            child.waitForFinished();
            ADD_FAILURE() << "the second start did not end";
            return -1;
        }
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }
    // The first instance, its tick stopped so that only the test drives it.
    void CreateFirst() {
        Create();
        form1->Timer4->stop();
    }
};

TEST_F(SingleInstance, ServerNameBelongsToTheUserAndTheAppFolder) {
    const QString mine = InstanceServerName();
    EXPECT_TRUE(mine.contains(QString::number(::getuid())));
    EXPECT_TRUE(mine.contains("Wavelantern"));
    QTemporaryDir other;
    setenv("WAVELANTERN_HOME", other.path().toUtf8().constData(), 1);
    EXPECT_NE(InstanceServerName(), mine);
    setenv("WAVELANTERN_HOME", home_.path().toUtf8().constData(), 1);
    EXPECT_EQ(InstanceServerName(), mine);
}

TEST_F(SingleInstance, RunningWindowIsFoundUntilItIsGone) {
    EXPECT_FALSE(InstanceRunning(200));
    CreateFirst();
    EXPECT_TRUE(InstanceRunning(1000));
    // Another app folder does not see it.
    QTemporaryDir other;
    setenv("WAVELANTERN_HOME", other.path().toUtf8().constData(), 1);
    EXPECT_FALSE(InstanceRunning(200));
    setenv("WAVELANTERN_HOME", home_.path().toUtf8().constData(), 1);
    form2.reset();
    form1.reset();
    EXPECT_FALSE(InstanceRunning(200));
}

TEST_F(SingleInstance, SocketLeftByACrashDoesNotBlockTheNextStart) {
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
    QLocalSocket probe;
    probe.connectToServer(InstanceServerName());
    ASSERT_TRUE(probe.waitForConnected(1000));
    EXPECT_TRUE(first.waitForNewConnection(1000));
}

TEST_F(SingleInstance, Mp3IsHandedOverAndPlayedOnTheNextTick) {
    CreateFirst();
    const QByteArray settings = ReadAll(Home() + "wl.ini");
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", "/old/one.mp3\n/old/two.mp3\n"));
    QTemporaryDir music;
    ASSERT_EQ(SecondStart({"song.mp3"}, music.path()), 0);

    const QString song = music.path() + "/song.mp3";
    EXPECT_EQ(ReadAll(Home() + "list.txt"), QFile::encodeName(song) + "\n");
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
    EXPECT_EQ(ReadAll(Home() + "wl.ini"), settings);  // the second start touches no settings
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), "/old/one.mp3\n/old/two.mp3\n");

    const QString folder = QDir::currentPath();
    form1->Timer4Timer();
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), QFile::encodeName(song) + "\n");
    EXPECT_EQ(QDir::currentPath(), folder);
    EXPECT_EQ(form1->CurrentEntry, 1);
    // Nothing more to take on the next tick.
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", "kept\n"));
    form1->Timer4Timer();
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), "kept\n");
}

TEST_F(SingleInstance, PlaylistIsHandedOverWithoutCommentsAndWithItsFolder) {
    CreateFirst();
    QTemporaryDir work;
    ASSERT_TRUE(QDir().mkpath(work.path() + "/lists/sub"));
    ASSERT_TRUE(WriteText(work.path() + "/lists/party.m3u",
             "#EXTM3U\r\n#EXTINF:123,Someone - Something\r\na.mp3\r\n\r\nsub\\b.MP3\r\n"));
    ASSERT_EQ(SecondStart({"lists/party.m3u"}, work.path()), 0);

    const QString lists = work.path() + "/lists";
    EXPECT_EQ(ReadAll(Home() + "list.txt"), "a.mp3\nsub\\b.MP3\n");
    EXPECT_EQ(ReadAll(Home() + "list2.txt"), QFile::encodeName(lists) + "\n");

    form1->Timer4Timer();
    EXPECT_EQ(QDir::currentPath(), lists);
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), "a.mp3\nsub\\b.MP3\n");
}

TEST_F(SingleInstance, OtherFilesHandOverAnEmptyList) {
    CreateFirst();
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", "/old/one.mp3\n"));
    QTemporaryDir work;
    ASSERT_EQ(SecondStart({work.path() + "/readme.txt"}), 0);
    ASSERT_TRUE(QFile::exists(Home() + "list.txt"));
    EXPECT_EQ(ReadAll(Home() + "list.txt"), QByteArray());
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
    form1->Timer4Timer();
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    ASSERT_TRUE(QFile::exists(Home() + "wl21.m3u"));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), QByteArray());
}

TEST_F(SingleInstance, SeveralArgumentsHandOverEveryMp3InOrder) {
    CreateFirst();
    QTemporaryDir work;
    ASSERT_EQ(SecondStart({"a.mp3", "notes.txt", "b.MP3", "list.m3u", "/abs/c.Mp3"}, work.path()), 0);
    EXPECT_EQ(ReadAll(Home() + "list.txt"),
              QFile::encodeName(work.path() + "/a.mp3\n" + work.path() + "/b.MP3\n/abs/c.Mp3\n"));
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
}

TEST_F(SingleInstance, NoArgumentHandsOverNothing) {
    CreateFirst();
    ASSERT_EQ(SecondStart({}), 0);
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
}

// While "list.txt" cannot take its new name, it and "list2.txt" stay for the
// next tick, and nothing else runs in that tick.
TEST_F(SingleInstance, FailedRenameIsRetriedOnTheNextTick) {
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
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), "x.mp3\n");
    EXPECT_FALSE(QFile::exists(Home() + "list2.txt"));
    EXPECT_EQ(QDir::currentPath(), work.path());
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
    // An empty first argument hands over nothing.
    QFile::remove(folder + "list.txt");
    ASSERT_TRUE(WriteHandOff(folder, {QString(), "a.mp3"}));
    EXPECT_FALSE(QFile::exists(folder + "list.txt"));
}

TEST(HandOffFiles, ArgumentsBecomeAbsolutePaths) {
    const QString here = QDir::currentPath();
    EXPECT_EQ(AbsoluteArguments({"a.mp3", "/x/../y/b.mp3", "file:///m/c%20d.mp3", ""}),
              (QStringList{here + "/a.mp3", "/y/b.mp3", "/m/c d.mp3", ""}));
}

}  // namespace wl::test
