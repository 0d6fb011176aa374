// The playlist procedures (entries, the grid's rows), the transport commands
// given to the playback controller, and what its signals show.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <exception>

#include "app/form1.h"
#include "app/playlist_view.h"
#include "controls/al_progress_bar.h"
#include "controls/ex_track_bar.h"
#include "controls/vu_meter.h"
#include "playback/m3u.h"
#include "playback/cue_sheet.h"
#include "playback/list_loader.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl {

namespace {

constexpr TColor kTitleColor = 0xFFFF00;

QString SkippedLinesText(int count) {
    return count == 1 ? QStringLiteral("Skipped 1 playlist line that was too long or not text")
                      : QStringLiteral("Skipped %1 playlist lines that were too long or not text").arg(count);
}

}  // namespace

// The grid's model follows the list's rows itself (playlist_view.h); the
// window keeps its scroll keys and the tag scan in step.
void TForm1::HookPlaylist() {
    Playlist.NameOf = [this](const QString& path) { return EntryName(path); };
    connect(&Playlist, &PlaylistModel::Added, this, [this] {
        ScheduleTagScan();
        UpdateScrollButtons();
    });
    connect(&Playlist, &PlaylistModel::Removed, this, [this] {
        UpdateScrollButtons();
    });
    // Every read of a playlist file (the default playlist, an opened or
    // dropped one, a hand-off, the media controls') reports what it left out.
    // In the start's first second it follows what the start reported before
    // (damaged settings files) instead of replacing it.
    connect(&Playlist, &PlaylistModel::LinesSkipped, this, [this](const QString&, int count) {
        const QString text = SkippedLinesText(count);
        ShowError(errorShown_ && StartupTicks == 0 ? StatusText + QStringLiteral(". ") + text : text);
    });
    // A list file that could not be used, entries left out, a full list.
    connect(&Playlist, &PlaylistModel::Notice, this, [this](const QString& text) {
        ShowError(errorShown_ && StartupTicks == 0 ? StatusText + QStringLiteral(". ") + text : text);
    });
    connect(&Playlist, &PlaylistModel::Cleared, this, [this] {
        SetTopRow(0);
        UpdateScrollButtons();
    });
}

int TForm1::RowsBeforeAdding() const { return PlaylistEmpty() ? 0 : Playlist.Rows(); }

int TForm1::TopRow() const { return sg1 ? sg1->verticalScrollBar()->value() : 0; }

void TForm1::SetTopRow(int row) {
    if (!sg1) return;
    QScrollBar* bar = sg1->verticalScrollBar();
    // The view sets the same range once it lays itself out; set it here too so
    // that a hidden grid scrolls as well.
    bar->setRange(0, std::max(0, PlaylistTable->rowCount() - VisibleRows()));
    bar->setPageStep(VisibleRows());
    bar->setValue(row);
}

QString TForm1::DefaultPlaylistPath() const { return ExeFolder() + QStringLiteral("wl21.m3u"); }
QString TForm1::CachePath() const { return ExeFolder() + QStringLiteral("wl21.mp3"); }

// ------------------------------------------------------------------ entries

void TForm1::LoadDefaultPlaylist() {
    if (sg1) sg1->setUpdatesEnabled(false);
    Playlist.Load(DefaultPlaylistPath());
    if (sg1) sg1->setUpdatesEnabled(true);
}

// Through the app's writer, as the settings are, so that both fail alike.
// Files below the app folder are written relative to it, others absolute. A
// list still being read is completed first; one whose file could not be read
// in time never got into the list, which so holds what it held before.
bool TForm1::SaveDefaultPlaylist(QString* reason) {
    Playlist.Loader().Finish(TListLoader::kQuitWaitMs, !quitting_);
    QString why;
    if (WriteFileAtomically(DefaultPlaylistPath(), EncodePlaylistFor(Playlist.Entries(), ExeFolder()), &why)) return true;
    ShowError("Cannot save " + QFileInfo(DefaultPlaylistPath()).fileName() + ": " + why);
    if (reason) *reason = why;
    return false;
}

void TForm1::ReadM3U(const QString& path) {
    if (sg1) sg1->setUpdatesEnabled(false);
    Playlist.ReadM3U(path);
    if (sg1) sg1->setUpdatesEnabled(true);
}

void TForm1::ReadList(const QString& path) {
    if (sg1) sg1->setUpdatesEnabled(false);
    Playlist.ReadList(path);
    if (sg1) sg1->setUpdatesEnabled(true);
}

// ----------------------------------------------------------- grid position

// The playing entry selected and at the top, unless the user is looking
// elsewhere in the list (or a filter hides it).
void TForm1::SelectCurrent() {
    if (CurrentEntry > 0 && EntryCount > 0 && sg1 && FollowsPlaying()) {
        const int row = CurrentEntry - 1;
        if (const int shown = PlaylistTable->ViewRow(row); shown >= 0) {
            SelectListRow(row);
            SetTopRow(shown);
        }
    }
    UpdateScrollButtons();
}

void TForm1::UpdateScrollButtons() {
    if (!sg1) return;
    const int top = TopRow();
    const bool up = top != 0;
    const bool down = top + VisibleRows() < PlaylistTable->rowCount();
    for (int i = 0; i < 3; ++i) {
        if (QToolButton* b = PlaylistButtons[6 + i]) b->setEnabled(up);
        if (QToolButton* b = PlaylistButtons[9 + i]) b->setEnabled(down);
    }
}

void TForm1::ShowEntryCounter() {
    if (Label2) Label2->setText(QString::number(CurrentEntry) + QStringLiteral(" - ") + QString::number(EntryCount));
}

// ------------------------------------------------------------ adding, removing

void TForm1::FinishAdding(int rowsBefore) {
    if (rowsBefore > 0 && sg1) {
        SelectListRow(rowsBefore - 1);
        if (const int shown = PlaylistTable->ViewRow(rowsBefore - 1); shown >= 0) SetTopRow(shown);
    } else if (rowsBefore <= 0) {
        StartFirstEntry();
    }
    UpdateScrollButtons();
    ShowEntryCounter();
}

void TForm1::DropFiles(const QStringList& paths) {
    const int before = RowsBeforeAdding();
    if (paths.isEmpty()) return;
    const QString& first = paths.front();
    if (!IsStreamUrl(first) && QFileInfo(first).isDir()) {
        DropFolders(paths);
        return;
    }
    if (paths.size() == 1 && IsListFilePath(first) && !IsStreamUrl(first)) {
        // Read on a worker (its relative entries name files beside it) and
        // appended as it comes; a fresh list starts once its first entries are in.
        auto finish = [this, before] {
            if (!quitting_) FinishAdding(before);
        };
        Playlist.Loader().Start(first, TListKind::Any, TLoadMode::Append,
                                before > 0 ? TListLoader::TFollow{{}, [finish](int, int) { finish(); }}
                                           : TListLoader::StartOnce(finish, Controller->Options().Random));
        return;
    } else if (!PlaylistModel::Playable(first)) {
        return;
    } else {
        // Files and stream URLs (dragged from a browser).
        for (const QString& path : paths) AddEntry(path);
    }
    FinishAdding(before);
}

// The selected rows (else the current one); a filtered grid's rows may lie
// apart in the list: each goes on its own, from the last.
void TForm1::RemoveSelectedRows() {
    if (!sg1) return;
    if (Playlist.Rows() <= 1) {
        Playlist.RemoveEntries(0, 0);
        return;
    }
    const QItemSelection selection = sg1->selectionModel()->selection();
    if (!PlaylistTable->Filtered()) {
        // One contiguous selection, else the current row.
        int first = -1, last = -1;
        for (const QItemSelectionRange& range : selection) {
            first = first < 0 ? range.top() : std::min(first, range.top());
            last = std::max(last, range.bottom());
        }
        if (first < 0) first = last = CurrentListRow();
        if (first < 0 || last >= Playlist.Rows()) return;
        Playlist.RemoveEntries(first, last);
    } else {
        std::vector<int> rows;
        for (const QItemSelectionRange& range : selection) {
            for (int r = range.top(); r <= range.bottom(); ++r) {
                if (const int row = PlaylistTable->ModelRow(r); row >= 0) rows.push_back(row);
            }
        }
        if (rows.empty() && CurrentListRow() >= 0) rows.push_back(CurrentListRow());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        // Runs of neighbouring rows go together.
        for (size_t end = rows.size(); end > 0;) {
            size_t begin = end - 1;
            while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
            Playlist.RemoveEntries(rows[begin], rows[end - 1]);
            end = begin;
        }
    }
    ShowEntryCounter();
}

// Dropped folders are added one after another on the worker (their files
// appended as they are found); files dropped with them are added at once.
void TForm1::DropFolders(const QStringList& paths) {
    const int before = RowsBeforeAdding();
    int files = 0;
    for (const QString& path : paths) {
        if (!IsStreamUrl(path) && QFileInfo(path).isDir()) {
            pendingFolders_.append(path);
        } else if (PlaylistModel::Playable(path)) {
            files += Playlist.AddEntry(path) ? 1 : 0;
        }
    }
    if (files > 0) FinishAdding(before);
    if (!FolderAdding() && !pendingFolders_.isEmpty()) AddFolderTree(pendingFolders_.takeFirst());
}

// ------------------------------------------------------------------ playing

void TForm1::playfile() { Controller->PlayEntry(CurrentEntry); }

void TForm1::PlayNext() { Controller->Next(); }

void TForm1::PlayPrevious() { Controller->Previous(); }

void TForm1::HookController() {
    TPlaybackController* c = Controller.get();
    connect(c, &TPlaybackController::EntryStarting, this, [this](int entry) { ShowEntryStarting(entry); });
    connect(c, &TPlaybackController::EntryStarted, this, [this](int, bool gapless) { ShowEntryStarted(gapless); });
    connect(c, &TPlaybackController::EntryFailed, this, [this] { ShowEntryFailed(); });
    connect(c, &TPlaybackController::StateChanged, this,
            [this](TPlayState state, TStopCause cause) { ShowPlayState(state, cause); });
    connect(c, &TPlaybackController::PositionChanged, this,
            [this](qint64 position, qint64 length) { MP3PlayerChangePosition(position, length); });
    connect(c, &TPlaybackController::StepShown, this, [this](TStep step) {
        SetStatePicture(step == TStep::Next ? TStatePicture::Next : TStatePicture::Previous);
    });
    connect(c, &TPlaybackController::Error, this, [this](const QString& text) { ShowError(text); });
    connect(c, &TPlaybackController::OutputStateChanged, this, [this](bool waiting, const QString& text) {
        if (waiting) {
            ShowError(kSoundServerLost);
        } else if (text.isEmpty()) {
            SetStatus(QStringLiteral("Sound server back"));
        } else {
            SetStatus(text.left(1).toUpper() + text.mid(1));
        }
    });
    connect(c, &TPlaybackController::LiveStatus, this, [this](const QString& text) {
        SetStatus(text.isEmpty() ? QStringLiteral("Playing") : text);
    });
    connect(c, &TPlaybackController::MetadataChanged, this, [this] {
        if (Controller->IsOpen() && Controller->Facts().Live) ShowLiveTitle();
    });
    connect(c, &TPlaybackController::VolumeChanged, this, [this](int volume) {
        if (!ExTrackBar1 || ExTrackBar1->Position() == 100 - volume) return;
        // The bar follows a change made elsewhere without announcing it again.
        auto onChange = std::move(ExTrackBar1->OnChange);
        ExTrackBar1->OnChange = nullptr;
        ExTrackBar1->SetPosition(100 - volume);
        ExTrackBar1->OnChange = std::move(onChange);
    });
    connect(c, &TPlaybackController::PlayOrderChanged, this, [this](bool random, bool repeat) {
        if ((Settings.RandomPlay != 0) == random && (Settings.RepeatPlay != 0) == repeat) return;
        Settings.RepeatPlay = repeat ? 1 : 0;
        Settings.RandomPlay = random ? 1 : 0;
        CheckBox2->setChecked(repeat);
        CheckBox6->setChecked(random);
        ShowIndicators();
    });
}

void TForm1::ShowEntryStarting(int entry) {
    ShowEntryCounter();
    if (entry < 1) return;
    IdleSeconds += 2;
    SetDisplayLit(true);
    ShowIndicators();
    ResetPeaks();
    ShowEntryTitle(entry);
}

void TForm1::ShowEntryTitle(int entry) {
    ShowEntryCounter();
    const int row = entry - 1;
    const TPlaylistEntry item = Playlist.Entry(row);
    // A station shows the title its list gave it until it tells its own.
    TitleText = row >= Playlist.Rows()                                   ? QString()
                : IsStreamUrl(item.Path) && !item.Meta.Title.isEmpty() ? item.Meta.Title
                                                                         : TitleFor(item.Path);
    ShowEntryName(row);
    DrawTitle(TitleText, false, kTitleColor);
    SelectCurrent();
}

void TForm1::ShowEntryStarted(bool gapless) {
    // Played on into without a stop: the title changes only now.
    if (gapless) ShowEntryTitle(CurrentEntry);
    const TEntryFacts& facts = Controller->Facts();
    if (!gapless) MeterTicks = 0;
    FormatTime(facts.LengthMs);
    if (Label8) Label8->setText(TimeText);
    if (ALProgressBar1) {
        ALProgressBar1->SetPosition(0);
        // A station has no length to seek in: the clock shows the time heard.
        ALProgressBar1->setEnabled(!facts.Live);
    }
    if (Vumeter1 && !gapless) Vumeter1->Start();
    ClearMeterHistory();
    ShowStartedFile(facts);
    SetStatePicture(Controller->State() == TPlayState::Paused ? TStatePicture::Pause : TStatePicture::Play);
    WakeMeterTick();
}

void TForm1::ShowStartedFile(const TEntryFacts& facts) {
    if (Label6) Label6->setText(RateText(facts.Bitrate, facts.SampleRate));
    SetTextColor(Label9, kLampLitColor);
    SetTextColor(Label4, facts.Channels == 1 ? kUnlitColor : kLampLitColor);
    if (Edit7) Edit7->setText(FormatText(facts.Version, facts.Layer, facts.Channels));
    const std::pair<QLineEdit*, const QString*> tags[] = {
        {Edit1, &facts.Artist}, {Edit2, &facts.Title}, {Edit4, &facts.Album}, {Edit3, &facts.Comment},
        {Edit5, &facts.Year},   {Edit6, &facts.Genre}, {Edit8, &facts.Track},
    };
    for (const auto& [edit, text] : tags) {
        if (edit) edit->setText(*text);
    }
    ShowArtOf(facts);
    // The player gives the file name when there is no title.
    const QString fileTitle = TitleFromPath(facts.Source);
    if (Edit2 && (Edit2->text() == QLatin1String("wl21.mp3") || Edit2->text() == fileTitle + QLatin1String(".mp3")))
        Edit2->clear();
}

// A station's title as it is heard: in the title strip (and so the
// screensaver) and the tag panel.
void TForm1::ShowLiveTitle() {
    const TEntryFacts& facts = Controller->Facts();
    if (facts.Title != TitleText) {
        TitleText = facts.Title;
        DrawTitle(TitleText, false, kTitleColor);
    }
    if (Edit1) Edit1->setText(facts.Artist);
    if (Edit2) Edit2->setText(facts.TagTitle);
    if (Edit4) Edit4->setText(facts.Album);
}

// An entry that did not start: nothing of the one before stays on show.
void TForm1::ShowEntryFailed() {
    if (Edit7) Edit7->clear();
    if (Label6) Label6->setText(QStringLiteral("000 kbps, 00 khz"));
    ScrollOn = false;  // the name stays where it was drawn
    for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit8}) {
        if (edit) edit->clear();
    }
    ShowArtOf({});
    ShowEntryState(false);
}

void TForm1::ShowPlayState(TPlayState state, TStopCause cause) {
    switch (state) {
    case TPlayState::Playing:
        if (Controller->IsOpen()) SetStatePicture(TStatePicture::Play);
        WakeMeterTick();
        break;
    case TPlayState::Paused:
        SetStatePicture(TStatePicture::Pause);
        break;
    case TPlayState::Stopped:
        ShowSelectedEntry();
        if (cause == TStopCause::Command) {
            SetStatePicture(TStatePicture::Stop);
            if (Vumeter1) Vumeter1->Stop();
        } else if (cause == TStopCause::EndOfList) {
            SetStatePicture(TStatePicture::End);  // nothing followed the entry
        }
        WakeMeterTick();
        break;
    }
}

}  // namespace wl
