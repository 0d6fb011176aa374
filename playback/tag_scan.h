// Reading the tags of a playlist's files in the background. A thread of its
// own reads each file's title, artist, album and track (the media
// information reader over the file's head and tail) in the list's order,
// shown rows first, with the tag cache (tag_cache.h) loaded at its start so
// that a file read before needs only a stat. What it found comes back to the
// list's thread in batches and goes into the model (SetTags; "File not
// found" as the entry's Problem for a file that is not there), a few
// milliseconds at a time. The list's thread never opens a file for this.
//
// The scan follows the model by itself: appended rows are read, a cleared
// list drops what was still to read, and rows that moved are read again
// where they now stand (a row's result is taken only while the row still
// holds that path). The cache is written when a scan has finished (at most
// every few seconds) and when the scan stops.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "playback/playlist_model.h"
#include "playback/tag_cache.h"

namespace wl {

// The Problem of an entry whose file is not there.
inline const QString kFileNotFound = QStringLiteral("File not found");

// The tags of the file at `path` (Known; empty texts when it has none or
// cannot be read).
TEntryTags ReadFileTags(const QString& path);

class TTagScan : public QObject {
    Q_OBJECT
public:
    // Reads for `model` (which must outlive the scan), keeping the cache in
    // `cacheFile` (none when empty). The thread starts with the first scan.
    TTagScan(PlaylistModel& model, QString cacheFile, QObject* parent = nullptr);
    // Stops and waits for the thread (the cache written when it changed).
    ~TTagScan() override;

    // Reads what the list holds and has not been read (soon, from the event loop).
    void Request();
    // The same, now: the rows appended since the last scan (the whole list
    // after a change that moved rows) handed to the thread, shown rows
    // first, then a few milliseconds' worth of rows per turn of the event loop.
    void Schedule();
    // Rows first .. last are on show: read those next.
    void ShowingRows(int first, int last);
    // A scan asked for and not yet in the model.
    bool Pending() const;
    // No more reading; the thread writes the cache when it changed and ends
    // (at quit, so that the write runs while the rest is saved).
    void Stop();

    // Files the thread has stat'ed for a row since it started.
    int64_t Looked() const;
    // The thread has nothing to read and no result held back.
    bool ThreadIdle() const;

signals:
    // The row's tags have just been set from its file.
    void TagsRead(int row);

private:
    // `Generation` counts the rescans: a moved row asked for before the last
    // one needs no other.
    struct TRequest {
        int Row = 0;
        int Generation = 0;
        bool Shown = false;  // read before the cache is loaded, and handed over at once
        QString Path;
    };
    struct TResult {
        int Row = 0;
        int Generation = 0;
        QString Path;
        TEntryTags Tags;
        bool Missing = false;
        TFileStamp Stamp;
    };

    // The list's thread.
    void Receive(std::vector<TResult> batch);
    void Drain();
    bool NeedsReading(int row) const;
    void QueueShown(int from);  // the shown rows from `from` on, ahead of the rest
    void Enqueue(std::vector<TRequest> requests, bool first);
    int64_t CancelQueued();

    // The reading thread.
    void Run();
    TResult Look(const TRequest& request);
    void Deliver(std::vector<TResult>& batch);

    PlaylistModel& model_;
    const QString cacheFile_;
    QTimer* scanTimer_;
    QTimer* drainTimer_;
    int sentRows_ = 0;       // rows below it were handed to the thread
    bool rescan_ = false;    // rows moved: the whole list again
    int generation_ = 0;
    bool stopped_ = false;
    int shownFirst_ = 0, shownLast_ = -1;
    // Shown rows queued ahead of the slices of this generation.
    int earlyFirst_ = 0, earlyLast_ = -1;
    int64_t outstanding_ = 0;  // handed over, neither answered nor withdrawn
    std::deque<TResult> inbox_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TRequest> queue_;
    bool stop_ = false;
    bool busy_ = false;       // a request taken or results held back
    int64_t looked_ = 0;
    std::thread thread_;
    TTagCache cache_;  // the thread's alone
};

}  // namespace wl
