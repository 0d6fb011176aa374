// Helpers of the desktop integration tests: a private D-Bus daemon, a client
// connection that calls the player without blocking the event loop the
// service runs on, a signal monitor (gdbus, an independent D-Bus
// implementation) and small tagged MP3 files.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <sys/prctl.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "app/mpris.h"
#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"
#include "tests/stream_builder.h"

namespace wl::test {

inline const QString kMprisRoot = QStringLiteral("org.mpris.MediaPlayer2");
inline const QString kMprisPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The helper processes end with the test process, even when it is killed.
inline void EndWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// A session bus of its own, ended with the object.
class TPrivateBus {
public:
    static bool Available() { return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(); }

    bool Start() {
        EndWithParent(daemon_);
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!daemon_.waitForStarted(5000)) return false;
        QElapsedTimer timer;
        timer.start();
        while (!daemon_.canReadLine() && timer.elapsed() < 5000) daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return !address_.isEmpty();
    }
    ~TPrivateBus() {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(3000)) {
                daemon_.kill();
                daemon_.waitForFinished(3000);
            }
        }
    }
    const QString& Address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

// A connection of this process to the private bus, closed with the object.
class TBusConnection {
public:
    TBusConnection(const QString& address, const QString& name)
        : name_(name), connection_(QDBusConnection::connectToBus(address, name)) {}
    ~TBusConnection() { QDBusConnection::disconnectFromBus(name_); }
    QDBusConnection& operator*() { return connection_; }
    QDBusConnection* operator->() { return &connection_; }

    // A method call on the player's object, answered while events run.
    QDBusMessage Call(const QString& interface, const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kMprisServiceName),
                                                              QString::fromLatin1(kMprisObjectPath), interface, method);
        message.setArguments(arguments);
        QDBusPendingCall call = connection_.asyncCall(message, 5000);
        RunEventsUntil([&] { return call.isFinished(); }, 6000);
        return call.reply();
    }
    // Calls and lets the queued action run (a short while of events).
    QDBusMessage Do(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage reply = Call(kMprisPlayer, method, arguments);
        RunEvents(50);
        return reply;
    }
    QVariant Get(const QString& interface, const QString& property) {
        const QDBusMessage reply =
            Call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {interface, property});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QDBusMessage Set(const QString& interface, const QString& property, const QVariant& value) {
        return Call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {interface, property, QVariant::fromValue(QDBusVariant(value))});
    }
    QVariantMap Metadata() {
        const QVariant v = Get(kMprisPlayer, QStringLiteral("Metadata"));
        return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
    }

private:
    QString name_;
    QDBusConnection connection_;
};

// The player's signals as gdbus prints them, one per line.
class TSignalMonitor {
public:
    static bool Available() { return !QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty(); }

    // True once the monitor listens (its match rule is in place).
    bool Start(const QString& address) {
        EndWithParent(process_);
        process_.start(QStringLiteral("gdbus"),
                       {QStringLiteral("monitor"), QStringLiteral("--address"), address, QStringLiteral("--dest"),
                        QString::fromLatin1(kMprisServiceName), QStringLiteral("--object-path"),
                        QString::fromLatin1(kMprisObjectPath)});
        return process_.waitForStarted(5000) && WaitFor(QStringLiteral("is owned by"), 0, 5000);
    }
    ~TSignalMonitor() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    const QString& Text() {
        text_ += QString::fromUtf8(process_.readAllStandardOutput());
        return text_;
    }
    qsizetype Mark() { return Text().size(); }
    bool WaitFor(const QString& needle, qsizetype from = 0, int ms = 3000) {
        return RunEventsUntil([&] { return Text().indexOf(needle, from) >= 0; }, ms);
    }
    bool WaitForMatch(const QRegularExpression& pattern, qsizetype from = 0, int ms = 3000) {
        return RunEventsUntil([&] { return pattern.match(Text(), from).hasMatch(); }, ms);
    }
    // The positions (µs) of the Seeked signals after `from`.
    std::vector<int64_t> Seeked(qsizetype from) {
        static const QRegularExpression seeked(QStringLiteral("Player\\.Seeked \\(int64 (-?\\d+),\\)"));
        std::vector<int64_t> out;
        for (auto it = seeked.globalMatch(Text(), from); it.hasNext();) out.push_back(it.next().captured(1).toLongLong());
        return out;
    }

private:
    QProcess process_;
    QString text_;
};

// Runs a command without blocking the event loop; its standard output.
inline QString RunAsync(const QString& program, const QStringList& arguments, int ms = 10000) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) return {};
    RunEventsUntil([&] { return process.state() == QProcess::NotRunning; }, ms);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// `seconds` of silent MPEG-1 Layer III (44100 Hz stereo, 128 kbit/s) with an
// ID3v1.1 tag when a title is given.
inline bool WriteTaggedMp3(const QString& path, double seconds, const std::string& title = {},
                           const std::string& artist = {}, const std::string& album = {}, int track = 0,
                           int genre = 255) {
    std::vector<uint8_t> bytes;
    const int frames = static_cast<int>(seconds * 44100 / 1152) + 1;
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t> f = SilentFrameMpeg1(0, 0, 0);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    if (!title.empty()) {
        const std::vector<uint8_t> tag = Id3v1Tag(title, artist, album, "2024", {}, static_cast<uint8_t>(track),
                                                  static_cast<uint8_t>(genre));
        bytes.insert(bytes.end(), tag.begin(), tag.end());
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

}  // namespace wl::test
