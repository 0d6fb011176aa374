// Layer II decoding (MPEG-1 and LSF): allocation by table rows, joint-stereo
// sharing, scfsi, grouped and ungrouped samples, skipping above the band limit.
#include <algorithm>
#include <bit>
#include <cstring>

#include "decoder/layer12_common.h"
#include "decoder/simd_routines.h"
#include "decoder/tables.h"

namespace wl {

namespace {

constexpr int32_t kFieldBits[4] = {4, 4, 3, 2};
// Scale factors read per scfsi code.
constexpr int32_t kScaleFactorCount[4] = {3, 2, 1, 2};

// How the samples of a class are read (see EntryRead).
struct ClassRead {
    int32_t bits;
    int32_t offset;
    const float (*degroup)[3];  // nullptr: ungrouped
};

struct Layer2Tables {
    float classFactor[18];
    float degroup3[32][3];
    float degroup5[128][3];
    float degroup9[1024][3];
};

const Layer2Tables& Tables() {
    static const Layer2Tables t = [] {
        Layer2Tables x{};
        for (int c = 1; c < 18; ++c)
            x.classFactor[c] = static_cast<float>(2.0 / tables::kLayer2ClassLevels[c]);
        for (int code = 0; code < 32; ++code)
            for (int k = 0, v = code; k < 3; ++k, v /= 3) x.degroup3[code][k] = float(v % 3 - 1);
        for (int code = 0; code < 128; ++code)
            for (int k = 0, v = code; k < 3; ++k, v /= 5) x.degroup5[code][k] = float(v % 5 - 2);
        for (int code = 0; code < 1024; ++code)
            for (int k = 0, v = code; k < 3; ++k, v /= 9) x.degroup9[code][k] = float(v % 9 - 4);
        return x;
    }();
    return t;
}

// Per class 1..17, pointing into Tables().
const ClassRead* ClassReads() {
    static const auto reads = [] {
        const Layer2Tables& t = Tables();
        struct Reads {
            ClassRead c[18];
        } x{};
        for (int c = 1; c < 18; ++c) {
            ClassRead& r = x.c[c];
            r.bits = tables::kLayer2ClassBits[c];
            r.offset = (1 << (r.bits - 1)) - 1;
            r.degroup = nullptr;
            if (tables::kLayer2ClassGrouped[c])
                r.degroup = r.bits == 5 ? t.degroup3 : r.bits == 7 ? t.degroup5 : t.degroup9;
        }
        return x;
    }();
    return reads.c;
}

// How the samples of one entry with a non-zero class are read: a grouped
// code of `bits` looked up in `degroup`, or three codes of `bits` less
// `offset`. `step` is 2 for a pair of joint-stereo entries sharing the codes.
struct EntryRead {
    int32_t entry;
    int32_t step;
    int32_t bits;
    int32_t offset;
    const float (*degroup)[3];  // nullptr: ungrouped
    const float* product;       // l12Product[entry]; the partner's follows
};

inline void ReadTriple(TFrameBits& b, const EntryRead& r, float v[3]) {
    if (r.degroup) {
        const float* g = r.degroup[b.ReadBits(r.bits)];
        v[0] = g[0];
        v[1] = g[1];
        v[2] = g[2];
        return;
    }
    uint32_t codes[3];
    b.ReadThree(r.bits, codes);
    for (int k = 0; k < 3; ++k) v[k] = static_cast<float>(static_cast<int32_t>(codes[k]) - r.offset);
}

// Decodes one granule row (3 time slots) of every entry that carries samples.
// Reads through a local copy of the frame reader so that it stays in
// registers while the samples are stored.
template <bool kShared>
inline void ReadGranule(TFrameBits& reader, const EntryRead* reads, int32_t count, int32_t part,
                        float* rowOut) {
    TFrameBits b = reader;
    for (int32_t i = 0; i < count; ++i) {
        const EntryRead& r = reads[i];
        float v[3];
        ReadTriple(b, r, v);
        float* o = rowOut + r.entry;
        const float p = r.product[part];
        o[0] = v[0] * p;
        o[64] = v[1] * p;
        o[128] = v[2] * p;
        if (kShared && r.step == 2) {  // the joint-stereo partner entry
            const float q = r.product[3 + part];
            o[1] = v[0] * q;
            o[65] = v[1] * q;
            o[129] = v[2] * q;
        }
    }
    reader = b;
}

// All 12 granule rows of a frame, with the bits above the band limit skipped.
// Frames without joint-stereo pairs take a loop without the pair test.
template <bool kShared>
inline __attribute__((always_inline)) void ReadRowsOf(TFrameBits& b, const EntryRead* reads,
                                                      int32_t count, int32_t skipPerGranule,
                                                      float* rowOut) {
    for (int part = 0; part < 3; ++part) {
        for (int granule = 0; granule < 4; ++granule, rowOut += 3 * 64) {
            ReadGranule<kShared>(b, reads, count, part, rowOut);
            if (skipPerGranule > 0) b.SkipBits(skipPerGranule);
        }
    }
}

inline __attribute__((always_inline)) void ReadRowsBody(TFrameBits& b, const EntryRead* reads,
                                                        int32_t count, int32_t skipPerGranule,
                                                        bool shared, float* rowOut) {
    if (shared)
        ReadRowsOf<true>(b, reads, count, skipPerGranule, rowOut);
    else
        ReadRowsOf<false>(b, reads, count, skipPerGranule, rowOut);
}

void ReadRows(TFrameBits& b, const EntryRead* reads, int32_t count, int32_t skipPerGranule,
              bool shared, float* rowOut) {
    ReadRowsBody(b, reads, count, skipPerGranule, shared, rowOut);
}

#if defined(WL_X86_SIMD)
// The same compiled with BMI2's shifts by any register (the reads' many
// variable shifts no longer compete for one register): integer work alone,
// so the samples are the same. Taken with the AVX2 routines when the
// processor has BMI2.
__attribute__((target("bmi2"))) void ReadRowsBmi2(TFrameBits& b, const EntryRead* reads,
                                                  int32_t count, int32_t skipPerGranule,
                                                  bool shared, float* rowOut) {
    ReadRowsBody(b, reads, count, skipPerGranule, shared, rowOut);
}
#endif

inline int32_t CodeBits(int32_t cls) {
    return tables::kLayer2ClassGrouped[cls] ? tables::kLayer2ClassBits[cls]
                                            : 3 * tables::kLayer2ClassBits[cls];
}

}  // namespace

bool SetupLayer2(DecoderState& d, const TMPEGFrameHeader& h) {
    if (h.Layer != 2 || h.SampleRateIndex > 2 || h.SyncKind != 1) return false;
    int32_t table = 4;
    if (h.VersionId == 1) {
        table = tables::kLayer2Select[h.SampleRateIndex][d.codedChannels == 2 ? 1 : 0]
                                     [h.BitrateIndex & 15];
        if (table < 0) return false;
    }
    d.l12Table = table;
    int32_t total = 0;
    for (int r = 0; r < 4; ++r) {
        d.l12RowCounts[r] = tables::kLayer2Tables[table].counts[r];
        total += d.l12RowCounts[r];
    }
    l12::FinishSetup(d, total);
    d.frameDecoder = DecodeFrameLayer2;
    return true;
}

void DecodeFrameLayer2(DecoderState& d, TDecodeResult& r, const uint8_t* frame, int16_t* pcm) {
    r.BytesConsumed = 0;
    r.PcmBytes = 0;
    l12::FrameHead head{};
    if (!l12::BeginFrame(d, frame, head)) return;
    TFrameBits& b = d.frameBits;
    const tables::Layer2Table& table = tables::kLayer2Tables[d.l12Table];
    const Layer2Tables& t = Tables();
    const ClassRead* classReads = ClassReads();
    const float* multiplier = l12::ScaleMultipliers();
    const int32_t total = d.l12Total;
    const int32_t limit = d.l12Limit;
    const bool stereo = d.codedChannels == 2;

    // Bit allocation; `bits` counts what the frame must hold.
    int64_t bits = head.headerBits;
    int32_t skipPerGranule = 0;
    int32_t bound = l12::JointStereoBound(head.mode, head.modeExtension);
    int32_t j = 0;
    for (int row = 0; row < 4; ++row) {
        const int32_t end = j + d.l12RowCounts[row];
        while (j < end) {
            const int32_t cls = table.classMap[row][b.ReadBits(kFieldBits[row])];
            bits += kFieldBits[row];
            const int32_t codeBits = CodeBits(cls);
            --bound;
            if (bound < 0 && stereo && j + 1 < total) {
                d.l12Class[j] = d.l12Class[j + 1] = cls;
                d.l12Shared[j] = d.l12Shared[j + 1] = 1;
                if (j >= limit) skipPerGranule += codeBits;
                bits += 12 * codeBits;
                j += 2;
            } else {
                d.l12Class[j] = cls;
                d.l12Shared[j] = 0;
                if (j >= limit) skipPerGranule += codeBits;
                bits += 12 * codeBits;
                j += 1;
            }
        }
    }

    for (int32_t e = 0; e < total; ++e) {
        if (d.l12Class[e] != 0) {
            d.l12Scfsi[e] = static_cast<int32_t>(b.ReadBits(2));
            bits += 2 + 6 * kScaleFactorCount[d.l12Scfsi[e]];
        }
    }
    // A frame whose bits run past its length is refused.
    if (bits > int64_t{8} * head.frameBytes) return;

    for (int32_t e = 0; e < total; ++e) {
        const int32_t cls = d.l12Class[e];
        if (cls == 0) continue;
        const float f = t.classFactor[cls];
        float* p = d.l12Product[e];
        switch (d.l12Scfsi[e]) {
            case 0:
                p[0] = f * multiplier[b.ReadBits(6)];
                p[1] = f * multiplier[b.ReadBits(6)];
                p[2] = f * multiplier[b.ReadBits(6)];
                break;
            case 1:
                p[0] = p[1] = f * multiplier[b.ReadBits(6)];
                p[2] = f * multiplier[b.ReadBits(6)];
                break;
            case 2:
                p[0] = p[1] = p[2] = f * multiplier[b.ReadBits(6)];
                break;
            default:
                p[0] = f * multiplier[b.ReadBits(6)];
                p[1] = p[2] = f * multiplier[b.ReadBits(6)];
                break;
        }
    }

    // The entries that carry samples, in bitstream order; all others are 0.
    const int32_t decoded = std::min(limit, total);
    EntryRead reads[64];
    int32_t readCount = 0;
    uint64_t written = 0;  // entries given samples, one bit each
    bool shared = false;   // some entry read is a joint-stereo pair
    for (int32_t e = 0; e < decoded;) {
        const int32_t cls = d.l12Class[e];
        const int32_t step = d.l12Shared[e] ? 2 : 1;
        if (cls != 0) {
            const ClassRead& c = classReads[cls];
            reads[readCount++] = EntryRead{e, step, c.bits, c.offset, c.degroup, d.l12Product[e]};
            shared |= step == 2;
            written |= (step == 2 ? uint64_t{3} : uint64_t{1}) << e;
        }
        e += step;
    }

    // Every row of the entries read is written below; entries that an earlier
    // frame wrote and this one does not are cleared in all 36 rows (the
    // others are still 0 from the set-up).
    for (uint64_t stale = d.l12Written & ~written; stale != 0; stale &= stale - 1) {
        float* column = d.samples + std::countr_zero(stale);
        for (int row = 0; row < 36; ++row) column[64 * row] = 0.0f;
    }
    d.l12Written = written;

#if defined(WL_X86_SIMD)
    if (d.chosen.dct == RoutineVariant::Avx2 && HasBmi2())
        ReadRowsBmi2(b, reads, readCount, skipPerGranule, shared, d.samples);
    else
#endif
        ReadRows(b, reads, readCount, skipPerGranule, shared, d.samples);

    SynthL12(d.synth, d.route, d.samples, pcm, 36);
    r.BytesConsumed = d.frameLength + head.padding;
    r.PcmBytes = d.pcmBytesPerFrame;
}

}  // namespace wl
