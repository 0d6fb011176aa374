// Quitting: the session saved (playlist first, then the settings with a
// resume point that fits the list on disk), and a save that failed either
// put to the user or, when nobody is there to answer, reported on stderr.
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "app/form1.h"
#include "app/form2.h"
#include "playback/m3u.h"

namespace wl {

namespace {

void Report(const QList<TWriteFailure>& failures) {
    for (const TWriteFailure& failure : failures) {
        std::fprintf(stderr, "wavelantern: could not save %s: %s\n", failure.Path.toLocal8Bit().constData(),
                     failure.Reason.toLocal8Bit().constData());
    }
}

}  // namespace

void TForm1::Quit(bool unattended) {
    if (quitFinished_) return;
    if (!quitting_) {
        quitting_ = true;
        CaptureResumeState();
        sessionResume_ = Extra;
        // No entry starts between here and the end; the controller's end
        // stops and closes the player.
        Controller->Stop();
        // No more tags read; the tag cache is written on the scan's thread
        // while the session is saved here (the window's end waits for it).
        if (tagScan_) tagScan_->Stop();
        // A playlist dialog still open would act on a list already saved
        // (closed first: their answers let the housekeeping tick run again).
        CloseListDialogs();
        meterTickParked_ = false;
        Timer1->stop();
        Timer3->stop();
        Timer4->stop();
        if (OnQuitStarted) OnQuitStarted();
    } else if (quitDialog_) {
        // Asked again while the question is open: it stays, unless nobody
        // will answer it (a signal, the session's end).
        if (!unattended) {
            quitDialog_->raise();
            return;
        }
        DismissQuitDialog();
    }
    SaveAndEnd(unattended);
}

void TForm1::SaveForSessionEnd() {
    if (quitting_) {
        Quit(true);
        return;
    }
    CaptureResumeState();
    sessionResume_ = Extra;
    Report(SaveSession());
}

QList<TWriteFailure> TForm1::SaveSession() {
    QList<TWriteFailure> failures;
    bool listSaved = true;
    // An empty session never replaces a saved list (a start without autoload
    // or resume shows none, and quitting then would lose it).
    if (!PlaylistEmpty() || ReadPlaylistFile(DefaultPlaylistPath(), false).isEmpty()) {
        QString reason;
        listSaved = SaveDefaultPlaylist(&reason);
        if (!listSaved) failures.append({DefaultPlaylistPath(), reason});
    }
    // The resume point names an entry of the list on disk: the session's when
    // its list was saved, else the one the file holds (none without a file).
    TExtraSettings onDisk;
    if (!listSaved) onDisk.Load(ExtraSettingsPath());
    const TExtraSettings& point = listSaved ? sessionResume_ : onDisk;
    Extra.ResumeEntry = point.ResumeEntry;
    Extra.ResumePositionMs = point.ResumePositionMs;
    Extra.ResumeWasPlaying = point.ResumeWasPlaying;
    Extra.ResumeVolume = sessionResume_.ResumeVolume;  // belongs to no list
    failures += SaveSettings();
    return failures;
}

void TForm1::SaveAndEnd(bool unattended) {
    saveFailures_ = SaveSession();
    if (saveFailures_.isEmpty()) {
        FinishQuit();
        return;
    }
    if (unattended) {
        Report(saveFailures_);
        FinishQuit();
        return;
    }
    AskAboutFailedSave(saveFailures_);
}

void TForm1::AskAboutFailedSave(const QList<TWriteFailure>& failures) {
    QStringList lines;
    for (const TWriteFailure& failure : failures) {
        lines.append(failure.Path + QStringLiteral(":\n    ") + failure.Reason);
    }
    bool listLost = false;
    for (const TWriteFailure& failure : saveFailures_) listLost = listLost || failure.Path == DefaultPlaylistPath();

    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle().trimmed(),
                                QStringLiteral("Could not save\n") + lines.join('\n'), QMessageBox::NoButton, this);
    box->setInformativeText(listLost ? QStringLiteral("What was saved before stays as it was. Without the playlist "
                                                      "the session cannot be resumed; it can be saved elsewhere.")
                                     : QStringLiteral("What was saved before stays as it was."));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* retry = box->addButton(QStringLiteral("Retry"), QMessageBox::AcceptRole);
    QPushButton* saveAs =
        listLost ? box->addButton(QStringLiteral("Save playlist as\u2026"), QMessageBox::ActionRole) : nullptr;
    box->addButton(QStringLiteral("Quit anyway"), QMessageBox::DestructiveRole);
    box->setDefaultButton(retry);
    connect(box, &QMessageBox::buttonClicked, this, [this, retry, saveAs](QAbstractButton* button) {
        quitDialog_ = nullptr;
        // What follows runs once the box has closed.
        if (button == retry) {
            QTimer::singleShot(0, this, [this] { SaveAndEnd(false); });
        } else if (saveAs && button == saveAs) {
            QTimer::singleShot(0, this, [this] { SavePlaylistElsewhere(); });
        } else {
            QTimer::singleShot(0, this, [this] { FinishQuit(); });
        }
    });
    quitDialog_ = box;
    if (Form2 && Form2->isVisible()) Form2->hide();
    if (isMinimized()) showNormal();
    box->open();
}

// Every entry as an absolute path (a stream as its URL): the copy lies
// elsewhere.
void TForm1::SavePlaylistElsewhere() {
    auto* dialog = new QFileDialog(this, QStringLiteral("Save the playlist as"), QDir::homePath(),
                                   QStringLiteral("m3u (*.m3u *.m3u8)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("m3u"));
    dialog->selectFile(QStringLiteral("wl21.m3u"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        quitDialog_ = nullptr;
        QString reason;
        if (WriteFileAtomically(path, EncodePlaylistFor(Playlist.Entries(), QFileInfo(path).absolutePath()), &reason)) {
            FinishQuit();
            return;
        }
        const QList<TWriteFailure> failures = QList<TWriteFailure>{{path, reason}} + saveFailures_;
        QTimer::singleShot(0, this, [this, failures] { AskAboutFailedSave(failures); });
    });
    connect(dialog, &QFileDialog::rejected, this, [this] {
        quitDialog_ = nullptr;
        QTimer::singleShot(0, this, [this] { AskAboutFailedSave(saveFailures_); });
    });
    quitDialog_ = dialog;
    dialog->open();
}

void TForm1::DismissQuitDialog() {
    if (!quitDialog_) return;
    QWidget* dialog = quitDialog_;
    quitDialog_ = nullptr;
    dialog->disconnect(this);
    dialog->hide();
    dialog->deleteLater();
}

void TForm1::FinishQuit() {
    if (quitFinished_) return;
    quitFinished_ = true;
    if (EndProgram) {
        EndProgram();
    } else {
        // Queued: it takes effect in the event loop even when that has not
        // started yet.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

}  // namespace wl
