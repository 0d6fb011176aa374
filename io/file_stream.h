// Seekable byte sources for the stream reader: a read-only file (opened for
// shared reading, 64-bit sizes and positions), a block of memory, and a view
// of bytes kept by the caller.
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

// A seekable source of bytes. Read answers fewer bytes than asked only at the
// end of the data; read and seek failures raise EMP3Error.
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
    // opened or is not a regular file.
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

}  // namespace wl
