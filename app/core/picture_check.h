// Whether a picture file holds all the pixels its header promises. Qt's decoders fill what a
// truncated BMP, JPEG or GIF lacks (grey, or the last colour) and report success; such a file
// would be measured, or saved over itself, as if it were whole.
#pragma once

#include <QByteArray>
#include <QString>

namespace tovra {

// Why the picture in `bytes` is incomplete (empty when it is whole, or of a kind not checked
// here: PNG and TIFF decoders report a short file themselves).
QString pictureShortfall(const QByteArray& bytes);
// The same for a file; a file that cannot be read is left to the decoder to refuse.
QString pictureFileShortfall(const QString& path);

} // namespace tovra
