// The work files of image slots: the four primitives through which all slot access goes.
#pragma once

#include <cstdint>
#include <string>

namespace quarn {

struct SlotSize {
    int32_t width = 0;
    int32_t height = 0;
    int64_t count() const { return static_cast<int64_t>(width) * height; }
    bool operator==(const SlotSize&) const = default;
};

std::string pixelFileName(int64_t id);
std::string infoFileName(int64_t id);

// Parses the text of an info file: the first two lines, each read as at most 14 characters up to
// and including its line feed, give width and height (leading white space, an optional sign,
// digits up to the first non-digit). False when a line is missing, a value is negative or too
// large, or width x height does not fit a 32-bit integer.
bool parseInfo(const char* text, size_t size, SlotSize& out);

bool readInfo(int64_t id, SlotSize& out) noexcept;
bool writeInfo(int64_t id, SlotSize size) noexcept;
// Reads the slot's pixels into buf; `size` receives the slot's size.
bool readPixels(int64_t id, double* buf, SlotSize& size) noexcept;
// Writes width x height elements of buf, the size being the slot's own.
bool writePixels(int64_t id, const double* buf) noexcept;

} // namespace quarn
