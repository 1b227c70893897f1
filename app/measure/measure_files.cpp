#include "measure_files.h"

#include "core/picture_check.h"
#include "core/regular_file.h"
#include "tiff_page.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace tovra {

namespace {

std::optional<measure::Image> readCsv(const QString& path, QString& error) {
    const std::optional<QByteArray> text = readRegularFile(path, error);
    if (!text) return std::nullopt;
    measure::Image img;
    int row = 0;
    for (qsizetype from = 0; from < text->size();) {
        qsizetype end = text->indexOf('\n', from);
        if (end < 0) end = text->size();
        const QByteArray line = text->mid(from, end - from).trimmed();
        from = end + 1;
        if (line.isEmpty()) continue;
        const QList<QByteArray> fields = line.split(',');
        if (row == 0) img.width = static_cast<int>(fields.size());
        if (fields.size() != img.width) {
            error =
                QStringLiteral("row %1 has %2 values, not %3").arg(row + 1).arg(fields.size()).arg(img.width);
            return std::nullopt;
        }
        for (const QByteArray& v : fields) {
            bool ok = false;
            const double x = v.trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(x)) {
                error = QStringLiteral("row %1 holds \"%2\", not a number")
                            .arg(row + 1)
                            .arg(QString::fromLatin1(v.left(40)) +
                                 (v.size() > 40 ? QStringLiteral("…") : QString()));
                return std::nullopt;
            }
            img.px.push_back(x);
        }
        ++row;
    }
    img.height = row;
    if (img.px.empty()) {
        error = QStringLiteral("holds no values");
        return std::nullopt;
    }
    return img;
}

measure::Image greyOf(QImage picture) {
    measure::Image img{picture.width(), picture.height(), {}};
    img.px.reserve(static_cast<size_t>(img.width) * img.height);
    const bool deep = picture.depth() > 32 || picture.format() == QImage::Format_Grayscale16;
    picture = picture.convertToFormat(deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        const uchar* line = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            img.px.push_back(deep ? reinterpret_cast<const quint16*>(line)[x] : line[x]);
    }
    return img;
}

} // namespace

std::optional<measure::Image> readMeasureImage(const QString& path, const std::vector<int>& size,
                                               QString& error) {
    std::vector<MeasurePage> pages = readMeasurePages(path, size, error, false);
    if (pages.empty()) return std::nullopt;
    return std::move(pages.front().image);
}

std::vector<MeasurePage> readMeasurePages(const QString& path, const std::vector<int>& size, QString& error,
                                          bool allPages) {
    std::vector<MeasurePage> pages;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv")) {
        if (auto img = readCsv(path, error)) pages.push_back({std::move(*img), 0, 0});
        return pages;
    }
    if (suffix == QLatin1String("mon") || suffix == QLatin1String("raw")) {
        if (size.size() != 2) {
            error = QStringLiteral("a raw image needs --size W H");
            return pages;
        }
        QFile f;
        if (!openRegularFile(f, path, error)) return pages;
        const qint64 pixels = static_cast<qint64>(size[0]) * size[1];
        auto wrongSize = [&](qint64 bytes) {
            error = QStringLiteral("%1 bytes are neither %2 x %3 bytes nor twice that")
                        .arg(bytes)
                        .arg(size[0])
                        .arg(size[1]);
            return pages;
        };
        // The size is checked against the file before anything is reserved for it.
        if (f.size() != pixels && f.size() != 2 * pixels) return wrongSize(f.size());
        const QByteArray bytes = f.read(f.size());
        measure::Image img{size[0], size[1], {}};
        img.px.reserve(static_cast<size_t>(pixels));
        if (bytes.size() == pixels) {
            for (char c : bytes)
                img.px.push_back(static_cast<unsigned char>(c));
        } else if (bytes.size() == 2 * pixels) {
            for (qint64 i = 0; i < pixels; ++i)
                img.px.push_back(static_cast<unsigned char>(bytes[2 * i]) |
                                 static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        } else {
            return wrongSize(bytes.size()); // it changed since
        }
        pages.push_back({std::move(img), 0, 0});
        return pages;
    }
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff")) {
        // Page by page through libtiff, each found by its directory's place.
        const PictureLayout layout = pictureLayout(path);
        if (!layout.error.isEmpty()) {
            error = layout.error;
            return pages;
        }
        if (layout.directories.empty()) {
            error = QStringLiteral("is not a TIFF file");
            return pages;
        }
        const size_t count = allPages ? layout.directories.size() : 1;
        for (size_t k = 0; k < count; ++k) {
            QString why;
            std::optional<measure::Image> img = readTiffDirectory(path, layout.directories[k], why);
            if (!img) {
                error = layout.directories.size() > 1
                            ? QStringLiteral("page %1 cannot be decoded: %2").arg(k + 1).arg(why)
                            : QStringLiteral("cannot be decoded: %1").arg(why);
                return {};
            }
            pages.push_back({std::move(*img), layout.directories.size() > 1 ? static_cast<int>(k) + 1 : 0,
                             layout.pixelSizeUm[k]});
        }
        return pages;
    }
    if (std::optional<QImage> picture = readWholePicture(path, error))
        pages.push_back({greyOf(std::move(*picture)), 0, 0.0});
    return pages;
}

PictureLayout pictureLayout(const QString& path) {
    PictureLayout layout;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("tif") && suffix != QLatin1String("tiff")) return layout;
    QFile f;
    if (!openRegularFile(f, path, layout.error)) return layout;
    // The directories are walked in the file mapped, not read: a long series is gigabytes.
    const qint64 n = f.size();
    uchar* mapped = n > 0 ? f.map(0, n) : nullptr;
    const QByteArray bytes =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), n) : f.read(n);
    const TiffLayout tiff = tiffLayout(bytes);
    if (!tiff.shortfall.isEmpty())
        layout.error = QStringLiteral("cannot be read whole: %1").arg(tiff.shortfall);
    layout.pages = std::max<int>(1, static_cast<int>(tiff.pixelSizeUm.size()));
    layout.pixelSizeUm = tiff.pixelSizeUm;
    layout.directories = tiff.directories;
    layout.metadata =
        stackMetadata(tiff.description, static_cast<int>(tiff.directories.size()), tiff.xResolution);
    if (layout.metadata.pixelSizeUm > 0)
        std::fill(layout.pixelSizeUm.begin(), layout.pixelSizeUm.end(), layout.metadata.pixelSizeUm);
    return layout;
}

} // namespace tovra
