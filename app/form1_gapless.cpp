// Gapless advance: while an entry plays, the one its end leads to is handed
// to the player, which plays on into it without a gap when the two files
// share their format; the window then shows the new entry as playfile would,
// without stopping the sound. Files of another format, and the cache option
// (the player reads the cached copy), keep the stop-and-start of playfile.
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "app/m3u.h"
#include "app/playlist_names.h"
#include "controls/al_progress_bar.h"

namespace wl {

namespace {

constexpr TColor kTitleColor = 0xFFFF00;

}  // namespace

void TForm1::ShowStartedFile(const QString& fileTitle) {
        if (Settings.RandomPlay && CurrentEntry <= kMaxEntries) NotPlayed[CurrentEntry] = 0;
        if (Label6) Label6->setText(RateText(MP3Player->Bitrate(), MP3Player->SampleRate()));
        SetTextColor(Label9, kLampLitColor);
        SetTextColor(Label4, MP3Player->Channels() == 1 ? kUnlitColor : kLampLitColor);
        if (Edit7) Edit7->setText(FormatText(MP3Player->Version(), MP3Player->Layer(), MP3Player->Channels()));
        const std::pair<QLineEdit*, std::string> tags[] = {
            {Edit1, MP3Player->Artist()}, {Edit2, MP3Player->Title()}, {Edit4, MP3Player->Album()},
            {Edit3, MP3Player->Comment()}, {Edit5, MP3Player->Year()}, {Edit6, MP3Player->Genre()},
            {Edit8, MP3Player->Track()},
        };
        for (const auto& [edit, text] : tags) {
            if (edit) edit->setText(QString::fromStdString(text));
        }
        // The player gives the file name when there is no title.
        if (Edit2 && (Edit2->text() == QLatin1String("wl21.mp3") || Edit2->text() == fileTitle + QLatin1String(".mp3")))
            Edit2->clear();
}

void TForm1::HandOverNextEntry() {
    CancelNextEntry();
    if (!MP3Player || EntryCount <= 0 || Settings.UseCache) return;
    int16_t next = 0;
    bool randomPick = false;
    if (Settings.RandomPlay) {
        // Picked now, as the end of the entry would pick it; given back when
        // not taken. An exhausted pool is refilled only at the real end. The
        // entry now starting is no candidate, though playfile marks it as
        // played only after this.
        const bool current = CurrentEntry >= 1 && CurrentEntry <= kMaxEntries;
        const int16_t kept = current ? NotPlayed[CurrentEntry] : 0;
        if (current) NotPlayed[CurrentEntry] = 0;
        next = PickRandom();
        if (current) NotPlayed[CurrentEntry] = kept;
        randomPick = next != 0;
    } else if (CurrentEntry < EntryCount) {
        next = static_cast<int16_t>(CurrentEntry + 1);
    } else if (Settings.RepeatPlay) {
        next = 1;
    }
    if (next < 1 || next > EntryCount) return;
    const QString path = ResolveEntryPath(Playlist.Path(next - 1));
    if (path.isEmpty()) {
        if (randomPick) NotPlayed[next] = next;
        return;
    }
    nextEntry_ = next;
    nextWasRandomPick_ = randomPick;
    MP3Player->SetNextFileName(path.toUtf8().toStdString());
}

void TForm1::CancelNextEntry() {
    if (nextEntry_ == 0) return;
    if (MP3Player) MP3Player->SetNextFileName({});
    if (nextWasRandomPick_ && nextEntry_ <= kMaxEntries) NotPlayed[nextEntry_] = nextEntry_;
    nextEntry_ = 0;
    nextWasRandomPick_ = false;
}

void TForm1::MP3PlayerNextStarted() {
    const int16_t entry = nextEntry_;
    nextEntry_ = 0;
    nextWasRandomPick_ = false;
    if (entry < 1 || entry > EntryCount) return;
    CurrentEntry = entry;
    PlayingPath = QString::fromStdString(MP3Player->FileName());
    ShowEntryCounter();
    const int row = CurrentEntry - 1;
    Playlist.MarkPlayed(row);
    const QString fileTitle = TitleFromPath(PlayingPath);
    TitleText = TitleFor(Playlist.Path(row));
    ShowEntryName(row);
    DrawTitle(TitleText, false, kTitleColor);
    SetStatus(QString());
    ShowStartedFile(fileTitle);
    FormatTime(MP3Player->Length());
    if (Label8) Label8->setText(TimeText);
    if (ALProgressBar1) ALProgressBar1->SetPosition(0);
    ClearMeterHistory();
    SelectCurrent();
    HandOverNextEntry();
}

}  // namespace wl
