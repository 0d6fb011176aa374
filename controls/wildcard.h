// Name and path patterns of the folder search, compared without regard to
// case ("*.mp3" finds "Song.MP3"). Paths use "/" as separator.
#pragma once

#include <string>

namespace wl {

// Enumeration mask: "*" any run of characters, "?" any one character; a
// trailing "." or ".*" also matches a name without extension, so "*.*"
// matches every name and "readme.*" matches "readme".
bool MatchesMask(const std::string& name, const std::string& mask);

// Exclusion pattern: both are split into folder part (up to and including the
// last "/") and name part. A pattern with a folder part matches only paths
// whose folder ends with it exactly (no wildcards there); a pattern beginning
// with a drive ("X:") needs the path's drive, "*:" or "?:" any drive. The name
// parts are compared with the extension-aware walk: "?" never matches ".", and
// a "*" facing a "." in the name skips to the pattern's next ".".
bool MatchesPathPattern(const std::string& path, const std::string& pattern);

}  // namespace wl
