// Skeleton: the playlist panel.
#include "app/form1.h"

namespace wl {

void TForm1::BuildPlaylistPanel() {}

}  // namespace wl
