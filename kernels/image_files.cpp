// Raw and CSV image files.
#include "common/no_throw.h"
#include "quarnk.h"

#include "common/atomic_file.h"
#include "common/byte_reader.h"
#include "common/convert.h"

#include <memory>

using quarnk::AtomicFile;
using quarnk::ByteReader;
using quarnk::elementCount;
using quarnk::truncToInt;

namespace {

// Bytes converted and written (or read and converted) per block.
constexpr int64_t kChunk = 1 << 18;

// Writes count elements starting at src as bytes, one block at a time.
void putBytes(AtomicFile& file, const double* src, int64_t count) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(count < kChunk ? count : kChunk)]);
    while (count > 0) {
        int64_t n = count < kChunk ? count : kChunk;
        quarnk::toBytes(src, n, bytes.get());
        file.write(bytes.get(), static_cast<size_t>(n));
        src += n;
        count -= n;
    }
}

// One CSV field. A field ends at "," (or a line feed), after ten characters, or at the end of
// the file; sets `ended` when the file has ended.
double readCsvField(ByteReader& in, bool& ended) {
    int64_t value = 0;
    bool negative = false;
    for (int taken = 0; taken < 10; ++taken) {
        int c = in.get();
        if (c == '\r') c = in.get();
        if (c == '\n') c = ',';
        if (c == '-') {
            negative = true;
            c = in.get(); // taken in place of the sign, without the line-end treatment
        }
        if (c < 0) {
            ended = true;
            break;
        }
        if (c == ',') break;
        value = value * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0);
    }
    return static_cast<double>(negative ? -value : value);
}

} // namespace

extern "C" {

int32_t Openk(const char* name, int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        auto in = std::make_unique<ByteReader>();
        if (!in->open(name)) return -1;
        const int64_t count = elementCount(width, height);
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(count < kChunk ? count : kChunk)]);
        int64_t done = 0;
        while (done < count) {
            int64_t want = count - done < kChunk ? count - done : kChunk;
            int64_t got = static_cast<int64_t>(in->read(bytes.get(), static_cast<size_t>(want)));
            quarnk::bytesToReals(bytes.get(), got, buf + done);
            done += got;
            if (got < want) break;
        }
        for (; done < count; ++done)
            buf[done] = -1.0; // the file ended early
        return 0;
    });
}

int32_t Opencsvk(const char* name, int32_t width, int32_t height, double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        auto in = std::make_unique<ByteReader>();
        if (!in->open(name)) return -1;
        const int64_t count = elementCount(width, height);
        bool ended = false;
        int64_t i = 0;
        for (; i < count && !ended; ++i)
            buf[i] = readCsvField(*in, ended);
        for (; i < count; ++i)
            buf[i] = 0.0;
        return 0;
    });
}

int32_t Savek(const char* name, int32_t width, int32_t height, const double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        auto file = std::make_unique<AtomicFile>();
        if (!file->open(name)) return -1;
        putBytes(*file, buf, elementCount(width, height));
        return file->commit() ? 0 : -1;
    });
}

int32_t Savecsvk(const char* name, int32_t width, int32_t height, const double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        auto file = std::make_unique<AtomicFile>();
        if (!file->open(name)) return -1;
        if (width > 0 && height > 0) {
            for (int32_t y = 0; y < height; ++y) {
                const double* row = buf + static_cast<int64_t>(y) * width;
                for (int32_t x = 0; x < width; ++x) {
                    file->putInt(truncToInt(row[x]));
                    file->put(x + 1 < width ? ',' : '\r');
                }
                file->put('\n');
            }
        }
        return file->commit() ? 0 : -1;
    });
}

int32_t Savertk(const char* name, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                const double* buf) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        const bool empty = x1 <= x0 || y1 <= y0;
        if (!empty && (x0 < 0 || y0 < 0 || x1 > width)) return -1;
        auto file = std::make_unique<AtomicFile>();
        if (!file->open(name)) return -1;
        if (!empty) {
            for (int32_t y = y0; y < y1; ++y)
                putBytes(*file, buf + static_cast<int64_t>(y) * width + x0, static_cast<int64_t>(x1) - x0);
        }
        return file->commit() ? 0 : -1;
    });
}

} // extern "C"
