#include "io/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace wl {

namespace {

std::string Reason(int error) { return std::strerror(error); }

// base + offset for the given origin; raises when the result is negative or
// does not fit.
int64_t TargetPosition(int64_t current, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    switch (origin) {
        case TSeekOrigin::soBeginning: base = 0; break;
        case TSeekOrigin::soCurrent: base = current; break;
        case TSeekOrigin::soEnd: base = size; break;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) {
        throw EMP3Error("seek out of range");
    }
    return target;
}

}  // namespace

TFileStream::TFileStream(const std::string& path) : path_(path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EMP3Error("cannot open " + path + ": " + Reason(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw EMP3Error("cannot open " + path + ": " + Reason(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw EMP3Error("cannot open " + path + ": " +
                        (S_ISDIR(st.st_mode) ? Reason(EISDIR) : std::string("not a regular file")));
    }
    fd_ = fd;
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw EMP3Error("cannot read " + path_ + ": " + Reason(errno));
    return static_cast<int64_t>(st.st_size);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t size = origin == TSeekOrigin::soEnd ? Size() : 0;
    position_ = TargetPosition(position_, size, offset, origin);
    return position_;
}

size_t TFileStream::Read(void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        if (position_ > std::numeric_limits<off_t>::max() - static_cast<int64_t>(count - done)) break;
        const size_t piece = std::min<size_t>(count - done, size_t{1} << 30);
        const ssize_t got = ::pread(fd_, out + done, piece, static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EMP3Error("cannot read " + path_ + ": " + Reason(errno));
        }
        if (got == 0) break;  // end of file
        done += static_cast<size_t>(got);
        position_ += got;
    }
    return done;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    position_ = TargetPosition(position_, Size(), offset, origin);
    return position_;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (position_ >= Size()) return 0;
    const size_t available = bytes_.size() - static_cast<size_t>(position_);
    const size_t n = std::min(count, available);
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
}

int64_t TMemoryViewStream::Seek(int64_t offset, TSeekOrigin origin) {
    position_ = TargetPosition(position_, Size(), offset, origin);
    return position_;
}

size_t TMemoryViewStream::Read(void* buffer, size_t count) {
    if (position_ >= Size()) return 0;
    const size_t n = std::min(count, bytes_.size() - static_cast<size_t>(position_));
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
}

}  // namespace wl
