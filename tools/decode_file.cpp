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
#include "engine/frame_walk.h"
#include "engine/stream_open.h"
#include "info/mp3_info.h"

namespace wl::tools {

DecodeOutcome DecodeMpegStream(TStream& stream, const DecodeOptions& options, const FrameSink& sink) {
    DecodeOutcome out;
    StreamFacts& facts = out.facts;
    TMPStreamReader reader(65536);
    auto decoder = NewDecoder();
    TStreamFacts opened;
    TFrameWalker walk;
    auto* pipe = dynamic_cast<TPipeStream*>(&stream);
    try {
        TOpenOptions open;
        open.outputFlags = options.fullBand ? kOutputFullBand : 0;
        open.bandLimitHz = options.bandLimitHz;
        open.freeFormat = true;
        TMP3Info info;
        for (bool again = false;; again = true) {
            reader.Open(&stream, pipe == nullptr);
            const bool sizeUnknown = pipe && reader.Size() == TPipeStream::kUnknownSize;
            if (again) decoder = NewDecoder();
            SelectRoutines(*decoder, options.capabilities.value_or(GetCpuFeatures()));
            info.Attach(&reader);
            try {
                AnalyzeStream(reader, info, *decoder, opened, open);
            } catch (const std::exception&) {
                if (!sizeUnknown || !pipe->Whole()) throw;
            }
            // A pipe whose data the analysis read to its end, all of it still
            // held: analysed again with its exact size, it is taken exactly as
            // the same bytes in a file (the first frame search wants the end,
            // tags at the end are found).
            if (!sizeUnknown || !pipe->Whole()) break;
        }
        facts.audioOffset = static_cast<size_t>(info.AudioStart());
        walk.Assign(&reader, decoder.get(), opened);
    } catch (const std::exception& e) {
        out.error = e.what();
        return out;
    }
    walk.outputFlags = options.fullBand ? kOutputFullBand : 0;
    walk.bandLimitHz = options.bandLimitHz;
    walk.freeFormatLength = opened.freeFormatLength;
    walk.followChannelChanges = options.followChannelChanges;
    if (!options.gapless) {
        walk.trimStart = 0;
        walk.musicSamples = 0;
        walk.StartMusicAt(0, 0);
    }

    const TMPEGFrameHeader& first = opened.firstHeader;
    facts.firstFrameOffset = static_cast<size_t>(opened.firstFrameFound);
    facts.firstHeader = first;
    facts.headerFrameBytes = static_cast<size_t>(opened.firstFrameOffset - opened.firstFrameFound);
    facts.freeFormat = opened.freeFormatLength > 0;
    facts.freeFormatLength = opened.freeFormatLength;
    facts.firstBitrateKbps = HeaderBitrateKbps(first);
    facts.sampleRate = opened.sampleRate;
    facts.channels = opened.channels;
    if (sink.begin) sink.begin(opened.channels, opened.sampleRate);

    // int16_t storage keeps the PCM aligned for the decoder's 16-bit writes.
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2 + 64, 0);
    try {
        while (!walk.AudioUsedUp()) {
            const int64_t before = reader.Position();
            if (walk.DecodeNext(reinterpret_cast<uint8_t*>(pcm.data())) !=
                TFrameWalker::TStepResult::Decoded) {
                continue;
            }
            const TMPEGFrameHeader& h = walk.header;
            if (CodedChannels(h) != CodedChannels(first)) facts.channelsChanged = true;
            if (h.BitrateIndex != first.BitrateIndex) facts.variableBitrate = true;
            TMPEGOutputFormat format{};
            GetOutputFormat(*decoder, format);
            const int32_t channels = std::clamp(format.Channels, 1, 2);
            size_t pcmBytes = static_cast<size_t>(walk.lastPcmBytes);
            pcmBytes -= pcmBytes % (2 * static_cast<size_t>(channels));
            if (walk.lastSilent) ++facts.silentFrames;
            ++facts.frames;
            facts.frameBytes += reader.Position() - before;
            facts.samplesPerChannel += static_cast<int64_t>(pcmBytes / (2 * channels));
            if (sink.frame && !sink.frame(pcm.data(), pcmBytes, channels, format.SampleRate)) {
                out.stopped = true;
                break;
            }
        }
    } catch (const std::exception& e) {
        out.error = e.what();
        return out;
    }
    facts.skippedBytes = walk.skippedBytes;
    facts.durationSeconds =
        static_cast<double>(facts.samplesPerChannel) / static_cast<double>(facts.sampleRate);
    out.ok = true;
    return out;
}

DecodeOutcome DecodeMpegAudio(std::span<const uint8_t> data, const DecodeOptions& options,
                              const FrameSink& sink) {
    TMemoryViewStream stream(data);  // the caller keeps the bytes for the call
    return DecodeMpegStream(stream, options, sink);
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


}  // namespace wl::tools
