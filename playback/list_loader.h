// Reading a list file without holding up the window. The file is read,
// decoded and parsed on a worker thread (PlaylistModel::ReadListFile); its
// entries then go into the list on the list's thread in batches of at most
// kBatch entries, each batch an event of its own, so that the window stays
// responsive while a list of 100,000 entries comes in and the first entries
// can play before the last are in. What the list tells of the file (lines
// left out, a full list, a sheet's or station list's problems) comes once
// every entry is in, as the synchronous readers tell it.
//
// One load at a time: a new one cancels the one that runs. A cancelled load
// adds nothing more and calls none of its follow-ups; so does one whose list
// is cleared meanwhile (by anyone else). A worker stuck on a slow disk is
// left to end by itself: nothing waits for it but Finish (bounded) and the
// loader's end (bounded).
#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

enum class TLoadMode : uint8_t {
    Append,        // the file's entries are appended to the list
    Replace,       // the list is cleared as the file's entries arrive
    ReplaceIfAny,  // the same, but a file without entries leaves the list as it is (a Notice says why)
};

class TListLoader : public QObject {
    Q_OBJECT
public:
    // Entries one batch puts in.
    static constexpr size_t kBatch = 2000;
    // How long the loader's end waits for a worker that still reads.
    static constexpr int kEndWaitMs = 2000;
    // How long the program's end waits for a list still being read (Finish).
    static constexpr int kQuitWaitMs = 1500;

    // What the caller does as the entries come, on the list's thread.
    struct TFollow {
        // After each batch: the load's first row and the rows now in the list.
        std::function<void(int firstRow, int rows)> Batch;
        // Once every entry is in and told: the load's first row and the
        // entries it added (0 when the file gave none).
        std::function<void(int firstRow, int added)> Done;
    };

    // Follow-ups that call `start` once: as soon as a batch has put entries
    // in, or, with `whole`, once every entry is in (a random pick wants them
    // all); `none` (when given) instead when the load added nothing.
    static TFollow StartOnce(std::function<void()> start, bool whole, std::function<void()> none = {});

    explicit TListLoader(PlaylistModel& list, QObject* parent = nullptr);
    ~TListLoader() override;

    // Starts reading `path` as `kind` (TListKind); a load that runs is
    // cancelled first.
    void Start(const QString& path, TListKind kind, TLoadMode mode, TFollow follow = {});
    // The running load adds nothing more; its follow-ups are not called.
    void Cancel();
    // A load runs: its file is being read or its entries are going in.
    bool Busy() const { return job_ != nullptr; }
    // The file the running load reads; empty when none runs.
    QString Path() const;
    // Calls `then` (from the event loop, in the order given) once no load
    // runs any more: at once when none runs, else after the running one has
    // put its entries in (after its follow-ups) or been cancelled. For what
    // must come after a list being read (a later hand-off).
    void After(std::function<void()> then);
    // Waits up to `ms` for the file to be read, then puts all its remaining
    // entries in at once and tells what it left out (the list is wanted
    // complete now, e.g. to be saved); the follow-ups are called only with
    // `follow` (not as the program ends). True when no load runs any more;
    // false (and the load cancelled) when the file was not read in time.
    bool Finish(int ms, bool follow = false);

private:
    struct TJob;
    void Arrived(const std::shared_ptr<TJob>& job);
    bool Begin(const TJob& job, bool follow);
    void NextBatch(uint64_t chain);
    void Complete(bool follow);

    void RunAfter();

    PlaylistModel& list_;
    std::vector<std::function<void()>> after_;
    std::shared_ptr<TJob> job_;   // the running load
    std::vector<std::shared_ptr<TJob>> started_;  // workers that may still run (waited for at the end)
    bool arrived_ = false;        // its file is read; its entries are going in
    bool clearing_ = false;       // the list is cleared by this loader
    size_t next_ = 0;             // the next entry to put in
    uint64_t chain_ = 0;          // the batches' events of a cancelled load find it changed
    int firstRow_ = 0;
    TListAppend count_;
};

}  // namespace wl
