// Whether a picture file holds all the pixels its header promises. Qt's decoders fill what a
// truncated BMP, JPEG or GIF lacks (grey, or the last colour) and report success; such a file
// would be measured, or saved over itself, as if it were whole.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovra {

// Why the picture in `bytes` is incomplete (empty when it is whole, or of a kind not checked
// here: the PNG decoder reports a short file itself).
QString pictureShortfall(const QByteArray& bytes);
// A TIFF file's pages (classic or BigTIFF): why it is cut short (empty when whole), the pixel size
// each page states in micrometres (0 where it states none) and where each page's directory starts.
// Empty for a file that is no TIFF.
struct TiffLayout {
    QString shortfall;
    std::vector<double> pixelSizeUm;
    std::vector<int64_t> directories;
    QByteArray description; // the first page's (OME-XML, an ImageJ description), without its end NUL
    double xResolution = 0; // the first page's X resolution, pixels per unit whatever the unit
};
TiffLayout tiffLayout(const QByteArray& bytes);
// The picture in a file (of a TIFF, its first page), from one read of it: checked whole, then
// decoded (no automatic turn by the file's orientation tag). Nothing, with `error` saying why,
// when the file cannot be read, is cut short or does not decode. The measurement reads a TIFF's
// pages itself, one at a time through libtiff.
std::optional<QImage> readWholePicture(const QString& path, QString& error);

} // namespace tovra
