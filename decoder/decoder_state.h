// The decoder's whole state in one struct (NewDecoder makes one). Internal to
// the decoder.
#pragma once

#include <cstdint>

#include "decoder/bit_reader.h"
#include "decoder/cpu_features.h"
#include "decoder/decoder.h"
#include "decoder/synthesis.h"

namespace wl {

constexpr int32_t kReservoirSize = 8192;
constexpr int32_t kReservoirCompactAbove = 6692;
constexpr int32_t kMaxMainDataBytes = 8192;
// Zero bytes behind the reservoir: the readers may run past the filled part by
// up to four channels' part2_3_length (4 x 4095 bits) plus their read-ahead.
constexpr int32_t kReservoirGuard = 2304;

struct GranuleInfo {
    int32_t part2_3_length;
    int32_t big_values;
    int32_t global_gain;  // adjusted by the set-up's offset and mid/side
    int32_t scalefac_compress;
    int32_t window_switching_flag;
    int32_t block_type;
    int32_t mixed_block_flag;
    int32_t table_select[3];
    int32_t subblock_gain[3];
    int32_t region0_count;
    int32_t region1_count;
    int32_t preflag;
    int32_t scalefac_scale;
    int32_t count1table_select;
};

struct ScaleFactors {
    int32_t l[22];     // long bands 0..21 (21 never transmitted)
    int32_t s[3][13];  // [window][band], band 12 never transmitted
};

struct BandSummary {
    int32_t hasShort;
    int32_t lastNonZeroBand;
    int32_t firstShortBand;  // 12 = none
    int32_t longBandsProcessed;
    int32_t lastShort[3];
    int32_t anyNonZero;   // 0 when every line is zero
    int32_t anyShort[3];  // per short window: 0 when every line is zero
};

struct LsfIntensityParams {
    int32_t bands[3];  // band counts of the first three partitions
    int32_t slen[3];
    int32_t intensityScale;
};

struct HybridTables {
    float window[4][36];  // by block type; sign-folded for the fast transforms
    float cos36[18][18];  // y[r] = sum_m X[m] cos36[r][m]
    float cos12[6][6];    // per short window: y[r] = sum_m X[m] cos12[r][m]
    // The same factors for the vector forms, by input m: cos36T[m][r] =
    // cos36[r][m]; cos12T[m][r] = cos12[r][m]; cos36Z[m] holds, for lane
    // i = 0..35, the row of folded value i of a long subband in the order the
    // window is applied (outputs 0..17, then overlap 0..17); the rest is zero.
    alignas(32) float cos36T[18][24];
    alignas(32) float cos36Z[18][40];
    alignas(32) float cos12T[6][8];
};

// Added to a block type handed to the hybrid transform: the granule has the
// mixed flag, so the long subbands below the mixed long end use the normal window.
constexpr int32_t kHybridMixed = 4;

struct DecoderState;
using FrameDecoder = void (*)(DecoderState& d, TDecodeResult& r, const uint8_t* frame,
                              int16_t* pcm);
using GranuleOutput = void (*)(DecoderState& d, int16_t* pcm, int32_t g);
using AliasRoutine = void (*)(float* lines, int32_t boundaries, const float (*csca)[2]);
using HybridRoutine = int32_t (*)(const DecoderState& d, float* lines, const float* previous,
                                  float* output, int32_t blockType, int32_t longEnd,
                                  int32_t shortEnd, int32_t previousCount);
// In place: 18 lines in, the 18 folded transform values out.
using Imdct36Routine = void (*)(const HybridTables& t, float* x);
// 18 window-interleaved lines in, 3 x 6 folded values out (window w at 6w).
using Imdct12Routine = void (*)(const HybridTables& t, const float* lines, float* y);

struct DecoderState {
    // --- stream set-up ---
    bool configured = false;
    int32_t layerCode = 0;
    int32_t versionId = 0;
    int32_t mpeg25 = 0;
    int32_t sampleRateIndex = 0;
    int32_t frameLength = 0;
    int32_t codedChannels = 0;
    int32_t downShift = 0;
    int32_t subbandLimit = 0;
    int32_t maxLines = 0;
    int32_t longCap = 0;
    int32_t shortCap = 0;
    int32_t synthSubbands = 0;
    int32_t pcmBytesPerFrame = 0;
    int32_t pcmBytesPerGranule = 0;
    uint8_t silenceByte = 0;
    int32_t gainOffset = 0;
    int32_t route = 0;  // 0 single-channel stream, 1 stereo, 2 mono mix, 3 left, 4 right
    int32_t outputFlags = 0;
    int32_t bandLimitHz = 0;
    TMPEGOutputFormat format{};
    FrameDecoder frameDecoder = nullptr;
    GranuleOutput granuleOutput = nullptr;

    // Scale-factor bands of the stream's rate.
    int32_t sfbLongEnd[22] = {};
    int32_t sfbShortEnd3[13] = {};  // 3 x end of each short band
    int32_t sfbLongWidth[22] = {};
    int32_t sfbShortWidth[13] = {};
    int32_t mixedLongBands = 0;  // 8 MPEG-1, 6 LSF
    int32_t mixedLongEnd = 0;    // first line after the long part of a mixed block

    // --- Layer III main-data reservoir ---
    alignas(16) uint8_t reservoir[kReservoirSize + kReservoirGuard] = {};
    int32_t resFill = 0;
    int32_t resStart = 0;

    // --- frame-level values ---
    int32_t mode = 0;
    int32_t modeExtension = 0;
    int32_t msStereo = 0;
    int32_t intensityStereo = 0;
    int32_t crcBytes = 0;
    int32_t mainDataBegin = 0;
    int32_t bitrateIndex = 0;
    int32_t frameLayer = 0;
    int32_t curFrameLength = 0;  // this frame's length without padding
    int32_t padding = 0;
    int32_t frameChannels = 0;
    int32_t scfsi[2] = {};
    int32_t granuleSlot = 0;  // LSF: alternates from frame to frame
    GranuleInfo gr[2][2] = {};  // [slot][channel]
    ScaleFactors sf[2][2] = {};  // [slot][channel]
    LsfIntensityParams isParams{};

    // --- frequency lines ---
    alignas(64) int32_t quant[2][576] = {};      // Huffman output per channel
    alignas(64) float lines[2][2][576] = {};     // [channel][slot]
    int32_t lineCount[2][2] = {};                // [slot][channel]
    BandSummary summary[2][2] = {};              // [slot][channel]
    alignas(64) float hybridOut[576] = {};
    alignas(64) float scratch[576] = {};

    // --- Layer III tables, built at every Layer III set-up ---
    float gainTable[262] = {};
    float sfAtten[2][4][32] = {};
    float pow43[64] = {};  // for -32..31 at index v + 32
    float subblockGainTable[8] = {};
    float isRatioMpeg1[2][8][2] = {};    // [ms variant][position]{kL, kR}
    float isRatioLsf[2][2][63][2] = {};  // [intensity_scale][ms variant][entry]{kL, kR}
    float aliasCsCa[8][2] = {};
    HybridTables hybrid{};

    // --- line equalizer ---
    float lineGain[576] = {};
    int32_t lineEqEnabled = 0;

    // --- synthesis, bit readers, routine slots ---
    SynthesisState synth{};
    TMainBits mainBits;
    TFrameBits frameBits;
    AliasRoutine aliasReduce = nullptr;
    HybridRoutine hybridTransform = nullptr;
    Imdct36Routine imdct36 = nullptr;
    Imdct12Routine imdct12 = nullptr;
    RoutineChoice chosen{};
    bool routinesSelected = false;

    // --- Layer I/II ---
    alignas(64) float samples[2304] = {};  // 36 rows of 64 entries (Layer I: 12 rows)
    int32_t l12Table = 0;              // Layer II allocation table 0..4
    int32_t l12RowCounts[4] = {};      // entries per row type (doubled for two channels)
    int32_t l12Total = 0;              // entries with an allocation field
    int32_t l12Limit = 0;              // entries below the band limit
    int32_t l12Class[64] = {};         // Layer II class / Layer I allocation per entry
    uint8_t l12Shared[64] = {};        // 1 on both entries of a joint-stereo pair
    int32_t l12Scfsi[64] = {};
    float l12Product[64][3] = {};      // scale factor x class factor per part
    uint64_t l12Written = 0;           // Layer II: entries whose samples may be non-zero
    // Zero-padded copy of the frame being decoded: reads past a damaged frame
    // find zeros, never foreign memory.
    alignas(16) uint8_t frameCopy[kMaxHeaderLookahead + 64] = {};
    int32_t frameCopyUsed = 0;  // bytes at the front of frameCopy that may be non-zero

    DecoderState();
};

// Layer III stages (one file each).
int32_t ReadSideInfoMPEG1(DecoderState& d);
int32_t ReadSideInfoLSF(DecoderState& d, int32_t slot);
void ReadScaleFactorsMPEG1(DecoderState& d, ScaleFactors& sf, const GranuleInfo& gi,
                           int32_t scfsi, int32_t granule, const ScaleFactors& granule0);
void ReadScaleFactorsLSF(DecoderState& d, ScaleFactors& sf, GranuleInfo& gi,
                         bool intensityChannel, LsfIntensityParams& params);

void DecodeHuffman(DecoderState& d, const GranuleInfo& gi, int32_t* quant, int32_t bitStart,
                   int32_t& nonZeroCount);
void Requantise(DecoderState& d, const int32_t* quant, float* lines, int32_t& nonZeroCount,
                const ScaleFactors& sf, const GranuleInfo& gi, BandSummary& summary);
void BuildLayer3Tables(DecoderState& d);
void ProcessStereoAndAlias(DecoderState& d, int32_t g);

// Hybrid synthesis and per-granule output stages.
GranuleOutput SelectGranuleOutput(int32_t route);
void AliasReducePortable(float* lines, int32_t boundaries, const float (*csca)[2]);
int32_t HybridPortable(const DecoderState& d, float* lines, const float* previous,
                       float* output, int32_t blockType, int32_t longEnd, int32_t shortEnd,
                       int32_t previousCount);
int32_t HybridAdd(const DecoderState& d, float* lines, float* overlap, float* output,
                  int32_t blockType, int32_t longEnd, int32_t shortEnd);
void Imdct36Portable(const HybridTables& t, float* x);
void Imdct12Portable(const HybridTables& t, const float* lines, float* y);
void FrequencyInversion(float* output, int32_t lines);

// Layer I and II set-up and frame decoders.
bool SetupLayer2(DecoderState& d, const TMPEGFrameHeader& h);
bool SetupLayer1(DecoderState& d, const TMPEGFrameHeader& h);
void DecodeFrameLayer2(DecoderState& d, TDecodeResult& r, const uint8_t* frame, int16_t* pcm);
void DecodeFrameLayer1(DecoderState& d, TDecodeResult& r, const uint8_t* frame, int16_t* pcm);

// Layer III frame decoders.
void DecodeFrameLayer3MPEG1(DecoderState& d, TDecodeResult& r, const uint8_t* frame,
                            int16_t* pcm);
void DecodeFrameLayer3LSF(DecoderState& d, TDecodeResult& r, const uint8_t* frame,
                          int16_t* pcm);

}  // namespace wl
