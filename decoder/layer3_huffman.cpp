// Layer III Huffman decoding: big values (table-driven, one peek per level)
// and the count-1 part.
#include <algorithm>
#include <cstring>

#include "decoder/decoder_state.h"
#include "decoder/simd_routines.h"
#include "decoder/tables.h"

namespace wl {

namespace {

inline int32_t EntryX(uint32_t e) { return static_cast<int32_t>((e >> 8) & 0xFF); }
inline int32_t EntryY(uint32_t e) { return static_cast<int32_t>((e >> 16) & 0xFF); }
inline int32_t EntryLen(uint32_t e) { return static_cast<int32_t>(e >> 24); }

// Walks the lookup structure to a leaf and consumes the code.
inline uint32_t LookupPair(TMainBits& b, const uint32_t* table) {
    const uint32_t* s = table;
    for (;;) {
        const int32_t n = static_cast<int32_t>(s[0] & 0xFF);
        const uint32_t e = s[1 + b.PeekBits(n)];
        const int32_t len = EntryLen(e);
        if (len != 0) {
            b.Consume(len);
            return e;
        }
        b.Consume(n);
        s += e;
    }
}

inline int32_t Signed(TMainBits& b, int32_t v) { return b.Signed(v); }

// Short cuts for the first lookup level: for each value of its peek bits,
// the pair with its signs applied and the bits taken (code and sign bits),
// when all of that lies within the peeked bits and no escape follows; 0
// otherwise. Within the peeked bits no refill can happen, so taking them at
// once leaves the reader exactly as the step-by-step decoding does. Indexed
// by the next 8 bits whatever the table's first-level width (at most 8), so
// that the peek needs no per-table shift and mask.
constexpr int32_t kFastPeekBits = 8;

struct FastPairs {
    uint32_t entry[32][256];  // bits in the low byte, x and y as signed bytes above

    FastPairs() : entry{} {
        for (int t = 0; t < 32; ++t) {
            const tables::HuffTable& h = tables::kHuffTables[t];
            if (h.method == 0 || h.lookup == nullptr) continue;
            const int32_t n = static_cast<int32_t>(h.lookup[0] & 0xFF);
            if (n > kFastPeekBits) continue;  // no short cuts: every pair walks the table
            for (uint32_t wide = 0; wide < 256; ++wide) {
                const uint32_t peek = wide >> (kFastPeekBits - n);
                const uint32_t e = h.lookup[1 + peek];
                const int32_t len = EntryLen(e);
                const int32_t x = EntryX(e), y = EntryY(e);
                if (len == 0 || (h.method == 3 && (x == 15 || y == 15))) continue;
                int32_t used = len;
                int32_t sx = x, sy = y;
                if (x != 0) {
                    if (used >= n) continue;
                    if ((peek >> (n - used - 1)) & 1) sx = -x;
                    ++used;
                }
                if (y != 0) {
                    if (used >= n) continue;
                    if ((peek >> (n - used - 1)) & 1) sy = -y;
                    ++used;
                }
                entry[t][wide] = uint32_t(used) | uint32_t(uint8_t(int8_t(sx))) << 8 |
                                 uint32_t(uint8_t(int8_t(sy))) << 16;
            }
        }
    }
};

const FastPairs kFastPairs;

// The first-level peek of a pair. The reader's position moves only when it
// refills, so the limit is checked right after a refill: a pair decoded from
// the bits already held cannot cross it. (Once past the limit the whole
// granule is cleared, so stopping before or after the pair is alike.)
inline bool PeekPair(TMainBits& b, uint32_t& peek) {
    if (b.count <= 10) {
        b.Refill();
        if (b.PastLimit()) return false;
    }
    peek = (b.acc >> (b.count - kFastPeekBits)) & ((1u << kFastPeekBits) - 1u);
    return true;
}

// Decodes count / 2 pairs into q. Works on a local copy of the reader, written
// back on return: the reader then lives in registers (stores into q could
// otherwise alias it and force reloads after every pair).
void DecodeBigValuesLocal(TMainBits& b, int32_t* q, int32_t count, int32_t tableNumber);

void DecodeBigValues(TMainBits& reader, int32_t* q, int32_t count, int32_t tableNumber) {
    TMainBits b = reader;
    DecodeBigValuesLocal(b, q, count, tableNumber);
    reader = b;
}

#if defined(WL_X86_SIMD)
__attribute__((target("bmi2"))) void DecodeBigValuesBmi2(TMainBits& reader, int32_t* q,
                                                         int32_t count, int32_t tableNumber) {
    TMainBits b = reader;
    DecodeBigValuesLocal(b, q, count, tableNumber);
    reader = b;
}
#endif

inline __attribute__((always_inline)) void DecodeBigValuesLocal(TMainBits& b, int32_t* q,
                                                                 int32_t count,
                                                                 int32_t tableNumber) {
    const tables::HuffTable& t = tables::kHuffTables[tableNumber & 31];
    if (t.method == 0 || t.lookup == nullptr) {
        std::memset(q, 0, sizeof(int32_t) * static_cast<size_t>(count));
        return;
    }
    if (b.PastLimit()) return;
    const uint32_t* fast = kFastPairs.entry[tableNumber & 31];
    uint32_t peek = 0;
    if (t.method == 3) {
        const int32_t linbits = t.linbits;
        for (int32_t i = 0; i < count; i += 2) {
            if (!PeekPair(b, peek)) return;
            const uint32_t f = fast[peek];
            if (f != 0) {
                b.Consume(static_cast<int32_t>(f & 0xFF));
                q[i] = static_cast<int8_t>(f >> 8);
                q[i + 1] = static_cast<int8_t>(f >> 16);
                continue;
            }
            const uint32_t e = LookupPair(b, t.lookup);
            int32_t x = EntryX(e);
            int32_t y = EntryY(e);
            if (x == 15) x += static_cast<int32_t>(b.GetBitsForEscape(linbits));
            q[i] = Signed(b, x);
            if (y == 15) y += static_cast<int32_t>(b.GetBitsForEscape(linbits));
            q[i + 1] = Signed(b, y);
            if (b.PastLimit()) return;
        }
        return;
    }
    for (int32_t i = 0; i < count; i += 2) {
        if (!PeekPair(b, peek)) return;
        const uint32_t f = fast[peek];
        if (f != 0) {
            b.Consume(static_cast<int32_t>(f & 0xFF));
            q[i] = static_cast<int8_t>(f >> 8);
            q[i + 1] = static_cast<int8_t>(f >> 16);
            continue;
        }
        const uint32_t e = LookupPair(b, t.lookup);
        q[i] = Signed(b, EntryX(e));
        q[i + 1] = Signed(b, EntryY(e));
        if (b.PastLimit()) return;
    }
}

// Count-1 table A with the sign bits: for each 10-bit peek (the longest code
// is 6 bits, at most 4 sign bits follow), the bits taken plus vwxy << 4, and
// the four values (as the line array holds them: one copy stores all four). After a peek at least 11 bits are held, so the signs never
// need a refill: taking all at once leaves the reader as the step-by-step
// decoding does.
struct FastQuads {
    uint8_t bitsAndVwxy[1024];
    int32_t values[1024][4];

    FastQuads() : bitsAndVwxy{}, values{} {
        for (uint32_t peek = 0; peek < 1024; ++peek) {
            const int32_t len = tables::kCount1A[peek >> 4][0];
            const int32_t vwxy = tables::kCount1A[peek >> 4][1];
            int32_t used = len;
            for (int k = 0; k < 4; ++k) {
                if (!((vwxy >> (3 - k)) & 1)) continue;
                const bool negative = (peek >> (10 - used - 1)) & 1;
                values[peek][k] = negative ? -1 : 1;
                ++used;
            }
            bitsAndVwxy[peek] = static_cast<uint8_t>(used | vwxy << 4);
        }
    }
};

const FastQuads kFastQuads;

// Count-1 quadruples from line `o`; returns the lines up to the last non-zero one.
int32_t DecodeCount1Local(TMainBits& b, int32_t* q, int32_t room, int32_t bitsLeft, bool tableB);

// On a register copy of the reader, as DecodeBigValues.
int32_t DecodeCount1(TMainBits& reader, int32_t* q, int32_t room, int32_t bitsLeft, bool tableB) {
    TMainBits b = reader;
    const int32_t lines = DecodeCount1Local(b, q, room, bitsLeft, tableB);
    reader = b;
    return lines;
}

#if defined(WL_X86_SIMD)
__attribute__((target("bmi2"))) int32_t DecodeCount1Bmi2(TMainBits& reader, int32_t* q,
                                                         int32_t room, int32_t bitsLeft,
                                                         bool tableB) {
    TMainBits b = reader;
    const int32_t lines = DecodeCount1Local(b, q, room, bitsLeft, tableB);
    reader = b;
    return lines;
}
#endif

inline __attribute__((always_inline)) int32_t DecodeCount1Local(TMainBits& b, int32_t* q,
                                                                int32_t room, int32_t bitsLeft,
                                                                bool tableB) {
    const int32_t maxQuads = room / 4;
    int32_t lastNonZero = -1;
    int32_t lastVwxy = 0;
    int32_t quads = 0;
    if (!tableB) {
        // Table A, one peek per quadruple.
        const uint8_t* info = kFastQuads.bitsAndVwxy;
        int32_t* v = q;
        while (quads < maxQuads && bitsLeft > 0 && !b.PastLimit()) {
            const uint32_t peek = b.PeekBits(10);
            const int32_t f = info[peek];
            const int32_t used = f & 15;
            b.Consume(used);
            bitsLeft -= used;
            std::memcpy(v, kFastQuads.values[peek], sizeof kFastQuads.values[peek]);
            v += 4;
            if (f >> 4) {
                lastNonZero = quads;
                lastVwxy = f >> 4;
            }
            ++quads;
        }
    } else {
        while (quads < maxQuads && bitsLeft > 3 && !b.PastLimit()) {
            const int32_t vwxy = static_cast<int32_t>(b.GetBits(4)) ^ 15;
            bitsLeft -= 4;
            int32_t* v = q + 4 * quads;
            if (vwxy == 0) {
                v[0] = v[1] = v[2] = v[3] = 0;
            } else {
                for (int k = 0; k < 4; ++k) {
                    const int32_t one = (vwxy >> (3 - k)) & 1;
                    v[k] = b.Signed(one);
                    bitsLeft -= one;
                }
                lastNonZero = quads;
                lastVwxy = vwxy;
            }
            ++quads;
        }
    }
    // Overran part2_3_length: the last quadruple is discarded. The count may
    // stay one quadruple high; those lines are zero.
    if (bitsLeft < 0 && quads > 0) {
        int32_t* v = q + 4 * (quads - 1);
        v[0] = v[1] = v[2] = v[3] = 0;
    }
    if (lastNonZero < 0) return 0;
    return (lastVwxy & 3) ? 4 * (lastNonZero + 1) : 4 * lastNonZero + 2;
}

// The big values and the count-1 part; kBmi2 takes the BMI2 builds.
template <bool kBmi2>
void DecodeLines(DecoderState& d, const GranuleInfo& gi, int32_t* q, int32_t bitStart,
                 int32_t& nonZeroCount) {
    TMainBits& b = d.mainBits;
    const int32_t o = std::min(2 * gi.big_values, d.maxLines);

    // Region boundaries from the long band table, clipped to the big-values area.
    const int32_t r1Band = std::min(gi.region0_count + 1, 22);
    const int32_t r2Band = std::min(gi.region0_count + gi.region1_count + 2, 22);
    int32_t region1 = r1Band >= 22 ? 576 : d.sfbLongEnd[r1Band - 1];
    int32_t region2 = r2Band >= 22 ? 576 : d.sfbLongEnd[r2Band - 1];
    region1 = std::min(region1, o);
    region2 = std::min(std::max(region2, region1), o);

    auto bigValues = [&](int32_t* to, int32_t count, int32_t table) {
#if defined(WL_X86_SIMD)
        if constexpr (kBmi2) {
            DecodeBigValuesBmi2(b, to, count, table);
            return;
        }
#endif
        DecodeBigValues(b, to, count, table);
    };
    bigValues(q, region1, gi.table_select[0]);
    bigValues(q + region1, region2 - region1, gi.table_select[1]);
    bigValues(q + region2, o - region2, gi.table_select[2]);

    const int32_t bitsLeft = gi.part2_3_length + bitStart - b.BitPosition();
    const bool tableB = gi.count1table_select != 0;
    int32_t c1;
#if defined(WL_X86_SIMD)
    if constexpr (kBmi2) c1 = DecodeCount1Bmi2(b, q + o, d.maxLines - o, bitsLeft, tableB);
    else
#endif
        c1 = DecodeCount1(b, q + o, d.maxLines - o, bitsLeft, tableB);
    nonZeroCount = o + c1;
}

}  // namespace

void DecodeHuffman(DecoderState& d, const GranuleInfo& gi, int32_t* q, int32_t bitStart,
                   int32_t& nonZeroCount) {
    TMainBits& b = d.mainBits;
#if defined(WL_X86_SIMD)
    if (d.chosen.hybrid == RoutineVariant::Avx2 && HasBmi2())
        DecodeLines<true>(d, gi, q, bitStart, nonZeroCount);
    else
#endif
        DecodeLines<false>(d, gi, q, bitStart, nonZeroCount);

    const int32_t cap = gi.block_type == 2 ? d.shortCap : d.longCap;
    const int32_t from = std::min(nonZeroCount, cap);
    std::memset(q + from, 0, sizeof(int32_t) * static_cast<size_t>(576 - from));
    if (b.PastLimit()) {
        std::memset(q, 0, sizeof(int32_t) * 576);
        nonZeroCount = 0;
    }
}

}  // namespace wl
