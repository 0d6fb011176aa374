#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/app_folder.h"
#include "app/atomic_file.h"

namespace wl {

namespace {

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

}  // namespace

QString InstanceServerName() {
    QString title = QString::fromLatin1(kAppTitle).trimmed();
    title.replace(' ', '-');
    const QByteArray folderHash =
        QCryptographicHash::hash(AppFolder().toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return SocketFolder() + "/" + title + "-" + QString::number(::getuid()) + "-" + QString::fromLatin1(folderHash);
}

bool InstanceRunning(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(InstanceServerName());
    const bool running = socket.waitForConnected(timeoutMs);
    if (running) socket.disconnectFromServer();
    return running;
}

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    // A connection only tells the caller that this instance runs; the hand-off
    // itself goes through files.
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            socket->disconnectFromServer();
            socket->deleteLater();
        }
    });
}

TInstanceServer::~TInstanceServer() { server_->close(); }

bool TInstanceServer::Listen() {
    const QString name = InstanceServerName();
    if (server_->listen(name)) return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError) return false;
    if (InstanceRunning(500)) return false;
    // Left behind by an instance that died without closing it.
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

bool TInstanceServer::Listening() const { return server_->isListening(); }

QStringList AbsoluteArguments(const QStringList& arguments) {
    QStringList result;
    result.reserve(arguments.size());
    for (const QString& argument : arguments) {
        if (argument.isEmpty()) {
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

bool WriteHandOff(const QString& folder, const QStringList& arguments) {
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
        } else if (HasExtension(argument, "mp3")) {
            list = QFile::encodeName(argument) + '\n';
        }
    } else {
        for (const QString& argument : arguments) {
            if (HasExtension(argument, "mp3")) list += QFile::encodeName(argument) + '\n';
        }
    }
    // "list2.txt" first: once "list.txt" exists, everything is in place.
    bool ok = true;
    if (!playlistFolder.isEmpty()) {
        ok = WriteFileAtomically(folder + "list2.txt", QFile::encodeName(playlistFolder) + '\n');
    } else {
        QFile::remove(folder + "list2.txt");  // a stale one must not move the running instance
    }
    return WriteFileAtomically(folder + "list.txt", list) && ok;
}

THandOff TakeHandOff(const QString& folder) {
    const QString list = folder + "list.txt";
    if (!QFileInfo::exists(list)) return THandOff::None;
    // rename() replaces the old default playlist in one step.
    if (std::rename(QFile::encodeName(list).constData(), QFile::encodeName(folder + "wl21.m3u").constData()) != 0) {
        return THandOff::Failed;
    }
    QFile list2(folder + "list2.txt");
    if (list2.exists()) {
        if (list2.open(QIODevice::ReadOnly)) {
            QByteArray line = list2.readLine();
            list2.close();
            while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
            if (!line.isEmpty()) QDir::setCurrent(QFile::decodeName(line));
        }
        list2.remove();
    }
    return THandOff::Taken;
}

}  // namespace wl
