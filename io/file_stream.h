// Byte sources for the stream reader: a read-only file (opened for shared
// reading, 64-bit sizes and positions), a block of memory, a view of bytes kept
// by the caller, and a pipe read once from front to back.
//
// Failures in io: an open, read or seek that fails raises EMP3Error (io/errors.h)
// with the system's text; the end of the data is a short read, never an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/errors.h"

namespace wl {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A seekable source of bytes (TPipeStream: within its window). Read answers
// fewer bytes than asked only at the end of the data; read and seek failures
// raise EMP3Error.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    // Answers the new position. A position before the start raises; one beyond
    // the end is allowed (reads there answer nothing).
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual size_t Read(void* buffer, size_t count) = 0;
};

// A regular file opened read-only; other programs may read and write it too.
class TFileStream : public TStream {
public:
    // Raises EMP3Error "cannot open <path>: <reason>" when the file cannot be
    // opened or is not a regular file. Never waits for a FIFO's writer or a
    // device: those are refused at once.
    explicit TFileStream(const std::string& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // The current size (the file may grow or shrink while it is open).
    int64_t Size() const override;
    int64_t Position() const override { return position_; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    size_t Read(void* buffer, size_t count) override;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    int64_t position_ = 0;
};

// A copy of some bytes read like a file.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::span<const uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
    explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    int64_t Position() const override { return position_; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    size_t Read(void* buffer, size_t count) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// Bytes owned by the caller (who keeps them alive and unchanged while the
// stream is used), read like a file without copying them.
class TMemoryViewStream : public TStream {
public:
    explicit TMemoryViewStream(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    int64_t Position() const override { return position_; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    size_t Read(void* buffer, size_t count) override;

private:
    std::span<const uint8_t> bytes_;
    int64_t position_ = 0;
};

// A wait of TPipeStream that was cancelled (see there).
class EInterrupted : public EMP3Error {
public:
    using EMP3Error::EMP3Error;
};

// The bytes of a descriptor that cannot seek (a pipe, a FIFO, a terminal,
// standard input), read once from front to back in bounded memory and offered
// as a TStream. The last `window` bytes read are kept, so that the reader may go
// back within them; a read further back raises EMP3Error naming the stream.
// Seek only moves the position: a read ahead of the bytes read so far reads and
// drops those in between.
//
// The size is unknown until the end has been read: Size() answers kUnknownSize
// until then, and positions from kUnknownSize / 2 on read as nothing, so that a
// look at the last bytes of the data (a tag found from the size) finds nothing
// and consumes nothing. Once the end has been read Size() is exact.
//
// Waiting for data can be cancelled from outside: when `cancelFd` (>= 0, for
// example the read end of a signal handler's self-pipe) is readable, a read
// that would wait raises EInterrupted instead.
class TPipeStream : public TStream {
public:
    static constexpr int64_t kUnknownSize = int64_t{1} << 62;
    static constexpr int32_t kDefaultWindow = 1 << 20;

    // Reads `fd` (left open); `name` names it in messages.
    TPipeStream(int fd, std::string name, int cancelFd = -1, int32_t window = kDefaultWindow);
    // Opens `path` for reading without waiting: a FIFO that has no writer yet
    // waits for one (and its bytes) in Read. Raises EMP3Error "cannot open
    // <path>: <reason>".
    explicit TPipeStream(const std::string& path, int cancelFd = -1, int32_t window = kDefaultWindow);
    ~TPipeStream() override;
    TPipeStream(const TPipeStream&) = delete;
    TPipeStream& operator=(const TPipeStream&) = delete;

    int64_t Size() const override { return ended_ ? frontier_ : kUnknownSize; }
    int64_t Position() const override { return position_; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    size_t Read(void* buffer, size_t count) override;
    // The end has been read and every byte from the start is still held: a
    // reading from the start sees the whole data with its exact size.
    bool Whole() const { return ended_ && held_ == frontier_; }
    const std::string& Name() const { return name_; }

private:
    // Reads the next piece (at most `want` bytes) into the window; false at the end.
    bool Fill(int64_t want);
    // Waits until `fd_` has bytes, its end or an error to tell.
    void Wait();

    std::string name_;
    int fd_ = -1;
    bool ownsFd_ = false;
    int cancelFd_ = -1;
    std::vector<uint8_t> window_;  // byte p of the data at window_[p % size]
    int64_t frontier_ = 0;         // bytes read from the descriptor
    int64_t held_ = 0;             // of them, the last ones still in the window
    bool ended_ = false;
    int64_t position_ = 0;
};

}  // namespace wl
