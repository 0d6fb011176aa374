// The ID3v1 genre table.
#pragma once

#include <string_view>

namespace wl {

// The name of a genre index; empty for indexes without a name (and outside 0..255).
std::string_view GenreName(int index);

}  // namespace wl
