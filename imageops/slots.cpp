// The exports over image slots: load, read-only, in-place, two-source and undo patterns.
#include "quarn.h"

#include "common/convert.h"
#include "quarnk.h"
#include "slot_files.h"

#include <algorithm>

using namespace quarn;

namespace {

int64_t undoOf(int32_t id) {
    return static_cast<int64_t>(id) + 8;
}

// Sizes that an info file could not hold are refused before anything is written.
bool validSize(int32_t width, int32_t height) {
    return width >= 0 && height >= 0 && static_cast<int64_t>(width) * height <= INT32_MAX;
}

// Loads a filled buffer into slot id and its undo slot.
int32_t storeLoaded(int32_t width, int32_t height, int32_t id, const double* buf) {
    const SlotSize size{width, height};
    if (!writeInfo(id, size)) return 4;
    if (!writeInfo(undoOf(id), size)) return 6;
    if (!writePixels(id, buf)) return 2;
    if (!writePixels(undoOf(id), buf)) return 6;
    return 0;
}

// The undo slot receives the image that buf holds (of the given size) before an operation. An
// undo slot whose size disagrees is given the image's size, so that no more elements are taken
// from buf than the image has.
bool writeUndo(int32_t id, SlotSize size, const double* buf) {
    SlotSize undoSize;
    if (!readInfo(undoOf(id), undoSize)) return false;
    if (!(undoSize == size) && !writeInfo(undoOf(id), size)) return false;
    return writePixels(undoOf(id), buf);
}

template <typename Kernel> int32_t inPlace(int32_t id, double* buf, Kernel kernel) {
    SlotSize size;
    if (!readPixels(id, buf, size)) return 1;
    if (!writeUndo(id, size, buf)) return 6;
    if (!readInfo(id, size)) return 3;
    if (kernel(size.width, size.height) != 0) return 5;
    if (!writePixels(id, buf)) return 2;
    return 0;
}

template <typename Kernel>
int32_t twoSource(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2, Kernel kernel) {
    SlotSize size;
    if (!readPixels(dest, buf, size)) return 1;
    if (!writeUndo(dest, size, buf)) return 6;
    // Sources of another size would be read past the destination's extent: refuse them.
    SlotSize sizeA, sizeB;
    if (!readInfo(a, sizeA)) return 1;
    if (!readInfo(b, sizeB)) return 1;
    if (!(sizeA == size) || !(sizeB == size)) return 5;
    if (!readPixels(a, buf, sizeA)) return 1;
    if (!readPixels(b, buf2, sizeB)) return 1;
    if (!readInfo(dest, size)) return 3;
    if (kernel(size.width, size.height) != 0) return 5;
    if (!writePixels(dest, buf)) return 2;
    return 0;
}

template <typename Kernel> int32_t readOnly(int32_t id, double* buf, Kernel kernel) {
    SlotSize size;
    if (!readPixels(id, buf, size)) return 1;
    if (!readInfo(id, size)) return 3;
    return kernel(size) != 0 ? 5 : 0;
}

} // namespace

extern "C" {

int32_t Openim(const char* name, int32_t width, int32_t height, int32_t id, double* buf) {
    if (!validSize(width, height) || Openk(name, width, height, buf) != 0) return 5;
    return storeLoaded(width, height, id, buf);
}

int32_t Opencsv(const char* name, int32_t width, int32_t height, int32_t id, double* buf) {
    if (!validSize(width, height) || Opencsvk(name, width, height, buf) != 0) return 5;
    if (Rofk(width, height, buf) != 0) return 5;
    return storeLoaded(width, height, id, buf);
}

int32_t Openxim(int32_t width, int32_t height, int32_t id, double* buf) {
    if (!validSize(width, height)) return 5;
    return storeLoaded(width, height, id, buf);
}

int32_t Toutim(int32_t id, double* buf) {
    SlotSize size;
    return readPixels(id, buf, size) ? 0 : 1;
}

int32_t Saveim(const char* name, int32_t id, double* buf) {
    return readOnly(id, buf, [&](SlotSize s) { return Savek(name, s.width, s.height, buf); });
}

int32_t Savecsv(const char* name, int32_t id, double* buf) {
    return readOnly(id, buf, [&](SlotSize s) { return Savecsvk(name, s.width, s.height, buf); });
}

int32_t Savert(const char* name, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t id, double* buf) {
    return readOnly(id, buf, [&](SlotSize s) {
        auto inside = [](int32_t v, int32_t limit) { return v >= 0 && v <= limit; };
        if (!inside(x0, s.width) || !inside(x1, s.width) || !inside(y0, s.height) || !inside(y1, s.height))
            return -1;
        return Savertk(name, s.width, x0, y0, x1, y1, buf);
    });
}

int32_t Xyretid(int32_t id, int32_t* width, int32_t* height) {
    SlotSize size;
    if (!readInfo(id, size)) return 3;
    *width = size.width;
    *height = size.height;
    return 0;
}

int32_t Conim(int32_t low, int32_t high, int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Conk(low, high, w, h, buf); });
}

int32_t Segmim(int32_t threshold, int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Segmk(threshold, w, h, buf); });
}

int32_t Rofim(int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Rofk(w, h, buf); });
}

int32_t Rdim(int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Rdk(w, h, buf); });
}

int32_t Medim(int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Medk(w, h, buf); });
}

int32_t Edgeim(int32_t flag, int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Edgek(flag, w, h, buf); });
}

int32_t Dmim(int32_t id, double* buf) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Dmk(w, h, buf); });
}

int32_t Turnim(int32_t mode, int32_t id, double* buf, double* scratch) {
    return inPlace(id, buf, [&](int32_t w, int32_t h) { return Turnk(mode, w, h, buf, scratch); });
}

int32_t Dpim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2) {
    return twoSource(a, b, dest, buf, buf2, [&](int32_t w, int32_t h) { return Dpk(w, h, buf, buf2); });
}

int32_t Compoim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2) {
    return twoSource(a, b, dest, buf, buf2, [&](int32_t w, int32_t h) { return Compok(w, h, buf, buf2); });
}

int32_t Undoim(int32_t id, double* buf, double* scratch) {
    SlotSize undoSize, size;
    if (!readPixels(undoOf(id), buf, undoSize)) return 6;
    if (!readInfo(undoOf(id), undoSize)) return 6;
    std::copy(buf, buf + undoSize.count(), scratch);
    if (!readPixels(id, buf, size)) return 1;
    if (!readInfo(id, size)) return 3;
    if (!writeInfo(undoOf(id), size)) return 6;
    if (!writePixels(undoOf(id), buf)) return 6;
    std::copy(scratch, scratch + undoSize.count(), buf);
    if (!writeInfo(id, undoSize)) return 4;
    if (!writePixels(id, buf)) return 2;
    return 0;
}

int32_t Hcc(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* vote_bound, double step, double* slope,
            double* intercept, int32_t id, double* buf, double* acc) {
    return readOnly(id, buf, [&](SlotSize s) {
        // Pixels outside the image do not vote.
        auto clip = [](int32_t v, int32_t limit) { return std::clamp(v, 0, limit); };
        return Hcck(s.width, clip(x0, s.width), clip(y0, s.height), clip(x1, s.width), clip(y1, s.height),
                    vote_bound, step, slope, intercept, buf, acc);
    });
}

} // extern "C"
