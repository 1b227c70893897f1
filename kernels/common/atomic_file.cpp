#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace quarnk {

namespace {

std::atomic<unsigned> tempCounter{0};
constexpr const char kTempPrefix[] = ".tovra-";
constexpr const char kTempSuffix[] = ".part";
constexpr time_t kYoungSeconds = 10;

// Whether a temporary's name (with its folder or without) says that it was locked before it had
// the name.
bool lockedFromBirth(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    const size_t dash = path.find('-', name + sizeof(kTempPrefix) - 1);
    return dash != std::string::npos && dash + 1 < path.size() && path[dash + 1] == 'l';
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save of `path` writes: the final target of a chain of symbolic links (also one whose
// target does not exist yet), else `path` itself.
std::string writeTarget(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), target, sizeof(target) - 1);
        if (n <= 0) return p;
        const std::string t(target, static_cast<size_t>(n));
        if (t[0] == '/') {
            p = t;
        } else {
            p = folderOf(p);
            p.append("/").append(t);
        }
    }
    return p;
}

// Removes the stale temporaries of a folder, once per folder in the life of a process.
void sweepOnce(const std::string& folder) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!swept.insert(real).second) return;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* e = ::readdir(dir)) {
        if (AtomicFile::isStaleTemporary(::dirfd(dir), e->d_name)) ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

// The spares kept, by folder, while a KeepSpares lives.
struct Spare {
    int fd;
    std::string name;
};
struct Spares {
    std::mutex mutex;
    int keepers = 0;
    std::map<std::string, std::vector<Spare>> byFolder;
};
Spares& spares() {
    static Spares* s = new Spares; // never destroyed: saves may run while the process ends
    return *s;
}

bool keepingSpares() {
    std::lock_guard<std::mutex> lock(spares().mutex);
    return spares().keepers > 0;
}

bool procFdsAvailable() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

} // namespace

bool AtomicFile::isTemporaryName(const std::string& name) {
    const size_t prefix = sizeof(kTempPrefix) - 1, suffix = sizeof(kTempSuffix) - 1;
    if (name.size() <= prefix + suffix || name.compare(0, prefix, kTempPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kTempSuffix) != 0)
        return false;
    long pid = 0;
    const char* first = name.data() + prefix;
    const auto [end, ec] = std::from_chars(first, name.data() + name.size(), pid);
    return ec == std::errc() && end != first && *end == '-' && pid > 0;
}

// A temporary is stale when nobody holds its lock. Process numbers are not asked: a run on
// another machine or in another container sharing the folder has numbers of its own. A file
// younger than a few seconds is left alone too, as its writer may not have locked it yet, unless
// its name says that it was locked before it had the name (".tovra-<pid>-l<n>.part": the linked
// unnamed files and the spares).
bool AtomicFile::isStaleTemporary(int folderFd, const std::string& name) {
    if (!isTemporaryName(name)) return false;
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                 (lockedFromBirth(name) || ::time(nullptr) - st.st_mtime > kYoungSeconds) &&
                 ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return stale;
}

AtomicFile::~AtomicFile() {
    discard();
}

AtomicFile::KeepSpares::KeepSpares() {
    std::lock_guard<std::mutex> lock(spares().mutex);
    ++spares().keepers;
}

AtomicFile::KeepSpares::~KeepSpares() {
    std::lock_guard<std::mutex> lock(spares().mutex);
    if (--spares().keepers > 0) return;
    for (auto& [folder, list] : spares().byFolder)
        for (const Spare& spare : list) {
            ::unlink(spare.name.c_str());
            ::close(spare.fd);
        }
    spares().byFolder.clear();
}

// A kept spare of the folder becomes this save's temporary, written over from its start (emptying
// it first would make the file system write it out at once, as for a file truncated and
// rewritten in place), and cut to its new length at the commit. One whose name no longer
// leads to it (removed or replaced by someone else meanwhile) is given up.
bool AtomicFile::takeSpare() {
    for (;;) {
        Spare spare{};
        {
            std::lock_guard<std::mutex> lock(spares().mutex);
            auto it = spares().byFolder.find(folder_);
            if (it == spares().byFolder.end() || it->second.empty()) return false;
            spare = std::move(it->second.back());
            it->second.pop_back();
        }
        struct stat held {
        }, named{};
        if (::fstat(spare.fd, &held) == 0 && ::lstat(spare.name.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino &&
            ::lseek(spare.fd, 0, SEEK_SET) == 0) {
            fd_ = spare.fd;
            tempPath_ = spare.name;
            return true;
        }
        ::close(spare.fd);
    }
}

// After the names were swapped the old file is under the temporary name: kept as a spare when
// nobody else can reach it, else removed as a rename over it would have removed it.
void AtomicFile::keepSpare() {
    // Only under a name that a later run may sweep as soon as nobody holds it: a run killed while
    // it keeps a spare leaves nothing that outlives the next save into the folder.
    const int fd = lockedFromBirth(tempPath_)
                       ? ::open(tempPath_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)
                       : -1;
    struct stat st {};
    // Extended attributes (and the access lists kept in them) belong to the file replaced, not to
    // the next one: a file that has any is not kept.
    bool keep = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                st.st_uid == ::geteuid() && st.st_gid == ::getegid() && ::flistxattr(fd, nullptr, 0) == 0;
    // A write lease is granted only on a file that no other descriptor, here or elsewhere, holds open.
    keep = keep && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (keep) ::fcntl(fd, F_SETLEASE, F_UNLCK);
    keep = keep && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (keep) {
        std::lock_guard<std::mutex> lock(spares().mutex);
        keep = spares().keepers > 0;
        if (keep) spares().byFolder[folder_].push_back({fd, tempPath_});
    }
    if (!keep) {
        ::unlink(tempPath_.c_str());
        if (fd >= 0) ::close(fd);
    }
    tempPath_.clear();
}

std::string AtomicFile::newTemporaryName(bool locked) const {
    return folder_ + "/" + kTempPrefix + std::to_string(::getpid()) + (locked ? "-l" : "-") +
           std::to_string(tempCounter++) + kTempSuffix;
}

bool AtomicFile::open(const char* path) {
    discard();
    if (path == nullptr || *path == '\0') return false;
    path_ = writeTarget(path);
    folder_ = folderOf(path_);
    // An existing file that we may not write stays as it is, as a plain open for writing would.
    struct stat st {};
    const bool exists = ::stat(path_.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(path_.c_str(), W_OK) != 0)) return false;
    sweepOnce(folder_);
    unnamed_ = false;
    replaces_ = exists;
    const bool spare = exists && keepingSpares() && takeSpare();
    fromSpare_ = spare;
#ifdef O_TMPFILE
    if (!spare && procFdsAvailable()) {
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        unnamed_ = fd_ >= 0;
    }
#endif
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
        tempPath_ = newTemporaryName(false);
        fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    // Held until the file has its final name, so that no other run takes it for stale (a spare
    // holds its lock already).
    if (fd_ >= 0 && !unnamed_ && !spare) ::flock(fd_, LOCK_EX);
    if (fd_ < 0) {
        tempPath_.clear();
        return false;
    }
    if (exists) {
        // The replacement keeps the permissions (and, where allowed, the owner) of what it replaces.
        const int owned = ::fchown(fd_, st.st_uid, st.st_gid); // refused unless privileged
        (void)owned;
        ::fchmod(fd_, st.st_mode & 07777);
    } else if (unnamed_) {
        // An unnamed file is created with mode 0666 less the umask, like a named one.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
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
    if (ok && fromSpare_) {
        const off_t end = ::lseek(fd_, 0, SEEK_CUR);
        ok = end >= 0 && ::ftruncate(fd_, end) == 0;
    }
    if (ok && unnamed_) {
        // The complete file gets a name only now, for the moment until the rename.
        ::flock(fd_, LOCK_EX);
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            tempPath_ = newTemporaryName(true);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempPath_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
            const bool taken = errno == EEXIST;
            tempPath_.clear();
            if (!taken) break;
        }
        if (tempPath_.empty()) ok = false;
    }
    // The lock stays with a second descriptor until the rename, while the close reports any
    // write error that a network file system defers to it.
    const int lockHolder = ::dup(fd_);
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    bool swapped = false;
    if (ok && replaces_ && keepingSpares())
        swapped = ::renameat2(AT_FDCWD, tempPath_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) == 0;
    if (ok && !swapped && ::rename(tempPath_.c_str(), path_.c_str()) != 0) ok = false;
    if (swapped) keepSpare();
    if (!ok && !tempPath_.empty()) ::unlink(tempPath_.c_str());
    if (lockHolder >= 0) ::close(lockHolder);
    tempPath_.clear();
    return ok;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    }
    tempPath_.clear();
}

} // namespace quarnk
