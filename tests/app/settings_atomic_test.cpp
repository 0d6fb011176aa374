// Killing the program while it writes "wl.ini" never leaves a truncated
// file: a child process (this test program started again in writer mode)
// rewrites the file over and over and is killed at random moments.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unistd.h>

#include "app/atomic_file.h"
#include "app/settings.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

constexpr const char* kWriterTarget = "WL_TEST_ATOMIC_WRITER_TARGET";

// Two complete versions of the file, large enough that a write takes a while.
QByteArray Version(char fill) {
    TSettings s;
    s.Brightness = static_cast<uint8_t>(fill);
    s.CurrentFolder = std::string(4 << 20, fill);
    return EncodeSettings(s);
}

// Writer mode: runs before main() when the variable is set and never returns.
bool RunWriterIfAsked() {
    const char* target = std::getenv(kWriterTarget);
    if (!target || !*target) return false;
    const QString path = QString::fromLocal8Bit(target);
    const QByteArray versions[2] = {Version('a'), Version('b')};
    for (unsigned n = 0;; ++n) {
        WriteFileAtomically(path, versions[n % 2]);
        if (n == 0) {
            QFile ready(path + ".ready");
            ready.open(QIODevice::WriteOnly);
        }
    }
}

[[maybe_unused]] const bool writerRan = RunWriterIfAsked();

}  // namespace

TEST(SettingsAtomicWrite, KilledWriterLeavesACompleteFile) {
    QTemporaryDir home;
    const QString path = home.path() + "/wl.ini";
    const QByteArray original = EncodeSettings(TSettings{});
    ASSERT_TRUE(WriteFileAtomically(path, original));
    const QByteArray a = Version('a');
    const QByteArray b = Version('b');

    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        QFile::remove(path + ".ready");
        QProcess writer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kWriterTarget), path);
        writer.setProcessEnvironment(env);
        writer.setProgram(QCoreApplication::applicationFilePath());
        writer.setArguments({"--gtest_filter=-*"});
        writer.start();
        ASSERT_TRUE(writer.waitForStarted(10000));
        for (int i = 0; i < 2000 && !QFile::exists(path + ".ready"); ++i) QThread::msleep(5);
        ASSERT_TRUE(QFile::exists(path + ".ready")) << "the writer did not start writing";
        QThread::usleep(static_cast<unsigned long>(random() % 40000));
        writer.kill();  // SIGKILL: no chance to tidy up
        ASSERT_TRUE(writer.waitForFinished(10000));
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit);

        const QByteArray now = ReadAll(path);
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    }
}

TEST(SettingsAtomicWrite, FailedWriteKeepsTheOldFile) {
    QTemporaryDir home;
    // Not writable as a file: the target is a folder.
    const QString folder = home.path() + "/wl.ini";
    ASSERT_TRUE(QDir().mkpath(folder + "/inside"));
    EXPECT_FALSE(WriteFileAtomically(folder, "data"));
    EXPECT_TRUE(QFileInfo(folder + "/inside").isDir());
    // The target's folder is missing.
    EXPECT_FALSE(WriteFileAtomically(home.path() + "/missing/wl.ini", "data"));
    EXPECT_FALSE(QFile::exists(home.path() + "/missing/wl.ini"));
    // A good write replaces the content completely, shorter or longer.
    const QString path = home.path() + "/wl21.m3u";
    ASSERT_TRUE(WriteFileAtomically(path, "a longer first content\n"));
    ASSERT_TRUE(WriteFileAtomically(path, "short\n"));
    EXPECT_EQ(ReadAll(path), "short\n");
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList{"wl21.m3u"});
}

TEST(SettingsAtomicWrite, FailureSaysWhyAndAReplacedFileKeepsItsKind) {
    QTemporaryDir home;
    QString reason;
    ASSERT_TRUE(QDir().mkpath(home.path() + "/wl.ini"));
    EXPECT_FALSE(WriteFileAtomically(home.path() + "/wl.ini", "data", &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(EISDIR)));
    EXPECT_FALSE(WriteFileAtomically(home.path() + "/missing/wl.ini", "data", &reason));
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
    // An injected failure (the tests' stand-in for a read-only folder).
    const QString path = home.path() + "/wl21.m3u";
    ASSERT_TRUE(WriteFileAtomically(path, "old\n"));
    SetWriteFailureForTesting([&](const QString& p) { return p == path ? ENOSPC : 0; });
    EXPECT_FALSE(WriteFileAtomically(path, "new\n", &reason));
    SetWriteFailureForTesting(nullptr);
    EXPECT_EQ(reason, QString::fromLocal8Bit(std::strerror(ENOSPC)));
    EXPECT_EQ(ReadAll(path), "old\n");
    // The old file's permissions stay; a link stays a link to the new content.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const QString link = home.path() + "/link.m3u";
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(WriteFileAtomically(link, "new\n"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(path), "new\n");
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    EXPECT_EQ(QFile::permissions(path) & 0x7077, mode);  // owner, group, others
}

}  // namespace wl::test
