// Adding a folder tree to the playlist without holding up the window: a
// worker searches the tree for MP3 files (each folder's files in name order,
// then its subfolders, as the folder search reports them), reads the album
// sheets that lie beside album files, and hands the entries over in batches
// on the owner's thread. One search at a time; it can be cancelled.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

class TFolderAdder : public QObject {
    Q_OBJECT
public:
    explicit TFolderAdder(QObject* parent = nullptr);
    ~TFolderAdder() override;  // cancels and waits for the worker

    // Starts searching `folder`; false while a search runs. With
    // `sheetsInFolders` an album file whose sheet (CueSheetFor) lies beside it
    // gives the sheet's tracks (read in `codePage` when not UTF-8).
    bool Start(const QString& folder, bool sheetsInFolders, const QString& codePage);
    // Ends the running search: nothing more is handed over (Finished follows
    // at once, cancelled).
    void Cancel();
    bool Busy() const { return busy_; }

    // Called on the worker as it enters each folder (tests hold it there).
    std::function<void(const QString& folder)> FolderHook;

    // How often the worker hands over what it found.
    static constexpr int kBatchMs = 100;

signals:
    // Entries found since the last batch and the MP3 files they came from.
    void Batch(const std::vector<wl::TPlaylistEntry>& entries, int files);
    // The search ended: run to its end, cancelled, or failed (`error`);
    // `notices`: album sheets that could not be used.
    void Finished(bool cancelled, const QString& error, const QStringList& notices);

private:
    void Run(const QString& folder, bool sheets, const QString& codePage, unsigned run);
    void Join();

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    unsigned run_ = 0;  // the search whose results are taken
    bool busy_ = false;
};

}  // namespace wl
