#include "picture_check.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cstdint>

namespace tovra {

namespace {

class Bytes {
public:
    explicit Bytes(const QByteArray& b) : b_(b) {}
    int64_t size() const { return b_.size(); }
    int u8(int64_t at) const {
        return at >= 0 && at < size() ? static_cast<uint8_t>(b_.at(static_cast<qsizetype>(at))) : -1;
    }
    int64_t le16(int64_t at) const { return at + 2 <= size() ? u8(at) | u8(at + 1) << 8 : -1; }
    int64_t be16(int64_t at) const { return at + 2 <= size() ? u8(at) << 8 | u8(at + 1) : -1; }
    int64_t le32(int64_t at) const {
        if (at + 4 > size()) return -1;
        return static_cast<int64_t>(static_cast<uint32_t>(u8(at)) | static_cast<uint32_t>(u8(at + 1)) << 8 |
                                    static_cast<uint32_t>(u8(at + 2)) << 16 |
                                    static_cast<uint32_t>(u8(at + 3)) << 24);
    }
    bool startsWith(const char* magic) const { return b_.startsWith(magic); }

private:
    const QByteArray& b_;
};

// Uncompressed rows (and bit fields) must all be there; run-length pictures at least start.
QString bmpShortfall(const Bytes& b) {
    const int64_t offset = b.le32(10), header = b.le32(14);
    if (offset < 0 || header < 0) return QStringLiteral("the BMP header is cut short");
    int64_t width = 0, height = 0, bits = 0, compression = 0;
    if (header == 12) {
        width = b.le16(18), height = b.le16(20), bits = b.le16(24);
    } else {
        width = b.le32(18), height = b.le32(22), bits = b.le16(28), compression = b.le32(30);
        if (height >= 0x80000000LL) height = 0x100000000LL - height; // a top-down picture
    }
    if (width < 0 || height < 0 || bits < 0) return QStringLiteral("the BMP header is cut short");
    if (offset > b.size()) return QStringLiteral("the BMP file ends before its pixels start");
    if (compression != 0 && compression != 3 && compression != 6) return {};
    const int64_t stride = (width * bits + 31) / 32 * 4;
    const int64_t needed = stride * height;
    if (b.size() - offset < needed)
        return QStringLiteral("the BMP file holds %1 of its %2 pixel bytes")
            .arg(b.size() - offset)
            .arg(needed);
    return {};
}

// The segments up to the first scan, then the end-of-image marker somewhere after it (inside
// entropy-coded data a 0xFF byte is always followed by 0x00 or a restart marker).
QString jpegShortfall(const Bytes& b) {
    int64_t at = 2;
    for (;;) {
        if (b.u8(at) != 0xFF) return QStringLiteral("the JPEG file is cut short before its picture data");
        const int marker = b.u8(at + 1);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) return QStringLiteral("the JPEG file ends before its picture data");
        const int64_t length = b.be16(at + 2);
        if (length < 2) return QStringLiteral("the JPEG file is cut short before its picture data");
        at += 2 + length;
        if (marker == 0xDA) break;
    }
    for (; at + 1 < b.size(); ++at)
        if (b.u8(at) == 0xFF && b.u8(at + 1) == 0xD9) return {};
    return QStringLiteral("the JPEG file is cut short: its picture data has no end");
}

// The blocks up to the end of the first picture (the one decoded) must all be there.
QString gifShortfall(const Bytes& b) {
    QString cut = QStringLiteral("the GIF file is cut short before its first picture is complete");
    int64_t at = 13;
    const int packed = b.u8(10);
    if (packed < 0) return cut;
    if (packed & 0x80) at += 3LL << ((packed & 7) + 1);
    auto skipSubBlocks = [&]() {
        for (;;) {
            const int n = b.u8(at);
            if (n < 0) return false;
            ++at;
            if (n == 0) return true;
            at += n;
        }
    };
    for (;;) {
        const int introducer = b.u8(at);
        if (introducer == 0x21) { // extension: label, then sub-blocks
            at += 2;
            if (!skipSubBlocks()) return cut;
        } else if (introducer == 0x2C) { // picture: descriptor, colours, code size, sub-blocks
            const int local = b.u8(at + 9);
            if (local < 0) return cut;
            at += 10;
            if (local & 0x80) at += 3LL << ((local & 7) + 1);
            ++at; // the code size
            return skipSubBlocks() ? QString() : cut;
        } else {
            return cut; // a trailer or anything else before any picture
        }
    }
}

} // namespace

QString pictureShortfall(const QByteArray& bytes) {
    const Bytes b(bytes);
    if (b.startsWith("BM")) return bmpShortfall(b);
    if (b.u8(0) == 0xFF && b.u8(1) == 0xD8) return jpegShortfall(b);
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) return gifShortfall(b);
    return {};
}

std::optional<QImage> readWholePicture(const QString& path, QString& error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    QByteArray bytes = f.readAll();
    if (const QString shortfall = pictureShortfall(bytes); !shortfall.isEmpty()) {
        error = QStringLiteral("cannot be read whole: %1").arg(shortfall);
        return std::nullopt;
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QFileInfo(path).suffix().toLower().toLatin1());
    reader.setAutoTransform(false);
    QImage picture = reader.read();
    if (picture.isNull()) {
        error = QStringLiteral("cannot be decoded: %1").arg(reader.errorString());
        return std::nullopt;
    }
    return picture;
}

} // namespace tovra
