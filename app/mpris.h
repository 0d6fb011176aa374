// Media keys and the desktop's sound menu: the player offered on the D-Bus
// session bus under the media player interfaces (MPRIS 2). The controls drive
// the playback controller as the window's buttons do; changes are announced
// from the controller's signals.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/mpris_state.h"

#if WL_HAVE_DBUS
#include <QDBusConnection>
#endif

class QObject;

namespace wl {

class TMprisPlayerAdaptor;
class TPlaybackController;

inline constexpr const char* kMprisServiceName = "org.mpris.MediaPlayer2.wavelantern";
inline constexpr const char* kMprisObjectPath = "/org/mpris/MediaPlayer2";
inline constexpr const char* kMprisDesktopEntry = "wavelantern";  // wavelantern.desktop

// What the service asks of the window.
struct TMprisWindow {
    std::function<void()> Raise;
    std::function<void()> Quit;
};

class TMprisService {
public:
#if WL_HAVE_DBUS
    // Null, with one line on stderr, when the bus is not there or the name is taken.
    static std::unique_ptr<TMprisService> Start(TPlaybackController* controller, TMprisWindow window,
                                                QDBusConnection connection = QDBusConnection::sessionBus());
#else
    static std::unique_ptr<TMprisService> Start(TPlaybackController* controller, TMprisWindow window);
#endif
    ~TMprisService();
    TMprisService(const TMprisService&) = delete;
    TMprisService& operator=(const TMprisService&) = delete;

#if WL_HAVE_DBUS
    // The D-Bus methods.
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

    const TPlaybackController& Controller() const { return *controller_; }

private:
    TMprisService(TPlaybackController* controller, TMprisWindow window, QDBusConnection connection);
    // Sends PropertiesChanged for whatever changed since it was last sent;
    // the controller's signals ask for it, several in a row once.
    void ScheduleCheck();
    void CheckChanges();

    TPlaybackController* controller_;
    TMprisWindow window_;
    QDBusConnection connection_;
    std::unique_ptr<QObject> object_;  // exported; owns the adaptors
    TMprisPlayerAdaptor* player_ = nullptr;
    TMprisState sent_;
    bool checkScheduled_ = false;
    bool registered_ = false;
#else
private:
    TMprisService() = default;
#endif
};

}  // namespace wl
