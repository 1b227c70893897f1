#include "regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovra {

namespace {

QString reasonOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("no such file");
    case EACCES:
    case EPERM:
        return QStringLiteral("cannot be read (permission denied)");
    case ELOOP:
        return QStringLiteral("cannot be read (a loop of links)");
    default:
        return QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

} // namespace

bool openRegularFile(QFile& file, const QString& path, QString& error) {
    if (path.isEmpty()) {
        error = QStringLiteral("no such file");
        return false;
    }
    // Opened without blocking, so that a FIFO is seen for what it is rather than waited on.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = reasonOf(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = reasonOf(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = QString::fromLatin1(kindOf(st.st_mode));
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("cannot be read");
        return false;
    }
    return true;
}

std::optional<QByteArray> readRegularFile(const QString& path, QString& error) {
    QFile f;
    if (!openRegularFile(f, path, error)) return std::nullopt;
    const qint64 size = f.size();
    QByteArray bytes = f.read(size);
    if (bytes.size() != size) {
        error = QStringLiteral("cannot be read whole");
        return std::nullopt;
    }
    return bytes;
}

QString unwritableTarget(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : reasonOf(errno); // a new name (or a link to one)
    return S_ISREG(st.st_mode) ? QString() : QString::fromLatin1(kindOf(st.st_mode));
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace tovra
