#include "app/vu_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wl {

int PeakDecay(int age) {
    if (age <= 5) return 0;
    if (age <= 8) return 1;
    if (age <= 11) return 2;
    return 4;
}

int VuRows(int level) {
    // nearbyint rounds half to even in the default rounding mode.
    const int n = static_cast<int>(std::nearbyint(level / 4.53)) + 1;
    return std::clamp(n, 1, kVuHeight);
}

void DrawVuBar(uint32_t* pixels, int level, TPeakState& peak, uint32_t vuColor, bool striped, bool peakLevel) {
    const int n = VuRows(level);
    if (n > peak.Row) {
        peak.Row = n;
        peak.Age = 0;
    } else {
        const int d = PeakDecay(peak.Age);
        if (d < peak.Row) peak.Row -= d;
        else peak.Row = 1;
        if (peak.Age <= 80) ++peak.Age;
    }

    const uint32_t grille = vuColor >> 2;
    for (int row = 1; row <= kVuHeight; ++row) {
        uint32_t c = 0;
        if (n > 1 && row <= n) {
            c = (row % 2 == 1 || !striped) ? vuColor : vuColor >> 1;
            if (row > 60) c += 0x141414;
        }
        uint32_t* line = pixels + static_cast<size_t>(kVuHeight - row) * kVuWidth;
        if (c != 0) {
            // Brightest in column 20, darker to both sides (unsigned wrap
            // as on the 32-bit value).
            for (int x = 1; x <= kVuWidth; ++x) {
                const int shade = (15 - std::abs(20 - x)) * 2;
                line[x - 1] = c + static_cast<uint32_t>(shade) * 0x010101u;
            }
        } else {
            const uint32_t dark = row % 2 == 1 ? grille : 0;
            std::fill(line, line + kVuWidth, dark);
        }
        line[0] = grille;
        line[kVuWidth - 1] = grille;
    }

    if (peakLevel && peak.Row > n) {
        uint32_t* line = pixels + static_cast<size_t>(kVuHeight - peak.Row) * kVuWidth;
        std::fill(line + 1, line + kVuWidth - 1, vuColor + 0x141414);
    }
}

}  // namespace wl
