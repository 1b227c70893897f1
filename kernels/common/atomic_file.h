// A file written beside its final name and renamed into place when complete, so that a crash or
// a failed write never leaves a half-written file where a good one was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // Creates the temporary file beside `path`. False when it cannot be created, or when `path`
    // names an existing file that may not be written.
    bool open(const char* path);
    // Buffered write; errors are remembered and reported by commit().
    void write(const void* data, size_t size);
    void put(char c) {
        if (fill_ == sizeof(buffer_)) flush();
        buffer_[fill_++] = c;
    }
    // Appends the decimal text of v (a "-" for negative values, no leading zeros).
    void putInt(int64_t v);
    // Writes out what is buffered and renames the file into place. False on any failure, in which
    // case the temporary file is removed and the old file, if any, is untouched.
    bool commit();

private:
    void flush();
    void writeAll(const char* p, size_t size);
    void discard();

    int fd_ = -1;
    bool failed_ = false;
    std::string path_;
    std::string tempPath_;
    size_t fill_ = 0;
    char buffer_[1 << 16];
};

} // namespace quarn
