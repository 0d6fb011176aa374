#include "engine/frame_walk.h"

#include <cstring>
#include <memory>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"
#include "engine/stream_open.h"
#include "info/mp3_info.h"

namespace wl {

int32_t PlayerOutputFlags() { return kOutputFullBand; }

int32_t PaddingSlot(const TMPEGFrameHeader& h) {
    if (!h.Padding) return 0;
    return h.Layer == 3 ? 4 : 1;
}

int32_t FrameLength(const uint8_t* bytes, uint32_t firstHeaderWord, TMPEGFrameHeader& header) {
    const int32_t n = ParseFrameHeader(bytes, 0, header);
    if (n <= 0) return n;
    if (header.Layer < 1 || header.Layer > 3) return 0;
    if ((LittleEndianWord(bytes) & kFrameMatchMask) != (firstHeaderWord & kFrameMatchMask)) return 0;
    return n + PaddingSlot(header);
}

void TFrameWalker::Assign(TMPStreamReader* r, const TStreamFacts& facts) {
    reader = r;
    audioStart = facts.audioStart;
    audioLength = facts.audioLength;
    firstHeaderWord = facts.firstHeaderWord;
    header = facts.firstHeader;
    nextFrameLength = facts.nextFrameLength;
    resyncCount = 0;
    needSetup = false;
    pcmBytesPerFrame = facts.pcmBytesPerFrame;
}

bool TFrameWalker::AudioUsedUp() const { return reader->Position() - audioStart >= audioLength; }

void TFrameWalker::EndOfData() { audioLength = reader->Position() - audioStart; }

void TFrameWalker::ResyncStep() {
    if (resyncCount >= kResyncLimit) {
        EndOfData();
        return;
    }
    reader->Skip(1);
    ++resyncCount;
    nextFrameLength = 0;
}

TFrameWalker::TStepResult TFrameWalker::DecodeNext(uint8_t* pcm) {
    if (nextFrameLength == 0) {
        if (!reader->Need(4)) {
            EndOfData();
            return TStepResult::Ended;
        }
        nextFrameLength = FrameLength(reader->Data(), firstHeaderWord, header);
        if (nextFrameLength <= 0) {
            nextFrameLength = 0;
            ResyncStep();
            return TStepResult::Skipped;
        }
    }
    if (needSetup) {
        if (!SetupDecoder(header, nextFrameLength - PaddingSlot(header), 0, 0, PlayerOutputFlags(),
                          kPlayerBandLimitHz)) {
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
    TDecodeResult result{};
    DecodeFrame(result, reader->Data(), pcm);
    reader->Skip(nextFrameLength);
    nextFrameLength = 0;
    resyncCount = 0;
    if (result.BytesConsumed < 1) std::memset(pcm, 0, static_cast<size_t>(pcmBytesPerFrame));
    return TStepResult::Decoded;
}

bool TFrameWalker::ScanFrame() {
    int32_t skipped = 0;
    for (;;) {
        if (!reader->Need(4)) return false;
        TMPEGFrameHeader h{};
        const int32_t length = FrameLength(reader->Data(), firstHeaderWord, h);
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
}

void DecodeAsPlayer(TStream& stream, const std::function<void(const TStreamFacts&)>& begin,
                    const std::function<bool(const uint8_t* pcm, int32_t bytes)>& frame) {
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    TMP3Info info;
    info.Attach(&reader);
    TStreamFacts facts;
    AnalyzeStream(reader, info, facts);
    SelectRoutines(GetCpuFeatures());
    if (begin) begin(facts);

    TFrameWalker walk;
    walk.Assign(&reader, facts);
    // 8-byte aligned like the player's buffer.
    auto storage = std::make_unique<uint64_t[]>(5120 / 8);
    uint8_t* pcm = reinterpret_cast<uint8_t*>(storage.get());
    while (!walk.AudioUsedUp()) {
        if (walk.DecodeNext(pcm) != TFrameWalker::TStepResult::Decoded) continue;
        if (frame && !frame(pcm, walk.pcmBytesPerFrame)) break;
    }
    reader.Close();
}

}  // namespace wl
