#include "controls/find_file.h"

#include "controls/name_order.h"
#include "controls/wildcard.h"

#include <QCoreApplication>
#include <QEvent>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

namespace wl {

// ---------------------------------------------------------------- dates

namespace {

constexpr int64_t kDaysFrom1899To1970 = 25569;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days + kDaysFrom1899To1970) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

TDateTime UnixToLocalDateTime(int64_t seconds, int64_t nanoseconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local)) return 0;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec) +
           static_cast<double>(nanoseconds) / 1e9 / 86400.0;
}

// ---------------------------------------------------------------- search

namespace {

struct SearchCallbacks {
    std::function<bool()> stop;
    // Returns true when the folder is to be skipped.
    std::function<bool(const std::string& folder)> newFolder;
    std::function<void(const std::string& folder, const TSearchRec& rec)> found;
};

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Absolute and normalised, without a trailing "/" except for the root.
std::string FullFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(folder.empty() ? std::string(".") : folder, ec);
    if (ec) p = folder;
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s.empty() ? std::string("/") : s;
}

TDateTime ToDateTime(const struct timespec& ts) { return UnixToLocalDateTime(ts.tv_sec, ts.tv_nsec); }

TFileAttributes MapAttributes(const struct stat& st) {
    TFileAttributes a = 0;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) a |= ffReadonly;
    if (S_ISDIR(st.st_mode)) {
        a |= ffDirectory;
    } else if (S_ISREG(st.st_mode)) {
        a |= ffArchive;
    } else {
        a |= ffSystem;
    }
    return a;
}

// The bound decides which part of the file's time is compared: a whole day
// the date, a time only the time of day, anything else the full value.
double ComparablePart(TDateTime fileTime, TDateTime bound) {
    const double day = std::trunc(bound);
    if (bound == day) return std::trunc(fileTime);
    if (day == 0) return fileTime - std::trunc(fileTime);
    return fileTime;
}

bool DatePasses(TDateTime fileTime, TDateTime before, TDateTime after) {
    if (before != 0 && ComparablePart(fileTime, before) > before) return false;
    if (after != 0 && ComparablePart(fileTime, after) < after) return false;
    return true;
}

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Blocks of 4096 bytes are searched one by one; a text spanning two blocks
// is not found. Only regular files are read: opening a pipe or a device could
// wait for ever.
bool FileContains(const std::string& path, const std::string& text, bool ignoreCase) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("Cannot open file " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string needle = text;
    if (ignoreCase) {
        for (char& c : needle) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    }
    const size_t len = needle.size();
    unsigned char block[4096];
    bool hit = false;
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw std::runtime_error("Cannot read file " + path + ": " + std::strerror(err));
        }
        if (got == 0) break;
        const size_t n = static_cast<size_t>(got);
        if (ignoreCase) {
            for (size_t i = 0; i < n; ++i) block[i] = Fold(block[i]);
        }
        for (size_t off = 0; len <= n && off <= n - len; ++off) {
            if (std::memcmp(block + off, needle.data(), len) == 0) {
                hit = true;
                break;
            }
        }
        if (hit) break;
    }
    ::close(fd);
    return hit;
}

class FolderSearch {
public:
    FolderSearch(const TSearchParams& p, const SearchCallbacks& cb) : p_(p), cb_(cb) {}

    void Run() {
        for (const std::string& target : p_.Targets) {
            if (cb_.stop()) return;
            const size_t slash = target.rfind('/');
            const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
            std::string mask = slash == std::string::npos ? target : target.substr(slash + 1);
            if (mask.empty()) mask = "*.*";
            ancestors_.clear();
            SearchFolder(FullFolder(folder), mask);
        }
    }

private:
    struct Entry {
        std::string name;
        struct stat st {};
    };

    void SearchFolder(const std::string& folder, const std::string& mask) {
        if (cb_.newFolder(folder)) return;
        struct stat self {};
        if (::stat(folder.c_str(), &self) != 0) return;
        // A symbolic link back to a folder being searched ends the descent.
        for (const auto& a : ancestors_) {
            if (a.first == self.st_dev && a.second == self.st_ino) return;
        }
        ancestors_.emplace_back(self.st_dev, self.st_ino);

        std::vector<Entry> entries = List(folder);
        for (const Entry& e : entries) {
            if (cb_.stop()) break;
            if (!MatchesMask(e.name, mask)) continue;
            TSearchRec rec;
            rec.Name = e.name;
            rec.Attr = MapAttributes(e.st);
            rec.Size = S_ISDIR(e.st.st_mode) ? 0 : static_cast<int64_t>(e.st.st_size);
            rec.CreationTime = CreationTime(e.st);
            rec.LastAccessTime = ToDateTime(e.st.st_atim);
            rec.LastWriteTime = ToDateTime(e.st.st_mtim);
            if (Passes(folder, rec)) cb_.found(folder, rec);
        }
        if (!cb_.stop() && p_.Subfolders) {
            for (const Entry& e : entries) {
                if (cb_.stop()) break;
                if (S_ISDIR(e.st.st_mode)) SearchFolder(JoinPath(folder, e.name), mask);
            }
        }
        ancestors_.pop_back();
    }

    // The entries of a folder (not those beginning with "."), in name order
    // (digits as numbers, see CompareNames), so that files are reported and
    // subfolders entered in the order a listing shows them rather than the
    // file system's; an unreadable folder has none.
    static std::vector<Entry> List(const std::string& folder) {
        std::vector<Entry> out;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return out;
        while (struct dirent* d = ::readdir(dir)) {
            if (d->d_name[0] == '.') continue;
            Entry e;
            e.name = d->d_name;
            const std::string path = JoinPath(folder, e.name);
            // A dangling link is reported as what it is, an "other" file.
            if (::stat(path.c_str(), &e.st) != 0 && ::lstat(path.c_str(), &e.st) != 0) continue;
            out.push_back(std::move(e));
        }
        ::closedir(dir);
        std::sort(out.begin(), out.end(), [](const Entry& x, const Entry& y) { return NameLess(x.name, y.name); });
        return out;
    }

    // Birth time is not kept by every file system; the earlier of the change
    // and modification times stands in for it.
    static TDateTime CreationTime(const struct stat& st) {
        const struct timespec& c = st.st_ctim;
        const struct timespec& m = st.st_mtim;
        const bool mEarlier = m.tv_sec < c.tv_sec || (m.tv_sec == c.tv_sec && m.tv_nsec < c.tv_nsec);
        return ToDateTime(mEarlier ? m : c);
    }

    bool Passes(const std::string& folder, const TSearchRec& rec) const {
        const TFileAttributes attr = rec.Attr;
        if (p_.ExactAttribute) {
            if (attr != p_.Attributes) return false;
        } else if (attr != 0 && (attr & p_.Attributes) == 0) {
            return false;
        }
        const bool isDir = (attr & ffDirectory) != 0;
        if (!isDir) {
            if (p_.SizeMin != 0 && rec.Size < p_.SizeMin) return false;
            if (p_.SizeMax != 0 && rec.Size > p_.SizeMax) return false;
        }
        if (!DatePasses(rec.CreationTime, p_.CreatedBefore, p_.CreatedAfter)) return false;
        if (!DatePasses(rec.LastWriteTime, p_.ModifiedBefore, p_.ModifiedAfter)) return false;
        if (!DatePasses(rec.LastAccessTime, p_.AccessedBefore, p_.AccessedAfter)) return false;
        const std::string path = JoinPath(folder, rec.Name);
        for (const std::string& pattern : p_.ExcludeFiles) {
            if (MatchesPathPattern(path, pattern)) return false;
        }
        if (p_.Containing.empty() || isDir) return true;
        return FileContains(path, p_.Containing, p_.IgnoreCase);
    }

    const TSearchParams& p_;
    const SearchCallbacks& cb_;
    std::vector<std::pair<dev_t, ino_t>> ancestors_;
};

}  // namespace

// ---------------------------------------------------------------- worker

namespace {

// A call for the component's thread. Posted events are handed over under the
// event queue's lock and dropped when the receiver is destroyed first.
class TCallEvent : public QEvent {
public:
    explicit TCallEvent(std::function<void()> fn) : QEvent(Kind()), fn_(std::move(fn)) {}
    static QEvent::Type Kind() {
        static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    void Run() { fn_(); }

private:
    std::function<void()> fn_;
};

void PostCall(QObject* receiver, std::function<void()> fn) {
    QCoreApplication::postEvent(receiver, new TCallEvent(std::move(fn)));
}

}  // namespace

struct TSearchThread::SyncCall {
    std::function<void()> call;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool cancelled = false;
    std::string error;
};

TSearchThread::TSearchThread(TFindFile* owner, TSearchParams params, TSearchPriority priority)
    : owner_(owner), params_(std::move(params)), priority_(priority) {
    thread_ = std::thread([this] { Execute(); });
}

TSearchThread::~TSearchThread() {
    Terminate();
    WaitFor();
}

void TSearchThread::Terminate() {
    terminated_.store(true);
    std::shared_ptr<SyncCall> call;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        call = pending_;
    }
    if (call) {
        std::lock_guard<std::mutex> lock(call->mutex);
        call->cancelled = true;
        call->cv.notify_all();
    }
}

void TSearchThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

int NiceFor(TSearchPriority p) {
    switch (p) {
        case TSearchPriority::tpIdle: return 19;
        case TSearchPriority::tpLowest: return 10;
        case TSearchPriority::tpLower: return 5;
        case TSearchPriority::tpNormal: return 0;
        case TSearchPriority::tpHigher: return -5;
        case TSearchPriority::tpHighest: return -10;
        case TSearchPriority::tpTimeCritical: return -15;
    }
    return 0;
}

void TSearchThread::SetPriority(TSearchPriority priority) {
    std::lock_guard<std::mutex> lock(mutex_);
    priority_ = priority;
    ApplyPriority();
}

// Caller holds mutex_. Linux keeps a nice value per thread; a refused raise
// leaves the thread as it was.
void TSearchThread::ApplyPriority() {
    if (tid_ != 0) (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NiceFor(priority_));
}

bool TSearchThread::Synchronize(std::function<void()> fn) {
    auto call = std::make_shared<SyncCall>();
    call->call = std::move(fn);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_.load()) return false;
        pending_ = call;
    }
    // Dropped unrun when the owner is destroyed first; the worker is then
    // released by Terminate.
    PostCall(
        owner_,
        [call] {
            {
                std::lock_guard<std::mutex> lock(call->mutex);
                if (call->cancelled) return;
            }
            std::string error;
            try {
                call->call();
            } catch (const std::exception& e) {
                error = e.what();
                if (error.empty()) error = "error in a search handler";
            } catch (...) {
                error = "error in a search handler";
            }
            std::lock_guard<std::mutex> lock(call->mutex);
            call->error = std::move(error);
            call->done = true;
            call->cv.notify_all();
        });
    std::unique_lock<std::mutex> lock(call->mutex);
    call->cv.wait(lock, [&] { return call->done || call->cancelled; });
    const bool ran = call->done;
    const std::string error = call->error;
    lock.unlock();
    {
        std::lock_guard<std::mutex> l(mutex_);
        pending_.reset();
    }
    if (!error.empty()) throw std::runtime_error(error);
    return ran;
}

void TSearchThread::Execute() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tid_ = static_cast<int>(::syscall(SYS_gettid));
        if (priority_ != TSearchPriority::tpNormal) ApplyPriority();
    }
    TFindFile* owner = owner_;
    SearchCallbacks cb;
    cb.stop = [this, owner] { return terminated_.load() || owner->aborted_.load(); };
    cb.newFolder = [this, owner](const std::string& folder) {
        bool ignore = false;
        Synchronize([owner, folder, &ignore] {
            if (owner->OnNewFolder) owner->OnNewFolder(owner, folder, ignore);
        });
        return ignore;
    };
    cb.found = [this, owner](const std::string& folder, const TSearchRec& rec) {
        Synchronize([owner, folder, rec] {
            if (owner->OnFound) owner->OnFound(owner, folder, rec);
        });
    };
    std::string error;
    try {
        FolderSearch(params_, cb).Run();
    } catch (const std::exception& e) {
        owner->aborted_.store(true);
        error = e.what();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tid_ = 0;
    }
    if (!terminated_.load()) {
        PostCall(owner, [owner, error] { owner->ThreadDone(error); });
    }
}

// ---------------------------------------------------------------- component

TFindFile::TFindFile(QObject* parent) : QObject(parent) {}

TFindFile::~TFindFile() {
    destroying_ = true;
    if (worker_) {
        worker_->Terminate();
        worker_.reset();
    }
}

bool TFindFile::event(QEvent* e) {
    if (e->type() == TCallEvent::Kind()) {
        static_cast<TCallEvent*>(e)->Run();
        return true;
    }
    return QObject::event(e);
}

void TFindFile::SetFilename(const std::string& value) {
    if (value.find('/') != std::string::npos) throw EFindFileError(value + "\n\rInvalid filename specified");
    filename_ = value;
}

void TFindFile::SetLocation(const std::string& value) {
    if (value.find_first_of("*?") != std::string::npos)
        throw EFindFileError(value + "\n\rlocation cannot to be contained wildcards");
    location_ = value;
}

void TFindFile::SetThreadPriority(TSearchPriority v) {
    threadPriority_ = v;
    if (worker_) worker_->SetPriority(v);
}

void TFindFile::Abort() { aborted_.store(true); }

std::vector<std::string> TFindFile::BuildTargets() const {
    std::vector<std::string> targets;
    bool anyInclude = false;
    for (const std::string& line : includeFiles_) {
        if (line.empty()) continue;
        anyInclude = true;
        targets.push_back(line);
    }
    if (anyInclude) return targets;

    std::string pattern = filename_.empty() ? std::string("*.*") : filename_;
    if (pattern.find('.') == std::string::npos) pattern += ".*";
    size_t start = 0;
    for (;;) {
        const size_t semi = location_.find(';', start);
        const std::string part = location_.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        std::string folder = FullFolder(part.empty() ? std::string(".") : part);
        if (folder.back() != '/') folder += '/';
        // Linux folder names differ by case, so duplicates are exact ones.
        const std::string target = folder + pattern;
        if (std::find(targets.begin(), targets.end(), target) == targets.end()) targets.push_back(target);
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return targets;
}

TSearchParams TFindFile::TakeParams() const {
    TSearchParams p;
    p.Attributes = attributes_;
    p.ExactAttribute = exactAttribute_;
    p.Targets = BuildTargets();
    p.Subfolders = subfolders_;
    p.ExcludeFiles = excludeFiles_;
    p.ModifiedBefore = modifiedBefore_;
    p.ModifiedAfter = modifiedAfter_;
    p.CreatedBefore = createdBefore_;
    p.CreatedAfter = createdAfter_;
    p.AccessedBefore = accessedBefore_;
    p.AccessedAfter = accessedAfter_;
    p.SizeMin = sizeMin_;
    p.SizeMax = sizeMax_;
    if (!containing_.empty()) {
        p.Containing = containing_;
        p.IgnoreCase = ignoreCase_;
    }
    return p;
}

void TFindFile::Execute() {
    if (busy_) return;
    busy_ = true;
    lastError_.clear();
    TSearchParams params;
    try {
        params = TakeParams();
    } catch (const std::exception& e) {
        lastError_ = e.what();
        Complete();
        return;
    }
    aborted_.store(false);
    if (threaded_) {
        worker_ = std::make_unique<TSearchThread>(this, std::move(params), threadPriority_);
        return;
    }
    SearchCallbacks cb;
    cb.stop = [this] { return aborted_.load(); };
    cb.newFolder = [this](const std::string& folder) {
        bool ignore = false;
        if (OnNewFolder) OnNewFolder(this, folder, ignore);
        return ignore;
    };
    cb.found = [this](const std::string& folder, const TSearchRec& rec) {
        if (OnFound) OnFound(this, folder, rec);
    };
    try {
        FolderSearch(params, cb).Run();
    } catch (const std::exception& e) {
        aborted_.store(true);
        lastError_ = e.what();
    }
    Complete();
}

void TFindFile::ThreadDone(const std::string& error) {
    if (worker_) {
        worker_->WaitFor();
        worker_.reset();
    }
    lastError_ = error;
    Complete();
}

void TFindFile::Complete() {
    busy_ = false;
    if (!destroying_ && OnComplete) OnComplete(this);
}

}  // namespace wl
