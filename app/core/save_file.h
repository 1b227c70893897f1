// A file the program writes for the user, written whole beside its name and renamed into place.
// Unbuffered, so that a short write (a full disk) fails the save: with Qt's buffer the last block
// went out only in the commit, which then took a file cut at the disk's end for a whole one.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace tovra {

// False, with the old file (if any) as it was, when `bytes` cannot all be written.
inline bool saveWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace tovra
