#include "engine/player_decode.h"

#include <memory>

#include "decoder/cpu_features.h"
#include "engine/frame_walk.h"
#include "engine/stream_open.h"
#include "info/mp3_info.h"
#include "io/stream_reader.h"

namespace wl {

void DecodeAsPlayer(TStream& stream, const std::function<void(const TStreamFacts&)>& begin,
                    const std::function<bool(const uint8_t* pcm, int32_t bytes)>& frame) {
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    TMP3Info info;
    info.Attach(&reader);
    auto decoder = NewDecoder();
    SelectRoutines(*decoder, GetCpuFeatures());
    TStreamFacts facts;
    AnalyzeStream(reader, info, *decoder, facts);
    if (begin) begin(facts);

    TFrameWalker walk;
    walk.Assign(&reader, decoder.get(), facts);
    // 8-byte aligned like the player's buffer.
    auto storage = std::make_unique<uint64_t[]>(5120 / 8);
    uint8_t* pcm = reinterpret_cast<uint8_t*>(storage.get());
    while (!walk.AudioUsedUp()) {
        if (walk.DecodeNext(pcm) != TFrameWalker::TStepResult::Decoded) continue;
        if (frame && !frame(pcm, walk.lastPcmBytes)) break;
    }
    reader.Close();
}

}  // namespace wl
