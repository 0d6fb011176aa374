#include "app/mpris_adaptors.h"

#include "app/mpris.h"

namespace wl {

QVariantMap MprisMetadata(const TMprisTrack& track) {
    QVariantMap m;
    if (track.trackId.isEmpty()) return m;
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track.trackId)));
    if (track.lengthUs > 0) m.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong{track.lengthUs}));
    if (!track.title.isEmpty()) m.insert(QStringLiteral("xesam:title"), track.title);
    if (!track.artist.isEmpty()) m.insert(QStringLiteral("xesam:artist"), track.artist);
    if (!track.album.isEmpty()) m.insert(QStringLiteral("xesam:album"), track.album);
    if (!track.genre.isEmpty()) m.insert(QStringLiteral("xesam:genre"), track.genre);
    if (track.trackNumber > 0) m.insert(QStringLiteral("xesam:trackNumber"), track.trackNumber);
    if (!track.url.isEmpty()) m.insert(QStringLiteral("xesam:url"), track.url);
    if (!track.artUrl.isEmpty()) m.insert(QStringLiteral("mpris:artUrl"), track.artUrl);
    return m;
}

// ---------------------------------------------------------------- root

TMprisRootAdaptor::TMprisRootAdaptor(QObject* object, TMprisService* service)
    : QDBusAbstractAdaptor(object), service_(service) {}

QString TMprisRootAdaptor::Identity() const { return QStringLiteral("Wavelantern"); }
QString TMprisRootAdaptor::DesktopEntry() const { return QString::fromLatin1(kMprisDesktopEntry); }
// What OpenUri takes: files, streams and station lists.
QStringList TMprisRootAdaptor::SupportedUriSchemes() const {
    return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https")};
}
QStringList TMprisRootAdaptor::SupportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"),    QStringLiteral("audio/x-mpegurl"),     QStringLiteral("audio/mpegurl"),
            QStringLiteral("audio/x-scpls"), QStringLiteral("application/xspf+xml")};
}
void TMprisRootAdaptor::Raise() { service_->Raise(); }
void TMprisRootAdaptor::Quit() { service_->Quit(); }

// -------------------------------------------------------------- player

TMprisPlayerAdaptor::TMprisPlayerAdaptor(QObject* object, TMprisService* service)
    : QDBusAbstractAdaptor(object), service_(service) {}

TMprisState TMprisPlayerAdaptor::State() const { return ReadMprisState(service_->Controller()); }

QString TMprisPlayerAdaptor::PlaybackStatus() const { return State().playbackStatus; }
QVariantMap TMprisPlayerAdaptor::Metadata() const { return MprisMetadata(State().track); }
double TMprisPlayerAdaptor::Volume() const { return State().volume; }
void TMprisPlayerAdaptor::SetVolume(double volume) { service_->SetVolume(volume); }
qlonglong TMprisPlayerAdaptor::Position() const { return MprisPositionUs(service_->Controller()); }
bool TMprisPlayerAdaptor::CanGoNext() const { return State().canGoNext; }
bool TMprisPlayerAdaptor::CanGoPrevious() const { return State().canGoPrevious; }
bool TMprisPlayerAdaptor::CanPlay() const { return State().canPlay; }
bool TMprisPlayerAdaptor::CanPause() const { return State().canPause; }
bool TMprisPlayerAdaptor::CanSeek() const { return State().canSeek; }
QString TMprisPlayerAdaptor::LoopStatus() const { return State().loopStatus; }
void TMprisPlayerAdaptor::SetLoopStatus(const QString& status) { service_->SetLoopStatus(status); }
bool TMprisPlayerAdaptor::Shuffle() const { return State().shuffle; }
void TMprisPlayerAdaptor::SetShuffle(bool shuffle) { service_->SetShuffle(shuffle); }

void TMprisPlayerAdaptor::Next() { service_->Next(); }
void TMprisPlayerAdaptor::Previous() { service_->Previous(); }
void TMprisPlayerAdaptor::Pause() { service_->Pause(); }
void TMprisPlayerAdaptor::PlayPause() { service_->PlayPause(); }
void TMprisPlayerAdaptor::Stop() { service_->Stop(); }
void TMprisPlayerAdaptor::Play() { service_->Play(); }
void TMprisPlayerAdaptor::Seek(qlonglong Offset) { service_->Seek(Offset); }
void TMprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    service_->SetPosition(TrackId.path(), Position);
}
void TMprisPlayerAdaptor::OpenUri(const QString& Uri) { service_->OpenUri(Uri); }

}  // namespace wl
