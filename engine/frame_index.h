// TFrameIndex: where every frame of an open file starts, found on a thread of
// its own after the opening analysis, through its own stream, so that seeks
// land on the exact frame without reading on the host's thread. Frames are
// counted as the frame walk decodes them (junk skipped byte by byte, the walk's
// resync limit and audio end applied), so frame k is the walk's k-th decoded
// frame and starts at decoded sample k * SamplesPerFrame.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame_walk.h"

namespace wl {

class TFrameIndex {
public:
    TFrameIndex() = default;
    ~TFrameIndex() { Cancel(); }
    TFrameIndex(const TFrameIndex&) = delete;
    TFrameIndex& operator=(const TFrameIndex&) = delete;

    // Cancels an index under way and indexes the file at `path` from the
    // frame at `firstFrame` with the rules of `walk` (its reader unused).
    void Start(const std::string& path, const TFrameWalker& walk, int64_t firstFrame);
    // Stops the thread (within a frame's work) and forgets the index.
    void Cancel();

    // Every frame is indexed (the file could not be read: never).
    bool Complete() const { return complete_.load(std::memory_order_acquire); }
    // Frames indexed so far.
    int64_t Count() const;
    // Start of frame k (< Count()).
    int64_t Offset(int64_t k) const;
    // Decoded samples per channel in every frame of the stream.
    int32_t SamplesPerFrame() const { return samplesPerFrame_; }
    // How long the complete index took to build, in milliseconds.
    double BuildMs() const { return buildMs_.load(); }

private:
    void Run(std::string path, TFrameWalker walk, int64_t firstFrame);
    void Append(std::vector<int64_t>& batch);

    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> complete_{false};
    std::atomic<double> buildMs_{0};
    int32_t samplesPerFrame_ = 0;
    mutable std::mutex mutex_;
    std::vector<int64_t> offsets_;  // under mutex_
};

}  // namespace wl
