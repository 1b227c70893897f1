// A file written beside its final name and renamed into place when complete, so that a crash or
// a failed write never leaves a half-written file where a good one was.
//
// Where the file system allows it the file is written unnamed (O_TMPFILE) and only linked under
// a short temporary name just before the rename, so a process killed while writing leaves
// nothing behind. Elsewhere the temporary is named ".tovra-<pid>-<n>.part" from the start and
// locked (flock) by its writer; the first save of a process into a folder removes such files
// that nobody holds locked, whichever machine or container left them.
// Saving over a symbolic link writes its target; an existing file keeps its permissions.
//
// A run of many saves may keep spares: a save that replaces a file swaps the two files' names
// (renameat2 with RENAME_EXCHANGE) instead of renaming over the old one, and the old file, now
// under a temporary name, becomes the next save's temporary in that folder, so that the file
// system neither frees nor allocates an inode per save. Only a file that nobody else can see is
// kept: ours, with no other name and no extended attributes, and open nowhere (a write lease is
// granted on it). Spares are named temporaries, locked while kept and removed when the run ends.
// Temporaries locked before they had their name (".tovra-<pid>-l<n>.part": the unnamed ones once
// linked, and the spares) are swept as soon as nobody holds them, whatever their age.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarnk {

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

    // While one of these lives, saves keep spares; the last one to end removes them.
    class KeepSpares {
    public:
        KeepSpares();
        KeepSpares(const KeepSpares&) = delete;
        KeepSpares& operator=(const KeepSpares&) = delete;
        ~KeepSpares();
    };

    // Whether `name` (a file name without folder) has the shape of these temporaries.
    static bool isTemporaryName(const std::string& name);
    // Whether the temporary `name` in the folder open as `folderFd` is left over: no writer holds
    // it locked, and it is older than a few seconds.
    static bool isStaleTemporary(int folderFd, const std::string& name);

private:
    void flush();
    void writeAll(const char* p, size_t size);
    void discard();
    std::string newTemporaryName(bool locked) const;
    bool takeSpare();
    void keepSpare();

    int fd_ = -1;
    bool unnamed_ = false;
    bool replaces_ = false;  // a file was there when the save began
    bool fromSpare_ = false; // the temporary is a kept spare, written over
    bool failed_ = false;
    std::string path_;     // the file finally written: the link's target for a symbolic link
    std::string folder_;   // its folder, "." for a bare name
    std::string tempPath_; // named temporary, while it has a name
    size_t fill_ = 0;
    char buffer_[1 << 16];
};

} // namespace quarnk
