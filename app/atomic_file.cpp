#include "app/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wl {

namespace {

std::function<int(const QString&)>& FailureForTesting() {
    static std::function<int(const QString&)> failure;
    return failure;
}

bool Failed(int error, QString* reason) {
    if (reason) *reason = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

// Makes the rename itself durable: the folder's entry is flushed too.
void SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes all of `data`; 0 or the error.
int WriteAll(int fd, const QByteArray& data) {
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        next += written;
        left -= written;
    }
    return 0;
}

}  // namespace

void SetWriteFailureForTesting(std::function<int(const QString& path)> failure) {
    FailureForTesting() = std::move(failure);
}

bool WriteFileAtomically(const QString& path, const QByteArray& data, QString* reason) {
    if (const auto& failure = FailureForTesting()) {
        if (const int error = failure(path)) return Failed(error, reason);
    }
    const QFileInfo info(path);
    const QString targetPath = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const QByteArray target = QFile::encodeName(targetPath);
    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return Failed(EISDIR, reason);

    // A fresh name beside the target, created with the usual permissions
    // (those of the old file when there is one).
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = target + ".wl-" + QByteArray::number(::getpid()) + "-" +
                    QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 20)) return Failed(errno, reason);
    }
    if (exists) {
        [[maybe_unused]] const int ignored = ::fchmod(fd, old.st_mode & 07777);  // a plain file is no worse
    }

    int error = WriteAll(fd, data);
    // Flushed before the rename, so that the new name never stands for data
    // that a power cut could still lose. (Some file systems cannot sync.)
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return Failed(error, reason);
    }
    SyncFolder(QFile::encodeName(QFileInfo(targetPath).absolutePath()));
    return true;
}

}  // namespace wl
