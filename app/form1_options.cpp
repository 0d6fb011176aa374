// Skeleton: settings and the options panel.
#include "app/form1.h"

namespace wl {

void TForm1::BuildOptionsPanel() {}
void TForm1::LoadSettings() {}
void TForm1::SaveSettings() {}
void TForm1::Button1Click() {}
TColor TForm1::SwapRedBlue(TColor value) {
    return (value & 0xFF00) | ((value & 0xFF) << 16) | ((value >> 16) & 0xFF);
}
void TForm1::ApplyStayOnTop(bool) {}

}  // namespace wl
