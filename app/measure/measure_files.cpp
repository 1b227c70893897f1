#include "measure_files.h"

#include "core/picture_check.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace tovra {

namespace {

std::optional<measure::Image> readCsv(const QString& path, QString& error) {
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    measure::Image img;
    int row = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
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
                            .arg(QString::fromLatin1(v));
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
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("cannot be read");
        return pages;
    }
    if (suffix == QLatin1String("csv")) {
        if (auto img = readCsv(path, error)) pages.push_back({std::move(*img), 0, 0});
        return pages;
    }
    if (suffix == QLatin1String("mon") || suffix == QLatin1String("raw")) {
        if (size.size() != 2) {
            error = QStringLiteral("a raw image needs --size W H");
            return pages;
        }
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot be read");
            return pages;
        }
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
        const QByteArray bytes = f.readAll();
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
    QByteArray bytes;
    std::vector<QImage> pictures = readWholePictures(path, error, &bytes, allPages);
    const std::vector<double> sizes = tiffLayout(bytes).pixelSizeUm;
    for (size_t k = 0; k < pictures.size(); ++k) {
        const int page = pictures.size() > 1 ? static_cast<int>(k) + 1 : 0;
        pages.push_back({greyOf(std::move(pictures[k])), page, k < sizes.size() ? sizes[k] : 0.0});
        pictures[k] = QImage(); // each page's decoded copy gone once it is grey
    }
    return pages;
}

PictureLayout pictureLayout(const QString& path) {
    PictureLayout layout;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("tif") && suffix != QLatin1String("tiff")) return layout;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        layout.error = QStringLiteral("cannot be read");
        return layout;
    }
    // The directories are walked in the file mapped, not read: a long series is gigabytes.
    const qint64 n = f.size();
    uchar* mapped = n > 0 ? f.map(0, n) : nullptr;
    const QByteArray bytes =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), n) : f.readAll();
    const TiffLayout tiff = tiffLayout(bytes);
    if (!tiff.shortfall.isEmpty())
        layout.error = QStringLiteral("cannot be read whole: %1").arg(tiff.shortfall);
    layout.pages = std::max<int>(1, static_cast<int>(tiff.pixelSizeUm.size()));
    layout.pixelSizeUm = tiff.pixelSizeUm;
    return layout;
}

std::optional<measure::Image> readTiffPage(const QString& path, int page, QString& error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    QImageReader reader(&f, "tiff");
    reader.setAutoTransform(false);
    QImage picture = page <= 1 || reader.jumpToImage(page - 1) ? reader.read() : QImage();
    if (picture.isNull()) {
        error = QStringLiteral("page %1 cannot be decoded: %2").arg(page).arg(reader.errorString());
        return std::nullopt;
    }
    return greyOf(std::move(picture));
}

} // namespace tovra
