// The frame walk shared by the player's decoding thread and wl-decode (both
// modes): measuring a frame against the stream's first header, decoding it
// with the walk's own decoder, skipping junk byte by byte and deciding where
// the audio ends.
#pragma once

#include <cstdint>
#include <functional>

#include "decoder/decoder.h"
#include "decoder/frame_header.h"
#include "io/file_stream.h"
#include "engine/frame_scanner.h"
#include "engine/stream_facts.h"
#include "io/stream_reader.h"

namespace wl {

// Walk state over a reader; the player keeps one under its decode lock.
struct TFrameWalker {
    enum class TStepResult {
        Decoded,  // one frame's PCM (silence when the decoder refused it)
        Skipped,  // a byte of junk was skipped, or the set-up failed here
        Ended,    // the end-of-data rule was applied
    };

    TMPStreamReader* reader = nullptr;
    DecoderState* decoder = nullptr;
    int64_t audioStart = 0;
    int64_t audioLength = kUnknownAudioLength;
    uint32_t firstHeaderWord = 0;
    TMPEGFrameHeader header{};  // of the frame measured last
    int32_t nextFrameLength = 0;
    int32_t resyncCount = 0;
    bool needSetup = false;
    int32_t pcmBytesPerFrame = 0;
    // Decoder set-up for a new position.
    int32_t outputFlags = 0;
    int32_t bandLimitHz = kPlayerBandLimitHz;
    // Free-format streams: the measured frame length without padding (0 when
    // the stream is not free format).
    int32_t freeFormatLength = 0;
    // Re-route the decoder when a frame's coded channel count differs from
    // the set-up's, so that it comes out with its own channel count (the
    // player keeps one output format instead).
    bool followChannelChanges = false;
    // Of the frame decoded last: its PCM bytes, and whether the decoder
    // refused it (it then came out as silence).
    int32_t lastPcmBytes = 0;
    bool lastSilent = false;
    // Junk bytes skipped over the whole walk.
    int64_t skippedBytes = 0;
    // Gapless trimming: decoded samples per channel before the music, the
    // music's length (0 = no end), and the walk's state: samples still to
    // drop and to hand out (-1 = no end). sampleBytes: one sample over all
    // channels.
    int32_t trimStart = 0;
    int64_t musicSamples = 0;
    // A play range: the music samples before it, and the music sample it
    // ends before (-1: the music's end).
    int64_t rangeFirst = 0;
    int64_t rangeEnd = -1;
    // Frames still to decode only to prime the decoder (after repositioning):
    // their PCM is dropped and they count for nothing.
    int32_t prerollFrames = 0;
    int64_t dropSamples = 0;
    int64_t samplesLeft = -1;
    int32_t sampleBytes = 0;

    // The player's walk over `r` with decoder `d`, from the opening analysis.
    void Assign(TMPStreamReader* r, DecoderState* d, const TStreamFacts& facts);

    // Length with padding of the frame at `bytes` (four readable bytes), or
    // <= 0 when no frame of this stream starts there.
    int32_t Measure(const uint8_t* bytes, TMPEGFrameHeader& h) const;
    // The reader has passed the end of the audio.
    bool AudioUsedUp() const;
    // The audio ends at the reader's position.
    void EndOfData();
    // Skips one byte of junk, or ends the audio after kResyncLimit of them.
    void ResyncStep();
    // Measures, sets up when asked and decodes one frame into pcm
    // (lastPcmBytes bytes, at most kMaxPcmBytesPerFrame; pcmBytesPerFrame for
    // the player). Call only when !AudioUsedUp().
    TStepResult DecodeNext(uint8_t* pcm);
    // Passes one frame from the reader's position, skipping up to
    // kResyncLimit - 1 bytes of junk before it; the frame must end within the
    // audio. False when none is found.
    bool ScanFrame();
    // Back to the first audio byte, decoder to be set up again (for a walk
    // without a range; the player positions a range's walk itself).
    void Rewind();
    // Trimming from music sample `musicPosition` on, for a walk that starts
    // `dropFirst` decoded samples before it.
    void StartMusicAt(int64_t musicPosition, int64_t dropFirst);
    // Where the music that plays ends (the music's end or the range's,
    // whichever comes first), in music samples; -1 when unknown.
    int64_t MusicEnd() const;
    // Positions are music samples: the stream is trimmed or has a range.
    bool SampleExact() const { return trimStart > 0 || musicSamples > 0 || rangeFirst > 0 || rangeEnd >= 0; }
    // Samples per channel in one frame of the stream.
    int32_t FrameSamples() const;
    // Drops and ends the decoded frame's PCM as trimming asks.
    void Trim(uint8_t* pcm);
};

}  // namespace wl
