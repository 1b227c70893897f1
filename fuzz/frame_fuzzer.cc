// The measurement's readers of frames over any bytes, as files: CSV pictures, raw pictures of 8
// and 16 bits with a size, TIFF (classic and BigTIFF) page by page through libtiff, and the
// pictures Qt decodes. They end without reading outside a buffer, and every picture they give
// has its size's worth of finite pixels.
#include "fuzz_input.h"
#include "measure/measure_files.h"
#include "measure/tiff_page.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>

using namespace tovra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "frame_fuzzer";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    static QTemporaryDir dir;
    QImageReader::setAllocationLimit(64); // megabytes: a header may promise any size
    FuzzInput in(data, size);
    static const char* const kinds[] = {"csv", "mon", "tif", "tif", "png", "bmp"};
    const int kind = in.range(0, 5);
    const std::vector<int> raw{in.range(1, 64), in.range(1, 64)};
    QByteArray bytes(reinterpret_cast<const char*>(in.data()), static_cast<qsizetype>(in.size()));
    if (kind == 3) bytes.prepend(QByteArray("II+\0\x08\0\0\0", 8)); // BigTIFF past its magic
    const QString path = dir.filePath(QStringLiteral("frame.") + QLatin1String(kinds[kind]));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return 0;
    f.write(bytes);
    f.close();
    QString error;
    for (const MeasurePage& page : readMeasurePages(path, raw, error)) {
        const measure::Image& img = page.image;
        if (img.width <= 0 || img.height <= 0 ||
            img.px.size() != static_cast<size_t>(img.width) * static_cast<size_t>(img.height))
            std::abort();
        if (!(page.pixelSizeUm >= 0)) std::abort();
    }
    const PictureLayout layout = pictureLayout(path);
    if (layout.error.isEmpty() && layout.directories.size() != layout.pixelSizeUm.size()) std::abort();
    for (size_t k = 0; k < std::min<size_t>(layout.directories.size(), 4); ++k)
        if (const auto img = readTiffDirectory(path, layout.directories[k], error))
            if (img->px.size() != static_cast<size_t>(img->width) * static_cast<size_t>(img->height))
                std::abort();
    return 0;
}
