#include "mask_stack.h"

#include "core/save_file.h"
#include "version.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>
#include <tiffio.h>
#include <unistd.h>

namespace tovra {

namespace {

constexpr uint16_t kNoMask = 65535;

QString escaped(const QString& text) {
    QString s = text.toHtmlEscaped();
    for (QChar& c : s)
        if (c.unicode() < 0x20) c = u' '; // no control characters in XML 1.0
    return s;
}

QString number(double v) {
    return QString::number(v, 'g', 17);
}

// libtiff's messages kept for the error, not printed.
thread_local QString libraryError;
void tiffError(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    libraryError =
        QStringLiteral("%1: %2").arg(QString::fromUtf8(module ? module : ""), QString::fromUtf8(text));
}
void tiffWarning(const char*, const char*, va_list) {}

struct Handlers {
    TIFFErrorHandler error, warning;
    Handlers() : error(TIFFSetErrorHandler(tiffError)), warning(TIFFSetWarningHandler(tiffWarning)) {}
    ~Handlers() {
        TIFFSetErrorHandler(error);
        TIFFSetWarningHandler(warning);
    }
};

} // namespace

MaskPlanes maskPlanesOf(const measure::Result& r) {
    MaskPlanes p;
    p.blackFraction = r.blackFraction;
    if (!r.error.empty()) {
        p.error = QString::fromStdString(r.error);
        return p;
    }
    const int w = r.area.x2 - r.area.x1, h = r.area.y2 - r.area.y1;
    const size_t n = static_cast<size_t>(std::max(w, 0)) * static_cast<size_t>(std::max(h, 0));
    if (n == 0 || r.black.size() != n) {
        p.error = QStringLiteral("no binarization");
        return p;
    }
    p.width = w, p.height = h;
    p.black = r.black;
    p.labels.assign(n, 0);
    if (r.grainOf.size() == n) {
        for (size_t i = 0; i < n; ++i)
            p.labels[i] = r.grainOf[i];
    } else if (r.bubbles) {
        // The bubbles' colour's domains, 4-connected, numbered as their first pixel is met; past
        // 65534 bubbles the last number stands for the rest.
        const uint8_t colour = r.bubbles->black ? 1 : 0;
        std::vector<size_t> stack;
        uint16_t next = 0;
        for (size_t start = 0; start < n; ++start) {
            if (p.black[start] != colour || p.labels[start] != 0) continue;
            next = static_cast<uint16_t>(std::min<int>(next + 1, kNoMask - 1));
            p.labels[start] = next;
            stack.push_back(start);
            while (!stack.empty()) {
                const size_t i = stack.back();
                stack.pop_back();
                const int x = static_cast<int>(i % static_cast<size_t>(w)),
                          y = static_cast<int>(i / static_cast<size_t>(w));
                const size_t around[4] = {x > 0 ? i - 1 : n, x + 1 < w ? i + 1 : n,
                                          y > 0 ? i - static_cast<size_t>(w) : n,
                                          y + 1 < h ? i + static_cast<size_t>(w) : n};
                for (size_t j : around)
                    if (j < n && p.black[j] == colour && p.labels[j] == 0)
                        p.labels[j] = next, stack.push_back(j);
            }
        }
    }
    return p;
}

struct MaskStackWriter::State {
    QString path, valueName;
    std::vector<MaskFrame> frames;
    double pixelSizeUm = 0;
    QTemporaryFile temp;
    TIFF* tif = nullptr;
    int width = 0, height = 0;
    size_t added = 0, pending = 0; // frames given; those before the size was known
    std::vector<QString> errors;   // each frame's, empty where it has its mask
    std::vector<double> fractions, maskFractions;
    bool failed = false;
    QByteArray provenance;
};

MaskStackWriter::MaskStackWriter(QString path, std::vector<MaskFrame> frames, QString valueName,
                                 double pixelSizeUm, QByteArray provenance)
    : s_(std::make_unique<State>()) {
    s_->path = std::move(path), s_->frames = std::move(frames), s_->valueName = std::move(valueName);
    s_->pixelSizeUm = pixelSizeUm, s_->provenance = std::move(provenance);
}

MaskStackWriter::~MaskStackWriter() {
    if (s_->tif) TIFFClose(s_->tif);
}

bool MaskStackWriter::add(const MaskPlanes& planes, QString& why) {
    State& s = *s_;
    const Handlers handlers;
    if (s.failed) return false;
    s.errors.push_back(planes.error);
    s.fractions.push_back(planes.blackFraction);
    s.maskFractions.push_back(0);
    ++s.added;
    if (!s.tif && planes.width == 0) { // its size not known yet: written once it is
        ++s.pending;
        return true;
    }
    auto fail = [&](const QString& what) {
        why = libraryError.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, libraryError);
        s.failed = true;
        return false;
    };
    if (!s.tif) {
        s.width = planes.width, s.height = planes.height;
        besideTarget(s.temp, s.path);
        if (!s.temp.open())
            return fail(
                QStringLiteral("no temporary file can be made beside it: %1").arg(s.temp.errorString()));
        // Past 2 GiB of planes, BigTIFF: 64-bit offsets.
        const double bytes = 4.0 * s.width * s.height * static_cast<double>(s.frames.size());
        const int fd = ::dup(static_cast<int>(s.temp.handle()));
        if (fd < 0) return fail(QStringLiteral("the temporary file cannot be opened"));
        s.tif = TIFFFdOpen(fd, QFile::encodeName(s.temp.fileName()).constData(), bytes > 2e9 ? "w8" : "w");
        if (!s.tif) {
            ::close(fd);
            return fail(QStringLiteral("libtiff cannot open it"));
        }
    }
    const size_t n = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
    const bool fits = planes.width == s.width && planes.height == s.height && planes.black.size() == n;
    if (!fits && planes.error.isEmpty())
        s.errors.back() = QStringLiteral("its size, %1 x %2, is not the stack's %3 x %4")
                              .arg(planes.width)
                              .arg(planes.height)
                              .arg(s.width)
                              .arg(s.height);
    std::vector<uint16_t> row(static_cast<size_t>(s.width));
    auto writePlane = [&](const auto& value) {
        TIFFSetField(s.tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.width));
        TIFFSetField(s.tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(s.height));
        TIFFSetField(s.tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(s.tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(s.tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        TIFFSetField(s.tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(s.tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(s.tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(s.tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(std::max(1, 65536 / (2 * s.width))));
        if (s.pixelSizeUm > 0) { // also for readers of the classic tags: pixels per centimetre
            TIFFSetField(s.tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
            TIFFSetField(s.tif, TIFFTAG_XRESOLUTION, static_cast<float>(1e4 / s.pixelSizeUm));
            TIFFSetField(s.tif, TIFFTAG_YRESOLUTION, static_cast<float>(1e4 / s.pixelSizeUm));
        }
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x)
                row[static_cast<size_t>(x)] =
                    value(static_cast<size_t>(y) * static_cast<size_t>(s.width) + x);
            if (TIFFWriteScanline(s.tif, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
        }
        return TIFFWriteDirectory(s.tif) != 0;
    };
    auto none = [](size_t) { return kNoMask; };
    for (; s.pending > 0; --s.pending)
        if (!writePlane(none) || !writePlane(none)) return fail(QStringLiteral("a plane cannot be written"));
    if (!fits) {
        if (!writePlane(none) || !writePlane(none)) return fail(QStringLiteral("a plane cannot be written"));
        return true;
    }
    int64_t blacks = 0;
    for (uint8_t b : planes.black)
        blacks += b;
    s.maskFractions.back() = static_cast<double>(blacks) / static_cast<double>(n);
    if (!writePlane([&](size_t i) { return static_cast<uint16_t>(planes.black[i]); }) ||
        !writePlane([&](size_t i) { return planes.labels.size() == n ? planes.labels[i] : uint16_t{0}; }))
        return fail(QStringLiteral("a plane cannot be written"));
    return true;
}

bool MaskStackWriter::finish(QString& why) {
    State& s = *s_;
    const Handlers handlers;
    if (s.failed) {
        why = QStringLiteral("it was not written whole");
        return false;
    }
    if (!s.tif) {
        why = QStringLiteral("no frame was measured: there are no masks");
        return false;
    }
    if (s.added != s.frames.size()) {
        why = QStringLiteral("%1 frames of %2 were given").arg(s.added).arg(s.frames.size());
        return false;
    }
    TIFFClose(s.tif);
    s.tif = nullptr;
    // The OME-XML, now that every frame's fate is known, into the first page's directory.
    QString xml =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" Creator=\"%1\">"
            "<Image ID=\"Image:0\" Name=\"domains\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" "
            "Type=\"uint16\" SizeX=\"%2\" SizeY=\"%3\" SizeC=\"2\" SizeZ=\"1\" SizeT=\"%4\"")
            .arg(escaped(QStringLiteral("Tovra " TOVRA_VERSION)))
            .arg(s.width)
            .arg(s.height)
            .arg(s.frames.size());
    if (s.pixelSizeUm > 0)
        xml += QStringLiteral(" PhysicalSizeX=\"%1\" PhysicalSizeXUnit=\"µm\" PhysicalSizeY=\"%1\" "
                              "PhysicalSizeYUnit=\"µm\"")
                   .arg(number(s.pixelSizeUm));
    xml +=
        QStringLiteral(">"
                       "<Channel ID=\"Channel:0:0\" Name=\"domains (1 black, 0 white, 65535 not measured)\" "
                       "SamplesPerPixel=\"1\"/>"
                       "<Channel ID=\"Channel:0:1\" Name=\"bubbles or grains (numbered from 1, 0 none)\" "
                       "SamplesPerPixel=\"1\"/>"
                       "<TiffData IFD=\"0\" PlaneCount=\"%1\"/>")
            .arg(2 * s.frames.size());
    for (size_t t = 0; t < s.frames.size(); ++t)
        for (int c = 0; c < 2; ++c)
            xml +=
                QStringLiteral(
                    "<Plane TheC=\"%1\" TheZ=\"0\" TheT=\"%2\"><AnnotationRef ID=\"Annotation:%2\"/></Plane>")
                    .arg(c)
                    .arg(t);
    xml += QStringLiteral("</Pixels></Image><StructuredAnnotations>");
    for (size_t t = 0; t < s.frames.size(); ++t) {
        const MaskFrame& f = s.frames[t];
        xml += QStringLiteral("<MapAnnotation ID=\"Annotation:%1\"><Value>").arg(t);
        auto pair = [&](const QString& key, const QString& value) {
            xml += QStringLiteral("<M K=\"%1\">%2</M>").arg(escaped(key), escaped(value));
        };
        pair(QStringLiteral("file"), f.file);
        if (f.page > 0) pair(QStringLiteral("page"), QString::number(f.page));
        if (f.value) pair(s.valueName, number(*f.value));
        if (s.errors[t].isEmpty()) {
            pair(QStringLiteral("black_fraction"), number(s.fractions[t]));
            pair(QStringLiteral("black_fraction_of_mask"), number(s.maskFractions[t]));
        } else {
            pair(QStringLiteral("error"), s.errors[t]);
        }
        xml += QStringLiteral("</Value></MapAnnotation>");
    }
    if (!s.provenance.isEmpty())
        xml +=
            QStringLiteral("<CommentAnnotation ID=\"Annotation:provenance\" Namespace=\"tovra/provenance\">"
                           "<Value>%1</Value></CommentAnnotation>")
                .arg(escaped(QString::fromUtf8(s.provenance)));
    xml += QStringLiteral("</StructuredAnnotations></OME>");
    // The copy of the descriptor shares the file's position, which libtiff reads the header from.
    const int fd = ::dup(static_cast<int>(s.temp.handle()));
    if (fd >= 0) ::lseek(fd, 0, SEEK_SET);
    TIFF* tif = fd >= 0 ? TIFFFdOpen(fd, QFile::encodeName(s.temp.fileName()).constData(), "r+") : nullptr;
    if (!tif) {
        if (fd >= 0) ::close(fd);
        why = QStringLiteral("its first page cannot be opened again (%1)").arg(libraryError);
        return false;
    }
    const QByteArray text = xml.toUtf8();
    const bool described =
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.constData()) != 0 && TIFFRewriteDirectory(tif) != 0;
    TIFFClose(tif);
    if (!described) {
        why = QStringLiteral("its description cannot be written (%1)").arg(libraryError);
        return false;
    }
    if (!s.temp.flush() || !putInPlace(s.temp, s.path)) {
        why = QStringLiteral("it cannot take its name");
        return false;
    }
    return true;
}

bool saveFloatTiff(const QString& path, int w, int h, const std::vector<float>& px, double pixelSizeUm,
                   const QByteArray& description, QString& why) {
    if (w <= 0 || h <= 0 || px.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) {
        why = QStringLiteral("no picture to write");
        return false;
    }
    if (const QString refused = unwritableTarget(path); !refused.isEmpty()) {
        why = refused;
        return false;
    }
    const Handlers handlers;
    libraryError.clear();
    QTemporaryFile temp;
    besideTarget(temp, path);
    if (!temp.open()) {
        why = QStringLiteral("no temporary file can be made beside it: %1").arg(temp.errorString());
        return false;
    }
    const int fd = ::dup(static_cast<int>(temp.handle()));
    TIFF* tif = fd >= 0 ? TIFFFdOpen(fd, QFile::encodeName(temp.fileName()).constData(), "w") : nullptr;
    if (!tif) {
        if (fd >= 0) ::close(fd);
        why = QStringLiteral("libtiff cannot open it (%1)").arg(libraryError);
        return false;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(std::max(1, 65536 / (4 * w))));
    if (pixelSizeUm > 0 && std::isfinite(pixelSizeUm)) {
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(1e4 / pixelSizeUm));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(1e4 / pixelSizeUm));
    }
    if (!description.isEmpty()) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description.constData());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Tovra " TOVRA_VERSION);
    std::vector<float> row(static_cast<size_t>(w));
    bool written = true;
    for (int y = 0; y < h && written; ++y) {
        std::copy_n(px.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * static_cast<size_t>(w)),
                    w, row.begin());
        written = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) >= 0;
    }
    written = written && TIFFWriteDirectory(tif) != 0;
    TIFFClose(tif);
    if (!written) {
        why = QStringLiteral("it cannot be written whole (%1)").arg(libraryError);
        return false;
    }
    if (!temp.flush() || !putInPlace(temp, path)) {
        why = QStringLiteral("it cannot take its name");
        return false;
    }
    return true;
}

} // namespace tovra
