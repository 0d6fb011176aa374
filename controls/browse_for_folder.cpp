#include "controls/browse_for_folder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace wl {

TBrowseForFolder::TBrowseForFolder(QObject* owner) : QObject(owner) {}

TBrowseForFolder::~TBrowseForFolder() {
    // A dialog without a window to own it would outlive the picker.
    if (dialog_ && !dialog_->parent()) delete dialog_.data();
}

namespace {

QString FirstExisting(QStandardPaths::StandardLocation location) {
    for (const QString& dir : QStandardPaths::standardLocations(location)) {
        if (QFileInfo(dir).isDir()) return dir;
    }
    return {};
}

QString ExistingDir(const QString& dir) { return QFileInfo(dir).isDir() ? dir : QString(); }

}  // namespace

QString TBrowseForFolder::ResolveRoot() const {
    QString dir;
    switch (root_) {
    case TBrowseLocation::bl_STANDART: return QStringLiteral("/");
    case TBrowseLocation::bl_CUSTOM: dir = ExistingDir(customRoot_); break;
    case TBrowseLocation::bl_DESKTOP:
    case TBrowseLocation::bl_DESKTOPDIRECTORY:
    case TBrowseLocation::bl_COMMON_DESKTOPDIRECTORY:
        dir = FirstExisting(QStandardPaths::DesktopLocation);
        break;
    case TBrowseLocation::bl_PROGRAMS:
    case TBrowseLocation::bl_STARTMENU:
    case TBrowseLocation::bl_COMMON_STARTMENU:
    case TBrowseLocation::bl_COMMON_PROGRAMS:
        dir = FirstExisting(QStandardPaths::ApplicationsLocation);
        break;
    case TBrowseLocation::bl_PERSONAL: dir = FirstExisting(QStandardPaths::DocumentsLocation); break;
    case TBrowseLocation::bl_FONTS: dir = FirstExisting(QStandardPaths::FontsLocation); break;
    case TBrowseLocation::bl_APPDATA: dir = FirstExisting(QStandardPaths::GenericDataLocation); break;
    case TBrowseLocation::bl_STARTUP:
    case TBrowseLocation::bl_COMMON_STARTUP:
        dir = ExistingDir(FirstExisting(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart"));
        break;
    case TBrowseLocation::bl_BITBUCKET:
        dir = ExistingDir(FirstExisting(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash"));
        break;
    case TBrowseLocation::bl_TEMPLATES:
        dir = ExistingDir(QDir::homePath() + QStringLiteral("/Templates"));
        break;
    case TBrowseLocation::bl_DRIVES: return QStringLiteral("/");
    default: break;
    }
    return dir.isEmpty() ? QDir::homePath() : dir;
}

void TBrowseForFolder::Execute(Answer answer) {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    QWidget* owner = qobject_cast<QWidget*>(parent());
    auto* dialog = new QFileDialog(owner ? owner->window() : nullptr, caption_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: it has room for the status text.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    const QString root = ResolveRoot();
    QList<QUrl> side = dialog->sidebarUrls();
    if (!side.contains(QUrl::fromLocalFile(root))) side.prepend(QUrl::fromLocalFile(root));
    dialog->setSidebarUrls(side);
    if (!folderName_.isEmpty()) {
        const QFileInfo fi(folderName_);
        dialog->setDirectory(fi.isDir() ? fi.absolutePath() : root);
        if (fi.isDir()) dialog->selectFile(fi.absoluteFilePath());
    } else {
        dialog->setDirectory(root);
    }
    if (!statusText_.isEmpty()) {
        auto* status = new QLabel(statusText_, dialog);
        status->setObjectName(QStringLiteral("statusText"));
        if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
            grid->addWidget(status, grid->rowCount(), 0, 1, -1);
        }
    }

    if (runner_) {
        const std::unique_ptr<QFileDialog> answered(dialog);
        Close(*dialog, runner_(*dialog), answer);
        return;
    }
    dialog_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, answer = std::move(answer)](int result) {
        dialog_ = nullptr;
        Close(*dialog, result == QDialog::Accepted, answer);
    });
    dialog->open();
}

void TBrowseForFolder::Cancel() {
    if (dialog_) dialog_->reject();
}

void TBrowseForFolder::Close(QFileDialog& dialog, bool accepted, const Answer& answer) {
    browsed_ = dialog.directory().absolutePath();
    const QStringList chosen = accepted ? dialog.selectedFiles() : QStringList();
    if (!chosen.isEmpty()) {
        // Kept whole: a path cut to a length limit would name another folder.
        const QString path = QDir::cleanPath(QFileInfo(chosen.first()).absoluteFilePath());
        folderName_ = path;
        const QString name = QFileInfo(path).fileName();
        displayName_ = name.isEmpty() ? path : name;
    }
    if (answer) answer(!chosen.isEmpty());
}

}  // namespace wl
