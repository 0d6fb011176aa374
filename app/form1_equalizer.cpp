// Skeleton: the equalizer panel.
#include "app/form1.h"

namespace wl {

void TForm1::BuildEqualizerPanel() {}
int TForm1::RoundFreq(int f) { return f; }
TColor TForm1::BandColor(int) { return 0; }
void TForm1::ApplyEqualizer() {}
void TForm1::EqSliderChange(int) {}
void TForm1::SpeedButton16Click() {}

}  // namespace wl
