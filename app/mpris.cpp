#include "app/mpris.h"

#include <cstdio>

#if WL_HAVE_DBUS

#include <QDBusMessage>
#include <QObject>
#include <QUrl>

#include <algorithm>
#include <cmath>

#include "app/mpris_adaptors.h"
#include "playback/cue_sheet.h"
#include "playback/list_loader.h"
#include "playback/playback_controller.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl {

namespace {

void SayUnavailable(const char* why) {
    std::fprintf(stderr, "wavelantern: %s; media keys and the sound menu are not available\n", why);
}

}  // namespace

std::unique_ptr<TMprisService> TMprisService::Start(TPlaybackController* controller, TMprisWindow window,
                                                    QDBusConnection connection) {
    if (!controller) return nullptr;
    if (!connection.isConnected()) {
        SayUnavailable("no D-Bus session bus");
        return nullptr;
    }
    std::unique_ptr<TMprisService> service(new TMprisService(controller, std::move(window), connection));
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

TMprisService::TMprisService(TPlaybackController* controller, TMprisWindow window, QDBusConnection connection)
    : controller_(controller),
      window_(std::move(window)),
      connection_(std::move(connection)),
      object_(std::make_unique<QObject>()) {
    new TMprisRootAdaptor(object_.get(), this);
    player_ = new TMprisPlayerAdaptor(object_.get(), this);
    sent_ = ReadMprisState(*controller_);

    // Whatever the controller or its list changes may change what is shown.
    QObject* context = object_.get();
    const auto check = [this] { ScheduleCheck(); };
    QObject::connect(controller_, &TPlaybackController::StateChanged, context, check);
    QObject::connect(controller_, &TPlaybackController::EntryStarting, context, check);
    QObject::connect(controller_, &TPlaybackController::EntryStarted, context, check);
    QObject::connect(controller_, &TPlaybackController::EntryFailed, context, check);
    QObject::connect(controller_, &TPlaybackController::MetadataChanged, context, check);
    QObject::connect(controller_, &TPlaybackController::VolumeChanged, context, check);
    QObject::connect(controller_, &TPlaybackController::PlayOrderChanged, context, check);
    const PlaylistModel* list = &controller_->Playlist();
    QObject::connect(list, &PlaylistModel::Added, context, check);
    QObject::connect(list, &PlaylistModel::Removed, context, check);
    QObject::connect(list, &PlaylistModel::Cleared, context, check);
    QObject::connect(controller_, &TPlaybackController::Seeked, context, [this](qint64 positionMs) {
        CheckChanges();
        emit player_->Seeked(positionMs * 1000);
    });
}

TMprisService::~TMprisService() {
    if (registered_) {
        connection_.unregisterService(QString::fromLatin1(kMprisServiceName));
        connection_.unregisterObject(QString::fromLatin1(kMprisObjectPath));
    }
    object_.reset();
}

// ---------------------------------------------------------- the methods

void TMprisService::Raise() {
    if (window_.Raise) window_.Raise();
}

void TMprisService::Quit() {
    // After the reply: quitting ends the event loop that sends it.
    if (window_.Quit) QMetaObject::invokeMethod(object_.get(), window_.Quit, Qt::QueuedConnection);
}

void TMprisService::Play() { controller_->Play(); }

void TMprisService::Pause() {
    if (controller_->State() == TPlayState::Playing) controller_->Pause();
}

void TMprisService::PlayPause() { controller_->PlayPause(); }
void TMprisService::Stop() { controller_->Stop(); }
void TMprisService::Next() { controller_->Next(); }
void TMprisService::Previous() { controller_->Previous(); }

void TMprisService::Seek(int64_t offsetUs) {
    const TMprisState state = ReadMprisState(*controller_);
    if (!state.canSeek || state.playbackStatus == QLatin1String("Stopped")) return;
    const int64_t position = MprisPositionUs(*controller_);
    const int64_t length = state.track.lengthUs;
    // Compared without adding, so that no offset can overflow.
    if (offsetUs > 0 && offsetUs > length - position) {
        controller_->Next();  // beyond the end: as the next button
        return;
    }
    controller_->Seek((offsetUs <= -position ? 0 : position + offsetUs) / 1000);
}

void TMprisService::SetPosition(const QString& trackId, int64_t positionUs) {
    const TMprisState state = ReadMprisState(*controller_);
    if (!state.canSeek || state.playbackStatus == QLatin1String("Stopped")) return;
    if (trackId != state.track.trackId) return;  // a stale request for another track
    if (positionUs < 0 || positionUs > state.track.lengthUs) return;
    controller_->Seek(positionUs / 1000);
}

void TMprisService::OpenUri(const QString& uri) {
    PlaylistModel& list = controller_->Playlist();
    const int before = list.Empty() ? 0 : list.EntryCount;
    const auto play = [this, before] {
        if (before == 0) {
            controller_->StartList();
        } else {
            controller_->PlayEntry(before + 1);
        }
    };
    // Appended as a drop appends, then played.
    if (IsStreamUrl(uri)) {
        // A stream, or a station list's URL that playing it expands.
        if (!StreamUrlProblem(uri).isEmpty()) return;
        list.AddEntry(uri);
    } else {
        const QUrl url(uri);
        if (!url.isLocalFile()) return;
        const QString path = url.toLocalFile();
        if (IsListFilePath(path)) {
            // Read on a worker (its relative entries name files beside it),
            // appended, and its first entry played once all are in.
            TListLoader::TFollow follow;
            follow.Done = [play](int, int added) {
                if (added > 0) play();
            };
            list.Loader().Start(path, TListKind::Any, TLoadMode::Append, std::move(follow));
            return;
        } else if (IsMp3Path(path)) {
            list.AddEntry(path);
        } else {
            return;
        }
    }
    if (list.EntryCount <= before) return;
    play();
}

void TMprisService::SetVolume(double volume) {
    if (std::isnan(volume)) return;
    controller_->SetVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

void TMprisService::SetLoopStatus(const QString& status) {
    if (status != QLatin1String("None") && status != QLatin1String("Playlist")) return;
    controller_->SetPlayOrder(controller_->Options().Random, status == QLatin1String("Playlist"));
}

void TMprisService::SetShuffle(bool shuffle) { controller_->SetPlayOrder(shuffle, controller_->Options().Repeat); }

// ------------------------------------------------------------- changes

void TMprisService::ScheduleCheck() {
    if (checkScheduled_) return;
    checkScheduled_ = true;
    QMetaObject::invokeMethod(object_.get(), [this] { CheckChanges(); }, Qt::QueuedConnection);
}

void TMprisService::CheckChanges() {
    checkScheduled_ = false;
    const TMprisState now = ReadMprisState(*controller_);
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
    if (changed.isEmpty()) return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kMprisObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    connection_.send(signal);
}

}  // namespace wl

#else  // built without Qt D-Bus

namespace wl {

std::unique_ptr<TMprisService> TMprisService::Start(TPlaybackController*, TMprisWindow) {
    std::fprintf(stderr, "wavelantern: built without D-Bus; media keys and the sound menu are not available\n");
    return nullptr;
}

TMprisService::~TMprisService() = default;

}  // namespace wl

#endif
