#include "info/text_encoding.h"

namespace wl {

namespace {

// 0x80..0x9F of Windows-1252; the unassigned bytes keep their C1 value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto b = static_cast<uint8_t>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

std::string Windows1252ToUtf8(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (uint8_t b : bytes) {
        if (b >= 0x80 && b < 0xA0) {
            AppendUtf8(out, kCp1252High[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

std::string EightBitToUtf8(std::span<const uint8_t> bytes) {
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (IsValidUtf8(view)) return std::string(view);
    return Windows1252ToUtf8(bytes);
}

std::string Utf16ToUtf8(std::span<const uint8_t> bytes, TUtf16Order order) {
    const size_t units = bytes.size() / 2;
    size_t i = 0;
    if (units > 0) {
        if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
            order = TUtf16Order::LittleEndian;
            i = 1;
        } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
            order = TUtf16Order::BigEndian;
            i = 1;
        }
    }
    auto unit = [&](size_t k) -> uint32_t {
        const uint8_t a = bytes[2 * k], b = bytes[2 * k + 1];
        return order == TUtf16Order::LittleEndian ? (a | (b << 8)) : ((a << 8) | b);
    };
    std::string out;
    out.reserve(units);
    for (; i < units; ++i) {
        const uint32_t u = unit(i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
    }
    return out;
}

std::string_view TrimRight(std::string_view s) {
    size_t end = s.size();
    while (end > 0 && static_cast<uint8_t>(s[end - 1]) <= 32) --end;
    return s.substr(0, end);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view CutAndTrim(std::string_view s) {
    const size_t zero = s.find('\0');
    if (zero != std::string_view::npos) s = s.substr(0, zero);
    return TrimRight(s);
}

}  // namespace wl
