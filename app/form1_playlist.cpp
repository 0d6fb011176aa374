// Skeleton: the playlist procedures.
#include "app/form1.h"

namespace wl {

void TForm1::AddEntry(const QString&) {}
void TForm1::ClearPlaylist() {}
void TForm1::LoadDefaultPlaylist() {}
void TForm1::SaveDefaultPlaylist() {}
void TForm1::ResetNotPlayed() {}
int16_t TForm1::PickRandom() { return 0; }
void TForm1::SelectCurrent() {}
void TForm1::UpdateScrollButtons() {}
void TForm1::playfile() {}
void TForm1::canta() {}
void TForm1::FinishAdding(int) {}
void TForm1::ReadM3U(const QString&) {}
void TForm1::RemoveSelectedRows() {}
void TForm1::RemoveRows(int, int) {}
void TForm1::RenumberEntries() {}
void TForm1::PlayNext() {}
void TForm1::PlayPrevious() {}
void TForm1::Image13Click() {}
void TForm1::EndOfEntryAdvance() {}
void TForm1::MP3PlayerEndPlay(TMP3EndPlayReason) {}
void TForm1::ShowEntryCounter() {}
void TForm1::DropFiles(const QStringList&) {}

}  // namespace wl
