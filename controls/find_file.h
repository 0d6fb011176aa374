// TFindFile: searches folders (optionally recursively) for files matching a
// name pattern and filters (attributes, size, dates, exclusions, contained
// text) and reports each match through OnFound. The search runs on the calling
// thread or on a worker (TSearchThread) that runs every event on the thread the
// component lives on and waits until the handler returns.
//
// Folders handed to the events carry no trailing "/" except the root "/".
// Entries whose name begins with "." are never reported or entered. Attributes
// on Linux: read-only = no write permission bit, directory = directory,
// archive = regular file, system = any other file type; nothing is hidden.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace wl {

// The search thread's priority, as a nice value on Linux (a refused raise
// leaves the thread as it was).
enum class TSearchPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
int NiceFor(TSearchPriority p);

// Failures in the folder search: a bad property value raises EFindFileError
// at once; what goes wrong during a search (an unreadable file, a handler
// that threw) ends it early and is kept in LastError(), since the search runs
// on its own thread. The other controls have no failures to report: the
// meter's source answers a TOpenResult that Start shows as a message.
class EFindFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TFileAttribute : uint32_t {
    ffReadonly = 0x01,
    ffHidden = 0x02,
    ffSystem = 0x04,
    ffDirectory = 0x10,
    ffArchive = 0x20,
};
using TFileAttributes = uint32_t;

// Days since 1899-12-30 in local time; the fraction is the time of day.
using TDateTime = double;
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Seconds since the epoch (UTC) to local TDateTime.
TDateTime UnixToLocalDateTime(int64_t seconds, int64_t nanoseconds = 0);

struct TSearchRec {
    std::string Name;
    int64_t Size = 0;
    TFileAttributes Attr = 0;
    TDateTime CreationTime = 0;
    TDateTime LastAccessTime = 0;
    TDateTime LastWriteTime = 0;
};

class TFindFile;
using TFoundEvent = std::function<void(TFindFile* sender, const std::string& folder, const TSearchRec& fileInfo)>;
using TNewFolderEvent = std::function<void(TFindFile* sender, const std::string& folder, bool& ignoreFolder)>;
using TFindNotifyEvent = std::function<void(TFindFile* sender)>;

// The filters as taken at the start of a search.
struct TSearchParams {
    std::vector<std::string> Targets;  // folder + "/" + name pattern
    bool Subfolders = true;
    std::vector<std::string> ExcludeFiles;
    TFileAttributes Attributes = 0;
    bool ExactAttribute = false;
    TDateTime ModifiedBefore = 0, ModifiedAfter = 0;
    TDateTime CreatedBefore = 0, CreatedAfter = 0;
    TDateTime AccessedBefore = 0, AccessedAfter = 0;
    int32_t SizeMin = 0, SizeMax = 0;
    std::string Containing;
    bool IgnoreCase = true;
};

// The worker of a threaded search. Owned by its TFindFile, which releases it
// when the search has ended.
class TSearchThread {
public:
    TSearchThread(TFindFile* owner, TSearchParams params, TSearchPriority priority);
    ~TSearchThread();  // terminates and waits
    TSearchThread(const TSearchThread&) = delete;
    TSearchThread& operator=(const TSearchThread&) = delete;

    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    void SetPriority(TSearchPriority priority);
    void WaitFor();

private:
    struct SyncCall;
    void Execute();
    // Runs `call` on the owner's thread and waits for it; rethrows what the
    // handler threw. Returns false when the worker was told to end first.
    bool Synchronize(std::function<void()> call);
    void ApplyPriority();

    TFindFile* owner_;
    TSearchParams params_;
    std::atomic<bool> terminated_{false};
    std::mutex mutex_;  // priority, tid, pending call
    std::shared_ptr<SyncCall> pending_;
    TSearchPriority priority_;
    int tid_ = 0;
    std::thread thread_;
};

class TFindFile : public QObject {
    Q_OBJECT
public:
    explicit TFindFile(QObject* parent = nullptr);
    ~TFindFile() override;

    // Starts a search; ignored while Busy. A synchronous search returns after
    // OnComplete.
    void Execute();
    // Ends the running search (at the next entry).
    void Abort();
    bool Busy() const { return busy_; }
    bool Aborted() const { return aborted_.load(); }
    // Why the last search ended early (an unreadable file while looking for
    // Containing, a handler that threw); empty when it ran to its end or was
    // aborted.
    const std::string& LastError() const { return lastError_; }

    const std::string& Filename() const { return filename_; }
    // Raises EFindFileError when the value has a folder part.
    void SetFilename(const std::string& value);
    const std::string& Location() const { return location_; }
    // Folders separated by ";"; raises EFindFileError on "*" or "?".
    void SetLocation(const std::string& value);
    std::vector<std::string>& IncludeFiles() { return includeFiles_; }
    std::vector<std::string>& ExcludeFiles() { return excludeFiles_; }
    bool Subfolders() const { return subfolders_; }
    void SetSubfolders(bool v) { subfolders_ = v; }
    TFileAttributes Attributes() const { return attributes_; }
    void SetAttributes(TFileAttributes v) { attributes_ = v; }
    bool ExactAttribute() const { return exactAttribute_; }
    void SetExactAttribute(bool v) { exactAttribute_ = v; }
    TDateTime ModifiedBefore() const { return modifiedBefore_; }
    void SetModifiedBefore(TDateTime v) { modifiedBefore_ = v; }
    TDateTime ModifiedAfter() const { return modifiedAfter_; }
    void SetModifiedAfter(TDateTime v) { modifiedAfter_ = v; }
    TDateTime CreatedBefore() const { return createdBefore_; }
    void SetCreatedBefore(TDateTime v) { createdBefore_ = v; }
    TDateTime CreatedAfter() const { return createdAfter_; }
    void SetCreatedAfter(TDateTime v) { createdAfter_ = v; }
    TDateTime AccessedBefore() const { return accessedBefore_; }
    void SetAccessedBefore(TDateTime v) { accessedBefore_ = v; }
    TDateTime AccessedAfter() const { return accessedAfter_; }
    void SetAccessedAfter(TDateTime v) { accessedAfter_ = v; }
    int32_t SizeMin() const { return sizeMin_; }
    void SetSizeMin(int32_t v) { sizeMin_ = v; }
    int32_t SizeMax() const { return sizeMax_; }
    void SetSizeMax(int32_t v) { sizeMax_ = v; }
    const std::string& Containing() const { return containing_; }
    void SetContaining(const std::string& v) { containing_ = v; }
    bool IgnoreCase() const { return ignoreCase_; }
    void SetIgnoreCase(bool v) { ignoreCase_ = v; }
    bool Threaded() const { return threaded_; }
    void SetThreaded(bool v) { threaded_ = v; }
    TSearchPriority ThreadPriority() const { return threadPriority_; }
    // Applied at once to a running worker.
    void SetThreadPriority(TSearchPriority v);

    TFoundEvent OnFound;
    TNewFolderEvent OnNewFolder;
    TFindNotifyEvent OnComplete;

    // The search targets Execute builds from Location and Filename (or the
    // lines of IncludeFiles).
    std::vector<std::string> BuildTargets() const;

protected:
    bool event(QEvent* e) override;

private:
    friend class TSearchThread;
    TSearchParams TakeParams() const;
    // On the owner's thread when the worker has ended.
    void ThreadDone(const std::string& error);
    void Complete();

    std::string filename_ = "*.*";
    std::string location_;
    std::vector<std::string> includeFiles_;
    std::vector<std::string> excludeFiles_;
    bool subfolders_ = true;
    TFileAttributes attributes_ = ffArchive | ffReadonly | ffHidden | ffSystem;
    bool exactAttribute_ = false;
    TDateTime modifiedBefore_ = 0, modifiedAfter_ = 0;
    TDateTime createdBefore_ = 0, createdAfter_ = 0;
    TDateTime accessedBefore_ = 0, accessedAfter_ = 0;
    int32_t sizeMin_ = 0, sizeMax_ = 0;
    std::string containing_;
    bool ignoreCase_ = true;
    bool threaded_ = false;
    TSearchPriority threadPriority_ = TSearchPriority::tpNormal;

    bool busy_ = false;
    bool destroying_ = false;
    std::atomic<bool> aborted_{false};
    std::string lastError_;
    std::unique_ptr<TSearchThread> worker_;
};

}  // namespace wl
