// One running instance per user and app folder. The running instance owns a
// local server; a second start finds it by connecting, leaves what it was
// started with in the hand-off files of the app folder and ends. The running
// instance picks the files up in its housekeeping tick.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace wl {

// The main window's and the application's title (with the leading blank).
inline constexpr char kAppTitle[] = " Wavelantern 2.1";

// The local server's name: a socket path in the user's runtime folder (else
// the temporary folder) made of the window title, the user and a hash of the
// app folder, so that instances with different app folders never meet.
QString InstanceServerName();

// True when a running instance answers on InstanceServerName().
bool InstanceRunning(int timeoutMs = 1000);

// The running instance's side: listens on InstanceServerName(). A socket left
// behind by a crashed instance (nobody answers) is removed first; a live one
// is never taken over.
class TInstanceServer : public QObject {
public:
    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;
    bool Listen();
    bool Listening() const;

private:
    QLocalServer* server_;
};

// Command-line arguments as paths of this process: "file:" URLs become local
// paths, relative paths become absolute (the running instance and the later
// change to the stored folder must not resolve them elsewhere).
QStringList AbsoluteArguments(const QStringList& arguments);

// The second start's side: writes "list.txt" (and "list2.txt" for a
// playlist) into `folder` (ending in "/"). One argument: ".m3u" -> its
// entries without comment and empty lines, plus its folder in "list2.txt";
// ".mp3" -> the argument; anything else -> an empty "list.txt". Several
// arguments: every ".mp3" one, in order. No argument or an empty first one:
// nothing is written. Each file is written under a temporary name and then
// renamed, "list2.txt" before "list.txt", so that the running instance never
// sees a half-written list. False when a file could not be written.
bool WriteHandOff(const QString& folder, const QStringList& arguments);

enum class THandOff {
    None,    // no "list.txt"
    Failed,  // "list.txt" could not be renamed; the next tick tries again
    Taken,   // "list.txt" is now "wl21.m3u"; "list2.txt" applied and deleted
};

// The running instance's side of the hand-off: renames "list.txt" over
// "wl21.m3u", and makes the folder named in "list2.txt" the current directory.
THandOff TakeHandOff(const QString& folder);

}  // namespace wl
