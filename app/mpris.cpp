#include "app/mpris.h"

#include <cstdio>
#include <exception>

#if WL_HAVE_DBUS

#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/form1.h"
#include "app/form2.h"
#include "app/mpris_adaptors.h"
#include "controls/ex_track_bar.h"

namespace wl {

namespace {

// A position this far from where playing on would have taken it was a seek.
constexpr int64_t kJumpUs = 1'500'000;

void SayUnavailable(const char* why) {
    std::fprintf(stderr, "wavelantern: %s; media keys and the sound menu are not available\n", why);
}

}  // namespace

std::unique_ptr<TMprisService> TMprisService::Start(TForm1* form, QDBusConnection connection) {
    if (!form) return nullptr;
    if (!connection.isConnected()) {
        SayUnavailable("no D-Bus session bus");
        return nullptr;
    }
    std::unique_ptr<TMprisService> service(new TMprisService(form, connection));
    if (!connection.registerObject(QString::fromLatin1(kMprisObjectPath), service->object_.get(),
                                   QDBusConnection::ExportAdaptors)) {
        SayUnavailable("the media player object cannot be put on the D-Bus session bus");
        return nullptr;
    }
    if (!connection.registerService(QString::fromLatin1(kMprisServiceName))) {
        connection.unregisterObject(QString::fromLatin1(kMprisObjectPath));
        const QByteArray why = "the D-Bus name " + QByteArray(kMprisServiceName) + " is taken";
        SayUnavailable(why.constData());
        return nullptr;
    }
    service->registered_ = true;
    return service;
}

TMprisService::TMprisService(TForm1* form, QDBusConnection connection)
    : form_(form), playlist_(form->Playlist), connection_(std::move(connection)), object_(std::make_unique<QObject>()) {
    new TMprisRootAdaptor(object_.get(), this);
    player_ = new TMprisPlayerAdaptor(object_.get(), this);
    sent_ = ReadMprisState(*form_);
    ResetPositionWatch(sent_, MprisPositionUs(*form_));

    poll_ = new QTimer(object_.get());
    QObject::connect(poll_, &QTimer::timeout, object_.get(), [this] { CheckChanges(); });
    poll_->start(kMprisPollMs);

    // Status changes are announced at once; the poll catches everything else.
    alive_ = std::make_shared<TMprisService*>(this);
    std::weak_ptr<TMprisService*> weak = alive_;
    TMP3Player& player = *form_->MP3Player;
    player.OnChangeStatus = [previous = player.OnChangeStatus, weak](TMP3Player* sender) {
        if (previous) previous(sender);
        if (auto alive = weak.lock()) (*alive)->CheckChanges();
    };
    form_->OnMeterTick = [previous = form_->OnMeterTick, weak] {
        if (previous) previous();
        if (auto alive = weak.lock()) (*alive)->MeterTick();
    };
    form_->OnHousekeepingTick = [previous = form_->OnHousekeepingTick, weak] {
        if (previous) previous();
        if (auto alive = weak.lock()) (*alive)->HousekeepingTick();
    };
}

// While playing, every kMprisMeterTicksPerPoll-th meter tick polls and
// restarts the poll timer, which so fires only when the meter tick stops.
void TMprisService::MeterTick() {
    if (!poll_ || poll_->interval() != kMprisPollMs) return;
    if (++meterTicks_ < kMprisMeterTicksPerPoll) return;
    CheckChanges();
    if (poll_->interval() == kMprisPollMs) poll_->start();
}

// While nothing plays, the housekeeping tick polls and sets the poll timer
// back, which so fires only when that tick stops.
void TMprisService::HousekeepingTick() {
    if (!poll_ || poll_->interval() == kMprisPollMs) return;  // playing: the meter tick polls
    CheckChanges();
    if (poll_->interval() != kMprisPollMs) poll_->start(kMprisIdleFallbackMs);
}

TMprisService::~TMprisService() {
    alive_.reset();
    if (registered_) {
        connection_.unregisterService(QString::fromLatin1(kMprisServiceName));
        connection_.unregisterObject(QString::fromLatin1(kMprisObjectPath));
    }
    object_.reset();  // drops queued actions and stops the poll
}

// ------------------------------------------------------------ the queue

void TMprisService::Enqueue(std::function<void()> action) {
    queue_.push_back(std::move(action));
    if (!running_) QMetaObject::invokeMethod(object_.get(), [this] { RunQueued(); }, Qt::QueuedConnection);
}

// One action at a time: an action that waits with events running (next,
// previous) finishes before the next one starts.
void TMprisService::RunQueued() {
    if (running_) return;
    running_ = true;
    while (!queue_.empty()) {
        std::function<void()> action = std::move(queue_.front());
        queue_.pop_front();
        try {
            action();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wavelantern: %s\n", e.what());
        }
        CheckChanges();
    }
    running_ = false;
}

// ---------------------------------------------------------- the methods

void TMprisService::Raise() {
    Enqueue([this] {
        if (Form2 && Form2->isVisible()) Form2->hide();  // the saver gives the window back
        form_->IdleSeconds = 2;
        form_->showNormal();
        form_->raise();
        form_->activateWindow();
    });
}

void TMprisService::Quit() {
    Enqueue([this] { form_->SpeedButton1Click(); });
}

void TMprisService::Play() {
    Enqueue([this] {
        const TMP3PlayerStatus status = form_->MP3Player->Status();
        if (status == mpsPaused) {
            form_->Image9Click();
        } else if (status == mpsStopped) {
            form_->Image7Click();
        }
    });
}

void TMprisService::Pause() {
    Enqueue([this] {
        if (form_->MP3Player->Status() == mpsPlaying) form_->Image9Click();
    });
}

void TMprisService::PlayPause() {
    Enqueue([this] {
        if (form_->MP3Player->Status() == mpsStopped) {
            form_->Image7Click();
        } else {
            form_->Image9Click();
        }
    });
}

void TMprisService::Stop() {
    Enqueue([this] { form_->Image10Click(); });
}

void TMprisService::Next() {
    Enqueue([this] { form_->PlayNext(); });
}

void TMprisService::Previous() {
    Enqueue([this] { form_->PlayPrevious(); });
}

void TMprisService::Seek(int64_t offsetUs) {
    Enqueue([this, offsetUs] {
        const TMprisState state = ReadMprisState(*form_);
        if (!state.canSeek || state.playbackStatus == QLatin1String("Stopped")) return;
        const int64_t position = MprisPositionUs(*form_);
        const int64_t length = state.track.lengthUs;
        // Compared without adding, so that no offset can overflow.
        if (offsetUs > 0 && offsetUs > length - position) {
            form_->PlayNext();  // beyond the end: as the next button
            return;
        }
        SeekTo(offsetUs <= -position ? 0 : position + offsetUs);
    });
}

void TMprisService::SetPosition(const QString& trackId, int64_t positionUs) {
    Enqueue([this, trackId, positionUs] {
        const TMprisState state = ReadMprisState(*form_);
        if (!state.canSeek || state.playbackStatus == QLatin1String("Stopped")) return;
        if (trackId != state.track.trackId) return;  // a stale request for another track
        if (positionUs < 0 || positionUs > state.track.lengthUs) return;
        SeekTo(positionUs);
    });
}

void TMprisService::OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile()) return;
    const QString path = url.toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toUpper();
    if (suffix != QLatin1String("MP3") && suffix != QLatin1String("M3U")) return;
    Enqueue([this, path, suffix] {
        TForm1& f = *form_;
        const int before = playlist_.EntryCount;
        // Appended as a drop appends, then played.
        if (suffix == QLatin1String("M3U")) {
            playlist_.ReadM3U(path);
            QDir::setCurrent(QFileInfo(path).absolutePath());  // its relative entries
        } else {
            playlist_.AddEntry(path);
        }
        if (playlist_.EntryCount <= before) return;
        f.FinishAdding(before);  // starts the list when it was empty
        if (before > 0) {
            playlist_.CurrentEntry = static_cast<int16_t>(before + 1);
            f.SelectCurrent();
            f.playfile();
        }
    });
}

void TMprisService::SetVolume(double volume) {
    if (std::isnan(volume)) return;
    const int level = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100));
    Enqueue([this, level] {
        // Through the volume bar, so that the window follows (0 at its top is loudest).
        if (form_->ExTrackBar1) {
            form_->ExTrackBar1->SetPosition(100 - level);
        } else {
            form_->MP3Player->SetVolume(level);
        }
    });
}

void TMprisService::SetLoopStatus(const QString& status) {
    int repeat = -1;
    if (status == QLatin1String("None")) repeat = 0;
    else if (status == QLatin1String("Playlist")) repeat = 1;
    if (repeat < 0) return;
    Enqueue([this, repeat] { form_->SetPlayOrder(repeat != 0, form_->Settings.RandomPlay != 0); });
}

void TMprisService::SetShuffle(bool shuffle) {
    Enqueue([this, shuffle] { form_->SetPlayOrder(form_->Settings.RepeatPlay != 0, shuffle); });
}

// The seek bar's path: seek, clear the meter history, show the new position.
void TMprisService::SeekTo(int64_t targetUs) {
    form_->MP3Player->Seek(targetUs / 1000);
    form_->ClearMeterHistory();
    form_->MP3PlayerChangePosition();
    const int64_t position = MprisPositionUs(*form_);
    emit player_->Seeked(position);
    ResetPositionWatch(ReadMprisState(*form_), position);
}

// ------------------------------------------------------------- changes

void TMprisService::CheckChanges() {
    meterTicks_ = 0;
    const TMprisState now = ReadMprisState(*form_);
    QVariantMap changed;
    if (now.playbackStatus != sent_.playbackStatus) changed.insert(QStringLiteral("PlaybackStatus"), now.playbackStatus);
    if (!(now.track == sent_.track)) changed.insert(QStringLiteral("Metadata"), MprisMetadata(now.track));
    if (now.volume != sent_.volume) changed.insert(QStringLiteral("Volume"), now.volume);
    if (now.canGoNext != sent_.canGoNext) changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    if (now.canGoPrevious != sent_.canGoPrevious) changed.insert(QStringLiteral("CanGoPrevious"), now.canGoPrevious);
    if (now.canPlay != sent_.canPlay) changed.insert(QStringLiteral("CanPlay"), now.canPlay);
    if (now.canPause != sent_.canPause) changed.insert(QStringLiteral("CanPause"), now.canPause);
    if (now.canSeek != sent_.canSeek) changed.insert(QStringLiteral("CanSeek"), now.canSeek);
    if (now.loopStatus != sent_.loopStatus) changed.insert(QStringLiteral("LoopStatus"), now.loopStatus);
    if (now.shuffle != sent_.shuffle) changed.insert(QStringLiteral("Shuffle"), now.shuffle);
    sent_ = now;
    if (!changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kMprisObjectPath),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
        connection_.send(signal);
    }

    // A seek made in the window (or anywhere but here) shows as a jump.
    const int64_t position = MprisPositionUs(*form_);
    const QString track = now.track.trackId + QLatin1Char('\n') + now.track.url;
    if (track == watchedTrack_ && now.playbackStatus == watchedStatus_ &&
        now.playbackStatus != QLatin1String("Stopped")) {
        const bool playing = now.playbackStatus == QLatin1String("Playing");
        const int64_t expected = watchedPositionUs_ + (playing ? watchClock_.elapsed() * 1000 : 0);
        if (std::llabs(position - expected) > kJumpUs) emit player_->Seeked(position);
    }
    ResetPositionWatch(now, position);
    // (Not playing, the poll may be set back behind the housekeeping tick.)
    const bool playing = now.playbackStatus == QLatin1String("Playing");
    if (poll_ && playing != (poll_->interval() == kMprisPollMs)) poll_->setInterval(playing ? kMprisPollMs : kMprisIdlePollMs);
}

void TMprisService::ResetPositionWatch(const TMprisState& state, int64_t positionUs) {
    watchedTrack_ = state.track.trackId + QLatin1Char('\n') + state.track.url;
    watchedStatus_ = state.playbackStatus;
    watchedPositionUs_ = positionUs;
    watchClock_.restart();
}

}  // namespace wl

#else  // built without Qt D-Bus

namespace wl {

std::unique_ptr<TMprisService> TMprisService::Start(TForm1*) {
    std::fprintf(stderr, "wavelantern: built without D-Bus; media keys and the sound menu are not available\n");
    return nullptr;
}

TMprisService::~TMprisService() = default;

}  // namespace wl

#endif
