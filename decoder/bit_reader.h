// The decoder's two MSB-first bit readers. Neither checks for running past its
// data: the main-data reader is watched by the Layer III decoder through its
// limit pointer, and both read from buffers that carry guard bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace wl {

// The 4 or 8 bytes at p as a big-endian number.
inline uint32_t LoadBigEndian32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}
inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// Main-data reader (Layer III side information, scale factors, Huffman data).
// The low `count` bits of `acc` are the next bits of the stream; the bits
// above them are spent ones and are masked off when reading.
struct TMainBits {
    const uint8_t* ptr = nullptr;
    uint32_t acc = 0;
    int32_t count = 0;
    const uint8_t* start = nullptr;
    const uint8_t* limit = nullptr;

    void SetBitSource(const uint8_t* p) {
        ptr = start = p;
        acc = 0;
        count = 0;
    }
    void SetBitLimit(const uint8_t* p) { limit = p; }

    // Takes whole bytes until more than 24 bits are held (1 to 4 bytes, the
    // same as one byte at a time); reads 4 bytes at ptr, which the callers'
    // buffers provide (guard bytes behind the data).
    void Refill() {
        const uint32_t bytes = static_cast<uint32_t>(32 - count) >> 3;
        const uint32_t next = LoadBigEndian32(ptr);
        acc = static_cast<uint32_t>((uint64_t{acc} << (8 * bytes)) | (next >> (32 - 8 * bytes)));
        count += static_cast<int32_t>(8 * bytes);
        ptr += bytes;
    }
    // n = 1..24
    uint32_t GetBits(int32_t n) {
        if (count < n) Refill();
        count -= n;
        return (acc >> count) & ((1u << n) - 1u);
    }
    // Refills so that the escape value and the sign bit after it are held.
    uint32_t GetBitsForEscape(int32_t n) {
        if (count < n + 2) Refill();
        count -= n;
        return (acc >> count) & ((1u << n) - 1u);
    }
    // The sign bit after a value: consumed and applied only when v is not 0.
    int32_t Signed(int32_t v) {
        const int32_t nz = v != 0;
        if (count < nz) Refill();
        count -= nz;
        const int32_t negative = static_cast<int32_t>(acc >> count) & nz;
        return (v ^ -negative) + negative;
    }
    // n = 1..11: refills only when 10 or fewer bits are held.
    uint32_t PeekBits(int32_t n) {
        if (count <= 10) Refill();
        return (acc >> (count - n)) & ((1u << n) - 1u);
    }
    void Consume(int32_t n) { count -= n; }
    int32_t BitPosition() const { return static_cast<int32_t>(ptr - start) * 8 - count; }
    bool PastLimit() const { return ptr > limit; }
};

// Frame reader (Layer I/II). `buf` holds the next bits of the stream at its
// top; the `avail` highest of them are counted, and the bytes counted end at
// `ptr`. Below them it may hold more stream bits from the last load (the
// same bits that the next load ORs in again).
struct TFrameBits {
    const uint8_t* ptr = nullptr;
    uint64_t buf = 0;
    int32_t avail = 0;

    void SetFrameSource(const uint8_t* p) {
        ptr = p;
        buf = 0;
        avail = 0;
    }
    // Counts whole bytes until at least 57 bits are held; reads 8 bytes at
    // ptr, which the caller's buffer provides.
    void Fill() {
        buf |= LoadBigEndian64(ptr) >> avail;
        const int32_t bytes = (63 - avail) >> 3;
        ptr += bytes;
        avail += 8 * bytes;
    }
    // n = 1..16
    uint32_t ReadBits(int32_t n) {
        if (avail < n) Fill();
        const auto r = static_cast<uint32_t>(buf >> (64 - n));
        buf <<= n;
        avail -= n;
        return r;
    }
    // Three codes of n = 1..16 bits each.
    void ReadThree(int32_t n, uint32_t v[3]) {
        if (avail < 3 * n) Fill();
        v[0] = static_cast<uint32_t>(buf >> (64 - n));
        v[1] = static_cast<uint32_t>((buf << n) >> (64 - n));
        v[2] = static_cast<uint32_t>((buf << (2 * n)) >> (64 - n));
        buf <<= 3 * n;
        avail -= 3 * n;
    }
    void SkipBits(int32_t n) {
        if (n > avail) {
            n -= avail;
            ptr += n / 8;
            n %= 8;
            buf = 0;
            avail = 0;
            Fill();
        }
        buf <<= n;
        avail -= n;
    }
};

}  // namespace wl
