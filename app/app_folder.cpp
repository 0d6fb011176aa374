#include "app/app_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace wl {

namespace {

QString WithSlash(QString folder) {
    if (!folder.endsWith('/')) folder += '/';
    return folder;
}

}  // namespace

QString AppFolder() {
    if (const char* home = std::getenv("WAVELANTERN_HOME"); home && *home) {
        const QString folder = QString::fromUtf8(home);
        QDir().mkpath(folder);
        return WithSlash(QDir(folder).absolutePath());
    }
    const QString exeFolder = QCoreApplication::applicationDirPath();
    if (!exeFolder.isEmpty() && QFileInfo(exeFolder).isWritable()) return WithSlash(exeFolder);
    QString config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && QDir::isAbsolutePath(QString::fromUtf8(xdg))) {
        config = QString::fromUtf8(xdg);
    } else {
        config = QDir::homePath() + "/.config";
    }
    const QString folder = config + "/wavelantern";
    QDir().mkpath(folder);
    return WithSlash(folder);
}

}  // namespace wl
