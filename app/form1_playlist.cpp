// The playlist procedures: entries, random and sequential order, starting an
// entry (playfile), next/previous and the end-of-entry advance.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <exception>

#include "app/form1.h"
#include "app/m3u.h"
#include "app/playlist_names.h"
#include "controls/al_progress_bar.h"
#include "controls/vu_meter.h"

namespace wl {

namespace {

constexpr int kVisibleRows = 6;
constexpr int64_t kCacheLimit = 9'000'000;
constexpr TColor kTitleColor = 0xFFFF00;

}  // namespace

// ---------------------------------------------------------------- grid cells

void TForm1::SetCell(int row, int column, const QString& text) {
    if (!sg1) return;
    if (QTableWidgetItem* item = sg1->item(row, column)) {
        item->setText(text);
    } else {
        sg1->setItem(row, column, new QTableWidgetItem(text));
    }
}

// Column 0 shows the entry, column 1 (beyond the visible width) its path.
void TForm1::ShowRows(int first, int last) {
    if (!sg1) return;
    for (int r = first; r <= last; ++r) {
        SetCell(r, 0, Playlist.Label(r));
        SetCell(r, 1, Playlist.Path(r));
    }
}

// The grid keeps one row, empty, when the list is.
void TForm1::HookPlaylist() {
    Playlist.NameOf = [this](const QString& path) { return EntryName(path); };
    Playlist.OnAdded = [this](int row) {
        if (sg1) {
            sg1->setRowCount(std::max(1, Playlist.Rows()));
            ShowRows(row, row);
        }
        if (row == 0) tagScanRow_ = 0;  // a fresh list (the last row may have been removed without clearing)
        ScheduleTagScan();
    };
    Playlist.OnChanged = [this](int first, int last) {
        if (!sg1) return;
        if (first == last) {
            ShowRows(first, last);
            return;
        }
        sg1->setUpdatesEnabled(false);
        ShowRows(first, last);
        sg1->setUpdatesEnabled(true);
        sg1->viewport()->update();
    };
    Playlist.OnRemoved = [this](int first, int) {
        if (sg1) {
            sg1->setRowCount(std::max(1, Playlist.Rows()));
            ShowRows(first, Playlist.Rows() - 1);
        }
        tagScanRow_ = std::min(tagScanRow_, first);
        UpdateScrollButtons();
    };
    Playlist.OnCleared = [this] {
        if (sg1) {
            sg1->setRowCount(1);
            SetTopRow(0);
            // A cleared list keeps no path that a later play could still start.
            SetCell(0, 0, QString());
            SetCell(0, 1, QString());
        }
        UpdateScrollButtons();
        tagScanRow_ = 0;
    };
}

int TForm1::RowsBeforeAdding() const { return PlaylistEmpty() ? 0 : Playlist.Rows(); }

int TForm1::TopRow() const { return sg1 ? sg1->verticalScrollBar()->value() : 0; }

void TForm1::SetTopRow(int row) {
    if (!sg1) return;
    QScrollBar* bar = sg1->verticalScrollBar();
    // The view sets the same range once it lays itself out; set it here too so
    // that a hidden grid scrolls as well.
    bar->setRange(0, std::max(0, sg1->rowCount() - kVisibleRows));
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

void TForm1::SaveDefaultPlaylist() { Playlist.Save(DefaultPlaylistPath()); }

void TForm1::ReadM3U(const QString& path) {
    if (sg1) sg1->setUpdatesEnabled(false);
    Playlist.ReadM3U(path);
    if (sg1) sg1->setUpdatesEnabled(true);
}

// ----------------------------------------------------------- grid position

void TForm1::SelectCurrent() {
    if (CurrentEntry > 0 && EntryCount > 0 && sg1) {
        const int row = CurrentEntry - 1;
        sg1->setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        SetTopRow(row);
    }
    UpdateScrollButtons();
}

void TForm1::UpdateScrollButtons() {
    if (!sg1) return;
    const int top = TopRow();
    const bool up = top != 0;
    const bool down = top + kVisibleRows < sg1->rowCount();
    for (int i = 0; i < 3; ++i) {
        if (QToolButton* b = PlaylistButtons[6 + i]) b->setEnabled(up);
        if (QToolButton* b = PlaylistButtons[9 + i]) b->setEnabled(down);
    }
}

void TForm1::ShowEntryCounter() {
    if (Label2) Label2->setText(QString::number(CurrentEntry) + QStringLiteral(" - ") + QString::number(EntryCount));
}

// ------------------------------------------------------------ adding, removing

void TForm1::StartList() {
    ResetNotPlayed();
    CurrentEntry = Settings.RandomPlay ? PickRandom() : int16_t{1};
    SelectCurrent();
    playfile();
}

void TForm1::FinishAdding(int rowsBefore) {
    if (rowsBefore > 0 && sg1) {
        sg1->setCurrentCell(rowsBefore - 1, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        SetTopRow(rowsBefore - 1);
    } else if (rowsBefore <= 0) {
        StartList();
    }
    UpdateScrollButtons();
    ShowEntryCounter();
}

void TForm1::DropFiles(const QStringList& paths) {
    const int before = RowsBeforeAdding();
    if (paths.isEmpty()) return;
    const QString& first = paths.front();
    if (paths.size() == 1 && IsPlaylistPath(first)) {
        const QString folder = QFileInfo(first).absolutePath();
        ReadM3U(first);
        // Relative entries of the playlist play from its own folder.
        QDir::setCurrent(folder);
    } else if (!IsMp3Path(first)) {
        return;
    } else {
        for (const QString& path : paths) {
            if (IsMp3Path(path)) AddEntry(path);
        }
    }
    FinishAdding(before);
}

void TForm1::RemoveSelectedRows() {
    if (!sg1) return;
    const int rows = sg1->rowCount();
    if (rows <= 1) {
        Playlist.RemoveEntries(0, 0);
        return;
    }
    int first = -1, last = -1;
    const QList<QTableWidgetSelectionRange> ranges = sg1->selectedRanges();
    if (!ranges.isEmpty()) {
        first = ranges.front().topRow();
        last = ranges.front().bottomRow();
        for (const QTableWidgetSelectionRange& range : ranges) {
            first = std::min(first, range.topRow());
            last = std::max(last, range.bottomRow());
        }
    } else if (sg1->currentRow() >= 0) {
        first = last = sg1->currentRow();
    }
    if (first < 0 || last >= rows) return;
    Playlist.RemoveEntries(first, last);
    ShowEntryCounter();
}

// ------------------------------------------------------------------ playing

void TForm1::canta() {
    FormatTime(MP3Player->Length());
    if (Label8) Label8->setText(TimeText);
    MP3Player->Play();
    if (ALProgressBar1) ALProgressBar1->SetPosition(0);
    if (Vumeter1) Vumeter1->Start();
    ClearMeterHistory();
}

void TForm1::playfile() {
    CancelNextEntry();
    AutoAdvance = false;
    PlayingPath.clear();
    ShowEntryCounter();
    if (CurrentEntry < 1) return;
    const int16_t resumeEntry = pendingResumeEntry_;
    pendingResumeEntry_ = 0;  // only the very next start may resume

    IdleSeconds += 2;
    SetDisplayLit(true);
    ShowIndicators();
    ResetPeaks();

    const int row = CurrentEntry - 1;
    const bool rowExists = row < Playlist.Rows();
    // Entries written where case does not matter find their files here too.
    PlayingPath = rowExists ? ResolveEntryPath(Playlist.Path(row)) : QString();
    if (rowExists) Playlist.MarkPlayed(row);
    const QString fileTitle = TitleFromPath(PlayingPath);  // what the player gives for a file without title
    TitleText = rowExists ? TitleFor(Playlist.Path(row)) : fileTitle;
    ShowEntryName(row);
    DrawTitle(TitleText, false, kTitleColor);

    if (MP3Player->Status() == mpsPlaying || MP3Player->Status() == mpsPaused) {
        MP3Player->Stop();  // synchronous: stopped when it returns
    }
    MP3Player->Close();

    const QFileInfo info(PlayingPath);
    bool started = false;
    if (!PlayingPath.isEmpty() && info.exists() && info.isFile()) {
        const int64_t size = info.size();
        if (size >= 1 && size <= kCacheLimit && Settings.UseCache) {
            const QString cache = CachePath();
            // Never delete the file that is to be played.
            if (QFileInfo(cache).canonicalFilePath() != info.canonicalFilePath()) {
                if (QFile::exists(cache)) {
                    QFile::setPermissions(cache, QFile::permissions(cache) | QFileDevice::WriteOwner);
                    QFile::remove(cache);
                }
                if (QFile::copy(PlayingPath, cache)) PlayingPath = cache;
            }
        }
        try {
            MP3Player->SetFileName(PlayingPath.toUtf8().toStdString());
            HandOverNextEntry();  // before it plays: a short file may end at once
            MeterTicks = 0;
            canta();
            started = true;
            // A resumed entry that was not playing at exit goes on from where it was.
            if (resumeEntry == CurrentEntry && pendingResumeMs_ > 0) MP3Player->Seek(pendingResumeMs_);
        } catch (const std::exception& error) {
            // A file the player cannot open or play shows like a missing one.
            CancelNextEntry();
            ShowError(QString::fromUtf8(error.what()).trimmed());
            MP3Player->Close();
        }
    }

    if (started) {
        ShowStartedFile(fileTitle);
    } else {
        if (Edit7) Edit7->clear();
        if (Label6) Label6->setText(QStringLiteral("000 kbps, 00 khz"));
        ScrollOn = false;  // the name stays where it was drawn
        for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit8}) {
            if (edit) edit->clear();
        }
    }

    ShowEntryState(started);
    PumpEventsFor(300);
    AutoAdvance = true;
}

void TForm1::PlayNext() {
    SetStatePicture(TStatePicture::Next);
    PumpEventsFor(300);
    if (EntryCount < 2) return;
    if (Settings.RandomPlay) {
        CurrentEntry = PickRandom();
    } else {
        if (CurrentEntry >= EntryCount) return;
        CurrentEntry = static_cast<int16_t>(CurrentEntry + 1);
    }
    SelectCurrent();
    playfile();
}

void TForm1::PlayPrevious() {
    SetStatePicture(TStatePicture::Previous);
    PumpEventsFor(300);
    if (EntryCount < 2) return;
    if (Settings.RandomPlay) {
        CurrentEntry = PickRandom();
    } else {
        if (CurrentEntry < 2) return;
        CurrentEntry = static_cast<int16_t>(CurrentEntry - 1);
    }
    SelectCurrent();
    playfile();
}

void TForm1::EndOfEntryAdvance() {
    if (!MP3Player) return;
    const TMP3PlayerStatus status = MP3Player->Status();
    if (status == mpsPlaying || status == mpsPaused || !AutoAdvance || EntryCount <= 0) return;
    if (nextEntry_ > 0 && nextEntry_ <= EntryCount) {
        // Handed to the player but not played on into (another format): the
        // pick stands.
        CurrentEntry = nextEntry_;
        nextEntry_ = 0;
        nextWasRandomPick_ = false;
        SelectCurrent();
        playfile();
        return;
    }
    if (Settings.RandomPlay) {
        CurrentEntry = PickRandom();
        if (CurrentEntry == 0) {
            if (!Settings.RepeatPlay) return;
            ResetNotPlayed();
            CurrentEntry = PickRandom();
        }
        SelectCurrent();
        playfile();
        return;
    }
    if (CurrentEntry < EntryCount) {
        CurrentEntry = static_cast<int16_t>(std::max<int>(CurrentEntry, 0) + 1);
    } else if (Settings.RepeatPlay) {
        CurrentEntry = 1;
    } else {
        return;
    }
    SelectCurrent();
    playfile();
}

void TForm1::MP3PlayerEndPlay(TMP3EndPlayReason) {
    if (CurrentEntry != 0) return;
    SetStatePicture(TStatePicture::End);
    PumpEventsFor(300);
}

}  // namespace wl
