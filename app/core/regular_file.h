// Files the program reads for the user are opened only when they are regular files: a FIFO
// blocks the read until someone writes to it, and a device such as /dev/zero never ends, so a
// picture, a values file or a background named by one would hang the run or read until memory
// runs out. What is read is bounded by the file's size when it was opened.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

namespace tovra {

// Opens `path` read-only when it is (or a link leads to) a regular file, without waiting on a
// FIFO. False, with `error` saying why ("no such file", "is not a regular file", …), otherwise.
bool openRegularFile(QFile& file, const QString& path, QString& error);
// The whole of a regular file, read from one open: at most the size it had then.
std::optional<QByteArray> readRegularFile(const QString& path, QString& error);
// Why `path` cannot take a file the program writes, or empty where it can: a new name, or a
// regular file. A device, a FIFO or a folder under that name is never replaced.
QString unwritableTarget(const QString& path);
// Whether two paths name one file (the same device and inode, links followed); false when either
// does not exist.
bool sameFile(const QString& a, const QString& b);

} // namespace tovra
