// Straightforward kernels written step by step as the algorithms read, with no attention to
// speed: the yardstick that the tests compare the shipped kernels with bit for bit, and that the
// benchmarks time them against.
#pragma once

#include <cstdint>

namespace reference {

int32_t openRaw(const char* name, int32_t width, int32_t height, double* buf); // a byte per call
int32_t saveRaw(const char* name, int32_t width, int32_t height, const double* buf);
int32_t saveCsv(const char* name, int32_t width, int32_t height, const double* buf);
void stretch(int32_t width, int32_t height, double* buf);
void contrast(int32_t low, int32_t high, int32_t width, int32_t height, double* buf);
void binarize(int32_t threshold, int32_t width, int32_t height, double* buf);
void invert(int32_t width, int32_t height, double* buf);
void difference(int32_t width, int32_t height, double* a, const double* b);
void median(int32_t width, int32_t height, double* buf);
void edge(int32_t flag, int32_t width, int32_t height, double* buf);
void dust(int32_t width, int32_t height, double* buf);
int32_t turn(int32_t mode, int32_t width, int32_t height, double* buf, double* scratch);
void composite(int32_t width, int32_t height, double* a, const double* b);
void hough(int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* bound, double step,
           double* slope, double* intercept, const double* image, double* acc);

} // namespace reference
