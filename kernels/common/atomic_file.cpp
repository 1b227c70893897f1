#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

namespace {
std::atomic<unsigned> tempCounter{0};
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::open(const char* path) {
    discard();
    if (path == nullptr || *path == '\0') return false;
    path_ = path;
    // An existing file that we may not write stays as it is, as a plain open for writing would.
    struct stat st {};
    if (::stat(path, &st) == 0 && (S_ISDIR(st.st_mode) || ::access(path, W_OK) != 0)) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath_ = path_ + "." + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++) + ".part";
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) break;
        if (errno != EEXIST) break;
    }
    if (fd_ < 0) {
        tempPath_.clear();
        return false;
    }
    failed_ = false;
    fill_ = 0;
    return true;
}

void AtomicFile::writeAll(const char* p, size_t left) {
    while (left > 0 && !failed_) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void AtomicFile::flush() {
    writeAll(buffer_, fill_);
    fill_ = 0;
}

void AtomicFile::write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    if (size >= sizeof(buffer_)) { // large blocks go straight out, without a copy
        flush();
        writeAll(p, size);
        return;
    }
    if (sizeof(buffer_) - fill_ < size) flush();
    std::copy(p, p + size, buffer_ + fill_);
    fill_ += size;
}

void AtomicFile::putInt(int64_t v) {
    if (sizeof(buffer_) - fill_ < 24) flush();
    auto res = std::to_chars(buffer_ + fill_, buffer_ + sizeof(buffer_), v);
    fill_ = static_cast<size_t>(res.ptr - buffer_);
}

bool AtomicFile::commit() {
    if (fd_ < 0) return false;
    flush();
    bool ok = !failed_;
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    if (ok && ::rename(tempPath_.c_str(), path_.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return ok;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(tempPath_.c_str());
    }
    tempPath_.clear();
}

} // namespace quarn
