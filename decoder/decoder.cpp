// Decoder entry points: set-up, output format, frame dispatch, polarity,
// equalizer access and routine selection.
#include "decoder/decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decoder/decoder_state.h"
#include "decoder/simd_routines.h"
#include "decoder/tables.h"

namespace wl {

DecoderState::DecoderState() {
    InitSynthesis(synth);
    aliasReduce = AliasReducePortable;
    hybridTransform = HybridPortable;
    imdct36 = Imdct36Portable;
    imdct12 = Imdct12Portable;
    chosen = ChooseRoutines(0);
}

std::unique_ptr<DecoderState, void (*)(DecoderState*)> NewDecoder() {
    return {new DecoderState(), [](DecoderState* d) { delete d; }};
}

namespace {

// Frame length (with padding slot) that a header announces for the configured
// stream: free-format frames keep the set-up's length.
int32_t AnnouncedFrameBytes(const DecoderState& d, const uint8_t* frame) {
    TMPEGFrameHeader h{};
    int32_t length = ParseFrameHeader(frame, 0, h);
    if (h.SyncKind == 0 || h.Layer == 0) return 0;
    if (h.BitrateIndex == 0) length = d.frameLength;
    return FrameBytes(h, length);
}

bool SetupLayer3(DecoderState& d, const TMPEGFrameHeader& h) {
    d.resFill = 0;
    d.resStart = 0;
    // Damaged frames may read past their data; what they find there must not
    // depend on what was decoded before the set-up.
    std::memset(d.reservoir, 0, sizeof d.reservoir);
    if (h.Layer != 1) return false;

    d.mpeg25 = h.SyncKind == 2 ? 1 : 0;
    const int v = d.mpeg25 ? 2 : (h.VersionId & 1);
    const int sr = h.SampleRateIndex;
    d.mixedLongBands = h.VersionId == 1 ? 8 : 6;
    for (int b = 0; b < 22; ++b) {
        d.sfbLongEnd[b] = tables::kSfbLong[v][sr][b + 1];
        d.sfbLongWidth[b] = tables::kSfbLong[v][sr][b + 1] - tables::kSfbLong[v][sr][b];
    }
    for (int b = 0; b < 13; ++b) {
        d.sfbShortEnd3[b] = 3 * tables::kSfbShort[v][sr][b + 1];
        d.sfbShortWidth[b] = tables::kSfbShort[v][sr][b + 1] - tables::kSfbShort[v][sr][b];
    }
    d.mixedLongEnd = d.sfbLongEnd[d.mixedLongBands - 1];

    const bool fullBand = (d.outputFlags & kOutputFullBand) != 0;
    if (fullBand) {
        d.longCap = 576;
        d.shortCap = 576;
    } else if (h.VersionId == 1 && !d.mpeg25) {
        d.longCap = tables::kSfbLong[v][sr][22];
        d.shortCap = 3 * tables::kSfbShort[v][sr][13];
    } else {
        d.longCap = tables::kSfbLong[v][sr][21];
        d.shortCap = 3 * tables::kSfbShort[v][sr][12];
    }
    d.maxLines = std::min(d.longCap + 8, d.subbandLimit * 18);
    d.maxLines = std::min(d.maxLines, 576);
    d.longCap = std::min(d.longCap, d.maxLines);
    d.shortCap = std::min(d.shortCap, d.maxLines);
    d.synthSubbands = (d.maxLines + 17) / 18;

    d.gainOffset = (d.codedChannels == 2 && d.route == 2) ? -4 : 0;
    d.granuleOutput = SelectGranuleOutput(d.route);

    BuildLayer3Tables(d);
    ResetSynthesisState(d.synth);
    std::memset(d.hybridOut, 0, sizeof d.hybridOut);
    std::memset(d.lines, 0, sizeof d.lines);
    std::memset(d.quant, 0, sizeof d.quant);
    std::memset(d.lineCount, 0, sizeof d.lineCount);
    std::memset(d.summary, 0, sizeof d.summary);
    std::memset(d.sf, 0, sizeof d.sf);
    d.frameDecoder = (h.VersionId == 1 && !d.mpeg25) ? DecodeFrameLayer3MPEG1
                                                      : DecodeFrameLayer3LSF;
    return true;
}

// Output format and PCM sizes from the current routing.
void FillOutputFormat(DecoderState& d, int32_t samplesPerChannel, int32_t rateHz) {
    const int32_t channels = d.route == 1 ? 2 : 1;
    const int32_t bits = (d.outputFlags & kOutput8Bit) ? 8 : 16;
    d.format.Channels = channels;
    d.format.SamplesPerFrame = (samplesPerChannel >> d.downShift) * channels;
    d.format.SampleRate = rateHz >> d.downShift;
    d.format.BitsPerSample = bits;
    d.format.FrameLength = d.frameLength;
    d.format.Reserved = 0;
    d.pcmBytesPerFrame = d.format.SamplesPerFrame * bits / 8;
    d.pcmBytesPerGranule = d.pcmBytesPerFrame;
    if (d.layerCode == 1 && d.versionId == 1 && !d.mpeg25) d.pcmBytesPerGranule /= 2;
}

int32_t SamplesPerChannel(const DecoderState& d) {
    if (d.layerCode == 3) return 384;
    if (d.layerCode == 1 && (d.versionId == 0 || d.mpeg25)) return 576;
    return 1152;
}

}  // namespace

bool SetupDecoder(DecoderState& d, const TMPEGFrameHeader& h, int32_t frameLength,
                  int32_t downShift, int32_t /*reserved*/, int32_t outputFlags,
                  int32_t bandLimitHz) {
    d.configured = false;
    if (h.SampleRateIndex < 0 || h.SampleRateIndex > 2) return false;
    if (h.SyncKind != 1 && h.SyncKind != 2) return false;
    if (h.SyncKind == 2 && (h.VersionId & 1)) return false;  // reserved version
    d.layerCode = h.Layer;
    d.versionId = h.VersionId & 1;
    d.mpeg25 = h.SyncKind == 2 ? 1 : 0;
    d.sampleRateIndex = h.SampleRateIndex;
    d.frameLength = frameLength;
    d.codedChannels = CodedChannels(h);
    d.downShift = std::clamp(downShift, 0, 2);
    d.outputFlags = outputFlags;
    d.bandLimitHz = bandLimitHz;

    int32_t rate = tables::kSampleRateHz[d.versionId][h.SampleRateIndex];
    if (d.mpeg25 && h.Layer == 1) rate /= 2;

    const bool fullBand = (outputFlags & kOutputFullBand) != 0;
    const int32_t cap32 = 32 >> d.downShift;
    if (fullBand) {
        d.subbandLimit = cap32;
    } else {
        const int32_t cap = cap32 > 8 ? cap32 - 1 : cap32;
        d.subbandLimit = (std::max(bandLimitHz, 1000) * 64 + rate / 2) / rate;
        d.subbandLimit = std::min(d.subbandLimit, cap);
    }
    d.route = d.codedChannels == 1 ? 0 : (outputFlags & kOutputChannelMask) + 1;

    // Only full-rate 16-bit output has output routines.
    if (d.downShift != 0 || (outputFlags & kOutput8Bit)) return false;

    bool ok = false;
    switch (h.Layer) {
        case 1:
            ok = SetupLayer3(d, h);
            break;
        case 2:
            ok = SetupLayer2(d, h);
            break;
        case 3:
            ok = SetupLayer1(d, h);
            break;
        default:
            ok = false;
            break;
    }
    if (!ok) return false;
    d.silenceByte = (outputFlags & kOutput8Bit) ? 0x80 : 0;
    FillOutputFormat(d, SamplesPerChannel(d), rate);
    d.configured = true;
    return true;
}

bool AdaptChannelCount(DecoderState& d, const TMPEGFrameHeader& h) {
    if (!d.configured || d.layerCode != 1 || h.Layer != 1) return false;
    if (h.SyncKind != (d.mpeg25 ? 2 : 1) || (h.VersionId & 1) != d.versionId ||
        h.SampleRateIndex != d.sampleRateIndex)
        return false;
    const int32_t channels = CodedChannels(h);
    if (channels == d.codedChannels) return true;
    d.codedChannels = channels;
    d.route = channels == 1 ? 0 : (d.outputFlags & kOutputChannelMask) + 1;
    d.gainOffset = (channels == 2 && d.route == 2) ? -4 : 0;
    d.granuleOutput = SelectGranuleOutput(d.route);
    int32_t rate = tables::kSampleRateHz[d.versionId][d.sampleRateIndex];
    if (d.mpeg25) rate /= 2;
    FillOutputFormat(d, SamplesPerChannel(d), rate);
    return true;
}

int32_t ConfiguredChannels(const DecoderState& d) { return d.configured ? d.codedChannels : 0; }

void GetOutputFormat(const DecoderState& d, TMPEGOutputFormat& format) { format = d.format; }

void DecodeFrame(DecoderState& d, TDecodeResult& r, const uint8_t* frame, int32_t available,
                 void* pcmOut) {
    r.BytesConsumed = 0;
    r.PcmBytes = 0;
    if (!d.configured || d.frameDecoder == nullptr) return;
    if (available >= 0) {
        if (available < 4) return;
        const int32_t need = AnnouncedFrameBytes(d, frame);
        if (need <= 0 || need > available) return;
    }
    d.frameDecoder(d, r, frame, static_cast<int16_t*>(pcmOut));
}

void ResetSynthesis(DecoderState& d) { ResetSynthesisState(d.synth); }
void SetPolarity(DecoderState& d, bool inverted) { SetSynthesisPolarity(d.synth, inverted); }
bool GetPolarity(const DecoderState& d) { return d.synth.polarityInverted; }

float* SubbandGain(DecoderState& d) { return d.synth.subbandGain; }
float* LineGain(DecoderState& d) { return d.lineGain; }
int32_t* SubbandEqEnabled(DecoderState& d) { return &d.synth.subbandEqEnabled; }
int32_t* LineEqEnabled(DecoderState& d) { return &d.lineEqEnabled; }

namespace {

// The code that serves each variant kind. The classic kinds (Pentium, 3DNow!)
// compute the same results as the portable code and are served by it; the
// vector kinds exist only in x86-64 builds and fall back to portable elsewhere.
template <typename Fn>
Fn Pick(RoutineVariant v, Fn portable, [[maybe_unused]] Fn sse2, [[maybe_unused]] Fn avx2) {
#if defined(WL_X86_SIMD)
    if (v == RoutineVariant::Sse2) return sse2;
    if (v == RoutineVariant::Avx2) return avx2;
#endif
    (void)v;
    return portable;
}

#if !defined(WL_X86_SIMD)
// Placeholders that Pick never returns outside x86-64.
constexpr AliasRoutine AliasReduceSse2 = nullptr, AliasReduceAvx2 = nullptr;
constexpr OutputRoutine OutputMonoSse2 = nullptr, OutputMonoAvx2 = nullptr;
constexpr OutputRoutine OutputStereoSse2 = nullptr, OutputStereoAvx2 = nullptr;
constexpr HybridRoutine HybridSse2 = nullptr, HybridAvx2 = nullptr;
constexpr Imdct36Routine Imdct36Sse2 = nullptr, Imdct36Avx2 = nullptr;
constexpr Imdct12Routine Imdct12Sse2 = nullptr, Imdct12Avx2 = nullptr;
constexpr DctRoutine DctSse2 = nullptr, DctAvx2 = nullptr;
#endif

}  // namespace

void SelectRoutines(DecoderState& d, uint32_t capabilities) {
    const RoutineChoice c = ChooseRoutines(capabilities);
    d.chosen = c;
    d.aliasReduce = Pick<AliasRoutine>(c.aliasReduce, AliasReducePortable, AliasReduceSse2,
                                       AliasReduceAvx2);
    d.synth.outputMono =
        Pick<OutputRoutine>(c.outputMono, OutputMonoPortable, OutputMonoSse2, OutputMonoAvx2);
    d.synth.outputStereo = Pick<OutputRoutine>(c.outputStereo, OutputStereoPortable,
                                               OutputStereoSse2, OutputStereoAvx2);
    d.hybridTransform = Pick<HybridRoutine>(c.hybrid, HybridPortable, HybridSse2, HybridAvx2);
    d.imdct36 = Pick<Imdct36Routine>(c.imdct36, Imdct36Portable, Imdct36Sse2, Imdct36Avx2);
    d.imdct12 = Pick<Imdct12Routine>(c.imdct12, Imdct12Portable, Imdct12Sse2, Imdct12Avx2);
    d.synth.dct = Pick<DctRoutine>(c.dct, DctPortable, DctSse2, DctAvx2);
    d.synth.dctInterleaved = nullptr;
#if defined(WL_X86_SIMD)
    if (c.dct == RoutineVariant::Avx2) d.synth.dctInterleaved = DctInterleavedAvx2;
#endif
    d.routinesSelected = true;
}

}  // namespace wl
