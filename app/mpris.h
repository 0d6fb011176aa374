// Media keys and the desktop's sound menu: the player offered on the D-Bus
// session bus under the media player interfaces (MPRIS 2). Every control
// runs the same path as the window's own control, after the D-Bus call has
// been answered; changes are announced by polling the window's state.
#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "app/mpris_state.h"

#if WL_HAVE_DBUS
#include <QDBusConnection>
#include <QElapsedTimer>
#endif

class QObject;
class QTimer;

namespace wl {

class TForm1;
class TMprisPlayerAdaptor;
class PlaylistModel;

inline constexpr const char* kMprisServiceName = "org.mpris.MediaPlayer2.wavelantern";
inline constexpr const char* kMprisObjectPath = "/org/mpris/MediaPlayer2";
inline constexpr const char* kMprisDesktopEntry = "wavelantern";  // wavelantern.desktop
// Changes made elsewhere are looked for this often while playing (a seek
// shows as a jump in the position), and at the slower pace otherwise.
inline constexpr int kMprisPollMs = 250;
inline constexpr int kMprisIdlePollMs = 1000;
// While playing, the window's meter tick (40 ms) runs anyway: the poll rides
// on every fifth one (200 ms, safely inside the poll interval) instead of
// waking the program on its own.
inline constexpr int kMprisMeterTicksPerPoll = 5;
// Otherwise the window's housekeeping tick (one a second) polls, and the
// poll timer waits this long so that it fires only when that tick stops.
inline constexpr int kMprisIdleFallbackMs = 1500;

class TMprisService {
public:
#if WL_HAVE_DBUS
    // Null, with one line on stderr, when the bus is not there or the name is taken.
    static std::unique_ptr<TMprisService> Start(TForm1* form, QDBusConnection connection = QDBusConnection::sessionBus());
#else
    static std::unique_ptr<TMprisService> Start(TForm1* form);
#endif
    ~TMprisService();
    TMprisService(const TMprisService&) = delete;
    TMprisService& operator=(const TMprisService&) = delete;

#if WL_HAVE_DBUS
    // The D-Bus methods; each is queued and runs once the call has returned.
    void Raise();
    void Quit();
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(int64_t offsetUs);
    void SetPosition(const QString& trackId, int64_t positionUs);
    void OpenUri(const QString& uri);
    void SetVolume(double volume);
    // "None" or "Playlist" (repeat); "Track" is not offered and changes nothing.
    void SetLoopStatus(const QString& status);
    void SetShuffle(bool shuffle);

    TForm1* Form() const { return form_; }
    // Sends PropertiesChanged for whatever changed since the last call, and
    // Seeked when the position jumped.
    void CheckChanges();

private:
    TMprisService(TForm1* form, QDBusConnection connection);
    void Enqueue(std::function<void()> action);
    void RunQueued();
    void SeekTo(int64_t targetUs);
    void ResetPositionWatch(const TMprisState& state, int64_t positionUs);
    void MeterTick();
    void HousekeepingTick();

    TForm1* form_;
    PlaylistModel& playlist_;  // the window's list: what OpenUri adds to
    QDBusConnection connection_;
    std::unique_ptr<QObject> object_;  // exported; owns the adaptors and the poll timer
    TMprisPlayerAdaptor* player_ = nullptr;
    QTimer* poll_ = nullptr;
    int meterTicks_ = 0;  // meter ticks since the last poll
    TMprisState sent_;
    std::deque<std::function<void()>> queue_;
    bool running_ = false;
    bool registered_ = false;
    // Position watch: a jump other than playing on is a seek.
    QString watchedTrack_;
    QString watchedStatus_;
    int64_t watchedPositionUs_ = 0;
    QElapsedTimer watchClock_;
    std::shared_ptr<TMprisService*> alive_;
#else
private:
    TMprisService() = default;
#endif
};

}  // namespace wl
