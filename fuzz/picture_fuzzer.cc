// The picture checks over any bytes: whether a BMP, JPEG, GIF or TIFF (classic or BigTIFF) is
// whole, and a TIFF's pages, where their directories start and their pixel sizes. They end without reading
// outside the bytes, and every pixel size is a number of at least 0. The bytes are also read as
// a stack's description (OME-XML, ImageJ), whose pixel size and times are numbers too.
#include "core/picture_check.h"
#include "measure/stack_metadata.h"

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
    auto checkMetadata = [](const QByteArray& description, int pages) {
        const tovra::StackMetadata m = tovra::stackMetadata(description, pages, 2.5);
        if (!(m.pixelSizeUm >= 0) || !std::isfinite(m.pixelSizeUm)) std::abort();
        if (!m.planes.empty() && m.planes.size() != static_cast<size_t>(pages)) std::abort();
        for (const tovra::PlaneMetadata& p : m.planes)
            if (p.deltaTS && !std::isfinite(*p.deltaTS)) std::abort();
    };
    checkMetadata(bytes, 3);
    checkMetadata("<?xml version=\"1.0\"?><OME>" + bytes, 2);
    checkMetadata("ImageJ=1.53\n" + bytes, 4);
    for (const auto& magic : magics) {
        const QByteArray framed = QByteArray(magic.bytes, magic.length) + bytes;
        (void)tovra::pictureShortfall(framed);
        const tovra::TiffLayout layout = tovra::tiffLayout(framed);
        for (double um : layout.pixelSizeUm)
            if (!(um >= 0) || !std::isfinite(um)) std::abort();
        for (int64_t at : layout.directories)
            if (at <= 0 || at >= framed.size()) std::abort();
        checkMetadata(layout.description, static_cast<int>(layout.directories.size()));
    }
    return 0;
}
