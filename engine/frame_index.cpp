#include "engine/frame_index.h"

#include <chrono>
#include <exception>

#include "engine/frame_scanner.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"

namespace wl {
namespace {

// Frames found are published in batches: the seeking side takes the lock
// rarely and briefly.
constexpr size_t kBatch = 4096;
constexpr int32_t kReaderCapacity = 65536;

}  // namespace

void TFrameIndex::Start(const std::string& path, const TFrameWalker& walk, int64_t firstFrame) {
    Cancel();
    samplesPerFrame_ = walk.FrameSamples();
    thread_ = std::thread([this, path, walk, firstFrame] { Run(path, walk, firstFrame); });
}

void TFrameIndex::Cancel() {
    cancel_.store(true);
    if (thread_.joinable()) thread_.join();
    cancel_.store(false);
    complete_.store(false);
    buildMs_.store(0);
    std::lock_guard<std::mutex> lock(mutex_);
    offsets_.clear();
    offsets_.shrink_to_fit();
}

int64_t TFrameIndex::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int64_t>(offsets_.size());
}

int64_t TFrameIndex::Offset(int64_t k) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return offsets_.at(static_cast<size_t>(k));
}

void TFrameIndex::Append(std::vector<int64_t>& batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    offsets_.insert(offsets_.end(), batch.begin(), batch.end());
    batch.clear();
}

void TFrameIndex::Run(std::string path, TFrameWalker walk, int64_t firstFrame) {
    const auto started = std::chrono::steady_clock::now();
    try {
        TFileStream stream(path);
        TMPStreamReader reader(kReaderCapacity);
        reader.Open(&stream);
        reader.Seek(firstFrame, TSeekOrigin::soBeginning);
        // The walk's rules: the audio ends where a frame would start past it,
        // where a frame is not whole, or after kResyncLimit bytes of junk.
        const int64_t end = walk.audioLength == kUnknownAudioLength ? reader.Size()
                                                                     : walk.audioStart + walk.audioLength;
        std::vector<int64_t> batch;
        batch.reserve(kBatch);
        int32_t junk = 0;
        while (!cancel_.load(std::memory_order_relaxed)) {
            const int64_t at = reader.Position();
            if (at >= end || !reader.Need(4)) break;
            TMPEGFrameHeader h{};
            const int32_t length = walk.Measure(reader.Data(), h);
            if (length <= 0) {
                if (junk >= kResyncLimit || !reader.Skip(1)) break;
                ++junk;
                continue;
            }
            if (!reader.Need(length)) break;
            reader.Skip(length);
            junk = 0;
            batch.push_back(at);
            if (batch.size() >= kBatch) Append(batch);
        }
        if (cancel_.load()) return;
        Append(batch);
    } catch (const std::exception&) {
        // A file that cannot be read again has no index: seeks scan as before.
        return;
    }
    buildMs_.store(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    complete_.store(true, std::memory_order_release);
}

}  // namespace wl
