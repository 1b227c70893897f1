#include "slot_files.h"

#include "common/atomic_file.h"
#include "common/byte_reader.h"
#include "common/no_throw.h"
#include "quarnk.h"

#include <memory>

namespace quarn {

using quarnk::AtomicFile;
using quarnk::ByteReader;

namespace {

constexpr int kInfoLineChars = 14;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One line of at most 14 characters, taken as a reader of lines into a 15-byte buffer would.
bool nextLine(const char*& p, const char* end, std::string& line) {
    if (p == end) return false;
    line.clear();
    while (p != end && static_cast<int>(line.size()) < kInfoLineChars) {
        const char c = *p++;
        line.push_back(c);
        if (c == '\n') break;
    }
    return true;
}

bool parseLeadingInt(const std::string& line, int32_t& out) {
    size_t i = 0;
    while (i < line.size() && isSpace(line[i]))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        value = value * 10 + (line[i] - '0');
        if (value > INT32_MAX) return false;
    }
    if (negative) value = -value;
    out = static_cast<int32_t>(value);
    return true;
}

} // namespace

std::string pixelFileName(int64_t id) {
    return std::to_string(id) + "_im.tmp";
}
std::string infoFileName(int64_t id) {
    return std::to_string(id) + "_inf.tmp";
}

bool parseInfo(const char* text, size_t size, SlotSize& out) {
    const char* p = text;
    const char* end = text + size;
    std::string line;
    SlotSize s;
    if (!nextLine(p, end, line) || !parseLeadingInt(line, s.width)) return false;
    if (!nextLine(p, end, line) || !parseLeadingInt(line, s.height)) return false;
    if (s.width < 0 || s.height < 0 || s.count() > INT32_MAX) return false;
    out = s;
    return true;
}

bool readInfo(int64_t id, SlotSize& out) noexcept {
    return quarnk::noThrow(false, [&] {
        auto in = std::make_unique<ByteReader>();
        if (!in->open(infoFileName(id).c_str())) return false;
        char text[2 * kInfoLineChars];
        const size_t got = in->read(text, sizeof(text));
        return parseInfo(text, got, out);
    });
}

bool writeInfo(int64_t id, SlotSize size) noexcept {
    return quarnk::noThrow(false, [&] {
        auto file = std::make_unique<AtomicFile>();
        if (!file->open(infoFileName(id).c_str())) return false;
        for (int64_t v : {static_cast<int64_t>(size.width), static_cast<int64_t>(size.height), id}) {
            file->putInt(v);
            file->write("\r\r\n", 3);
        }
        return file->commit();
    });
}

bool readPixels(int64_t id, double* buf, SlotSize& size) noexcept {
    return quarnk::noThrow(false, [&] {
        if (!readInfo(id, size)) return false;
        return Openk(pixelFileName(id).c_str(), size.width, size.height, buf) == 0;
    });
}

bool writePixels(int64_t id, const double* buf) noexcept {
    return quarnk::noThrow(false, [&] {
        SlotSize size;
        if (!readInfo(id, size)) return false;
        return Savek(pixelFileName(id).c_str(), size.width, size.height, buf) == 0;
    });
}

} // namespace quarn
