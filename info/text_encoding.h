// Conversions of tag texts to the engine's UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wl {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// 8-bit text of unknown origin: kept as it is when it is already valid UTF-8,
// else read as Windows-1252.
std::string EightBitToUtf8(std::span<const uint8_t> bytes);

// Windows-1252 to UTF-8 (the five unassigned bytes map to the C1 controls).
std::string Windows1252ToUtf8(std::span<const uint8_t> bytes);

enum class TUtf16Order { LittleEndian, BigEndian };

// UTF-16 text of size div 2 code units. A leading byte-order mark decides the
// order (else `defaultOrder`) and is dropped. Unpaired surrogates become U+FFFD.
// Ends at the first zero code unit.
std::string Utf16ToUtf8(std::span<const uint8_t> bytes, TUtf16Order defaultOrder);

// Cuts at the first zero byte and strips trailing bytes up to code 32 (spaces
// and control characters).
std::string_view CutAndTrim(std::string_view bytes);
// Strips trailing bytes up to code 32.
std::string_view TrimRight(std::string_view bytes);

void AppendUtf8(std::string& out, uint32_t codePoint);

// Equal regardless of ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace wl
