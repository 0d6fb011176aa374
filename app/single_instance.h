// One running instance per user and app folder.
//
// The claim: the instance holds an exclusive lock (flock) on a lock file
// beside its local server's socket, taken once at the start before any
// window is built. Whoever holds it is the running instance; the system
// frees it when that process ends however it ends, so a crash never blocks
// the next start and two simultaneous starts can never both win.
//
// The hand-off: a start that does not get the lock connects to the running
// instance's local server and sends its arguments (with the moment it was
// started); the instance applies them and then acknowledges. The local server
// is only listened on by the lock holder, so a socket left behind by a crash
// is removed without a race. A start waits (bounded) for the holder to listen
// and answer, and takes the lock itself should the holder end meanwhile.
//
// How the running instance applies one start's arguments (TForm1::HandOver):
//   - one list file (".m3u", ".m3u8", ".pls", ".xspf", ".cue"): read on a
//     worker, the list is replaced by its entries (relative ones resolved
//     against the list's folder; the process's current folder stays) and
//     the first entry plays; a list without usable entries leaves the list
//     as it is, with a message;
//   - ".mp3" and http(s) URL arguments (one or several; other arguments
//     among several are left out): they replace the list in their order and
//     the first plays;
//     but while the previous hand-off is fresh (started within
//     kHandOffBurstMs of this one, e.g. a file manager starting the program
//     once per selected file), they are appended instead, so that a burst of
//     starts ends with all their files in the list;
//   - anything else: a message in the status line, the list stays;
//   - no argument: the window is brought to the front.
// Hand-offs are applied one at a time in the order they arrive.
//
// The older file hand-off stays understood for compatibility: "list.txt"
// (and "list2.txt") in the app folder are taken in the housekeeping tick
// (TakeHandOff), and a start whose local server cannot listen because a
// server without the lock answers there (an older version running) hands
// its files over that way (WriteHandOff).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

class QLocalServer;
class QLocalSocket;

namespace wl {

// The main window's and the application's title (with the leading blank).
inline constexpr char kAppTitle[] = " Wavelantern 2.1";

// Starts this close together (ms) are one burst: their files are appended.
inline constexpr int64_t kHandOffBurstMs = 1000;
// How long a start waits for the running instance to take its files.
inline constexpr int kHandOffTimeoutMs = 10000;

// The local server's name: a socket path in the user's runtime folder (else
// the temporary folder) made of the window title, the user and a hash of the
// app folder, so that instances with different app folders never meet.
QString InstanceServerName();
// The claim's lock file: InstanceServerName() + ".lock".
QString InstanceLockPath();

// True when a running instance answers on InstanceServerName().
bool InstanceRunning(int timeoutMs = 1000);

// When this process was started, in milliseconds on a clock that all
// processes share (since boot).
int64_t ProcessStartMs();

// The claim to be the running instance. Held from a successful TryTake until
// the object goes (or the process ends).
class TInstanceClaim {
public:
    TInstanceClaim() = default;
    ~TInstanceClaim();
    TInstanceClaim(const TInstanceClaim&) = delete;
    TInstanceClaim& operator=(const TInstanceClaim&) = delete;

    // Takes the lock without waiting; true once held. False while another
    // process (or another claim) holds it, or when the lock file cannot be
    // made (Error() then says why).
    bool TryTake();
    bool Held() const { return held_; }
    QString Error() const { return error_; }

private:
    int fd_ = -1;
    bool held_ = false;
    QString error_;
};

// The running instance's side: listens on InstanceServerName() and, once
// StartTaking has been called, reports each start's arguments (HandOff) in
// order of arrival, acknowledging each once HandOff has returned. Starts that
// connect before (the window is still being built) wait for that.
class TInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;
    // A socket left behind by a crashed instance (nobody answers) is removed
    // first; a live one is never taken over (false, AnotherAnswers()).
    bool Listen();
    bool Listening() const;
    void StartTaking();
    // Listen found a live server of someone else there.
    bool AnotherAnswers() const { return anotherAnswers_; }
    QString ErrorText() const;
    // No more hand-offs are taken (the program is ending): the socket goes,
    // and starts that were not acknowledged yet try again (they find the
    // next instance, or become it).
    void Close();

signals:
    void HandOff(const QStringList& arguments, qint64 startedMs);

private:
    void Read(QLocalSocket* socket);
    QLocalServer* server_;
    void TakePending();
    bool anotherAnswers_ = false;
    bool taking_ = false;
    bool closed_ = false;
};

// Command-line arguments as paths of this process: "file:" URLs become local
// paths, relative paths become absolute (the running instance and the later
// change to the stored folder must not resolve them elsewhere); http(s) URLs
// stay as they are.
QStringList AbsoluteArguments(const QStringList& arguments);

enum class TStartRole {
    Instance,    // the claim is held: this start is the running instance
    HandedOver,  // the running instance took the arguments
    Failed,      // neither within the time allowed; see the error
};

// A start's decision: takes the claim, or hands `arguments` to the instance
// holding it and waits for its acknowledgement. While the holder does not
// answer yet (it is still starting, or ending) this is retried every few
// tens of milliseconds for up to `timeoutMs`.
TStartRole ClaimOrHandOver(TInstanceClaim& claim, const QStringList& arguments, QString* error,
                           int timeoutMs = kHandOffTimeoutMs);

// The older hand-off through files (see above): writes "list.txt" (and
// "list2.txt" for a playlist) into `folder` (ending in "/"). One argument:
// ".m3u" -> its entries without comment and empty lines, plus its folder in
// "list2.txt"; ".mp3" or an http(s) URL -> the argument; anything else -> an
// empty "list.txt". Several arguments: every ".mp3" and URL one, in order. No argument or
// an empty first one: nothing is written. Each file is written under a
// temporary name and then renamed, "list2.txt" before "list.txt", so that
// the running instance never sees a half-written list. False when a file
// could not be written; `error` then names the file and the reason.
bool WriteHandOff(const QString& folder, const QStringList& arguments, QString* error = nullptr);

enum class THandOff {
    None,    // no "list.txt"
    Failed,  // "list.txt" could not be renamed; the next tick tries again
    Taken,   // "list.txt" is now "wl21.m3u"; "list2.txt" applied and deleted
};

// The running instance's side of the file hand-off: renames "list.txt" over
// "wl21.m3u"; when "list2.txt" names the playlist's folder, the entries are
// instead written into "wl21.m3u" as the files they name there (relative
// ones against that folder), and "list.txt" goes. The current folder stays.
THandOff TakeHandOff(const QString& folder);

}  // namespace wl
