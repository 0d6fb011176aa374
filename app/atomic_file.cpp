#include "app/atomic_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace wl {

namespace {

// Makes the rename itself durable: the folder's entry is flushed too.
void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& data) {
    // QSaveFile writes "<name>.XXXXXX" beside the target, syncs it to the disk
    // on commit and renames it over the target; on failure the temporary
    // file is removed and the target keeps its old content.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) return false;
    SyncFolder(QFileInfo(path).absolutePath());
    return true;
}

}  // namespace wl
