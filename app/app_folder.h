// Where the program keeps "wl.ini", the default playlist, the cache copy and
// the hand-off files.
#pragma once

#include <QString>

namespace wl {

// WAVELANTERN_HOME when set; else the executable's folder when it is
// writable; else $XDG_CONFIG_HOME/wavelantern (~/.config/wavelantern).
// Created when missing; always ends with "/".
QString AppFolder();

}  // namespace wl
