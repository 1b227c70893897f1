// A file the program writes for the user, written whole beside its name and renamed into place.
// Unbuffered, so that a short write (a full disk) fails the save: with Qt's buffer the last block
// went out only in the commit, which then took a file cut at the disk's end for a whole one.
// Only a new name or a regular file is written: the rename would put a plain file in the place of
// a device or a FIFO (as root, /dev/full itself).
#pragma once

#include "regular_file.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

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

} // namespace tovra
