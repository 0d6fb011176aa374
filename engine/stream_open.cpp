#include "engine/stream_open.h"

#include "decoder/decoder.h"
#include "engine/frame_scanner.h"
#include "io/errors.h"

namespace wl {
namespace {

[[noreturn]] void Unknown() { throw EMP3Error(kUnknownFormatText); }

void SkipVbrFrame(TMPStreamReader& reader, TStreamFacts& f) {
    if (!reader.Skip(f.nextFrameLength)) Unknown();
    f.audioStart += f.nextFrameLength;
    if (f.audioLength != kUnknownAudioLength) f.audioLength -= f.nextFrameLength;
    f.nextFrameLength = 0;
}

// A Xing, Info or VBRI header frame (wholly available at the reader): its
// counts, and for Layer III the encoder's delay and padding. The header frame
// is never played.
void CheckVbrHeader(TMPStreamReader& reader, TStreamFacts& f) {
    TVbrHeader& v = f.vbr;
    if (!ParseVbrHeader(reader.Data(), f.nextFrameLength, f.firstHeader, v)) return;
    f.xingHeader = v.kind == TVbrHeader::TKind::Xing || v.kind == TVbrHeader::TKind::Info;
    f.vbriHeader = v.kind == TVbrHeader::TKind::Vbri;
    // "Info" marks a constant bitrate: the first frame's rate holds.
    if (v.kind != TVbrHeader::TKind::Info) f.bitrate = 0;
    const int64_t audioBytes = f.audioLength == kUnknownAudioLength ? reader.Size() - f.audioStart : f.audioLength;
    // A count the stream cannot hold (every frame takes at least 48 bytes) is
    // corrupt and ignored.
    if (v.frames > 0 && v.frames * 48 <= audioBytes) {
        f.totalPcmBytes = v.frames * f.pcmBytesPerFrame;
        const int64_t decoded = v.frames * SamplesPerFrame(f.firstHeader);
        const int64_t music = decoded - v.delay - v.padding;
        if (f.layer == 3 && v.hasExtension && music > 0 && v.delay + kDecoderDelaySamples < decoded) {
            f.trimStart = v.delay + kDecoderDelaySamples;
            f.musicSamples = music;
            f.totalPcmBytes = music * f.channels * (f.bitsPerSample / 8);
        }
    }
    // The byte count does not bound the audio: a count that is too small
    // would cut music off; the file and its tags say where the audio ends.
    SkipVbrFrame(reader, f);
}

// Without the encoder's extension, an iTunSMPB text gives delay, padding and
// the exact length. Values the stream cannot hold are ignored.
void UseTagGapless(const TMP3Info& info, TStreamFacts& f) {
    const TGaplessInfo& g = info.TagGapless();
    if (f.layer != 3 || f.musicSamples > 0 || !g.present || g.sampleCount <= 0 || g.encoderDelay < 0) return;
    const int64_t audioBytes = f.audioLength == kUnknownAudioLength ? 0 : f.audioLength;
    const int64_t spf = SamplesPerFrame(f.firstHeader);
    if (f.vbr.frames > 0) {
        if (g.encoderDelay + g.sampleCount > f.vbr.frames * spf) return;
    } else if (audioBytes > 0 && g.sampleCount > audioBytes / 48 * spf) {
        return;
    }
    f.trimStart = g.encoderDelay + kDecoderDelaySamples;
    f.musicSamples = g.sampleCount;
    f.totalPcmBytes = g.sampleCount * f.channels * (f.bitsPerSample / 8);
}

}  // namespace

void AnalyzeStream(TMPStreamReader& reader, TMP3Info& info, DecoderState& decoder, TStreamFacts& f,
                   const TOpenOptions& options) {
    f = TStreamFacts{};
    f.audioStart = 0;
    f.audioLength = reader.Size();
    info.AnalyzeHead();
    info.AnalyzeTail();
    reader.Seek(info.AudioStart(), TSeekOrigin::soBeginning);
    f.audioStart = info.AudioStart();
    f.audioLength = info.AudioLength();

    const int64_t audioEnd =
        f.audioLength == kUnknownAudioLength ? reader.Size() : f.audioStart + f.audioLength;
    TFirstFrame first;
    if (!FindFirstFrame(reader, audioEnd, options.freeFormat, first)) Unknown();
    const int64_t offset = first.offset - f.audioStart;
    f.audioStart = first.offset;
    if (f.audioLength != kUnknownAudioLength) f.audioLength -= offset;
    f.firstHeaderWord = first.headerWord;
    f.firstHeader = first.header;
    f.nextFrameLength = first.frameBytes;
    f.freeFormatLength = first.freeFormatLength;
    f.firstFrameFound = first.offset;
    const TMPEGFrameHeader& h = f.firstHeader;
    f.layer = LayerNumber(h);
    f.version = MpegVersion(h);
    if (f.layer == 0 || f.version == 0) Unknown();
    f.bitrate = HeaderBitrateKbps(h) * 1000;
    if (!reader.Need(f.nextFrameLength)) Unknown();
    if (!SetupDecoder(decoder, h, f.nextFrameLength - PaddingSlot(h), 0, 0, options.outputFlags,
                      options.bandLimitHz)) {
        Unknown();
    }
    TMPEGOutputFormat fmt{};
    GetOutputFormat(decoder, fmt);
    if (fmt.SampleRate <= 0 || (fmt.Channels != 1 && fmt.Channels != 2) ||
        (fmt.BitsPerSample != 8 && fmt.BitsPerSample != 16) || fmt.SamplesPerFrame <= 0) {
        Unknown();
    }
    f.sampleRate = fmt.SampleRate;
    f.channels = fmt.Channels;
    f.bitsPerSample = fmt.BitsPerSample;
    f.pcmBytesPerFrame = fmt.SamplesPerFrame * fmt.BitsPerSample / 8;
    CheckVbrHeader(reader, f);
    UseTagGapless(info, f);
    f.firstFrameOffset = reader.Position();
}

}  // namespace wl
