#include "engine/stream_open.h"

#include <cstring>

#include "decoder/decoder.h"
#include "engine/errors.h"
#include "engine/frame_walk.h"

namespace wl {
namespace {

// The longest frame the player accepts (Layer II/III at 384 kbit/s, 32 kHz,
// padded).
constexpr int32_t kLongestFrame = 1441;
constexpr int32_t kFirstLook = 4096;

[[noreturn]] void Unknown() { throw EMP3Error(kUnknownFormatText); }

int32_t BigEndianSigned(const uint8_t* p) {
    const uint32_t v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    return static_cast<int32_t>(v);
}

bool ValidVersion(const TMPEGFrameHeader& h) {
    return (h.VersionId == 1 && h.SyncKind == 1) || (h.VersionId == 0 && (h.SyncKind == 1 || h.SyncKind == 2));
}

// A frame header the player can play: parses without free-format measuring,
// a known layer, a known version.
int32_t PlayableLength(const uint8_t* p, TMPEGFrameHeader& h) {
    const int32_t n = ParseFrameHeader(p, 0, h);
    if (n <= 0 || h.Layer < 1 || h.Layer > 3 || !ValidVersion(h)) return 0;
    return n + PaddingSlot(h);
}

// The first frame in data[0..available): the first sync candidate when it is a
// playable header; otherwise the first later candidate that is playable and
// followed by a matching header. -1 when there is none.
int32_t FindFirstFrame(const uint8_t* data, int32_t available) {
    TMPEGFrameHeader h{};
    int32_t bitrate = 0;
    int32_t offset = -1;
    if (FindFrame(data, available, h, bitrate, offset) <= 0 && offset < 0) return -1;
    if (offset < 0) return -1;
    if (offset + 4 <= available && PlayableLength(data + offset, h) > 0) return offset;
    for (int32_t i = offset + 1; i + 4 <= available; ++i) {
        int32_t at = -1;
        if (FindFrame(data + i, available - i, h, bitrate, at) <= 0 && at < 0) return -1;
        if (at < 0) return -1;
        i += at;
        if (i + 4 > available) return -1;
        const int32_t length = PlayableLength(data + i, h);
        if (length <= 0 || i + length + 4 > available) continue;
        TMPEGFrameHeader next{};
        if (FrameLength(data + i + length, LittleEndianWord(data + i), next) > 0) return i;
    }
    return -1;
}

void SkipVbrFrame(TMPStreamReader& reader, TStreamFacts& f) {
    if (!reader.Skip(f.nextFrameLength)) Unknown();
    f.audioStart += f.nextFrameLength;
    if (f.audioLength != kUnknownAudioLength) f.audioLength -= f.nextFrameLength;
    f.nextFrameLength = 0;
}

// A Xing or VBRI header in the first frame (wholly available at the reader).
void CheckVbrHeader(TMPStreamReader& reader, TStreamFacts& f) {
    const uint8_t* d = reader.Data();
    const int32_t length = f.nextFrameLength;
    const bool crc = f.firstHeader.ProtectionBit == 0;
    const int32_t o = VbrHeaderOffset(f.firstHeader, crc);
    auto has = [&](int32_t at, int32_t bytes) { return at >= 0 && at + bytes <= length; };

    // Encoders that protect the frame with a CRC may still write the Xing
    // header where it stands without one.
    int32_t xing = -1;
    if (has(o, 4) && std::memcmp(d + o, "Xing", 4) == 0) {
        xing = o;
    } else if (crc) {
        const int32_t plain = VbrHeaderOffset(f.firstHeader, false);
        if (has(plain, 4) && std::memcmp(d + plain, "Xing", 4) == 0) xing = plain;
    }
    if (xing >= 0) {
        f.xingHeader = true;
        f.bitrate = 0;
        if (has(xing + 4, 4)) {
            const int32_t flags = BigEndianSigned(d + xing + 4);
            int32_t p = xing + 8;
            if ((flags & 1) && has(p, 4)) {
                const int32_t frames = BigEndianSigned(d + p);
                p += 4;
                if (frames > 0) f.totalPcmBytes = int64_t{frames - 1} * f.pcmBytesPerFrame;
            }
            if ((flags & 2) && has(p, 4)) {
                const int32_t bytes = BigEndianSigned(d + p);
                if (bytes > 0) f.audioLength = bytes;
            }
        }
        SkipVbrFrame(reader, f);
        return;
    }
    if (has(o, 4) && std::memcmp(d + o, "VBRI", 4) == 0) {
        f.vbriHeader = true;
        f.bitrate = 0;
        if (has(o + 10, 4)) {
            const int32_t bytes = BigEndianSigned(d + o + 10);
            if (bytes > 0) f.audioLength = bytes;
        }
        if (has(o + 14, 4)) {
            const int32_t frames = BigEndianSigned(d + o + 14);
            if (frames > 0) f.totalPcmBytes = int64_t{frames - 1} * f.pcmBytesPerFrame;
        }
        SkipVbrFrame(reader, f);
    }
}

}  // namespace

int32_t VbrHeaderOffset(const TMPEGFrameHeader& h, bool withCrc) {
    const bool mono = h.Mode == 3;
    int32_t o;
    if (h.VersionId == 1)
        o = mono ? 21 : 36;
    else
        o = mono ? 13 : 21;
    return o + (withCrc ? 2 : 0);
}

void AnalyzeStream(TMPStreamReader& reader, TMP3Info& info, TStreamFacts& f) {
    f = TStreamFacts{};
    f.audioStart = 0;
    f.audioLength = reader.Size();
    info.AnalyzeHead();
    info.AnalyzeTail();
    reader.Seek(info.AudioStart(), TSeekOrigin::soBeginning);
    f.audioStart = info.AudioStart();
    f.audioLength = info.AudioLength();

    reader.Need(kFirstLook);  // a shorter file is no error
    if (!reader.Data()) Unknown();
    const int32_t offset = FindFirstFrame(reader.Data(), reader.Contiguous());
    if (offset < 0) Unknown();
    if (offset > 0) {
        f.audioStart += offset;
        if (f.audioLength != kUnknownAudioLength) f.audioLength -= offset;
        if (!reader.Skip(offset)) Unknown();
        reader.Need(kLongestFrame);
        if (!reader.Need(4)) Unknown();
    }
    f.firstHeaderWord = LittleEndianWord(reader.Data());
    f.nextFrameLength = FrameLength(reader.Data(), f.firstHeaderWord, f.firstHeader);
    if (f.nextFrameLength <= 0) Unknown();
    const TMPEGFrameHeader& h = f.firstHeader;
    f.layer = h.Layer == 1 ? 3 : h.Layer == 2 ? 2 : 1;
    if (h.VersionId == 1 && h.SyncKind == 1)
        f.version = 1;
    else if (h.VersionId == 0 && h.SyncKind == 1)
        f.version = 2;
    else if (h.VersionId == 0 && h.SyncKind == 2)
        f.version = 3;
    else
        Unknown();
    f.bitrate = HeaderBitrateKbps(h) * 1000;
    if (!reader.Need(f.nextFrameLength)) Unknown();
    if (!SetupDecoder(h, f.nextFrameLength - PaddingSlot(h), 0, 0, PlayerOutputFlags(), kPlayerBandLimitHz)) {
        Unknown();
    }
    TMPEGOutputFormat fmt{};
    GetOutputFormat(fmt);
    if (fmt.SampleRate <= 0 || (fmt.Channels != 1 && fmt.Channels != 2) ||
        (fmt.BitsPerSample != 8 && fmt.BitsPerSample != 16) || fmt.SamplesPerFrame <= 0) {
        Unknown();
    }
    f.sampleRate = fmt.SampleRate;
    f.channels = fmt.Channels;
    f.bitsPerSample = fmt.BitsPerSample;
    f.pcmBytesPerFrame = fmt.SamplesPerFrame * fmt.BitsPerSample / 8;
    CheckVbrHeader(reader, f);
    f.firstFrameOffset = reader.Position();
}

}  // namespace wl
