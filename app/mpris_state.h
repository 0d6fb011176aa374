// What the desktop's media controls show of the player, read from the
// playback controller: playback status, the current track, volume and which
// controls make sense now. Kept free of D-Bus so that it can be read and
// compared on its own.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "playback/playback_controller.h"

namespace wl {

// The current entry; empty trackId when there is none.
struct TMprisTrack {
    QString trackId;       // an object path naming the entry
    int64_t lengthUs = 0;  // 0: unknown
    QString title;
    QStringList artist;
    QString album;
    QStringList genre;
    int trackNumber = 0;  // 0: none
    QString url;          // file:// URL
    QString artUrl;       // file:// URL of the cover art's picture; empty when none
    bool operator==(const TMprisTrack&) const = default;
};

struct TMprisState {
    QString playbackStatus;  // "Playing", "Paused" or "Stopped"
    TMprisTrack track;
    double volume = 0;  // 0..1
    bool canGoNext = false;
    bool canGoPrevious = false;
    bool canPlay = false;
    bool canPause = false;
    bool canSeek = false;
    QString loopStatus;    // "None" or "Playlist" (the repeat option)
    bool shuffle = false;  // the random option
    bool operator==(const TMprisState&) const = default;
};

QString MprisPlaybackStatus(TPlayState state);
// "/org/wavelantern/track/N".
QString MprisTrackId(int entry);
// The leading number of a track tag such as "7" or "07/12"; 0 when there is none.
int MprisTrackNumber(const QString& track);

TMprisState ReadMprisState(const TPlaybackController& controller);
// The current position in microseconds: 0 unless playing or paused.
int64_t MprisPositionUs(const TPlaybackController& controller);

}  // namespace wl
