#include "engine/frame_walk.h"

#include <algorithm>
#include <cstring>

#include "decoder/decoder.h"

namespace wl {

int32_t PlayerOutputFlags() { return kOutputFullBand; }

void TFrameWalker::Assign(TMPStreamReader* r, DecoderState* d, const TStreamFacts& facts) {
    *this = TFrameWalker{};
    reader = r;
    decoder = d;
    outputFlags = PlayerOutputFlags();
    audioStart = facts.audioStart;
    audioLength = facts.audioLength;
    firstHeaderWord = facts.firstHeaderWord;
    header = facts.firstHeader;
    nextFrameLength = facts.nextFrameLength;
    resyncCount = 0;
    needSetup = false;
    pcmBytesPerFrame = facts.pcmBytesPerFrame;
    sampleBytes = facts.channels * facts.bitsPerSample / 8;
    trimStart = facts.trimStart;
    musicSamples = facts.musicSamples;
    StartMusicAt(0, trimStart);
}

void TFrameWalker::StartMusicAt(int64_t musicPosition, int64_t dropFirst) {
    dropFirst = std::max<int64_t>(dropFirst, 0);
    dropSamples = dropFirst;
    const int64_t end = MusicEnd();
    samplesLeft = end >= 0 ? std::max<int64_t>(end - musicPosition, 0) : -1;
}

int64_t TFrameWalker::MusicEnd() const {
    if (musicSamples > 0 && rangeEnd >= 0) return std::min(musicSamples, rangeEnd);
    return musicSamples > 0 ? musicSamples : rangeEnd;
}

int32_t TFrameWalker::FrameSamples() const { return sampleBytes > 0 ? pcmBytesPerFrame / sampleBytes : 0; }

int32_t TFrameWalker::Measure(const uint8_t* bytes, TMPEGFrameHeader& h) const {
    const int32_t n = FrameLength(bytes, firstHeaderWord, h);
    if (n > 0 || freeFormatLength <= 0 || h.SyncKind == 0 || h.BitrateIndex != 0) return n;
    if ((LittleEndianWord(bytes) & kFrameMatchMask) != (firstHeaderWord & kFrameMatchMask)) return 0;
    return FrameBytes(h, freeFormatLength);
}

bool TFrameWalker::AudioUsedUp() const {
    return samplesLeft == 0 || reader->Position() - audioStart >= audioLength;
}

void TFrameWalker::EndOfData() { audioLength = reader->Position() - audioStart; }

void TFrameWalker::ResyncStep() {
    if (resyncCount >= kResyncLimit) {
        EndOfData();
        return;
    }
    reader->Skip(1);
    ++resyncCount;
    ++skippedBytes;
    nextFrameLength = 0;
}

TFrameWalker::TStepResult TFrameWalker::DecodeNext(uint8_t* pcm) {
    if (nextFrameLength == 0) {
        if (!reader->Need(4)) {
            EndOfData();
            return TStepResult::Ended;
        }
        nextFrameLength = Measure(reader->Data(), header);
        if (nextFrameLength <= 0) {
            nextFrameLength = 0;
            ResyncStep();
            return TStepResult::Skipped;
        }
    }
    if (needSetup) {
        if (!SetupDecoder(*decoder, header, nextFrameLength - PaddingSlot(header), 0, 0, outputFlags,
                          bandLimitHz)) {
            ResyncStep();
            return TStepResult::Skipped;
        }
        needSetup = false;
        resyncCount = 0;
    }
    if (!reader->Need(nextFrameLength)) {
        EndOfData();
        return TStepResult::Ended;
    }
    if (followChannelChanges && CodedChannels(header) != ConfiguredChannels(*decoder)) {
        AdaptChannelCount(*decoder, header);
    }
    TDecodeResult result{};
    DecodeFrame(*decoder, result, reader->Data(), reader->Contiguous(), pcm);
    reader->Skip(nextFrameLength);
    nextFrameLength = 0;
    resyncCount = 0;
    lastSilent = result.BytesConsumed < 1 || result.PcmBytes < 1;
    if (followChannelChanges) {
        TMPEGOutputFormat format{};
        GetOutputFormat(*decoder, format);
        const int32_t frameBytes = std::clamp(format.SamplesPerFrame * format.BitsPerSample / 8, 0,
                                              kMaxPcmBytesPerFrame);
        lastPcmBytes = lastSilent ? frameBytes : std::min(result.PcmBytes, kMaxPcmBytesPerFrame);
        sampleBytes = std::clamp(format.Channels, 1, 2) * 2;
    } else {
        lastPcmBytes = pcmBytesPerFrame;
    }
    if (lastSilent) std::memset(pcm, 0, static_cast<size_t>(lastPcmBytes));
    if (prerollFrames > 0) {
        --prerollFrames;
        lastPcmBytes = 0;
        return TStepResult::Decoded;
    }
    Trim(pcm);
    return TStepResult::Decoded;
}

bool TFrameWalker::ScanFrame() {
    int32_t skipped = 0;
    for (;;) {
        if (!reader->Need(4)) return false;
        TMPEGFrameHeader h{};
        const int32_t length = Measure(reader->Data(), h);
        if (length > 0) {
            if (reader->Position() + length > audioStart + audioLength) return false;
            return reader->Skip(length);
        }
        if (skipped >= kResyncLimit - 1) return false;
        if (!reader->Skip(1)) return false;
        ++skipped;
    }
}

void TFrameWalker::Rewind() {
    reader->Seek(audioStart, TSeekOrigin::soBeginning);
    nextFrameLength = 0;
    resyncCount = 0;
    needSetup = true;
    prerollFrames = 0;
    StartMusicAt(0, trimStart);
}

void TFrameWalker::Trim(uint8_t* pcm) {
    if (sampleBytes <= 0 || (dropSamples == 0 && samplesLeft < 0)) return;
    int64_t n = lastPcmBytes / sampleBytes;
    const int64_t drop = std::min(dropSamples, n);
    dropSamples -= drop;
    n -= drop;
    if (samplesLeft >= 0) {
        n = std::min(n, samplesLeft);
        samplesLeft -= n;
    }
    if (drop > 0 && n > 0) {
        std::memmove(pcm, pcm + drop * sampleBytes, static_cast<size_t>(n * sampleBytes));
    }
    lastPcmBytes = static_cast<int32_t>(n * sampleBytes);
}

}  // namespace wl
