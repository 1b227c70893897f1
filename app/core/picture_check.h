// Whether a picture file holds all the pixels its header promises. Qt's decoders fill what a
// truncated BMP, JPEG or GIF lacks (grey, or the last colour) and report success; such a file
// would be measured, or saved over itself, as if it were whole.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace tovra {

// Why the picture in `bytes` is incomplete (empty when it is whole, or of a kind not checked
// here: PNG and TIFF decoders report a short file themselves).
QString pictureShortfall(const QByteArray& bytes);
// The picture in a file, from one read of it: checked whole, then decoded (no automatic turn by
// the file's orientation tag). Nothing, with `error` saying why, when the file cannot be read, is
// cut short or does not decode.
std::optional<QImage> readWholePicture(const QString& path, QString& error);

} // namespace tovra
