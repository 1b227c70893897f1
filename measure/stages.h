// The stages of the measurement, one file each, for the measurement itself and its tests: the
// preparation, the threshold, the stereology, the spectrum and the stripes.
#pragma once

#include "measure.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// The loops over whole pictures, compiled twice: for processors with AVX2 (four numbers per
// step instead of two) and for any x86-64; the loader picks one when the library is loaded.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TOVRA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TOVRA_WIDE_VECTORS
#endif

namespace tovra::measure::detail {

// GCC 12 takes a call of a function with target_clones for one that cannot throw: running out of
// memory inside one would end the program past every handler (a worker's record with it). Such
// functions are called through a pointer the compiler cannot see through, and unwind as any.
template <auto F> inline decltype(F) volatile unwinding = F;

constexpr double kPi = 3.14159265358979323846;

// Mirrored index: -1 is 0, -2 is 1, n is n - 1 (for a radius below n).
inline int mirror(int i, int n) {
    if (i < 0) i = -i - 1;
    if (i >= n) i = 2 * n - i - 1;
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

// Preparation.
Image crop(const Image& in, const Rect& r);
void median(Image& g);
std::pair<double, double> valueRange(const std::vector<double>& v);
// Each row copied with `radius` mirrored values on either side.
void padRow(const double* row, int w, int radius, std::vector<double>& padded);
std::vector<double> blurWide(const Image& g, double sigma);
void flatFieldWide(Image& target, const Image& source, double sigma);
double noiseLevel(const Image& g);
void removeImpulsesWide(Image& g, double noise);
double workingScale(const Image& g, const Image& b);

// Threshold.
double interiorIsodataWide(const Image& g);

// Stereology.
double contourLengthPerAreaWide(const Image& g, double t);

// Spectrum.
struct Spectrum {
    bool ok = false;
    double period = 0;
    double normalDeg = 0; // direction of the wave vector, image coordinates (y down)
    double anisotropy = 0;
};
Spectrum spectrum(const Image& g);

// Stripes.
struct Runs {
    double black = 0, white = 0; // mean lengths
};
std::optional<Runs> runsAlongNormal(const Image& g, double t, double normalDeg);
std::vector<Band> bandsOf(const Image& g, const Image& smooth, const std::vector<uint8_t>& black,
                          double threshold, double noise, double normalDeg, double& refinedNormalDeg);

} // namespace tovra::measure::detail
