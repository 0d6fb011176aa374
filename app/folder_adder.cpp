#include "app/folder_adder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include "controls/find_file.h"
#include "playback/cue_sheet.h"
#include "playback/playlist_names.h"

namespace wl {

TFolderAdder::TFolderAdder(QObject* parent) : QObject(parent) {}

TFolderAdder::~TFolderAdder() {
    cancel_ = true;
    Join();
}

void TFolderAdder::Join() {
    if (worker_.joinable()) worker_.join();
}

bool TFolderAdder::Start(const QString& folder, bool sheetsInFolders, const QString& codePage) {
    if (busy_) return false;
    Join();  // a cancelled search ends at its next file
    cancel_ = false;
    busy_ = true;
    const unsigned run = ++run_;
    worker_ = std::thread([this, folder, sheetsInFolders, codePage, run] { Run(folder, sheetsInFolders, codePage, run); });
    return true;
}

void TFolderAdder::Cancel() {
    if (!busy_) return;
    cancel_ = true;
    busy_ = false;
    ++run_;  // what the worker still hands over is dropped
    emit Finished(true, {}, {});
}

// On the worker. Batches go out every kBatchMs, and the first one as soon as
// the first folder with files is done, so that the list fills as it goes.
void TFolderAdder::Run(const QString& folder, bool sheets, const QString& codePage, unsigned run) {
    std::vector<TPlaylistEntry> batch;
    int files = 0;
    bool sentAny = false;
    QStringList notices;
    QElapsedTimer since;
    since.start();
    auto flush = [&] {
        if (batch.empty() && files == 0) return;
        QMetaObject::invokeMethod(
            this,
            [this, run, entries = std::move(batch), files] {
                if (run == run_ && busy_) emit Batch(entries, files);
            },
            Qt::QueuedConnection);
        batch.clear();
        files = 0;
        sentAny = true;
        since.restart();
    };
    // Whether a folder holds any album sheet at all: one listing per folder,
    // instead of one per file.
    QHash<QString, bool> sheetFolders;
    auto sheetFor = [&](const QString& dir, const QString& path) -> QString {
        auto known = sheetFolders.constFind(dir);
        if (known == sheetFolders.cend()) {
            known = sheetFolders.insert(dir, !QDir(dir).entryList({QStringLiteral("*.cue")}, QDir::Files).isEmpty());
        }
        return *known ? CueSheetFor(path) : QString();
    };

    TFindFile find;  // searched on this thread
    QByteArray target = QFile::encodeName(folder);
    if (!target.endsWith('/')) target += '/';
    target += "*.mp3";
    find.IncludeFiles() = {target.toStdString()};
    find.SetSubfolders(true);
    find.OnNewFolder = [&](TFindFile* sender, const std::string& dir, bool&) {
        if (!batch.empty() && (!sentAny || since.elapsed() >= kBatchMs)) flush();
        if (FolderHook) FolderHook(QFile::decodeName(QByteArray::fromStdString(dir)));
        if (cancel_) sender->Abort();
    };
    find.OnFound = [&](TFindFile* sender, const std::string& dir, const TSearchRec& file) {
        if (cancel_) {
            sender->Abort();
            return;
        }
        const QString where = QFile::decodeName(QByteArray::fromStdString(dir));
        const QString path = JoinPath(where, QFile::decodeName(QByteArray::fromStdString(file.Name)));
        ++files;
        const QString sheet = sheets ? sheetFor(where, path) : QString();
        if (sheet.isEmpty()) {
            TPlaylistEntry entry;
            entry.Path = path;
            batch.push_back(std::move(entry));
        } else {
            // An album file with its sheet beside it gives the sheet's tracks.
            TCueSheet read = ReadCueSheetFile(sheet, codePage);
            const QString name = FileNamePart(sheet);
            if (read.Entries.empty()) notices.append(name + QStringLiteral(": ") + read.Error);
            if (!read.Warning.isEmpty()) notices.append(name + QStringLiteral(": ") + read.Warning);
            for (TPlaylistEntry& track : read.Entries) batch.push_back(std::move(track));
        }
        if (since.elapsed() >= kBatchMs) flush();
    };
    find.Execute();
    if (cancel_) return;
    flush();
    const QString error = QString::fromStdString(find.LastError()).trimmed();
    QMetaObject::invokeMethod(
        this,
        [this, run, error, notices] {
            if (run != run_ || !busy_) return;
            busy_ = false;
            Join();  // the worker has returned
            emit Finished(false, error, notices);
        },
        Qt::QueuedConnection);
}

}  // namespace wl
