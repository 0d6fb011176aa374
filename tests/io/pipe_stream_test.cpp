// Sources that cannot seek: a pipe read once within its window, its unknown
// size, and waits for data that a cancel descriptor ends; a FIFO never holds
// up the opening of a file stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "io/file_stream.h"
#include "tests/test_support.h"

namespace {

using wl::EInterrupted;
using wl::EMP3Error;
using wl::TPipeStream;
using wl::TSeekOrigin;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 13 + i / 509) & 0xFF);
    return v;
}

// A pipe whose writer (a thread) sends `data` and closes its end.
class FedPipe {
public:
    explicit FedPipe(std::vector<uint8_t> data) : data_(std::move(data)) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        read_ = fds[0];
        writer_ = std::thread([this, out = fds[1]] {
            // Should the reader stop early, the write fails instead of
            // ending the test program.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            size_t done = 0;
            while (done < data_.size()) {
                const ssize_t n = ::write(out, data_.data() + done, data_.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            ::close(out);
        });
    }
    ~FedPipe() {
        ::close(read_);
        if (writer_.joinable()) writer_.join();
    }
    int fd() const { return read_; }

private:
    std::vector<uint8_t> data_;
    int read_ = -1;
    std::thread writer_;
};

std::vector<uint8_t> ReadAt(TPipeStream& s, int64_t at, size_t n) {
    s.Seek(at, TSeekOrigin::soBeginning);
    std::vector<uint8_t> out(n);
    out.resize(s.Read(out.data(), n));
    return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
    return {v.begin() + static_cast<ptrdiff_t>(at), v.begin() + static_cast<ptrdiff_t>(at + n)};
}

TEST(PipeStream, ReadsOnceFrontToBackKeepingItsWindow) {
    const auto data = Pattern(300000);
    FedPipe pipe(data);
    TPipeStream s(pipe.fd(), "test pipe", -1, 65536);
    EXPECT_EQ(s.Size(), TPipeStream::kUnknownSize);
    EXPECT_EQ(ReadAt(s, 0, 1000), Slice(data, 0, 1000));
    // A look at the "last" bytes finds nothing and consumes nothing.
    EXPECT_TRUE(ReadAt(s, TPipeStream::kUnknownSize - 128, 128).empty());
    EXPECT_EQ(ReadAt(s, 500, 100), Slice(data, 500, 100));
    // Ahead: the bytes in between are read and dropped; back within the window.
    EXPECT_EQ(ReadAt(s, 200000, 1000), Slice(data, 200000, 1000));
    EXPECT_EQ(ReadAt(s, 140000, 5000), Slice(data, 140000, 5000));
    try {
        ReadAt(s, 100, 10);
        ADD_FAILURE() << "a byte that left the window was read";
    } catch (const EMP3Error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot read test pipe as a stream: byte 100"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ReadAt(s, 299990, 100), Slice(data, 299990, 10));
    EXPECT_EQ(s.Size(), 300000);
    EXPECT_FALSE(s.Whole());
    EXPECT_TRUE(ReadAt(s, 300000, 10).empty());
}

TEST(PipeStream, DataWithinTheWindowIsWholeWithItsExactSize) {
    const auto data = Pattern(5000);
    FedPipe pipe(data);
    TPipeStream s(pipe.fd(), "short pipe");
    EXPECT_EQ(ReadAt(s, 4000, 2000), Slice(data, 4000, 1000));
    EXPECT_TRUE(s.Whole());
    EXPECT_EQ(s.Size(), 5000);
    EXPECT_EQ(ReadAt(s, 0, 5000), data);
    EXPECT_EQ(s.Seek(-10, TSeekOrigin::soEnd), 4990);
}

// A FIFO without a writer: the file stream refuses it at once, the pipe
// stream opens it at once and waits for bytes in Read, until cancelled.
TEST(PipeStream, AWaitForAFifoWriterEndsWhenCancelled) {
    wl::test::TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        wl::TFileStream file(fifo);
        ADD_FAILURE() << "a FIFO was opened as a file";
    } catch (const EMP3Error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open " + fifo + ": not a regular file");
    }

    int cancel[2];
    ASSERT_EQ(::pipe2(cancel, O_CLOEXEC), 0);
    TPipeStream s(fifo, cancel[0]);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const char byte = 1;
        EXPECT_EQ(::write(cancel[1], &byte, 1), 1);
    });
    uint8_t buffer[16];
    EXPECT_THROW(s.Read(buffer, sizeof buffer), EInterrupted);
    canceller.join();
    ::close(cancel[0]);
    ::close(cancel[1]);
}

}  // namespace
