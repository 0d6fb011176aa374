#include "controls/name_order.h"

#include <cstddef>

namespace wl {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

unsigned char Fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Whole digit runs as numbers: skip leading zeros, then the longer
            // run is the larger number, else the first differing digit decides.
            size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            const size_t li = ei - si, lj = ej - sj;
            if (li != lj) return li < lj ? -1 : 1;
            for (size_t k = 0; k < li; ++k) {
                if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k] ? -1 : 1;
            }
            i = ei;
            j = ej;
            continue;
        }
        const unsigned char ca = Fold(a[i]), cb = Fold(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    // Equal but for case or leading zeros: the bytes decide.
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace wl
