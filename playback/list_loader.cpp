#include "playback/list_loader.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace wl {

// One load: what the worker reads and hands over. The worker holds it as
// long as it runs; `owner` is cleared (under the mutex) once the loader no
// longer wants the result, so that nothing is sent to a loader that is gone.
struct TListLoader::TJob {
    QString path;
    TListKind kind = TListKind::Any;
    TLoadMode mode = TLoadMode::Append;
    QString cueCodePage;
    TFollow follow;
    std::mutex mutex;
    std::condition_variable ended;
    bool read = false;  // the worker is done
    TListLoader* owner = nullptr;
    TListRead result;
};

TListLoader::TFollow TListLoader::StartOnce(std::function<void()> start, bool whole, std::function<void()> none) {
    auto started = std::make_shared<bool>(false);
    TFollow follow;
    if (!whole) {
        follow.Batch = [start, started](int firstRow, int rows) {
            if (*started || rows <= firstRow) return;
            *started = true;
            start();
        };
    }
    follow.Done = [start = std::move(start), none = std::move(none), started](int, int added) {
        if (*started) return;
        *started = true;
        if (added > 0 || !none) {
            start();
        } else {
            none();
        }
    };
    return follow;
}

TListLoader::TListLoader(PlaylistModel& list, QObject* parent) : QObject(parent), list_(list) {
    // A list cleared by anyone else drops what is still to come.
    connect(&list_, &PlaylistModel::Cleared, this, [this] {
        if (!clearing_) Cancel();
    });
}

TListLoader::~TListLoader() {
    Cancel();
    // Workers still reading are given a moment to end; one stuck on a slow
    // disk is left behind (it holds its own job and no longer reports).
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
    for (const std::shared_ptr<TJob>& job : started_) {
        std::unique_lock lock(job->mutex);
        job->ended.wait_until(lock, until, [&] { return job->read; });
    }
}

QString TListLoader::Path() const { return job_ ? job_->path : QString(); }

void TListLoader::Start(const QString& path, TListKind kind, TLoadMode mode, TFollow follow) {
    Cancel();
    std::erase_if(started_, [](const std::shared_ptr<TJob>& job) {
        std::lock_guard lock(job->mutex);
        return job->read;
    });
    auto job = std::make_shared<TJob>();
    job->path = path;
    job->kind = kind;
    job->mode = mode;
    job->cueCodePage = list_.CueCodePage;
    job->follow = std::move(follow);
    job->owner = this;
    job_ = job;
    started_.push_back(job);
    arrived_ = false;
    std::thread([job] {
        TListRead result = PlaylistModel::ReadListFile(job->path, job->kind, job->cueCodePage);
        std::lock_guard lock(job->mutex);
        job->result = std::move(result);
        job->read = true;
        if (job->owner) {
            TListLoader* owner = job->owner;
            QMetaObject::invokeMethod(owner, [owner, job] { owner->Arrived(job); }, Qt::QueuedConnection);
        }
        job->ended.notify_all();
    }).detach();
}

void TListLoader::Cancel() {
    if (!job_) return;
    {
        std::lock_guard lock(job_->mutex);
        job_->owner = nullptr;
    }
    job_.reset();
    arrived_ = false;
    ++chain_;
    if (!after_.empty()) QMetaObject::invokeMethod(this, [this] { RunAfter(); }, Qt::QueuedConnection);
}

void TListLoader::After(std::function<void()> then) {
    after_.push_back(std::move(then));
    if (!job_) QMetaObject::invokeMethod(this, [this] { RunAfter(); }, Qt::QueuedConnection);
}

// What waited for the loads to end, unless a new one has started meanwhile
// (it then waits for that one).
void TListLoader::RunAfter() {
    while (!job_ && !after_.empty()) {
        std::function<void()> then = std::move(after_.front());
        after_.erase(after_.begin());
        then();
    }
}

void TListLoader::Arrived(const std::shared_ptr<TJob>& job) {
    if (job != job_ || arrived_) return;  // cancelled, or taken by Finish
    if (Begin(*job, true)) NextBatch(chain_);
}

// The read is in: the list is cleared when it is to be replaced; a list
// that is replaced only by entries and got none is told why and left. False
// when the load is over so.
bool TListLoader::Begin(const TJob& job, bool follow) {
    arrived_ = true;
    next_ = 0;
    count_ = {};
    const TListRead& read = job.result;
    if (job.mode == TLoadMode::ReplaceIfAny && read.Entries.empty()) {
        if (read.Error.isEmpty()) {
            emit list_.Notice(QStringLiteral("No entries in ") + QFileInfo(read.Path).fileName());
        } else {
            list_.Tell(read, count_);
        }
        firstRow_ = list_.Empty() ? 0 : list_.Rows();
        Complete(follow);
        return false;
    }
    if (job.mode != TLoadMode::Append) {
        clearing_ = true;
        list_.Clear();
        clearing_ = false;
    }
    firstRow_ = list_.Empty() ? 0 : list_.Rows();
    list_.Reserve(read.Entries.size());  // the list grows once, not by doubling
    return true;
}

void TListLoader::NextBatch(uint64_t chain) {
    if (!job_ || !arrived_ || chain != chain_) return;
    const std::shared_ptr<TJob> job = job_;
    const TListRead& read = job->result;
    const size_t last = std::min(read.Entries.size(), next_ + kBatch);
    list_.Append(read, next_, last, &count_);
    next_ = last;
    if (job_ != job) return;  // the list was cleared by what the batch set off
    if (job->follow.Batch) job->follow.Batch(firstRow_, list_.Empty() ? 0 : list_.Rows());
    if (job_ != job) return;
    if (next_ < read.Entries.size()) {
        QMetaObject::invokeMethod(this, [this, chain] { NextBatch(chain); }, Qt::QueuedConnection);
        return;
    }
    list_.Tell(read, count_);
    Complete(true);
}

// The load is over: the next may start (also from its follow-up).
void TListLoader::Complete(bool follow) {
    const std::shared_ptr<TJob> job = job_;
    Cancel();
    if (follow && job && job->follow.Done) job->follow.Done(firstRow_, count_.Added);
}

bool TListLoader::Finish(int ms, bool follow) {
    if (!job_) return true;
    const std::shared_ptr<TJob> job = job_;
    {
        std::unique_lock lock(job->mutex);
        if (!job->ended.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)), [&] { return job->read; })) {
            lock.unlock();
            Cancel();
            return false;
        }
    }
    // (Its hand-over event may still be queued: it finds the load taken.)
    if (!arrived_ && !Begin(*job, follow)) return true;
    const TListRead& read = job->result;
    list_.Append(read, next_, read.Entries.size(), &count_);
    next_ = read.Entries.size();
    if (job_ != job) return true;  // cleared by what the entries set off
    list_.Tell(read, count_);
    if (follow && job->follow.Batch) job->follow.Batch(firstRow_, list_.Empty() ? 0 : list_.Rows());
    if (job_ == job) Complete(follow);
    return true;
}

}  // namespace wl
