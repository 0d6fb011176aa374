#include "tools/decode_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"

namespace wl::tools {
namespace {

// Zero bytes kept behind the copied file so that header reads near the end
// never leave the buffer.
constexpr size_t kTailPadding = 16;

bool SameStream(const TMPEGFrameHeader& a, const TMPEGFrameHeader& b) {
    return a.SyncKind == b.SyncKind && a.VersionId == b.VersionId && a.Layer == b.Layer &&
           a.SampleRateIndex == b.SampleRateIndex;
}

// Sync bits, a known layer, a usable rate: the minimum for a free-format
// header of the running stream (ParseFrameHeader cannot measure those with
// nothing available and answers 0).
bool LooksLikeHeader(const uint8_t* p) {
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && ((p[1] >> 1) & 3) != 0 &&
           ((p[2] >> 2) & 3) != 3;
}

int32_t PaddingSlot(const TMPEGFrameHeader& h) {
    if (!h.Padding) return 0;
    return h.Layer == 3 ? 4 : 1;
}

int32_t ClampToInt(size_t n) {
    return static_cast<int32_t>(std::min<size_t>(n, static_cast<size_t>(INT32_MAX)));
}

}  // namespace

size_t Id3v2TagSize(std::span<const uint8_t> data) {
    size_t total = 0;
    while (data.size() - total >= 10) {
        const uint8_t* p = data.data() + total;
        if (p[0] != 'I' || p[1] != 'D' || p[2] != '3' || p[3] == 0xFF || p[4] == 0xFF ||
            ((p[6] | p[7] | p[8] | p[9]) & 0x80) != 0) {
            break;
        }
        size_t size = (size_t{p[6]} << 21) | (size_t{p[7]} << 14) | (size_t{p[8]} << 7) | p[9];
        size += 10;
        if (p[5] & 0x10) size += 10;  // footer
        total += size;
        if (total >= data.size()) return data.size();
    }
    return total;
}

DecodeOutcome DecodeMpegAudio(std::span<const uint8_t> data, const DecodeOptions& options,
                              const FrameSink& sink) {
    DecodeOutcome out;
    StreamFacts& facts = out.facts;
    auto fail = [&out](std::string message) {
        out.ok = false;
        out.error = std::move(message);
        return out;
    };

    const size_t size = data.size();
    std::vector<uint8_t> buffer(size + kTailPadding, 0);
    if (size) std::memcpy(buffer.data(), data.data(), size);
    const uint8_t* bytes = buffer.data();

    const size_t start = Id3v2TagSize(data);
    facts.audioOffset = start;
    if (start >= size) return fail(kUnknownFormatMessage);
    const size_t audioBytes = size - start;

    TMPEGFrameHeader first{};
    int32_t bitrate = 0;
    int32_t offset = -1;
    int32_t length = FindFrame(bytes + start,
                               static_cast<int32_t>(std::min<size_t>(audioBytes, kSyncSearchBytes)),
                               first, bitrate, offset);
    if (length <= 0 && offset >= 0 && first.BitrateIndex == 0 &&
        static_cast<size_t>(offset) < audioBytes) {
        // Free-format frames too long for the search window: measure over more.
        const size_t rest = audioBytes - static_cast<size_t>(offset);
        length = FreeFormatFrameLength(
            bytes + start + offset,
            static_cast<int32_t>(std::min<size_t>(rest, kMaxHeaderLookahead)));
    }
    // The search may see a sync in the last three bytes, which hold no whole header.
    if (length <= 0 || offset < 0 || static_cast<size_t>(offset) + 4 > audioBytes ||
        first.Layer < 1 || first.Layer > 3) {
        return fail(kUnknownFormatMessage);
    }

    facts.firstFrameOffset = start + static_cast<size_t>(offset);
    facts.firstHeader = first;
    facts.freeFormat = first.BitrateIndex == 0;
    facts.freeFormatLength = facts.freeFormat ? length : 0;
    facts.firstBitrateKbps = HeaderBitrateKbps(first);

    auto decoder = NewDecoder();
    DecoderState& d = *decoder;
    SelectRoutines(d, options.capabilities.value_or(GetCpuFeatures()));
    const int32_t flags = options.fullBand ? kOutputFullBand : 0;
    if (!SetupDecoder(d, first, length, 0, 0, flags, options.bandLimitHz)) {
        return fail(kUnknownFormatMessage);
    }
    TMPEGOutputFormat format{};
    GetOutputFormat(d, format);
    if (format.Channels < 1 || format.Channels > 2 || format.SampleRate <= 0 ||
        format.BitsPerSample != 16) {
        return fail(kUnknownFormatMessage);
    }
    facts.sampleRate = format.SampleRate;
    facts.channels = format.Channels;
    if (sink.begin) sink.begin(format.Channels, format.SampleRate);

    // int16_t storage keeps the PCM aligned for the decoder's 16-bit writes.
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2 + 64, 0);
    const size_t pcmCapacity = kMaxPcmBytesPerFrame;

    size_t pos = facts.firstFrameOffset;
    int64_t junk = 0;
    while (pos + 4 <= size) {
        TMPEGFrameHeader h{};
        int32_t n = ParseFrameHeader(bytes + pos, 0, h);
        bool valid = n > 0 && SameStream(h, first);
        if (!valid && facts.freeFormat && LooksLikeHeader(bytes + pos) && h.BitrateIndex == 0 &&
            SameStream(h, first)) {
            n = facts.freeFormatLength;
            valid = true;
        }
        if (!valid) {
            ++pos;
            if (++junk > kSyncSearchBytes) break;
            continue;
        }
        const size_t frameSize = static_cast<size_t>(n) + static_cast<size_t>(PaddingSlot(h));
        if (frameSize > size - pos) break;  // truncated last frame: the audio ends here
        facts.skippedBytes += junk;
        junk = 0;

        if (CodedChannels(h) != CodedChannels(first)) facts.channelsChanged = true;
        if (h.BitrateIndex != first.BitrateIndex) facts.variableBitrate = true;
        if (options.followChannelChanges && CodedChannels(h) != ConfiguredChannels(d)) {
            AdaptChannelCount(d, h);
        }
        GetOutputFormat(d, format);
        const int32_t channels = std::clamp(format.Channels, 1, 2);

        TDecodeResult result{};
        DecodeFrame(d, result, bytes + pos, ClampToInt(size - pos), pcm.data());
        size_t pcmBytes;
        if (result.BytesConsumed < 1 || result.PcmBytes < 1) {
            pcmBytes = static_cast<size_t>(std::max(format.SamplesPerFrame, 0)) *
                       static_cast<size_t>(std::max(format.BitsPerSample, 0) / 8);
            pcmBytes = std::min(pcmBytes, pcmCapacity);
            std::memset(pcm.data(), 0, pcmBytes);
            ++facts.silentFrames;
        } else {
            pcmBytes = std::min(static_cast<size_t>(result.PcmBytes), pcmCapacity);
        }
        pcmBytes -= pcmBytes % (2 * static_cast<size_t>(channels));

        ++facts.frames;
        facts.frameBytes += static_cast<int64_t>(frameSize);
        facts.samplesPerChannel += static_cast<int64_t>(pcmBytes / (2 * channels));
        pos += frameSize;

        if (sink.frame && !sink.frame(pcm.data(), pcmBytes, channels, format.SampleRate)) {
            out.stopped = true;
            break;
        }
    }
    facts.skippedBytes += junk;
    facts.durationSeconds =
        static_cast<double>(facts.samplesPerChannel) / static_cast<double>(facts.sampleRate);
    out.ok = true;
    return out;
}

DecodeOutcome DecodeToPcm(std::span<const uint8_t> data, const DecodeOptions& options,
                          std::vector<int16_t>& pcm) {
    pcm.clear();
    FrameSink sink;
    sink.frame = [&pcm](const int16_t* samples, size_t bytes, int32_t, int32_t) {
        pcm.insert(pcm.end(), samples, samples + bytes / 2);
        return true;
    };
    return DecodeMpegAudio(data, options, sink);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    const bool useStdin = path == "-";
    const int fd = useStdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = std::strerror(EISDIR);
            if (!useStdin) ::close(fd);
            return false;
        }
        if (S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    }
    uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            if (!useStdin) ::close(fd);
            out.clear();
            return false;
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    if (!useStdin) ::close(fd);
    return true;
}

std::vector<uint8_t> MakeWavHeader(int32_t channels, int32_t sampleRate, uint64_t dataBytes) {
    constexpr uint64_t kMax32 = 0xFFFFFFFFu;
    const uint32_t dataField = static_cast<uint32_t>(std::min(dataBytes, kMax32));
    const uint32_t riffField = static_cast<uint32_t>(std::min(dataBytes + 36, kMax32));
    const uint32_t blockAlign = static_cast<uint32_t>(channels) * 2;
    const uint32_t byteRate = static_cast<uint32_t>(sampleRate) * blockAlign;

    std::vector<uint8_t> h;
    h.reserve(44);
    auto tag = [&h](const char* s) { h.insert(h.end(), s, s + 4); };
    auto u32 = [&h](uint32_t v) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&h](uint32_t v) {
        h.push_back(static_cast<uint8_t>(v));
        h.push_back(static_cast<uint8_t>(v >> 8));
    };
    tag("RIFF");
    u32(riffField);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(static_cast<uint32_t>(channels));
    u32(static_cast<uint32_t>(sampleRate));
    u32(byteRate);
    u16(blockAlign);
    u16(16);
    tag("data");
    u32(dataField);
    return h;
}

std::string VersionName(const TMPEGFrameHeader& h) {
    if (h.SyncKind == 2) return "MPEG-2.5";
    return h.VersionId == 1 ? "MPEG-1" : "MPEG-2";
}

std::string LayerName(const TMPEGFrameHeader& h) {
    switch (h.Layer) {
        case 3: return "Layer I";
        case 2: return "Layer II";
        case 1: return "Layer III";
        default: return "Layer ?";
    }
}

std::string ModeName(const TMPEGFrameHeader& h) {
    switch (h.Mode) {
        case 0: return "stereo";
        case 1: return "joint stereo";
        case 2: return "dual channel";
        default: return "mono";
    }
}

int32_t SamplesPerFrame(const TMPEGFrameHeader& h) {
    if (h.Layer == 3) return 384;
    if (h.Layer == 2) return 1152;
    return (h.VersionId == 1 && h.SyncKind == 1) ? 1152 : 576;
}

}  // namespace wl::tools
