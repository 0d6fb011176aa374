// Skeleton: the tag panel.
#include "app/form1.h"

namespace wl {

void TForm1::BuildTagPanel() {}

}  // namespace wl
