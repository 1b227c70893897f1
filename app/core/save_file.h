// A file the program writes for the user, written whole beside its name and renamed into place.
// Unbuffered, so that a short write (a full disk) fails the save: with Qt's buffer the last block
// went out only in the commit, which then took a file cut at the disk's end for a whole one.
// Only a new name or a regular file is written: the rename would put a plain file in the place of
// a device or a FIFO (as root, /dev/full itself).
#pragma once

#include "regular_file.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QTemporaryFile>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tovra {

// False, with the old file (if any) as it was and `why` (where given) saying what went wrong,
// when `bytes` cannot all be written.
inline bool saveWholeFile(const QString& path, const QByteArray& bytes, QString* why = nullptr) {
    auto fail = [&](const QString& reason) {
        if (why) *why = reason;
        return false;
    };
    if (const QString target = unwritableTarget(path); !target.isEmpty()) return fail(target);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}

// A file written by a library that streams into it (libtiff, libhdf5): a hidden temporary file
// beside `path`, removed unless it is put in place.
inline void besideTarget(QTemporaryFile& temp, const QString& path) {
    const QFileInfo target(path);
    temp.setFileTemplate(target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
}
// The temporary file, written whole and closed by its library, on the disk and under `path`.
inline bool putInPlace(QTemporaryFile& temp, const QString& path) {
    const QByteArray from = QFile::encodeName(temp.fileName());
    const int fd = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!synced || std::rename(from.constData(), QFile::encodeName(path).constData()) != 0) return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace tovra
