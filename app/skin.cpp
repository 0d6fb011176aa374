// Skeleton: the skin pictures.
#include "app/form1.h"

namespace wl {

void TForm1::ApplySkin() {}

}  // namespace wl
