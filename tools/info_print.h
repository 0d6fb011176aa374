// wl-decode --info: the wrappers, tags and tag texts of one file.
#pragma once

#include <cstdio>
#include <string>

namespace wl::tools {

// Prints what the media-information reader finds in `path` to `out`. Answers
// false (with the reason in `error`) when the file cannot be read.
bool PrintMediaInfo(const std::string& path, std::FILE* out, std::string& error);

}  // namespace wl::tools
