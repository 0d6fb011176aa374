// The ring-buffered reader over memory and file streams: fill sizes, the
// rotation that makes requested bytes contiguous, skipping, seeking, ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "tests/test_support.h"

namespace {

using wl::EMP3Error;
using wl::TFileStream;
using wl::TMemoryStream;
using wl::TMPStreamReader;
using wl::TSeekOrigin;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    return v;
}

// A memory stream that records the size of every read asked for.
class CountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    size_t Read(void* buffer, size_t count) override {
        requests.push_back(count);
        return TMemoryStream::Read(buffer, count);
    }
    std::vector<size_t> requests;
};

bool SameBytes(const uint8_t* p, const std::vector<uint8_t>& data, size_t at, size_t n) {
    return at + n <= data.size() && std::equal(p, p + n, data.begin() + static_cast<ptrdiff_t>(at));
}

TEST(StreamReader, FreshNeedReadsOnePieceOrTheWholeShortFile) {
    const auto data = Pattern(100000);
    CountingStream stream(data);
    TMPStreamReader reader(65536);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Need(4));
    ASSERT_EQ(stream.requests.size(), 1u);
    EXPECT_EQ(stream.requests[0], 16384u);
    EXPECT_EQ(reader.Count(), 16384);
    EXPECT_EQ(reader.Contiguous(), 16384);
    EXPECT_TRUE(SameBytes(reader.Data(), data, 0, 4));
    EXPECT_EQ(reader.Position(), 0);
    EXPECT_EQ(reader.Size(), 100000);

    const auto small = Pattern(1000);
    TMemoryStream shortStream(small);
    reader.Open(&shortStream);  // reopening starts afresh
    ASSERT_TRUE(reader.Need(4));
    EXPECT_EQ(reader.Count(), 1000);
    EXPECT_EQ(reader.Size(), 1000);
}

TEST(StreamReader, NeedAcrossTheRingEndMakesTheBytesContiguous) {
    const auto data = Pattern(5000);
    CountingStream stream(data);
    TMPStreamReader reader(256);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Need(256));
    ASSERT_TRUE(reader.Skip(196));  // 60 unread bytes left before the ring end
    EXPECT_EQ(reader.Count(), 60);
    EXPECT_EQ(reader.Contiguous(), 60);
    ASSERT_TRUE(reader.Need(100));  // the other 40 land at the ring start
    EXPECT_GE(reader.Contiguous(), 100);
    EXPECT_EQ(reader.Position(), 196);
    EXPECT_TRUE(SameBytes(reader.Data(), data, 196, 100));
    // Reads never asked for more than the free space or past the ring end.
    for (size_t r : stream.requests) EXPECT_LE(r, 256u);
    // Consuming across the old wrap point keeps the byte order.
    ASSERT_TRUE(reader.Skip(100));
    ASSERT_TRUE(reader.Need(200));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 296, 200));
}

TEST(StreamReader, ContiguousStaysTrueAfterSkip) {
    const auto data = Pattern(1000);
    TMemoryStream stream(data);
    TMPStreamReader reader(256);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Need(256));
    ASSERT_TRUE(reader.Skip(250));
    // Only 6 bytes follow Data() now; a parser trusting a stale 256 would run
    // past the end of the ring.
    EXPECT_EQ(reader.Contiguous(), 6);
    EXPECT_EQ(reader.Count(), 6);
}

TEST(StreamReader, SkipBeyondTheBufferAndPastTheEnd) {
    const auto data = Pattern(100000);
    TMemoryStream stream(data);
    TMPStreamReader reader(65536);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Need(10));
    ASSERT_TRUE(reader.Skip(20000));  // more than the 16384 buffered
    EXPECT_EQ(reader.Position(), 20000);
    ASSERT_TRUE(reader.Need(4));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 20000, 4));

    ASSERT_TRUE(reader.Skip(100000 - 20000));  // exactly to the end
    EXPECT_EQ(reader.Position(), 100000);
    EXPECT_FALSE(reader.Need(1));

    reader.Seek(50, TSeekOrigin::soBeginning);
    EXPECT_FALSE(reader.Skip(100000));  // past the end
    EXPECT_EQ(reader.Position(), 100000);
    EXPECT_EQ(reader.Count(), 0);
    EXPECT_FALSE(reader.Need(1));

    reader.Seek(0, TSeekOrigin::soBeginning);
    EXPECT_FALSE(reader.Skip(-1));
    EXPECT_EQ(reader.Position(), 0);
}

TEST(StreamReader, FillMore) {
    const auto data = Pattern(3000);
    CountingStream stream(data);
    TMPStreamReader reader(1000);
    reader.Open(&stream);
    EXPECT_TRUE(reader.FillMore());
    EXPECT_EQ(reader.Count(), 1000);
    const size_t reads = stream.requests.size();
    EXPECT_FALSE(reader.FillMore());  // full: nothing is read
    EXPECT_EQ(stream.requests.size(), reads);
    EXPECT_EQ(reader.Count(), 1000);

    // Near the end only part of the wanted bytes arrive.
    ASSERT_TRUE(reader.Skip(1000));
    ASSERT_TRUE(reader.Skip(1500));
    EXPECT_FALSE(reader.FillMore());
    EXPECT_EQ(reader.Count(), 500);
    EXPECT_TRUE(SameBytes(reader.Data(), data, 2500, 500));
}

TEST(StreamReader, NeedAtTheEndKeepsWhatArrived) {
    const auto data = Pattern(50);
    TMemoryStream stream(data);
    TMPStreamReader reader(256);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Skip(40));
    EXPECT_FALSE(reader.Need(20));
    EXPECT_EQ(reader.Count(), 10);
    ASSERT_TRUE(reader.Need(10));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 40, 10));
}

TEST(StreamReader, SeekFromEitherEnd) {
    const auto data = Pattern(1000);
    TMemoryStream stream(data);
    TMPStreamReader reader(256);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Need(100));
    EXPECT_EQ(reader.Seek(-10, TSeekOrigin::soEnd), 990);
    EXPECT_EQ(reader.Count(), 0);
    ASSERT_TRUE(reader.Need(10));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 990, 10));
    EXPECT_EQ(reader.Seek(300, TSeekOrigin::soBeginning), 300);
    ASSERT_TRUE(reader.Need(4));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 300, 4));
    EXPECT_EQ(reader.Seek(5, TSeekOrigin::soCurrent), 305);
    EXPECT_THROW(reader.Seek(-1, TSeekOrigin::soBeginning), EMP3Error);
}

TEST(StreamReader, RequestsOutsideTheRulesAndClosedReaders) {
    const auto data = Pattern(1000);
    TMemoryStream stream(data);
    TMPStreamReader reader(256);
    EXPECT_FALSE(reader.Need(1));
    EXPECT_EQ(reader.Data(), nullptr);
    EXPECT_FALSE(reader.Skip(1));
    EXPECT_FALSE(reader.FillMore());
    reader.Open(&stream);
    EXPECT_FALSE(reader.Need(257));  // more than the ring holds
    EXPECT_FALSE(reader.Need(-5));
    EXPECT_TRUE(reader.Need(0));
    EXPECT_TRUE(reader.Need(256));
    reader.Close();
    EXPECT_FALSE(reader.Active());
    EXPECT_EQ(reader.Size(), 0);
    EXPECT_FALSE(reader.Need(1));
    EXPECT_THROW(reader.Open(nullptr), EMP3Error);
    EXPECT_FALSE(reader.Active());
}

// Random Need/Skip/Seek/FillMore against the plain bytes.
TEST(StreamReader, RandomWalkMatchesTheData) {
    const auto data = Pattern(20000);
    for (int32_t capacity : {1, 7, 100, 4096, 65536}) {
        TMemoryStream stream(data);
        TMPStreamReader reader(capacity);
        reader.Open(&stream);
        std::mt19937 rng(static_cast<uint32_t>(capacity));
        int64_t pos = 0;
        for (int step = 0; step < 3000; ++step) {
            switch (rng() % 4) {
                case 0: {
                    const auto n = static_cast<int32_t>(rng() % (capacity + 1));
                    const bool ok = reader.Need(n);
                    ASSERT_EQ(ok, pos + n <= 20000) << "capacity " << capacity << " step " << step;
                    if (ok) {
                        ASSERT_GE(reader.Contiguous(), n);
                        ASSERT_TRUE(SameBytes(reader.Data(), data, static_cast<size_t>(pos),
                                              static_cast<size_t>(n)));
                    }
                    break;
                }
                case 1: {
                    const int64_t n = rng() % 3000;
                    const bool ok = reader.Skip(n);
                    ASSERT_EQ(ok, pos + n <= 20000);
                    pos = std::min<int64_t>(pos + n, 20000);
                    break;
                }
                case 2:
                    if (rng() % 8 == 0) {
                        pos = reader.Seek(rng() % 20001, TSeekOrigin::soBeginning);
                    }
                    break;
                default:
                    reader.FillMore();
                    break;
            }
            ASSERT_EQ(reader.Position(), pos);
            ASSERT_LE(reader.Count(), capacity);
        }
    }
}

TEST(FileStream, ReadsAFileAndReportsOpenFailures) {
    wl::test::TempDir dir;
    const auto data = Pattern(70000);
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("a.bin"), data));
    TFileStream stream(dir.File("a.bin"));
    EXPECT_EQ(stream.Size(), 70000);
    TMPStreamReader reader(65536);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Skip(40000));
    ASSERT_TRUE(reader.Need(30000));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 40000, 30000));
    EXPECT_FALSE(reader.Need(30001));

    try {
        TFileStream missing(dir.File("missing.mp3"));
        FAIL() << "opening a missing file succeeded";
    } catch (const EMP3Error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.mp3"), std::string::npos) << e.what();
    }
    EXPECT_THROW(TFileStream{dir.path()}, EMP3Error);  // a folder
}

// The view reads the caller's bytes in place: the reader sees exactly them,
// reads past the end answer nothing, and a position before the start raises.
TEST(MemoryViewStream, ReadsTheCallersBytesWithoutCopying) {
    const auto data = Pattern(5000);
    wl::TMemoryViewStream stream(data);
    EXPECT_EQ(stream.Size(), 5000);
    TMPStreamReader reader(4096);
    reader.Open(&stream);
    ASSERT_TRUE(reader.Skip(1200));
    ASSERT_TRUE(reader.Need(3800));
    EXPECT_TRUE(SameBytes(reader.Data(), data, 1200, 3800));
    EXPECT_FALSE(reader.Need(3801));
    uint8_t byte = 0;
    EXPECT_EQ(stream.Seek(9000, TSeekOrigin::soBeginning), 9000);
    EXPECT_EQ(stream.Read(&byte, 1), 0u);
    EXPECT_EQ(stream.Seek(-1, TSeekOrigin::soEnd), 4999);
    EXPECT_EQ(stream.Read(&byte, 4), 1u);
    EXPECT_EQ(byte, data[4999]);
    EXPECT_THROW(stream.Seek(-1, TSeekOrigin::soBeginning), EMP3Error);
}

TEST(FileStream, SizesAndPositionsBeyondFourGigabytes) {
    wl::test::TempDir dir;
    const std::string path = dir.File("big.bin");
    const int64_t size = (int64_t{5} << 30) + 100;
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const uint8_t mark[4] = {'W', 'L', '2', '1'};
    const bool made = ::ftruncate(fd, size) == 0 &&
                      ::pwrite(fd, mark, 4, static_cast<off_t>(size - 50)) == 4;
    ::close(fd);
    if (!made) GTEST_SKIP() << "this file system cannot hold a sparse 5 GiB file";
    TFileStream stream(path);
    TMPStreamReader reader(65536);
    reader.Open(&stream);
    EXPECT_EQ(reader.Size(), size);
    EXPECT_EQ(reader.Seek(-50, TSeekOrigin::soEnd), size - 50);
    ASSERT_TRUE(reader.Need(4));
    EXPECT_EQ(std::vector<uint8_t>(reader.Data(), reader.Data() + 4),
              std::vector<uint8_t>(mark, mark + 4));
    EXPECT_FALSE(reader.Skip(51));
    EXPECT_EQ(reader.Position(), size);
}

}  // namespace
