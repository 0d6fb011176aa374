// TMPStreamReader: a ring buffer in front of a seekable stream, so that the
// frame parser and the tag reader can look at a run of bytes in place, consume
// them, and skip or seek freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "io/file_stream.h"

namespace wl {

class TMPStreamReader {
public:
    // The most bytes one read from the source asks for (unless a single Need
    // wants more at once).
    static constexpr int32_t kFillPiece = 16384;

    // Stores the capacity (at least 1); nothing is allocated before Open.
    explicit TMPStreamReader(int32_t capacity);
    ~TMPStreamReader();
    TMPStreamReader(const TMPStreamReader&) = delete;
    TMPStreamReader& operator=(const TMPStreamReader&) = delete;

    // Starts reading `source` (not owned) from its beginning. On an error the
    // reader is closed and the error propagates.
    void Open(TStream* source, bool seekable = true);
    void Close();

    // True when n unread bytes can be had; they are then contiguous at Data().
    // Asking for more than the capacity (or a negative count) answers false.
    bool Need(int32_t n);
    // The first unread byte (nullptr when closed).
    const uint8_t* Data() const;
    // Consumes n bytes. Past the end of the source: the reader moves to the end
    // and answers false. A negative n changes nothing and answers false.
    bool Skip(int64_t n);
    // Positions the source (empties the ring) and answers the new position.
    // Raises EMP3Error for a position before the start.
    int64_t Seek(int64_t offset, TSeekOrigin origin);
    // Reads up to min(free space, kFillPiece) more bytes; false when the ring is
    // full or not all of them arrived.
    bool FillMore();

    int64_t Position() const { return position_; }
    int32_t Capacity() const { return capacity_; }
    // The source's size, taken at Open (0 when closed).
    int64_t Size() const { return size_; }
    bool Active() const { return active_; }
    bool Seekable() const { return seekable_; }
    // Unread bytes held in the ring.
    int32_t Count() const { return count_; }
    // Unread bytes that follow Data() without wrapping.
    int32_t Contiguous() const;
    // Exchanges sources, rings and positions with `other`.
    void Swap(TMPStreamReader& other) noexcept {
        std::swap(source_, other.source_);
        std::swap(size_, other.size_);
        std::swap(seekable_, other.seekable_);
        std::swap(active_, other.active_);
        std::swap(ring_, other.ring_);
        std::swap(head_, other.head_);
        std::swap(count_, other.count_);
        std::swap(capacity_, other.capacity_);
        std::swap(position_, other.position_);
    }

private:
    bool Fill(int32_t n);
    void Empty();

    TStream* source_ = nullptr;
    int64_t size_ = 0;
    bool seekable_ = false;
    bool active_ = false;
    std::unique_ptr<uint8_t[]> ring_;
    int32_t head_ = 0;
    int32_t count_ = 0;
    int32_t capacity_;
    int64_t position_ = 0;
};

}  // namespace wl
