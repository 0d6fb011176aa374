// One level meter bar: 41 x 81 pixels of 0x00RRGGBB, row 1 at the bottom.
// Pure functions on a caller-owned pixel buffer, so that a meter tick draws
// without allocating.
#pragma once

#include <cstdint>

namespace wl {

inline constexpr int kVuWidth = 41;
inline constexpr int kVuHeight = 81;
inline constexpr int kVuPixels = kVuWidth * kVuHeight;

// The peak marker of one channel.
struct TPeakState {
    int Row = 0;  // 0 or 1..81
    int Age = 0;  // meter ticks since the marker was last raised, up to 81
};

// Rows the marker falls per tick at a given age: it rests for six ticks,
// then falls faster the longer it has been falling.
int PeakDecay(int age);

// Lit rows for a reading of 0..182: Round(level / 4.53) + 1 within 1..81.
int VuRows(int level);

// Updates the peak state for `level` and draws the bar into `pixels`
// (kVuPixels values, row by row from the top). `striped` dims every even row;
// `peakLevel` shows the marker.
void DrawVuBar(uint32_t* pixels, int level, TPeakState& peak, uint32_t vuColor, bool striped, bool peakLevel);

}  // namespace wl
