#include "tiff_page.h"

#include "core/regular_file.h"

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace tovra {

namespace {

// libtiff reads a file's first directory when it opens it. The file is shown to it through
// these procedures with the header's link to the first directory turned to the page wanted, so
// that libtiff opens that page directly instead of walking the chain to it (which costs a
// stack's length for every page).
struct PageFile {
    int fd = -1;
    int64_t size = 0, position = 0;
    int64_t linkAt = 0, linkSize = 0; // where the header keeps the first directory's offset
    unsigned char link[8] = {};
    void* mapped = nullptr;
    QString libraryError;
};

tmsize_t readPage(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<PageFile*>(h);
    if (size < 0 || f->position >= f->size) return 0;
    const int64_t want = std::min<int64_t>(size, f->size - f->position);
    const ssize_t got = ::pread(f->fd, buffer, static_cast<size_t>(want), f->position);
    if (got < 0) return -1;
    for (int64_t k = 0; k < f->linkSize; ++k) {
        const int64_t at = f->linkAt + k - f->position;
        if (at >= 0 && at < got) static_cast<unsigned char*>(buffer)[at] = f->link[k];
    }
    f->position += got;
    return got;
}
tmsize_t writePage(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekPage(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<PageFile*>(h);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->position : f->size;
    const int64_t to = base + static_cast<int64_t>(offset);
    if (to < 0) return static_cast<toff_t>(-1);
    f->position = to;
    return static_cast<toff_t>(to);
}
int closePage(thandle_t) {
    return 0;
}
toff_t sizeOfPage(thandle_t h) {
    return static_cast<toff_t>(static_cast<PageFile*>(h)->size);
}
// No mapping: libtiff would read the header's link from the mapped bytes, unturned.
int mapPage(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapPage(thandle_t, void*, toff_t) {}

// libtiff's messages go to its handler, not to standard error: the last one is the page's error.
int errorHandler(TIFF*, void* page, const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    static_cast<PageFile*>(page)->libraryError =
        QStringLiteral("%1: %2").arg(QString::fromUtf8(module ? module : ""), QString::fromUtf8(text));
    return 1;
}
int warningHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1; // unknown tags and the like: nothing the measurement needs
}

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

template <typename T>
void putRow(const unsigned char* from, float* to, int64_t count, bool inverted, double top) {
    for (int64_t x = 0; x < count; ++x) {
        T v;
        std::memcpy(&v, from + x * static_cast<int64_t>(sizeof(T)), sizeof(T));
        const double d = static_cast<double>(v);
        to[x] = static_cast<float>(inverted ? top - d : d);
    }
}

// Grey pages of one sample: their values as stored, by strips or tiles.
bool readGrey(TIFF* tif, measure::Image& img, int bits, int format, bool inverted, QString& error) {
    const int64_t w = img.width, h = img.height, bytes = bits / 8;
    auto put = [&](const unsigned char* from, float* to, int64_t count) {
        if (bits == 8)
            putRow<uint8_t>(from, to, count, inverted, 255);
        else if (bits == 16)
            putRow<uint16_t>(from, to, count, inverted, 65535);
        else if (format == SAMPLEFORMAT_IEEEFP)
            putRow<float>(from, to, count, inverted, 0);
        else
            putRow<uint32_t>(from, to, count, inverted, 4294967295.0);
    };
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0 || TIFFTileSize64(tif) < static_cast<uint64_t>(tw) * th * bytes) {
            error = QStringLiteral("its tiles are not described");
            return false;
        }
        std::vector<unsigned char> tile(static_cast<size_t>(TIFFTileSize64(tif)));
        for (int64_t ty = 0; ty < h; ty += th)
            for (int64_t tx = 0; tx < w; tx += tw) {
                if (TIFFReadTile(tif, tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0,
                                 0) < 0)
                    return false;
                for (int64_t y = ty; y < std::min<int64_t>(h, ty + th); ++y)
                    put(tile.data() + (y - ty) * tw * bytes, img.px.data() + y * w + tx,
                        std::min<int64_t>(tw, w - tx));
            }
        return true;
    }
    if (TIFFScanlineSize64(tif) < static_cast<uint64_t>(w * bytes)) {
        error = QStringLiteral("its rows are shorter than its width");
        return false;
    }
    std::vector<unsigned char> row(static_cast<size_t>(TIFFScanlineSize64(tif)));
    for (int64_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
        put(row.data(), img.px.data() + y * w, w);
    }
    return true;
}

} // namespace

std::optional<measure::Image> readTiffDirectory(const QString& path, int64_t directory, QString& error) {
    QFile file;
    if (!openRegularFile(file, path, error)) return std::nullopt;
    PageFile f;
    f.fd = file.handle();
    f.size = file.size();
    unsigned char header[8] = {};
    if (::pread(f.fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) || directory <= 0) {
        error = QStringLiteral("is not a TIFF file");
        return std::nullopt;
    }
    const bool little = header[0] == 'I', big = header[2] == 43 || header[3] == 43;
    f.linkAt = big ? 8 : 4, f.linkSize = big ? 8 : 4;
    for (int64_t k = 0; k < f.linkSize; ++k) {
        const int64_t shift = 8 * (little ? k : f.linkSize - 1 - k);
        f.link[k] = static_cast<unsigned char>((static_cast<uint64_t>(directory) >> shift) & 0xFF);
    }
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, errorHandler, &f);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, warningHandler, nullptr);
    std::unique_ptr<TIFF, TiffClose> tif(TIFFClientOpenExt(QFile::encodeName(path).constData(), "rm", &f,
                                                           readPage, writePage, seekPage, closePage,
                                                           sizeOfPage, mapPage, unmapPage, opts));
    TIFFOpenOptionsFree(opts);
    auto fail = [&](const QString& what) {
        error = f.libraryError.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, f.libraryError);
        return std::nullopt;
    };
    if (!tif) return fail(QStringLiteral("its page cannot be opened"));
    uint32_t w = 0, h = 0;
    uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    const bool photometricGiven = TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    // A page of more pixels than a measurement can hold is refused before anything is allocated.
    if (w == 0 || h == 0 || w > 1u << 20 || h > 1u << 20 ||
        static_cast<uint64_t>(w) * h > (uint64_t{1} << 31))
        return fail(QStringLiteral("its size %1 x %2 cannot be measured").arg(w).arg(h));
    // Nor is a page whose strips or tiles are too few bytes for its pixels: a header of a few
    // bytes may claim a page of a gigapixel. Compressed data hold at most kMostExpansion times
    // their own size (a blank page under the fax codes comes nearest), and only what is in the
    // file counts.
    constexpr uint64_t kMostExpansion = 1 << 14;
    const auto fileBytes = static_cast<uint64_t>(std::max<int64_t>(f.size, 0));
    uint64_t stored = 0;
    const uint32_t striles =
        TIFFIsTiled(tif.get()) ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
    for (uint32_t k = 0; k < striles && stored < fileBytes; ++k)
        stored += std::min(TIFFGetStrileByteCount(tif.get(), k), fileBytes);
    stored = std::min(stored, fileBytes);
    const uint64_t decoded = (static_cast<uint64_t>(w) * samples * bits + 7) / 8 * h;
    if (decoded > stored * kMostExpansion)
        return fail(QStringLiteral("its %1 x %2 pixels are not in the file").arg(w).arg(h));
    measure::Image img{static_cast<int>(w), static_cast<int>(h), {}};
    img.px.resize(static_cast<size_t>(w) * h);
    const bool grey = samples == 1 && (!photometricGiven || photometric == PHOTOMETRIC_MINISBLACK ||
                                       photometric == PHOTOMETRIC_MINISWHITE);
    const bool plain = (format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16 || bits == 32)) ||
                       (format == SAMPLEFORMAT_IEEEFP && bits == 32);
    if (grey && plain) {
        QString why;
        if (!readGrey(tif.get(), img, bits, format, photometric == PHOTOMETRIC_MINISWHITE, why))
            return fail(why.isEmpty() ? QStringLiteral("its pixels cannot be decoded") : why);
        return img;
    }
    // Colour, palettes, one bit a pixel and the rest: libtiff's conversion to 8-bit RGBA, whose
    // grey is taken as for any other colour picture.
    QImage rgba(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGBA8888);
    if (rgba.isNull()) return fail(QStringLiteral("not enough memory to decode it"));
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif.get(), message))
        return fail(QStringLiteral("its pixels cannot be decoded: %1").arg(QString::fromUtf8(message)));
    if (!TIFFReadRGBAImageOriented(tif.get(), w, h, reinterpret_cast<uint32_t*>(rgba.bits()),
                                   ORIENTATION_TOPLEFT, 0))
        return fail(QStringLiteral("its pixels cannot be decoded"));
    const QImage g = rgba.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < img.height; ++y) {
        const uchar* line = g.constScanLine(y);
        std::copy(line, line + img.width, img.px.begin() + static_cast<int64_t>(y) * img.width);
    }
    return img;
}

} // namespace tovra
