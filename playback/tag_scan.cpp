#include "playback/tag_scan.h"

#include <QElapsedTimer>

#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "info/mp3_info.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "playback/m3u.h"

namespace wl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kReaderCapacity = 65536;
// A batch goes to the list's thread at this many results or this old.
constexpr size_t kBatchRows = 256;
constexpr auto kBatchAge = std::chrono::milliseconds(25);
// The cache is written after a scan at most this often (and at the end).
constexpr auto kSaveGap = std::chrono::seconds(10);
// Results put into the model per turn of the event loop.
constexpr qint64 kDrainSliceMs = 8;
// Rows read ahead of the rest as they come into view.
constexpr int kMaxShownRows = 200;
// Rows handed to the thread per turn of the event loop: for this long.
constexpr qint64 kScheduleSliceMs = 4;

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

// The leading number of "3" or "3/12"; 0 without one.
int TrackNumber(const std::string& text) {
    int n = 0;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && n < 100'000; ++i) n = n * 10 + (text[i] - '0');
    return n;
}

// False when the file could not be opened or read.
bool ReadTags(const QString& path, TEntryTags* tags) {
    *tags = TEntryTags{};
    tags->Known = true;
    try {
        TFileStream stream(path.toUtf8().toStdString());
        TMPStreamReader reader(kReaderCapacity);
        reader.Open(&stream);
        TMP3Info info;
        info.SetNeedInfoType(TMP3InfoType{mitID3V1, mitID3V2});  // as the window's player
        info.Attach(&reader);
        if (info.AnalyzeHead()) info.AnalyzeTail();
        tags->Title = Text(info.Title());
        tags->Artist = Text(info.Artist());
        tags->Album = Text(info.Album());
        tags->Track = TrackNumber(info.Track());
        return true;
    } catch (const std::exception&) {
        *tags = TEntryTags{};
        tags->Known = true;
        return false;
    }
}

}  // namespace

TEntryTags ReadFileTags(const QString& path) {
    TEntryTags tags;
    ReadTags(path, &tags);
    return tags;
}

TTagScan::TTagScan(PlaylistModel& model, QString cacheFile, QObject* parent)
    : QObject(parent), model_(model), cacheFile_(std::move(cacheFile)),
      scanTimer_(new QTimer(this)), drainTimer_(new QTimer(this)) {
    scanTimer_->setSingleShot(true);
    scanTimer_->setInterval(0);
    connect(scanTimer_, &QTimer::timeout, this, &TTagScan::Schedule);
    drainTimer_->setSingleShot(true);
    drainTimer_->setInterval(0);
    connect(drainTimer_, &QTimer::timeout, this, &TTagScan::Drain);
    connect(&model_, &PlaylistModel::Added, this, [this](int first, int) {
        if (first == 0) rescan_ = true;  // a fresh list (its last rows may have gone without a clear)
        Request();
    });
    // Rows removed, or moved by a sort or tidy: read where they now stand.
    connect(&model_, &PlaylistModel::Removed, this, [this] {
        rescan_ = true;
        Request();
    });
    connect(&model_, &PlaylistModel::Reordered, this, [this] {
        rescan_ = true;
        Request();
    });
    connect(&model_, &PlaylistModel::Cleared, this, [this] {
        outstanding_ -= CancelQueued() + static_cast<int64_t>(inbox_.size());
        inbox_.clear();
        sentRows_ = 0;
        rescan_ = false;
        ++generation_;
        earlyFirst_ = 0;
        earlyLast_ = -1;
    });
}

TTagScan::~TTagScan() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

// ------------------------------------------------------------ list's thread

void TTagScan::Request() {
    if (!stopped_ && !scanTimer_->isActive()) scanTimer_->start();
}

bool TTagScan::NeedsReading(int row) const {
    const TPlaylistEntry entry = model_.Entry(row);
    return !entry.Path.isEmpty() && !IsStreamUrl(entry.Path) && !entry.Tags.Known && entry.Problem.isEmpty();
}

void TTagScan::Schedule() {
    scanTimer_->stop();
    if (stopped_) return;
    if (rescan_) {
        // Rows moved: what was queued may name the wrong rows.
        outstanding_ -= CancelQueued();
        sentRows_ = 0;
        rescan_ = false;
        ++generation_;
        earlyFirst_ = 0;
        earlyLast_ = -1;
    }
    if (sentRows_ == 0 && earlyLast_ < 0) QueueShown(shownFirst_);
    // A slice of the list at a time, so that a long one keeps the window's
    // thread free (and the reading starts on the first slice).
    QElapsedTimer slice;
    slice.start();
    const int rows = model_.Rows();
    sentRows_ = std::min(sentRows_, rows);
    std::vector<TRequest> requests;
    while (sentRows_ < rows && (sentRows_ % 1024 != 0 || slice.elapsed() < kScheduleSliceMs)) {
        const int row = sentRows_++;
        if ((row < earlyFirst_ || row > earlyLast_) && NeedsReading(row))
            requests.push_back({row, generation_, false, model_.Path(row)});
    }
    Enqueue(std::move(requests), false);
    if (sentRows_ < rows) scanTimer_->start();
}

void TTagScan::ShowingRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, first + kMaxShownRows - 1);
    // The same rows again (the list grew below them): only those not queued yet.
    const bool same = first == shownFirst_ && last == shownLast_ && earlyLast_ >= 0;
    shownFirst_ = first;
    shownLast_ = last;
    QueueShown(same ? earlyLast_ + 1 : first);
}

void TTagScan::QueueShown(int from) {
    if (stopped_) return;
    const int last = std::min(shownLast_, model_.Rows() - 1);
    std::vector<TRequest> shown;
    for (int row = std::max(from, shownFirst_); row <= last; ++row) {
        if (NeedsReading(row)) shown.push_back({row, generation_, true, model_.Path(row)});
    }
    // Those the slices have not reached are skipped by them.
    earlyFirst_ = shownFirst_;
    earlyLast_ = last;
    Enqueue(std::move(shown), true);
}

void TTagScan::Enqueue(std::vector<TRequest> requests, bool first) {
    if (requests.empty() || stopped_) return;
    outstanding_ += static_cast<int64_t>(requests.size());
    {
        std::lock_guard lock(mutex_);
        if (first) {
            queue_.insert(queue_.begin(), std::make_move_iterator(requests.begin()),
                          std::make_move_iterator(requests.end()));
        } else {
            queue_.insert(queue_.end(), std::make_move_iterator(requests.begin()), std::make_move_iterator(requests.end()));
        }
    }
    wake_.notify_one();
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

int64_t TTagScan::CancelQueued() {
    std::lock_guard lock(mutex_);
    const auto dropped = static_cast<int64_t>(queue_.size());
    queue_.clear();
    return dropped;
}

bool TTagScan::Pending() const {
    return !stopped_ && (scanTimer_->isActive() || rescan_ || outstanding_ > 0 || !inbox_.empty());
}

void TTagScan::Stop() {
    if (stopped_) return;
    stopped_ = true;
    scanTimer_->stop();
    drainTimer_->stop();
    inbox_.clear();
    outstanding_ = 0;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_one();
}

int64_t TTagScan::Looked() const {
    std::lock_guard lock(mutex_);
    return looked_;
}

bool TTagScan::ThreadIdle() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() && !busy_;
}

void TTagScan::Receive(std::vector<TResult> batch) {
    if (stopped_) return;
    inbox_.insert(inbox_.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
    if (!drainTimer_->isActive()) drainTimer_->start();
}

void TTagScan::Drain() {
    QElapsedTimer slice;
    slice.start();
    while (!inbox_.empty() && slice.elapsed() < kDrainSliceMs) {
        const TResult result = std::move(inbox_.front());
        inbox_.pop_front();
        --outstanding_;
        const int row = result.Row;
        if (row >= model_.Rows() || model_.Path(row) != result.Path) {
            // The row moved since it was asked for; asked since the last
            // rescan, it is found by another one.
            if (result.Generation == generation_) rescan_ = true;
            continue;
        }
        if (result.Missing) {
            model_.SetProblem(row, kFileNotFound);
            continue;
        }
        if (model_.Entry(row).Problem == kFileNotFound) model_.SetProblem(row, QString());
        model_.SetTags(row, result.Tags);
        emit TagsRead(row);
    }
    if (!inbox_.empty()) drainTimer_->start();
    if (rescan_) Request();
}

// ------------------------------------------------------------ reading thread

TTagScan::TResult TTagScan::Look(const TRequest& request) {
    TResult result{request.Row, request.Generation, request.Path, {}, false, {}};
    QString file = request.Path;
    std::optional<TFileStamp> stamp = StatRegularFile(file);
    if (!stamp) {
        // A name in another case (a list made on another system).
        file = ResolveEntryPath(request.Path);
        if (file != request.Path) stamp = StatRegularFile(file);
    }
    if (!stamp) {
        result.Missing = true;
        return result;
    }
    result.Stamp = *stamp;
    if (std::optional<TEntryTags> kept = cache_.Find(request.Path, *stamp)) {
        result.Tags = std::move(*kept);
        return result;
    }
    // A file that could not be read is tried again next time.
    if (ReadTags(file, &result.Tags)) cache_.Put(request.Path, *stamp, result.Tags);
    return result;
}

void TTagScan::Deliver(std::vector<TResult>& batch) {
    if (batch.empty()) return;
    auto handed = std::make_shared<std::vector<TResult>>(std::move(batch));
    batch.clear();
    QMetaObject::invokeMethod(this, [this, handed] { Receive(std::move(*handed)); }, Qt::QueuedConnection);
}

void TTagScan::Run() {
    const bool keepFile = !cacheFile_.isEmpty();
    std::vector<TResult> batch;
    Clock::time_point batchStart;
    std::optional<Clock::time_point> saved;
    // The rows on show first, while the cache is still to be loaded; what
    // they found goes into it afterwards.
    std::unique_lock lock(mutex_);
    while (!stop_ && !queue_.empty() && queue_.front().Shown) {
        const TRequest request = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        ++looked_;
        lock.unlock();
        batch.push_back(Look(request));
        lock.lock();
    }
    const bool stopping = stop_;
    lock.unlock();
    std::vector<TResult> early = batch;
    Deliver(batch);
    // Stopped before it was loaded: nothing to write (the file stays as it is).
    const bool keep = keepFile && !stopping;
    if (keep) {
        cache_.Load(cacheFile_);
        for (const TResult& result : early) {
            if (!result.Missing && result.Tags.Known) cache_.Put(result.Path, result.Stamp, result.Tags);
        }
    }
    lock.lock();
    while (!stop_) {
        if (queue_.empty()) {
            // A scan has finished: its results handed over, the cache written when due.
            lock.unlock();
            Deliver(batch);
            if (keep && cache_.Dirty() && (!saved || Clock::now() - *saved >= kSaveGap)) {
                cache_.Save(cacheFile_);
                saved = Clock::now();
            }
            lock.lock();
            if (!queue_.empty() || stop_) continue;
            busy_ = false;
            auto woken = [this] { return stop_ || !queue_.empty(); };
            if (keep && cache_.Dirty() && saved) {
                wake_.wait_until(lock, *saved + kSaveGap, woken);
            } else {
                wake_.wait(lock, woken);
            }
            continue;
        }
        const TRequest request = std::move(queue_.front());
        queue_.pop_front();
        // The last shown row read: the screenful goes at once.
        const bool screenDone = request.Shown && (queue_.empty() || !queue_.front().Shown);
        busy_ = true;
        ++looked_;
        lock.unlock();
        if (batch.empty()) batchStart = Clock::now();
        batch.push_back(Look(request));
        if (screenDone || batch.size() >= kBatchRows || Clock::now() - batchStart >= kBatchAge) Deliver(batch);
        lock.lock();
    }
    busy_ = false;
    lock.unlock();
    if (keep && cache_.Dirty()) cache_.Save(cacheFile_);
}

}  // namespace wl
