#include "fuzz/qt_scratch.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace wl::fuzz {

const QString& ScratchFolder() {
    static const QTemporaryDir dir([] {
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        const QString base = shm.isDir() && shm.isWritable() ? shm.absoluteFilePath() : QDir::tempPath();
        return base + QStringLiteral("/wl-fuzz-XXXXXX");
    }());
    static const QString path = dir.path();
    return path;
}

}  // namespace wl::fuzz
