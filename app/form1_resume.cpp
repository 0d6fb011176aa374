// Resume: the session's entry, position and volume kept at exit and
// restored at the next start without files.
#include <algorithm>
#include <memory>

#include "app/form1.h"
#include "controls/ex_track_bar.h"
#include "playback/list_loader.h"

namespace wl {

namespace {

constexpr TColor kTitleColor = 0xFFFF00;

}  // namespace

void TForm1::CaptureResumeState() {
    // A list still being read is completed first, so that the entry kept is
    // one of the list that is saved. The session's own list that could not
    // be read in time is not in the list: the point kept before stays.
    const bool ownListLoading = Playlist.Loader().Busy() && Playlist.Loader().Path() == DefaultPlaylistPath();
    const bool read = Playlist.Loader().Finish(TListLoader::kQuitWaitMs, !quitting_);
    const TPlayState state = Controller->State();
    // (Nor is a resume point that waits for its entry to come replaced.)
    const bool waiting = heldResumeEntry_ > 0 && CurrentEntry == 0 && state == TPlayState::Stopped;
    if ((!read && ownListLoading && PlaylistEmpty()) || waiting) {
        Extra.ResumeVolume = Controller->Volume();
        return;
    }
    const bool active = state != TPlayState::Stopped && Controller->IsOpen();
    Extra.ResumeEntry = PlaylistEmpty() ? 0 : std::clamp<int>(CurrentEntry, 0, EntryCount);
    Extra.ResumePositionMs = active && Extra.ResumeEntry > 0 ? std::max<int64_t>(0, Controller->PositionMs()) : 0;
    Extra.ResumeWasPlaying = state == TPlayState::Playing && Extra.ResumeEntry > 0;
    Extra.ResumeVolume = Controller->Volume();
    // The resumed entry has not played yet (waiting for Play, or still
    // opening, or its list still coming): its point is still the one to come
    // back to.
    if (heldResumeEntry_ > 0 && Extra.ResumeEntry == heldResumeEntry_ && !Controller->IsOpen()) {
        Extra.ResumePositionMs = heldResumeMs_;
    }
}

// The default playlist is the session's list (loaded whatever "Autoload
// playlist" says), read on a worker. A session that was playing plays on
// from where it was as soon as its entry is in; otherwise its entry is
// selected and shown and the next Play of it starts at the kept position.
// Once the user has started something meanwhile, that stands.
void TForm1::ResumeSession() {
    if (Extra.ResumeVolume >= 0 && Extra.ResumeVolume <= 100) Controller->SetVolume(Extra.ResumeVolume);  // the bar follows
    const int entry = Extra.ResumeEntry;
    const int64_t positionMs = Extra.ResumePositionMs;
    const bool wasPlaying = Extra.ResumeWasPlaying;
    // Until the list has the entry, its point is held as it was.
    if (entry > 0) {
        heldResumeEntry_ = entry;
        heldResumeMs_ = positionMs;
    }
    auto done = std::make_shared<bool>(false);
    auto resume = [this, entry, positionMs, wasPlaying] {
        ResetNotPlayed();
        CurrentEntry = entry;
        if (Settings.RandomPlay) NotPlayed[entry] = 0;
        SelectCurrent();
        Controller->SetResumePoint(entry, positionMs);
        heldResumeEntry_ = entry;
        heldResumeMs_ = positionMs;
        // Held until an entry plays or fails (then the player's position counts).
        auto release = [this] { heldResumeEntry_ = 0; };
        connect(Controller.get(), &TPlaybackController::EntryStarted, this, release, Qt::SingleShotConnection);
        connect(Controller.get(), &TPlaybackController::EntryFailed, this, release, Qt::SingleShotConnection);
        if (wasPlaying) {
            playfile();
            return;
        }
        ShowEntryCounter();
        TitleText = TitleFor(Playlist.Path(entry - 1));
        DrawTitle(TitleText, false, kTitleColor);
    };
    // Whether the user has played something since the start.
    auto userStarted = [this] { return Controller->State() != TPlayState::Stopped || CurrentEntry != 0; };
    TListLoader::TFollow follow;
    follow.Batch = [this, entry, done, resume, userStarted](int, int rows) {
        if (*done || entry < 1 || entry > rows || quitting_) return;
        *done = true;
        if (userStarted()) {
            heldResumeEntry_ = 0;
            return;
        }
        resume();
    };
    follow.Done = [this, done, userStarted](int, int) {
        if (*done || quitting_) return;
        *done = true;
        heldResumeEntry_ = 0;
        if (userStarted()) return;
        // No entry to go back to: the start-up of old for this list.
        if (EntryCount > 0 && Settings.AutoloadPlaylist) StartFirstEntry();
    };
    DrawBanner();  // until the list is in
    Playlist.Loader().Start(DefaultPlaylistPath(), TListKind::Own, TLoadMode::Replace, std::move(follow));
}

}  // namespace wl
