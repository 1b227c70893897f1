// The picture checks over any bytes: whether a BMP, JPEG, GIF or TIFF is whole, and a TIFF's
// pages and pixel sizes. They end without reading outside the bytes, and every pixel size is a
// number of at least 0.
#include "core/picture_check.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)tovra::pictureShortfall(bytes);
    // The same bytes behind each header, so that the walkers go past the magic numbers.
    for (const char* magic : {"II*\0", "MM\0*", "BM", "GIF89a", "\xff\xd8"}) {
        const QByteArray framed = QByteArray(magic, magic[0] == 'M' || magic[0] == 'I' ? 4 : -1) + bytes;
        (void)tovra::pictureShortfall(framed);
        for (double um : tovra::tiffLayout(framed).pixelSizeUm)
            if (!(um >= 0) || !std::isfinite(um)) std::abort();
    }
    return 0;
}
