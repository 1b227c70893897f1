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
    const struct {
        const char* bytes;
        qsizetype length;
    } magics[] = {{"II*\0", 4}, {"MM\0*", 4},  {"II+\0\x08\0\0\0", 8}, {"MM\0+\0\x08\0\0", 8},
                  {"BM", 2},    {"GIF89a", 6}, {"\xff\xd8", 2}};
    for (const auto& magic : magics) {
        const QByteArray framed = QByteArray(magic.bytes, magic.length) + bytes;
        (void)tovra::pictureShortfall(framed);
        const tovra::TiffLayout layout = tovra::tiffLayout(framed);
        for (double um : layout.pixelSizeUm)
            if (!(um >= 0) || !std::isfinite(um)) std::abort();
        for (int64_t at : layout.directories)
            if (at <= 0 || at >= framed.size()) std::abort();
    }
    return 0;
}
