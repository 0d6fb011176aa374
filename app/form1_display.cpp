// Skeleton: the display.
#include "app/form1.h"

namespace wl {

void TForm1::BuildDisplay() {}
void TForm1::FormatTime(int64_t) {}
void TForm1::MP3PlayerChangePosition() {}
void TForm1::Timer1Timer() {}
void TForm1::Timer3Timer() {}
void TForm1::DrawTitle(const QString&, bool, TColor) {}
void TForm1::SetStatePicture(TStatePicture) {}
void TForm1::ShowIndicators() {}
void TForm1::SetDisplayLit(bool) {}
void TForm1::ResetPeaks() {}
void TForm1::ClearMeterHistory() {}
void TForm1::ExTrackBar3Change() {}

}  // namespace wl
