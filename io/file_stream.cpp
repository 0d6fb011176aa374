#include "io/file_stream.h"

#include <fcntl.h>
#include <poll.h>
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
    // Without O_NONBLOCK a FIFO with no writer (or a device) would hold the
    // open until someone came along, only to be refused below.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EWOULDBLOCK) {
        // A lease on a regular file: its holder is asked to let go, wait for that.
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    }
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
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1 && (flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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

TPipeStream::TPipeStream(int fd, std::string name, int cancelFd, int32_t window)
    : name_(std::move(name)), fd_(fd), cancelFd_(cancelFd),
      window_(static_cast<size_t>(std::max<int32_t>(window, 1))) {}

TPipeStream::TPipeStream(const std::string& path, int cancelFd, int32_t window)
    : TPipeStream(-1, path, cancelFd, window) {
    // O_NONBLOCK: the open of a FIFO does not wait for a writer; Read does,
    // where the wait can be cancelled.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw EMP3Error("cannot open " + path + ": " + Reason(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        throw EMP3Error("cannot open " + path + ": " + Reason(error));
    }
    fd_ = fd;
    ownsFd_ = true;
}

TPipeStream::~TPipeStream() {
    if (ownsFd_) ::close(fd_);
}

int64_t TPipeStream::Seek(int64_t offset, TSeekOrigin origin) {
    position_ = TargetPosition(position_, Size(), offset, origin);
    return position_;
}

void TPipeStream::Wait() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
    const nfds_t count = cancelFd_ >= 0 ? 2 : 1;
    for (;;) {
        const int n = ::poll(fds, count, -1);
        if (n < 0) {
            if (errno == EINTR) continue;  // a cancelling signal shows on cancelFd_
            throw EMP3Error("cannot read " + name_ + ": " + Reason(errno));
        }
        if (count == 2 && fds[1].revents != 0) throw EInterrupted("reading " + name_ + " was interrupted");
        if (fds[0].revents != 0) return;
    }
}

bool TPipeStream::Fill(int64_t want) {
    const auto size = static_cast<int64_t>(window_.size());
    const int64_t at = frontier_ % size;
    const auto piece = static_cast<size_t>(std::min({want, int64_t{1} << 16, size - at}));
    for (;;) {
        // Waiting in poll rather than in read: a FIFO without a writer reads
        // as its end, and the wait is where cancelling takes effect.
        Wait();
        const ssize_t got = ::read(fd_, window_.data() + at, piece);
        if (got > 0) {
            frontier_ += got;
            held_ = std::min(held_ + got, size);
            return true;
        }
        if (got == 0) {
            ended_ = true;
            return false;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            throw EMP3Error("cannot read " + name_ + ": " + Reason(errno));
        }
    }
}

size_t TPipeStream::Read(void* buffer, size_t count) {
    if (count == 0 || (!ended_ && position_ >= kUnknownSize / 2)) return 0;
    if (position_ < frontier_ - held_) {
        throw EMP3Error("cannot read " + name_ + " as a stream: byte " + std::to_string(position_) +
                        " is needed again after " + std::to_string(frontier_) +
                        " bytes were read; give it as a file");
    }
    while (position_ > frontier_ && !ended_) Fill(position_ - frontier_);  // dropped unread
    auto* out = static_cast<uint8_t*>(buffer);
    const auto size = static_cast<int64_t>(window_.size());
    size_t done = 0;
    while (done < count) {
        if (position_ < frontier_) {
            const int64_t at = position_ % size;
            const auto n = static_cast<size_t>(
                std::min({static_cast<int64_t>(count - done), frontier_ - position_, size - at}));
            std::memcpy(out + done, window_.data() + at, n);
            done += n;
            position_ += static_cast<int64_t>(n);
        } else if (ended_ || !Fill(static_cast<int64_t>(count - done))) {
            break;
        }
    }
    return done;
}

}  // namespace wl
