// Skeleton: the about panel.
#include "app/form1.h"

namespace wl {

void TForm1::BuildAboutPanel() {}
void TForm1::AboutTick() {}

}  // namespace wl
