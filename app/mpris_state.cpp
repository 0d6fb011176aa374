#include "app/mpris_state.h"

#include <QFileInfo>
#include <QUrl>

#include "app/form1.h"

namespace wl {

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// (Asked at every poll: the name is compared before the folder is looked up.)
bool IsCacheCopy(const TForm1& form, const QString& path) {
    if (!path.endsWith(QLatin1String("wl21.mp3"))) return false;
    return QFileInfo(path).absoluteFilePath() == QFileInfo(form.ExeFolder() + "wl21.mp3").absoluteFilePath();
}

// The current entry's path as it was added.
QString EntryPath(const PlaylistModel& playlist) { return playlist.Path(playlist.CurrentEntry - 1); }

}  // namespace

QString MprisPlaybackStatus(TMP3PlayerStatus status) {
    switch (status) {
        case mpsPlaying: return QStringLiteral("Playing");
        case mpsPaused: return QStringLiteral("Paused");
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

QString MprisSourcePath(const TForm1& form) {
    QString path = form.PlayingPath;
    if (path.isEmpty() || IsCacheCopy(form, path)) {
        const QString entry = EntryPath(form.Playlist);
        if (!entry.isEmpty()) path = entry;
    }
    if (path.isEmpty() && form.MP3Player->IsOpen()) path = Utf8(form.MP3Player->FileName());
    return path;
}

TMprisState ReadMprisState(const TForm1& form) {
    TMP3Player& player = *form.MP3Player;
    TMprisState s;
    const TMP3PlayerStatus status = player.Status();
    s.playbackStatus = MprisPlaybackStatus(status);
    s.volume = player.Volume() / 100.0;

    const bool open = player.IsOpen();
    const int64_t lengthMs = open ? player.Length() : 0;
    const QString path = MprisSourcePath(form);
    if (open || !path.isEmpty()) {
        TMprisTrack& t = s.track;
        t.trackId = MprisTrackId(form.Playlist.CurrentEntry);
        if (lengthMs > 0) t.lengthUs = lengthMs * 1000;
        if (open) {
            t.title = Utf8(player.Info().Title());
            if (const QString artist = Utf8(player.Artist()); !artist.isEmpty()) t.artist = QStringList{artist};
            t.album = Utf8(player.Album());
            if (const QString genre = Utf8(player.Genre()); !genre.isEmpty()) t.genre = QStringList{genre};
            t.trackNumber = MprisTrackNumber(Utf8(player.Track()));
        }
        // No title tag: the name the window shows (TitleText follows the
        // entry, not its cache copy), else the file's own name.
        if (t.title.isEmpty()) {
            t.title = !form.PlayingPath.isEmpty() && !form.TitleText.isEmpty() ? form.TitleText
                                                                                : QFileInfo(path).completeBaseName();
        }
        if (!path.isEmpty()) t.url = QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
    }

    const int entries = form.Playlist.EntryCount;
    const int current = form.Playlist.CurrentEntry;
    const bool random = form.Settings.RandomPlay != 0;
    // Next and previous stop at the ends of the list unless picking at random.
    s.canGoNext = entries >= 2 && (random || current < entries);
    s.canGoPrevious = entries >= 2 && (random || current >= 2);
    s.canPlay = entries > 0 || status == mpsPaused;
    s.canPause = status != mpsStopped || entries > 0;
    s.canSeek = open && lengthMs > 0;
    s.loopStatus = form.Settings.RepeatPlay != 0 ? QStringLiteral("Playlist") : QStringLiteral("None");
    s.shuffle = random;
    return s;
}

int64_t MprisPositionUs(const TForm1& form) {
    TMP3Player& player = *form.MP3Player;
    const TMP3PlayerStatus status = player.Status();
    if (status != mpsPlaying && status != mpsPaused) return 0;
    return player.Position() * 1000;
}

}  // namespace wl
