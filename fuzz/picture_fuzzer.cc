// The picture checks over any bytes: whether a BMP, JPEG, GIF or TIFF (classic or BigTIFF) is
// whole, and a TIFF's pages, where their directories start and their pixel sizes. They end without reading
// outside the bytes, and every pixel size is a number of at least 0.
#include "core/picture_check.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)tovra::pictureShortfall(bytes);
    // The same bytes behind each header, so that the walkers go past the magic numbers.
    for (const char* magic :
         {"II*\0", "MM\0*", "II+\0\x08\0\0\0", "MM\0+\0\x08\0\0", "BM", "GIF89a", "\xff\xd8"}) {
        const qsizetype length = magic[2] == '+' || magic[3] == '+'   ? 8
                                 : magic[0] == 'M' || magic[0] == 'I' ? 4
                                                                      : -1;
        const QByteArray framed = QByteArray(magic, length) + bytes;
        (void)tovra::pictureShortfall(framed);
        const tovra::TiffLayout layout = tovra::tiffLayout(framed);
        for (double um : layout.pixelSizeUm)
            if (!(um >= 0) || !std::isfinite(um)) std::abort();
        for (int64_t at : layout.directories)
            if (at <= 0 || at >= framed.size()) std::abort();
    }
    return 0;
}
