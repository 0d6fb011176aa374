#include "app/mpris_state.h"

#include <QFileInfo>
#include <QUrl>

namespace wl {

QString MprisPlaybackStatus(TPlayState state) {
    switch (state) {
        case TPlayState::Playing: return QStringLiteral("Playing");
        case TPlayState::Paused: return QStringLiteral("Paused");
        default: return QStringLiteral("Stopped");
    }
}

QString MprisTrackId(int entry) { return QStringLiteral("/org/wavelantern/track/") + QString::number(entry < 0 ? 0 : entry); }

int MprisTrackNumber(const QString& track) {
    const QString text = track.trimmed();
    qsizetype digits = 0;
    while (digits < text.size() && digits < 6 && text[digits].isDigit()) ++digits;
    return digits == 0 ? 0 : text.left(digits).toInt();
}

TMprisState ReadMprisState(const TPlaybackController& c) {
    TMprisState s;
    const TPlayState state = c.State();
    s.playbackStatus = MprisPlaybackStatus(state);
    s.volume = c.Volume() / 100.0;

    const TTrackInfo info = c.Track();
    if (info.Entry > 0) {
        TMprisTrack& t = s.track;
        t.trackId = MprisTrackId(info.Entry);
        t.lengthUs = info.LengthMs * 1000;
        t.title = info.Title;
        if (!info.Artist.isEmpty()) t.artist = QStringList{info.Artist};
        t.album = info.Album;
        if (!info.Genre.isEmpty()) t.genre = QStringList{info.Genre};
        t.trackNumber = MprisTrackNumber(info.Track);
        if (!info.ArtPath.isEmpty()) t.artUrl = QString::fromLatin1(QUrl::fromLocalFile(info.ArtPath).toEncoded());
        if (!info.Source.isEmpty()) {
            t.url = IsStreamUrl(info.Source)
                        ? QString::fromLatin1(QUrl(info.Source).toEncoded())
                        : QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(info.Source).absoluteFilePath()).toEncoded());
        }
    }

    const PlaylistModel& list = c.Playlist();
    const int entries = list.EntryCount;
    const int current = list.CurrentEntry;
    const bool random = c.Options().Random;
    // Next and previous stop at the ends of the list unless picking at random.
    s.canGoNext = entries >= 2 && (random || current < entries);
    s.canGoPrevious = entries >= 2 && (random || current >= 2);
    s.canPlay = entries > 0 || state == TPlayState::Paused;
    s.canPause = state != TPlayState::Stopped || entries > 0;
    s.canSeek = info.Entry > 0 && c.IsOpen() && c.LengthMs() > 0;
    s.loopStatus = c.Options().Repeat ? QStringLiteral("Playlist") : QStringLiteral("None");
    s.shuffle = random;
    return s;
}

int64_t MprisPositionUs(const TPlaybackController& c) {
    if (c.State() == TPlayState::Stopped) return 0;
    return c.PositionMs() * 1000;
}

}  // namespace wl
