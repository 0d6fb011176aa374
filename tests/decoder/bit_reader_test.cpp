// The bit readers against straightforward byte-at-a-time models. The Layer III
// decoder's damaged-data limit compares the main-data reader's byte pointer,
// so that reader must take its bytes at exactly the moments the model does,
// not only return the same bits.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/bit_reader.h"

namespace wl {
namespace {

// The main-data reader as a byte-at-a-time reader: refills while at most 24
// bits are held, at the same points (GetBits when fewer than n bits are held,
// the escape read when fewer than n + 2, PeekBits when 10 or fewer).
struct ModelMainBits {
    const uint8_t* ptr = nullptr;
    uint64_t acc = 0;
    int32_t count = 0;

    void Refill() {
        while (count <= 24) {
            acc = (acc << 8) | *ptr++;
            count += 8;
        }
    }
    uint32_t Take(int32_t n) {
        count -= n;
        return static_cast<uint32_t>((acc >> count) & ((uint64_t{1} << n) - 1));
    }
    uint32_t GetBits(int32_t n) {
        if (count < n) Refill();
        return Take(n);
    }
    uint32_t GetBitsForEscape(int32_t n) {
        if (count < n + 2) Refill();
        return Take(n);
    }
    int32_t Signed(int32_t v) {
        if (v == 0) return 0;
        return GetBits(1) ? -v : v;
    }
    uint32_t PeekBits(int32_t n) {
        if (count <= 10) Refill();
        return static_cast<uint32_t>((acc >> (count - n)) & ((uint64_t{1} << n) - 1));
    }
};

TEST(BitReaders, MainBitsTakesBytesWhenTheByteAtATimeModelDoes) {
    std::mt19937 rng(12);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(4096 + 64);
        for (auto& byte : data) byte = static_cast<uint8_t>(rng());
        TMainBits b;
        b.SetBitSource(data.data());
        ModelMainBits m;
        m.ptr = data.data();
        for (int op = 0; op < 600; ++op) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", op " << op);
            switch (rng() % 5) {
                case 0: {
                    const int32_t n = 1 + static_cast<int32_t>(rng() % 24);
                    ASSERT_EQ(b.GetBits(n), m.GetBits(n)) << n;
                    break;
                }
                case 1: {
                    const int32_t n = 1 + static_cast<int32_t>(rng() % 13);
                    ASSERT_EQ(b.GetBitsForEscape(n), m.GetBitsForEscape(n)) << n;
                    break;
                }
                case 2: {
                    const int32_t v = static_cast<int32_t>(rng() % 3) * 7;  // 0 or not
                    ASSERT_EQ(b.Signed(v), m.Signed(v));
                    break;
                }
                default: {
                    const int32_t n = 1 + static_cast<int32_t>(rng() % 11);
                    ASSERT_EQ(b.PeekBits(n), m.PeekBits(n)) << n;
                    const int32_t used = 1 + static_cast<int32_t>(rng() % n);
                    b.Consume(used);
                    m.count -= used;
                    break;
                }
            }
            ASSERT_EQ(b.ptr, m.ptr);
            ASSERT_EQ(b.count, m.count);
            ASSERT_EQ(b.BitPosition(), static_cast<int32_t>(m.ptr - data.data()) * 8 - m.count);
            if (m.ptr - data.data() > 4000) break;
        }
    }
}

TEST(BitReaders, FrameBitsReadsTheStreamInOrder) {
    std::mt19937 rng(34);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(2048 + 64);
        for (auto& byte : data) byte = static_cast<uint8_t>(rng());
        const auto bitAt = [&](int64_t i) { return (data[size_t(i / 8)] >> (7 - i % 8)) & 1; };
        TFrameBits f;
        f.SetFrameSource(data.data());
        int64_t pos = 0;
        while (pos < 8 * 1900) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", bit " << pos);
            const uint32_t op = rng() % 4;
            if (op == 0) {
                const int32_t n = static_cast<int32_t>(rng() % 300);
                f.SkipBits(n);
                pos += n;
            } else if (op == 1) {
                const int32_t n = 1 + static_cast<int32_t>(rng() % 16);
                uint32_t three[3];
                f.ReadThree(n, three);
                for (uint32_t v : three) {
                    uint32_t want = 0;
                    for (int32_t i = 0; i < n; ++i) want = want << 1 | bitAt(pos++);
                    ASSERT_EQ(v, want) << n;
                }
            } else {
                const int32_t n = 1 + static_cast<int32_t>(rng() % 16);
                uint32_t want = 0;
                for (int32_t i = 0; i < n; ++i) want = want << 1 | bitAt(pos++);
                ASSERT_EQ(f.ReadBits(n), want) << n;
            }
        }
    }
}

}  // namespace
}  // namespace wl
