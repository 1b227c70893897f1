#include "reference.h"

#include "common/convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using quarnk::toByte;
using quarnk::truncToInt;

namespace reference {

int32_t openRaw(const char* name, int32_t width, int32_t height, double* buf) {
    FILE* f = std::fopen(name, "rb");
    if (!f) return -1;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            buf[static_cast<int64_t>(y) * width + x] = std::fgetc(f);
    std::fclose(f);
    return 0;
}

int32_t saveRaw(const char* name, int32_t width, int32_t height, const double* buf) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return -1;
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        std::fputc(toByte(buf[i]), f);
    std::fclose(f);
    return 0;
}

int32_t saveCsv(const char* name, int32_t width, int32_t height, const double* buf) {
    FILE* f = std::fopen(name, "wb");
    if (!f) return -1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width - 1; ++x)
            std::fprintf(f, "%d,", truncToInt(buf[static_cast<int64_t>(y) * width + x]));
        std::fprintf(f, "%d\r\n", truncToInt(buf[static_cast<int64_t>(y) * width + width - 1]));
    }
    std::fclose(f);
    return 0;
}

void stretch(int32_t width, int32_t height, double* buf) {
    const int64_t n = static_cast<int64_t>(width) * height;
    double mn = buf[0], mx = buf[0];
    for (int64_t i = 0; i < n; ++i) {
        if (mn > buf[i]) mn = buf[i];
        if (mx < buf[i]) mx = buf[i];
    }
    if (!(mx > mn)) return;
    for (int64_t i = 0; i < n; ++i)
        buf[i] = (buf[i] - mn) * 255 / (mx - mn);
}

void contrast(int32_t low, int32_t high, int32_t width, int32_t height, double* buf) {
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i) {
        if (high == low) {
            buf[i] = buf[i] > low ? 255 : 0;
            continue;
        }
        double v = (buf[i] - low) * 255 / static_cast<double>(static_cast<int64_t>(high) - low);
        if (v > 255) v = 255;
        if (!(v >= 0)) v = 0;
        buf[i] = v;
    }
}

void binarize(int32_t threshold, int32_t width, int32_t height, double* buf) {
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        buf[i] = buf[i] > threshold ? 255 : 0;
}

void invert(int32_t width, int32_t height, double* buf) {
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        buf[i] = truncToInt(127.5 - buf[i] + 127.5);
}

void difference(int32_t width, int32_t height, double* a, const double* b) {
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        a[i] = a[i] - b[i];
    stretch(width, height, a);
}

void median(int32_t width, int32_t height, double* buf) {
    for (int32_t y = 1; y <= height - 2; ++y) {
        for (int32_t x = 1; x <= width - 2; ++x) {
            int32_t win[9], sorted[9];
            int k = 0;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx)
                    win[k++] = truncToInt(buf[static_cast<int64_t>(y + dy) * width + x + dx]);
            std::copy(win, win + 9, sorted);
            std::sort(sorted, sorted + 9);
            win[4] = sorted[4];
            k = 0;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx)
                    buf[static_cast<int64_t>(y + dy) * width + x + dx] = win[k++];
        }
    }
}

void edge(int32_t flag, int32_t width, int32_t height, double* buf) {
    if (width <= 0 || height <= 0) return;
    for (int32_t y = 0; y <= height - 2; ++y) {
        for (int32_t x = 0; x <= width - 2; ++x) {
            double& v = buf[static_cast<int64_t>(y) * width + x];
            const int64_t d1 = truncToInt(buf[static_cast<int64_t>(y + 1) * width + x] - v);
            const int64_t d2 = truncToInt(buf[static_cast<int64_t>(y) * width + x + 1] - v);
            int64_t s = std::llabs(d1) + std::llabs(d2);
            if (flag == 0) s = std::clamp<int64_t>(s, 0, 255);
            v = static_cast<double>(s);
        }
    }
    stretch(width, height, buf);
}

void dust(int32_t width, int32_t height, double* buf) {
    auto v = [&](int32_t x, int32_t y) -> double& { return buf[static_cast<int64_t>(y) * width + x]; };
    for (int32_t i = 0; i <= height - 6; ++i) {
        for (int32_t j = 0; j <= width - 6; ++j) {
            if (v(j, i) + v(j + 1, i) + v(j + 2, i) + v(j + 3, i) + v(j + 4, i) != 1275) continue;
            if (v(j, i + 1) + v(j + 4, i + 1) != 510) continue;
            if (v(j, i + 2) + v(j + 4, i + 2) != 510) continue;
            if (v(j, i + 3) + v(j + 4, i + 3) != 510) continue;
            if (v(j, i + 4) + v(j + 1, i + 4) + v(j + 2, i + 4) + v(j + 3, i + 4) + v(j + 4, i + 4) != 1275)
                continue;
            for (int32_t r = i + 1; r <= i + 3; ++r)
                for (int32_t c = j + 1; c <= j + 3; ++c)
                    v(c, r) = 255;
        }
    }
}

int32_t turn(int32_t mode, int32_t width, int32_t height, double* buf, double* scratch) {
    if (mode != 0 && mode != 1) return -1;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const int64_t to = mode == 0 ? static_cast<int64_t>(y) * width + (width - 1 - x)
                                         : static_cast<int64_t>(height - 1 - y) * width + x;
            scratch[to] = buf[static_cast<int64_t>(y) * width + x];
        }
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        buf[i] = scratch[i];
    return 0;
}

void composite(int32_t width, int32_t height, double* a, const double* b) {
    for (int64_t i = 0; i < static_cast<int64_t>(width) * height; ++i)
        if (b[i] == 0) a[i] = 0;
}

void hough(int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* bound, double step,
           double* slope, double* intercept, const double* image, double* acc) {
    const double rad = 0.017453292519943278;
    for (int64_t i = 0; i <= 2253300; ++i)
        acc[i] = 0;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            if (image[static_cast<int64_t>(y) * width + x] != 0) continue;
            for (double theta = 0; theta <= 180; theta += step) {
                const double t = theta * rad;
                const double r = x * std::cos(t) + y * std::sin(t) + 750;
                if (!(r > -1 && r < 1501)) continue;
                const int32_t a = static_cast<int32_t>(theta / step);
                acc[static_cast<int64_t>(static_cast<int32_t>(r)) * 1501 + a] += 1;
            }
        }
    int32_t best = static_cast<int32_t>(acc[0]), bestA = 0, bestR = 0;
    const int32_t count = static_cast<int32_t>(180 / step);
    for (int32_t r = 1; r <= 1500; ++r)
        for (int32_t a = 1; a <= count; ++a) {
            const int32_t v = static_cast<int32_t>(acc[static_cast<int64_t>(r) * 1501 + a]);
            if (v > best && v < *bound) best = v, bestA = a, bestR = r;
        }
    *bound = best;
    double tp = step * bestA * rad;
    if (tp == 0) tp = 0.001;
    *slope = -std::cos(tp) / std::sin(tp);
    *intercept = (bestR - 750) / std::sin(tp);
}

} // namespace reference
