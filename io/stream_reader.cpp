#include "io/stream_reader.h"

#include <algorithm>
#include <cstring>

namespace wl {

TMPStreamReader::TMPStreamReader(int32_t capacity) : capacity_(std::max<int32_t>(capacity, 1)) {}

TMPStreamReader::~TMPStreamReader() { Close(); }

void TMPStreamReader::Open(TStream* source, bool seekable) {
    Close();
    active_ = true;
    position_ = 0;
    head_ = 0;
    count_ = 0;
    try {
        if (!source) throw EMP3Error("no stream to read");
        source_ = source;
        seekable_ = seekable;
        // new[] storage is aligned far beyond the 8 bytes the frame parser wants.
        ring_ = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity_));
        size_ = source->Size();
        source->Seek(0, TSeekOrigin::soBeginning);
    } catch (...) {
        Close();
        throw;
    }
}

void TMPStreamReader::Close() {
    if (!active_) return;
    source_ = nullptr;
    size_ = 0;
    ring_.reset();
    head_ = 0;
    count_ = 0;
    position_ = 0;
    active_ = false;
}

int32_t TMPStreamReader::Contiguous() const {
    // Computed rather than remembered from the last fill, so that it stays true
    // after Skip: a stale value would let a parser run past the unread bytes.
    return std::min(count_, capacity_ - head_);
}

const uint8_t* TMPStreamReader::Data() const { return active_ ? ring_.get() + head_ : nullptr; }

bool TMPStreamReader::Fill(int32_t n) {
    while (count_ < n) {
        int32_t piece;
        if (n - count_ >= kFillPiece) {
            piece = n - count_;
        } else if (capacity_ - count_ >= kFillPiece) {
            piece = kFillPiece;
        } else {
            piece = capacity_ - count_;
        }
        const int32_t writeAt = (head_ + count_) % capacity_;
        piece = std::min(piece, capacity_ - writeAt);
        const size_t got = source_->Read(ring_.get() + writeAt, static_cast<size_t>(piece));
        if (got == 0) break;
        count_ += static_cast<int32_t>(got);
    }
    return count_ >= n;
}

bool TMPStreamReader::Need(int32_t n) {
    if (!active_ || n < 0 || n > capacity_) return false;
    if (!Fill(n)) return false;
    if (Contiguous() < n) {
        // Bring the unread bytes, in order, to the start of the ring. Usually
        // they are few against the ring (a fill piece and a frame): two moves
        // of those bytes, the wrapped part first, instead of rotating it all.
        uint8_t* ring = ring_.get();
        const int32_t tail = capacity_ - head_;  // unread bytes at the end
        if (count_ <= head_) {
            std::memmove(ring + tail, ring, static_cast<size_t>(count_ - tail));
            std::memmove(ring, ring + head_, static_cast<size_t>(tail));
        } else {
            std::rotate(ring, ring + head_, ring + capacity_);
        }
        head_ = 0;
    }
    return true;
}

void TMPStreamReader::Empty() {
    head_ = 0;
    count_ = 0;
}

bool TMPStreamReader::Skip(int64_t n) {
    if (!active_ || n < 0) return false;
    if (count_ >= n) {
        const auto k = static_cast<int32_t>(n);
        count_ -= k;
        head_ = (head_ + k) % capacity_;
        position_ += k;
        return true;
    }
    if (n > size_ - position_) {
        position_ = source_->Seek(0, TSeekOrigin::soEnd);
        Empty();
        return false;
    }
    position_ = source_->Seek(position_ + n, TSeekOrigin::soBeginning);
    Empty();
    return true;
}

int64_t TMPStreamReader::Seek(int64_t offset, TSeekOrigin origin) {
    if (!active_) return 0;
    if (origin == TSeekOrigin::soCurrent) {
        int64_t target = 0;
        if (__builtin_add_overflow(position_, offset, &target)) {
            throw EMP3Error("seek out of range");
        }
        offset = target;
        origin = TSeekOrigin::soBeginning;
    }
    const int64_t where = source_->Seek(offset, origin);
    position_ = where;
    Empty();
    return position_;
}

bool TMPStreamReader::FillMore() {
    if (!active_ || count_ >= capacity_) return false;
    const int32_t more = std::min(capacity_ - count_, kFillPiece);
    return Fill(count_ + more);
}

}  // namespace wl
