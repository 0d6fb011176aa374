// Resume: the session's entry, position and volume kept at exit and
// restored at the next start without files.
#include <algorithm>

#include "app/form1.h"
#include "controls/ex_track_bar.h"

namespace wl {

namespace {

constexpr TColor kTitleColor = 0xFFFF00;

}  // namespace

void TForm1::CaptureResumeState() {
    const TPlayState state = Controller->State();
    const bool active = state != TPlayState::Stopped && Controller->IsOpen();
    Extra.ResumeEntry = PlaylistEmpty() ? 0 : std::clamp<int>(CurrentEntry, 0, EntryCount);
    Extra.ResumePositionMs = active && Extra.ResumeEntry > 0 ? std::max<int64_t>(0, Controller->PositionMs()) : 0;
    Extra.ResumeWasPlaying = state == TPlayState::Playing && Extra.ResumeEntry > 0;
    Extra.ResumeVolume = Controller->Volume();
    // The resumed entry has not played yet (waiting for Play, or still
    // opening): its point is still the one to come back to.
    if (heldResumeEntry_ > 0 && Extra.ResumeEntry == heldResumeEntry_ && !Controller->IsOpen()) {
        Extra.ResumePositionMs = heldResumeMs_;
    }
}

// The default playlist is the session's list (loaded whatever "Autoload
// playlist" says). A session that was playing
// plays on from where it was; otherwise its entry is selected and shown and
// the next Play of it starts at the kept position.
void TForm1::ResumeSession() {
    if (Extra.ResumeVolume >= 0 && Extra.ResumeVolume <= 100) Controller->SetVolume(Extra.ResumeVolume);  // the bar follows
    LoadDefaultPlaylist();
    const int entry = Extra.ResumeEntry;
    if (EntryCount <= 0 || entry < 1 || entry > EntryCount) {
        // No entry to go back to: the start-up of old for this list.
        if (EntryCount > 0 && Settings.AutoloadPlaylist) {
            StartFirstEntry();
            return;
        }
        DrawBanner();
        return;
    }
    ResetNotPlayed();
    CurrentEntry = entry;
    if (Settings.RandomPlay) NotPlayed[entry] = 0;
    SelectCurrent();
    Controller->SetResumePoint(entry, Extra.ResumePositionMs);
    heldResumeEntry_ = entry;
    heldResumeMs_ = Extra.ResumePositionMs;
    // Held until an entry plays or fails (then the player's position counts).
    auto release = [this] { heldResumeEntry_ = 0; };
    connect(Controller.get(), &TPlaybackController::EntryStarted, this, release, Qt::SingleShotConnection);
    connect(Controller.get(), &TPlaybackController::EntryFailed, this, release, Qt::SingleShotConnection);
    if (Extra.ResumeWasPlaying) {
        playfile();
        return;
    }
    ShowEntryCounter();
    TitleText = TitleFor(Playlist.Path(entry - 1));
    DrawTitle(TitleText, false, kTitleColor);
}

}  // namespace wl
