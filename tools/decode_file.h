// Whole-file decoding for the command-line tool, the tests and the benchmarks:
// finds the audio and its first frame as the player does (behind tags and
// wrappers, junk skipped), sets up a fresh decoder (band limit and free format
// as asked) and walks the stream frame by frame with the player's walk,
// handing each frame's 16-bit PCM to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/frame_header.h"
#include "io/file_stream.h"

namespace wl::tools {

// The player's band limit.
constexpr int32_t kPlayerBandLimitHz = 24000;

struct DecodeOptions {
    // true: all subbands and lines (kOutputFullBand); false: the standard-compatible
    // decode with `bandLimitHz`.
    bool fullBand = true;
    int32_t bandLimitHz = kPlayerBandLimitHz;
    // Re-route the decoder when a frame's coded channel count differs from the
    // set-up's, so that each frame comes out with its own channel count.
    bool followChannelChanges = true;
    // Drop the encoder's delay and padding as the player does (Layer III
    // files whose header frame gives them); false writes every decoded sample.
    bool gapless = true;
    // Capability word for the routine selection; empty: the processor's.
    std::optional<uint32_t> capabilities;
};

struct StreamFacts {
    size_t audioOffset = 0;          // first byte after tags and wrappers
    size_t firstFrameOffset = 0;     // position of the first frame found (a VBR header frame included)
    size_t headerFrameBytes = 0;     // of a Xing/Info/VBRI header frame there (never played)
    TMPEGFrameHeader firstHeader{};  // header of the first frame
    int32_t firstBitrateKbps = 0;    // 0 for free format
    bool freeFormat = false;
    int32_t freeFormatLength = 0;    // measured frame length (without padding slot)
    bool variableBitrate = false;    // bitrate index changes between frames
    int32_t sampleRate = 0;          // output rate in Hz
    int32_t channels = 0;            // output channels of the first frame
    bool channelsChanged = false;    // some frame had another coded channel count
    int64_t frames = 0;              // frames handed to the sink
    int64_t silentFrames = 0;        // frames the decoder rejected (given as silence)
    int64_t samplesPerChannel = 0;
    int64_t frameBytes = 0;          // bytes of all frames walked
    int64_t skippedBytes = 0;        // junk skipped between frames
    double durationSeconds = 0.0;
};

struct FrameSink {
    // Called once after the decoder is set up, with the initial output format.
    std::function<void(int32_t channels, int32_t sampleRate)> begin;
    // Called per frame; returning false stops the walk (for example on a write error).
    std::function<bool(const int16_t* pcm, size_t bytes, int32_t channels, int32_t sampleRate)>
        frame;
};

struct DecodeOutcome {
    bool ok = false;
    bool stopped = false;  // the sink asked to stop
    std::string error;     // set when !ok
    StreamFacts facts;
};

inline constexpr const char* kUnknownFormatMessage = "unknown MPEG Audio format.";

// Decodes the MPEG audio of `stream`, read piece by piece from its start. A
// TPipeStream is read once, front to back: the same PCM as from the bytes in a
// file, in bounded memory (only its stream facts may differ: tags at its end are
// not known as such unless the whole data fits the pipe's window).
DecodeOutcome DecodeMpegStream(TStream& stream, const DecodeOptions& options, const FrameSink& sink);

// Decodes the MPEG audio in `data` (a whole file). Never reads outside `data`.
DecodeOutcome DecodeMpegAudio(std::span<const uint8_t> data, const DecodeOptions& options,
                              const FrameSink& sink);

// Convenience: decodes everything into one interleaved buffer. When channel
// changes are followed the buffer holds each frame's own channel count.
DecodeOutcome DecodeToPcm(std::span<const uint8_t> data, const DecodeOptions& options,
                          std::vector<int16_t>& pcm);

// Reads a whole file. On failure returns false and sets `error` to strerror text.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);

// The 44-byte canonical WAV header for 16-bit PCM. `dataBytes` is clamped so that
// the RIFF size fits 32 bits; pass 0xFFFFFFFF for "unknown" (streamed output).
std::vector<uint8_t> MakeWavHeader(int32_t channels, int32_t sampleRate, uint64_t dataBytes);

// "MPEG-1", "MPEG-2" or "MPEG-2.5"; "Layer I/II/III"; "stereo", "joint stereo",
// "dual channel" or "mono".
std::string VersionName(const TMPEGFrameHeader& h);
std::string LayerName(const TMPEGFrameHeader& h);
std::string ModeName(const TMPEGFrameHeader& h);
using wl::SamplesPerFrame;

}  // namespace wl::tools
