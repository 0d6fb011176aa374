// The order in which folder contents are listed: by name, letters compared
// without regard to case and runs of digits compared as numbers, so that
// "track2" comes before "track10" and "Beta" between "alpha" and "gamma".
#pragma once

#include <string_view>

namespace wl {

// Negative, zero or positive as `a` sorts before, with or after `b`. Names
// that differ only in case or in leading zeros still get a fixed order (by
// their bytes), so the result is zero only for equal names.
int CompareNames(std::string_view a, std::string_view b);

inline bool NameLess(std::string_view a, std::string_view b) { return CompareNames(a, b) < 0; }

}  // namespace wl
