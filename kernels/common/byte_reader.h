// Buffered reading of a file by blocks or by single characters, over a plain descriptor.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarnk {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;
    ~ByteReader() {
        if (fd_ >= 0) ::close(fd_);
    }

    // Only a regular file opens: a directory would read as an empty file and a FIFO or device
    // could block for ever. The check is made without blocking, then reads block as usual.
    bool open(const char* path) {
        if (path == nullptr) return false;
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) return false;
        struct stat st {};
        const int flags = ::fcntl(fd_, F_GETFL);
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
            ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        return true;
    }

    // Up to `size` bytes into `out`; fewer only at the end of the file (or on a read error,
    // which is treated as the end).
    size_t read(void* out, size_t size) {
        uint8_t* dst = static_cast<uint8_t*>(out);
        size_t got = 0;
        while (got < size && pos_ < fill_)
            dst[got++] = buffer_[pos_++];
        while (got < size && !ended_) {
            ssize_t n = ::read(fd_, dst + got, size - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ended_ = true;
                break;
            }
            got += static_cast<size_t>(n);
        }
        return got;
    }

    // The next byte, or -1 at the end of the file.
    int get() {
        if (pos_ == fill_ && !refill()) return -1;
        return buffer_[pos_++];
    }

private:
    bool refill() {
        pos_ = fill_ = 0;
        while (!ended_) {
            ssize_t n = ::read(fd_, buffer_, sizeof(buffer_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ended_ = true;
                return false;
            }
            fill_ = static_cast<size_t>(n);
            return true;
        }
        return false;
    }

    int fd_ = -1;
    bool ended_ = false;
    size_t pos_ = 0;
    size_t fill_ = 0;
    uint8_t buffer_[1 << 16];
};

} // namespace quarnk
