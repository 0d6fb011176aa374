#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/app_folder.h"
#include "app/atomic_file.h"
#include "playback/m3u.h"
#include "playback/playlist_model.h"

namespace wl {

namespace {

// A hand-off request: this, the start's moment and its arguments (QDataStream).
constexpr quint32 kRequestMagic = 0x574C4832;  // "WLH2"
constexpr char kAcknowledged = 'A';
constexpr int kRetryMs = 40;
constexpr const char* kAnswered = "wlAnswered";

QString SocketFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const QFileInfo info(QString::fromLocal8Bit(runtime));
        if (info.isAbsolute() && info.isDir() && info.isWritable()) return info.absoluteFilePath();
    }
    return QDir::tempPath();
}

bool HasExtension(const QString& path, const char* extension) {
    return QFileInfo(path).suffix().compare(QLatin1String(extension), Qt::CaseInsensitive) == 0;
}

// The lines of a playlist that name entries: comment lines ("#...") and empty
// lines are left out; CR LF line ends and a leading byte-order mark are
// dropped. The lines themselves are copied unchanged.
QByteArray PlaylistEntries(const QByteArray& text) {
    QByteArray out;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i == 0 && line.startsWith("\xEF\xBB\xBF")) line.remove(0, 3);
        if (line.endsWith('\r')) line.chop(1);
        if (line.isEmpty() || line.startsWith('#')) continue;
        out += line;
        out += '\n';
    }
    return out;
}

QByteArray EncodeRequest(const QStringList& arguments, qint64 startedMs) {
    QByteArray request;
    QDataStream out(&request, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kRequestMagic << startedMs << arguments;
    return request;
}

int Remaining(const QElapsedTimer& clock, int timeoutMs) {
    return static_cast<int>(std::max<qint64>(0, timeoutMs - clock.elapsed()));
}

// Sends the request on a connected socket and waits for the acknowledgement.
bool SendRequest(QLocalSocket& socket, const QByteArray& request, const QElapsedTimer& clock, int timeoutMs) {
    socket.write(request);
    while (socket.bytesToWrite() > 0) {
        if (Remaining(clock, timeoutMs) == 0 || !socket.waitForBytesWritten(Remaining(clock, timeoutMs))) return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (Remaining(clock, timeoutMs) == 0 || !socket.waitForReadyRead(Remaining(clock, timeoutMs))) return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == kAcknowledged;
}

}  // namespace

QString InstanceServerName() {
    QString title = QString::fromLatin1(kAppTitle).trimmed();
    title.replace(' ', '-');
    const QByteArray folderHash =
        QCryptographicHash::hash(AppFolder().toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return SocketFolder() + "/" + title + "-" + QString::number(::getuid()) + "-" + QString::fromLatin1(folderHash);
}

QString InstanceLockPath() { return InstanceServerName() + QStringLiteral(".lock"); }

bool InstanceRunning(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(InstanceServerName());
    const bool running = socket.waitForConnected(timeoutMs);
    if (running) socket.disconnectFromServer();
    return running;
}

int64_t ProcessStartMs() {
    // Field 22 of /proc/self/stat: clock ticks from boot to the process's
    // start (the fields are counted after the command name's ")").
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        bool ok = false;
        const qint64 ticks = fields.size() > 19 ? fields[19].toLongLong(&ok) : 0;
        const long hz = ::sysconf(_SC_CLK_TCK);
        if (close >= 0 && ok && hz > 0) return ticks * 1000 / hz;
    }
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// ------------------------------------------------------------------ claim

TInstanceClaim::~TInstanceClaim() {
    if (fd_ >= 0) ::close(fd_);  // frees the lock
}

bool TInstanceClaim::TryTake() {
    if (held_) return true;
    const QString path = InstanceLockPath();
    if (fd_ < 0) {
        // Never through a link another user may have put in a shared folder.
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        error_.clear();
        return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
        error_ = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    }
    return false;
}

// ----------------------------------------------------------------- server

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setMaxPendingConnections(64);
    connect(server_, &QLocalServer::newConnection, this, [this] { TakePending(); });
}

void TInstanceServer::StartTaking() {
    taking_ = true;
    TakePending();
}

void TInstanceServer::TakePending() {
    if (!taking_) return;
    // In the order the starts connected: what each has sent already is read
    // at once, so that a burst is applied in that order.
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        if (socket->bytesAvailable() == 0) socket->waitForReadyRead(0);  // a poll, no wait
        Read(socket);
    }
}

TInstanceServer::~TInstanceServer() { server_->close(); }

bool TInstanceServer::Listen() {
    anotherAnswers_ = false;
    closed_ = false;
    const QString name = InstanceServerName();
    if (server_->listen(name)) return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError) return false;
    if (InstanceRunning(500)) {
        anotherAnswers_ = true;
        return false;
    }
    // Left behind by an instance that died without closing it. Only the
    // claim's holder gets here, so no other start can be doing the same.
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

bool TInstanceServer::Listening() const { return server_->isListening(); }

QString TInstanceServer::ErrorText() const {
    if (anotherAnswers_) return QStringLiteral("another program answers on ") + InstanceServerName();
    return InstanceServerName() + QStringLiteral(": ") + server_->errorString();
}

void TInstanceServer::Close() {
    closed_ = true;
    server_->close();
    // Starts that have not been answered try again elsewhere.
    for (QLocalSocket* socket : server_->findChildren<QLocalSocket*>()) {
        if (!socket->property(kAnswered).toBool()) socket->abort();
    }
}

void TInstanceServer::Read(QLocalSocket* socket) {
    if (socket->property(kAnswered).toBool()) return;
    if (closed_) {
        socket->abort();
        return;
    }
    // Not a start of this program: dropped before anything else is read.
    if (socket->bytesAvailable() >= static_cast<qint64>(sizeof(quint32))) {
        QDataStream magic(socket->peek(sizeof(quint32)));
        quint32 value = 0;
        magic >> value;
        if (value != kRequestMagic) {
            socket->abort();
            return;
        }
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    qint64 startedMs = 0;
    QStringList arguments;
    in >> magic >> startedMs >> arguments;
    if (!in.commitTransaction()) return;  // not all there yet
    socket->setProperty(kAnswered, true);
    emit HandOff(arguments, startedMs);
    socket->putChar(kAcknowledged);
    socket->flush();
    socket->disconnectFromServer();
}

// ----------------------------------------------------------------- client

QStringList AbsoluteArguments(const QStringList& arguments) {
    QStringList result;
    result.reserve(arguments.size());
    for (const QString& argument : arguments) {
        if (argument.isEmpty()) {
            result.append(argument);
            continue;
        }
        // A stream's URL is no path: kept as it is.
        if (IsStreamUrl(argument)) {
            result.append(argument);
            continue;
        }
        QString path = argument;
        if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            const QUrl url(argument);
            if (url.isLocalFile()) path = url.toLocalFile();
        }
        result.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    return result;
}

TStartRole ClaimOrHandOver(TInstanceClaim& claim, const QStringList& arguments, QString* error, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    const QByteArray request = EncodeRequest(arguments, ProcessStartMs());
    const QString name = InstanceServerName();
    QString last;
    for (;;) {
        if (claim.TryTake()) return TStartRole::Instance;
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(std::clamp(Remaining(clock, timeoutMs), 1, 1000))) {
            if (SendRequest(socket, request, clock, timeoutMs)) return TStartRole::HandedOver;
            last = QStringLiteral("the running instance did not acknowledge the files");
        } else if (!claim.Error().isEmpty()) {
            // No lock file can be made: only the server can tell, and nobody
            // answers there.
            return TStartRole::Instance;
        } else {
            last = socket.errorString();
        }
        if (Remaining(clock, timeoutMs) == 0) break;
        QThread::msleep(std::min(kRetryMs, Remaining(clock, timeoutMs)));
    }
    if (error) {
        *error = QStringLiteral("an instance holds %1 but did not take the files within %2 s (%3)")
                     .arg(InstanceLockPath())
                     .arg(timeoutMs / 1000.0)
                     .arg(last);
    }
    return TStartRole::Failed;
}

// ------------------------------------------------------------ file hand-off

bool WriteHandOff(const QString& folder, const QStringList& arguments, QString* error) {
    if (arguments.isEmpty() || arguments.first().isEmpty()) return true;
    QByteArray list;
    QString playlistFolder;
    if (arguments.size() == 1) {
        const QString& argument = arguments.first();
        if (HasExtension(argument, "m3u") || HasExtension(argument, "m3u8")) {
            QFile playlist(argument);
            if (playlist.open(QIODevice::ReadOnly)) {
                list = PlaylistEntries(playlist.readAll());
                playlistFolder = QFileInfo(argument).absolutePath();
            }
        } else if (HasExtension(argument, "mp3") || IsStreamUrl(argument)) {
            list = QFile::encodeName(argument) + '\n';
        }
    } else {
        for (const QString& argument : arguments) {
            if (HasExtension(argument, "mp3") || IsStreamUrl(argument)) list += QFile::encodeName(argument) + '\n';
        }
    }
    auto write = [error](const QString& path, const QByteArray& bytes) {
        QString reason;
        if (WriteFileAtomically(path, bytes, &reason)) return true;
        if (error) *error = path + QStringLiteral(": ") + reason;
        return false;
    };
    // "list2.txt" first: once "list.txt" exists, everything is in place.
    if (!playlistFolder.isEmpty()) {
        if (!write(folder + "list2.txt", QFile::encodeName(playlistFolder) + '\n')) return false;
    } else {
        QFile::remove(folder + "list2.txt");  // a stale one must not move the running instance
    }
    return write(folder + "list.txt", list);
}

THandOff TakeHandOff(const QString& folder) {
    const QString list = folder + "list.txt";
    if (!QFileInfo::exists(list)) return THandOff::None;
    // The folder of the playlist the entries came from, when they did.
    QString playlistFolder;
    QFile list2(folder + "list2.txt");
    if (list2.open(QIODevice::ReadOnly)) {
        QByteArray line = list2.readLine();
        list2.close();
        while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
        playlistFolder = QFile::decodeName(line);
    }
    const QString target = folder + "wl21.m3u";
    if (!playlistFolder.isEmpty()) {
        // Its relative entries name files there: written over the default
        // playlist as the paths they name (relative to the app folder only
        // when they lie below it).
        std::vector<TPlaylistEntry> entries;
        for (const QString& line : ReadPlaylistFile(list, false)) {
            TPlaylistEntry entry;
            entry.Path = EntryInFolder(line, playlistFolder);
            entries.push_back(std::move(entry));
        }
        if (!WriteFileAtomically(target, EncodePlaylistFor(entries, folder))) return THandOff::Failed;
        QFile::remove(list);
    } else if (std::rename(QFile::encodeName(list).constData(), QFile::encodeName(target).constData()) != 0) {
        // rename() replaces the old default playlist in one step.
        return THandOff::Failed;
    }
    list2.remove();
    return THandOff::Taken;
}

}  // namespace wl
