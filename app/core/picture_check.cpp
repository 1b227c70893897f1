#include "picture_check.h"

#include "regular_file.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
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
    QByteArray slice(int64_t at, int64_t n) const {
        return b_.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(n));
    }

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
    // Width and height come from the file (up to 2^32 each): the rows are compared with the
    // bytes there by division, as their product may pass 64 bits.
    const int64_t stride = (width * bits + 31) / 32 * 4, room = b.size() - offset;
    if (stride > 0 && height > room / stride)
        return QStringLiteral("the BMP file holds %1 of its %2 pixel bytes")
            .arg(room)
            .arg(QString::number(static_cast<double>(stride) * static_cast<double>(height), 'f', 0));
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

// The pages of a TIFF file as its directories describe them: each directory, and every strip or
// tile its pages' pixels lie in, checked to lie inside the file (a cut file's decoder reads the
// pages that are there and says nothing of the rest), where each directory starts (so that a page
// can be decoded without walking the chain again), and each page's pixel size from its X
// resolution (tag 282, pixels per unit) and unit (tag 296: 2 inch, the default, or 3 centimetre;
// 1, no unit, says nothing of size). Classic TIFF has 32-bit offsets and 12-byte entries, BigTIFF
// 64-bit offsets and 20-byte entries. The chain of directories is followed at most as many steps
// as the file could hold directories.
TiffLayout tiffLayoutOf(const Bytes& b, bool big) {
    TiffLayout layout;
    const bool little = b.startsWith("II");
    const int64_t n = b.size();
    auto u16 = [&](int64_t at) { return little ? b.le16(at) : b.be16(at); };
    auto u32 = [&](int64_t at) -> int64_t {
        const int64_t lo = u16(little ? at : at + 2), hi = u16(little ? at + 2 : at);
        return lo < 0 || hi < 0 ? -1 : lo | hi << 16;
    };
    // 64-bit values past 2^62 lie outside any file: -1, as for a read past the end.
    auto u64 = [&](int64_t at) -> int64_t {
        const int64_t lo = u32(little ? at : at + 4), hi = u32(little ? at + 4 : at);
        return lo < 0 || hi < 0 || hi >= (int64_t{1} << 30) ? -1 : lo | hi << 32;
    };
    const int64_t offsetSize = big ? 8 : 4, entrySize = big ? 20 : 12, countSize = big ? 8 : 2;
    auto offsetAt = [&](int64_t at) { return big ? u64(at) : u32(at); };
    auto cut = [&](const QString& why) {
        layout.shortfall = why;
        return layout;
    };
    if (big && (u16(4) != 8 || u16(6) != 0))
        return cut(QStringLiteral("the BigTIFF header is not one of 8-byte offsets"));
    int64_t ifd = offsetAt(big ? 8 : 4);
    for (int64_t page = 1; ifd != 0; ++page) {
        if (ifd < (big ? 16 : 8) || page > n / 12)
            return cut(QStringLiteral("TIFF page %1's directory lies outside the file").arg(page));
        const int64_t entries = big ? u64(ifd) : u16(ifd);
        if (entries < 0 || entries > n / entrySize || ifd + countSize + entrySize * entries + offsetSize > n)
            return cut(QStringLiteral("TIFF page %1's directory is cut short").arg(page));
        double resolution = 0;
        int64_t unit = 2;
        // Where the page's pieces lie and how long each is: a value in the entry, or an array.
        struct Field {
            int64_t count = 0, type = 0, at = 0;
        } offsets, lengths;
        for (int64_t e = 0; e < entries; ++e) {
            const int64_t at = ifd + countSize + entrySize * e, tag = u16(at), type = u16(at + 2);
            const int64_t count = big ? u64(at + 4) : u32(at + 4), value = at + 4 + offsetSize;
            if (tag == 282 && type == 5) {
                const int64_t where = offsetAt(value), num = u32(where), den = u32(where + 4);
                if (num > 0 && den > 0) resolution = static_cast<double>(num) / static_cast<double>(den);
            } else if (tag == 296 && type == 3) {
                unit = u16(value);
            } else if (tag == 270 && (type == 2 || type == 7) && page == 1) {
                const int64_t where = count <= offsetSize ? value : offsetAt(value);
                if (count < 0 || where < 0 || count > n || where > n - count)
                    return cut(QStringLiteral("TIFF page 1's description lies outside the file"));
                // A description beyond 64 MiB is no metadata this program reads.
                if (count <= (int64_t{64} << 20)) layout.description = b.slice(where, count);
                while (layout.description.endsWith('\0'))
                    layout.description.chop(1);
            } else if (tag == 273 || tag == 324 || tag == 279 || tag == 325) {
                Field& f = tag == 273 || tag == 324 ? offsets : lengths;
                const int64_t size = type == 3 ? 2 : type == 16 ? 8 : 4;
                if (count < 0 || count > n)
                    return cut(
                        QStringLiteral("TIFF page %1's table of strips lies outside the file").arg(page));
                f = {count, type, count * size <= offsetSize ? value : offsetAt(value)};
                if (f.at < 0 || f.at + count * size > n)
                    return cut(
                        QStringLiteral("TIFF page %1's table of strips lies outside the file").arg(page));
            }
        }
        auto item = [&](const Field& f, int64_t k) {
            return f.type == 3 ? u16(f.at + 2 * k) : f.type == 16 ? u64(f.at + 8 * k) : u32(f.at + 4 * k);
        };
        for (int64_t k = 0; k < std::min(offsets.count, lengths.count); ++k) {
            const int64_t from = item(offsets, k), length = item(lengths, k);
            if (from < 0 || length < 0 || from > n - length)
                return cut(QStringLiteral("TIFF page %1 is cut short").arg(page));
        }
        if (page == 1) layout.xResolution = resolution;
        layout.pixelSizeUm.push_back(
            resolution > 0 && (unit == 2 || unit == 3) ? (unit == 2 ? 25400.0 : 10000.0) / resolution : 0.0);
        layout.directories.push_back(ifd);
        ifd = offsetAt(ifd + countSize + entrySize * entries);
        if (ifd < 0)
            return cut(QStringLiteral("TIFF page %1's link to the next lies outside the file").arg(page));
    }
    return layout;
}

} // namespace

TiffLayout tiffLayout(const QByteArray& bytes) {
    const Bytes b(bytes);
    if ((b.startsWith("II*") || b.startsWith("MM\0*")) && b.size() >= 8) return tiffLayoutOf(b, false);
    if ((b.startsWith("II+") || b.startsWith("MM\0+")) && b.size() >= 16) return tiffLayoutOf(b, true);
    if (b.startsWith("II+") || b.startsWith("MM\0+"))
        return {QStringLiteral("the BigTIFF header is cut short"), {}, {}, {}, 0};
    return {};
}

QString pictureShortfall(const QByteArray& bytes) {
    const Bytes b(bytes);
    if (b.startsWith("BM")) return bmpShortfall(b);
    if (b.u8(0) == 0xFF && b.u8(1) == 0xD8) return jpegShortfall(b);
    if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) return gifShortfall(b);
    return tiffLayout(bytes).shortfall;
}

std::optional<QImage> readWholePicture(const QString& path, QString& error) {
    std::optional<QByteArray> bytes = readRegularFile(path, error);
    if (!bytes) return std::nullopt;
    if (const QString shortfall = pictureShortfall(*bytes); !shortfall.isEmpty()) {
        error = QStringLiteral("cannot be read whole: %1").arg(shortfall);
        return std::nullopt;
    }
    QBuffer buffer(&*bytes);
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
