#include "measure.h"

#include "quarnk.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <fftw3.h>
#include <mutex>
#include <new>
#include <numeric>
#include <sstream>

// The loops over whole pictures, compiled twice: for processors with AVX2 (four numbers per
// step instead of two) and for any x86-64; the loader picks one when the library is loaded.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TOVRA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TOVRA_WIDE_VECTORS
#endif

namespace {

// GCC 12 takes a call of a function with target_clones for one that cannot throw: running out of
// memory inside one would end the program past every handler (a worker's record with it). Such
// functions are called through a pointer the compiler cannot see through, and unwind as any.
template <auto F> inline decltype(F) volatile unwinding = F;

} // namespace

namespace tovra::measure {

namespace {

constexpr double kPi = 3.14159265358979323846;

Image crop(const Image& in, const Rect& r) {
    Image out;
    out.width = r.x2 - r.x1;
    out.height = r.y2 - r.y1;
    out.px.resize(static_cast<size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y)
        std::copy_n(in.px.begin() + static_cast<size_t>(y + r.y1) * in.width + r.x1, out.width,
                    out.px.begin() + static_cast<size_t>(y) * out.width);
    return out;
}

void median(Image& g) {
    if (g.width >= 3 && g.height >= 3) Medk(g.width, g.height, g.px.data());
}

// The least and the greatest value, in eight lanes that the processor runs side by side.
std::pair<double, double> valueRange(const std::vector<double>& v) {
    if (v.empty()) return {0, 0};
    double lo[8], hi[8];
    std::fill_n(lo, 8, v[0]), std::fill_n(hi, 8, v[0]);
    size_t i = 0;
    for (; i + 8 <= v.size(); i += 8)
        for (int k = 0; k < 8; ++k)
            lo[k] = std::min(lo[k], v[i + k]), hi[k] = std::max(hi[k], v[i + k]);
    for (; i < v.size(); ++i)
        lo[0] = std::min(lo[0], v[i]), hi[0] = std::max(hi[0], v[i]);
    return {*std::min_element(lo, lo + 8), *std::max_element(hi, hi + 8)};
}

// Mirrored index: -1 is 0, -2 is 1, n is n - 1 (for a radius below n).
inline int mirror(int i, int n) {
    if (i < 0) i = -i - 1;
    if (i >= n) i = 2 * n - i - 1;
    return std::clamp(i, 0, n - 1);
}

// A running box mean of width 2 radius + 1 down each column, all columns at once: a running sum
// of whole rows, borders mirrored.
TOVRA_WIDE_VECTORS void boxColumnsWide(const std::vector<double>& in, std::vector<double>& out, int w, int h,
                                       int radius) {
    const double scale = 1.0 / (2 * radius + 1);
    std::vector<double> sum(static_cast<size_t>(w), 0.0);
    auto row = [&](int y) { return in.data() + static_cast<size_t>(mirror(y, h)) * w; };
    for (int i = -radius; i <= radius; ++i) {
        const double* r = row(i);
        for (int x = 0; x < w; ++x)
            sum[x] += r[x];
    }
    for (int y = 0; y < h; ++y) {
        double* dst = out.data() + static_cast<size_t>(y) * w;
        const double *add = row(y + radius + 1), *drop = row(y - radius);
        for (int x = 0; x < w; ++x) {
            dst[x] = sum[x] * scale;
            sum[x] += add[x] - drop[x];
        }
    }
}

// `in` (w x h) turned over its diagonal into `out` (h x w), in tiles that stay in the cache.
void transpose(const std::vector<double>& in, std::vector<double>& out, int w, int h) {
    constexpr int kTile = 32;
    for (int y0 = 0; y0 < h; y0 += kTile)
        for (int x0 = 0; x0 < w; x0 += kTile)
            for (int y = y0; y < std::min(h, y0 + kTile); ++y)
                for (int x = x0; x < std::min(w, x0 + kTile); ++x)
                    out[static_cast<size_t>(x) * h + y] = in[static_cast<size_t>(y) * w + x];
}

// Each row copied with `radius` mirrored values on either side, so that a filter along the row
// reads padded[x .. x + 2 radius] for pixel x without a test at the borders.
void padRow(const double* row, int w, int radius, std::vector<double>& padded) {
    padded.resize(static_cast<size_t>(w) + 2 * static_cast<size_t>(radius));
    for (int i = 0; i < w + 2 * radius; ++i)
        padded[i] = row[mirror(i - radius, w)];
}

} // namespace

// A Gaussian blur of standard deviation sigma, borders mirrored. Narrow blurs convolve with the
// sampled Gaussian out to three sigma; wide ones, where that would cost too much, repeat a box
// mean three times (whose variance is the Gaussian's, to within the box's whole-pixel radius):
// down the columns, then, turned over, down the rows.
namespace {

TOVRA_WIDE_VECTORS std::vector<double> blurWide(const Image& g, double sigma) {
    const int w = g.width, h = g.height;
    if (sigma > 3) {
        const int radius =
            std::max(1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
        std::vector<double> a = g.px, b(a.size());
        for (int pass = 0; pass < 3; ++pass) {
            unwinding<&boxColumnsWide>(a, b, w, h, radius);
            std::swap(a, b);
        }
        transpose(a, b, w, h);
        for (int pass = 0; pass < 3; ++pass) {
            unwinding<&boxColumnsWide>(b, a, h, w, radius);
            std::swap(a, b);
        }
        transpose(b, a, h, w);
        return a;
    }
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<double> kernel(2 * radius + 1);
    for (int i = -radius; i <= radius; ++i)
        kernel[i + radius] = std::exp(-0.5 * i * i / (sigma * sigma));
    const double total = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    for (double& k : kernel)
        k /= total;
    std::vector<double> rows(g.px.size(), 0.0), out(g.px.size(), 0.0), padded;
    for (int y = 0; y < h; ++y) {
        padRow(g.px.data() + static_cast<size_t>(y) * w, w, radius, padded);
        double* dst = rows.data() + static_cast<size_t>(y) * w;
        for (int i = 0; i <= 2 * radius; ++i) {
            const double k = kernel[i];
            const double* src = padded.data() + i;
            for (int x = 0; x < w; ++x)
                dst[x] += k * src[x];
        }
    }
    for (int y = 0; y < h; ++y) {
        double* dst = out.data() + static_cast<size_t>(y) * w;
        for (int i = -radius; i <= radius; ++i) {
            const double k = kernel[i + radius];
            const double* src = rows.data() + static_cast<size_t>(mirror(y + i, h)) * w;
            for (int x = 0; x < w; ++x)
                dst[x] += k * src[x];
        }
    }
    return out;
}

} // namespace

std::vector<double> blur(const Image& g, double sigma) {
    return unwinding<&blurWide>(g, sigma);
}

namespace {

struct Spectrum {
    bool ok = false;
    double period = 0;
    double normalDeg = 0; // direction of the wave vector, image coordinates (y down)
    double anisotropy = 0;
};

// The smallest size from n up whose only prime factors are 2, 3, 5 and 7, which FFTW transforms
// fastest.
int transformSize(int n) {
    for (;; ++n) {
        int m = n;
        for (int p : {2, 3, 5, 7})
            while (m % p == 0)
                m /= p;
        if (m == 1) return n;
    }
}

// FFTW's buffers and plan for one transform size, kept by each thread from one image to the next:
// made anew for every image they cost more (in the system's page clearing) than the transform.
class Transform {
public:
    Transform() = default;
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;
    ~Transform() { release(); }

    // Buffers of rows x columns reals and rows x (columns / 2 + 1) complex values, zeroed input.
    void prepare(int rows, int columns) {
        if (rows != rows_ || columns != columns_) {
            release();
            in_ = fftw_alloc_real(static_cast<size_t>(rows) * columns);
            out_ = fftw_alloc_complex(static_cast<size_t>(rows) * (columns / 2 + 1));
            if (!in_ || !out_) {
                fftw_free(in_), fftw_free(out_);
                throw std::bad_alloc();
            }
            std::lock_guard<std::mutex> lock(planning());
            plan_ = fftw_plan_dft_r2c_2d(rows, columns, in_, out_, FFTW_ESTIMATE);
            rows_ = rows, columns_ = columns;
        }
        std::fill(in_, in_ + static_cast<size_t>(rows) * columns, 0.0);
    }
    double* in() const { return in_; }
    const fftw_complex* out() const { return out_; }
    void run() const { fftw_execute(plan_); }

private:
    static std::mutex& planning() { // FFTW's planner is not thread-safe
        static std::mutex m;
        return m;
    }
    void release() {
        if (rows_ == 0) return;
        {
            std::lock_guard<std::mutex> lock(planning());
            fftw_destroy_plan(plan_);
        }
        fftw_free(in_);
        fftw_free(out_);
        rows_ = columns_ = 0;
    }
    int rows_ = 0, columns_ = 0;
    double* in_ = nullptr;
    fftw_complex* out_ = nullptr;
    fftw_plan plan_ = nullptr;
};

// The period and the preferred direction from the 2-D power spectrum: the mean removed, a Hann
// window, each side transformed at about its own length (a long narrow picture is not padded to
// a square), the ring of the greatest mean power found with a parabola through its neighbours.
// Frequencies are counted in rings of 1 / n cycles a pixel, n the longer side's transform.
Spectrum spectrum(const Image& g) {
    Spectrum s;
    const int ny = transformSize(std::max(g.height, 8)), nx = transformSize(std::max(g.width, 8));
    const int n = std::max(nx, ny), half = nx / 2 + 1;
    const double unitX = static_cast<double>(n) / nx, unitY = static_cast<double>(n) / ny;
    thread_local Transform transform;
    transform.prepare(ny, nx);
    double* in = transform.in();
    const fftw_complex* out = transform.out();
    const double mean = std::accumulate(g.px.begin(), g.px.end(), 0.0) / static_cast<double>(g.px.size());
    std::vector<double> wx(g.width), wy(g.height);
    for (int x = 0; x < g.width; ++x)
        wx[x] = 0.5 - 0.5 * std::cos(2 * kPi * (x + 0.5) / g.width);
    for (int y = 0; y < g.height; ++y)
        wy[y] = 0.5 - 0.5 * std::cos(2 * kPi * (y + 0.5) / g.height);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            in[static_cast<size_t>(y) * nx + x] =
                (g.px[static_cast<size_t>(y) * g.width + x] - mean) * wx[x] * wy[y];
    transform.run();

    // Power by ring (one bin wide); periods from 3 pixels to a third of the smaller side.
    const int rings = n / 2;
    std::vector<double> power(rings + 2, 0.0), bins(rings + 2, 0.0);
    auto powerAt = [&](int ky, int kx) {
        const fftw_complex& c = out[static_cast<size_t>(ky) * half + kx];
        return c[0] * c[0] + c[1] * c[1];
    };
    for (int ky = 0; ky < ny; ++ky) {
        const double v = (ky < ny / 2 ? ky : ky - ny) * unitY;
        for (int kx = 0; kx < half; ++kx) {
            const double u = kx * unitX;
            const int r = static_cast<int>(std::nearbyint(std::sqrt(u * u + v * v)));
            if (r >= rings) break;                                // the rest of this row lies further out
            const double twice = kx == 0 || 2 * kx == nx ? 1 : 2; // the half not stored mirrors this one
            power[r] += powerAt(ky, kx) * twice, bins[r] += twice;
        }
    }
    const int rMin = std::max(2, static_cast<int>(std::ceil(3.0 * n / std::min(g.width, g.height)))),
              rMax = std::min(rings - 2, n / 3);
    // The ring of most power, summed over the ring, tells the domains from what uneven light puts
    // at the lowest frequencies; the period is the ring of the greatest mean power near it (the
    // sum leans toward the outer rings, which hold more bins).
    int most = rMin;
    for (int r = rMin; r <= rMax; ++r)
        if (power[r] > power[most]) most = r;
    for (int r = 0; r < rings; ++r)
        if (bins[r] > 0) power[r] /= bins[r];
    const int from = std::max(rMin, static_cast<int>(std::floor(0.7 * most))),
              to = std::min(rMax, static_cast<int>(std::ceil(1.3 * most)));
    int peak = from;
    for (int r = from; r <= to; ++r)
        if (power[r] > power[peak]) peak = r;
    if (peak > from && peak < to) {
        const double a = power[peak - 1], b = power[peak], c = power[peak + 1];
        const double denom = a - 2 * b + c;
        const double shift = denom < 0 ? 0.5 * (a - c) / denom : 0;
        const double r = peak + std::clamp(shift, -0.5, 0.5);
        s.period = n / r;
        // The doubled-angle mean of the power around that ring: its length is the anisotropy, its
        // direction twice the wave vector's.
        // cos 2phi = (kx^2 - fy^2) / r^2 and sin 2phi = 2 kx fy / r^2: no angle needed.
        double sx = 0, sy = 0, total = 0;
        const double inner = 0.49 * r * r, outer = 1.69 * r * r;
        const int reachY = std::min(ny / 2 - 1, static_cast<int>(std::ceil(1.3 * r / unitY))),
                  reachX = std::min(nx / 2, static_cast<int>(std::ceil(1.3 * r / unitX)));
        for (int fy = -reachY; fy <= reachY; ++fy) {
            const int ky = fy < 0 ? fy + ny : fy;
            const double v = fy * unitY;
            for (int kx = 0; kx <= reachX; ++kx) {
                const double u = kx * unitX, r2 = u * u + v * v;
                if (r2 < inner || r2 > outer) continue;
                const double p = powerAt(ky, kx) / r2;
                sx += p * (u * u - v * v), sy += p * 2 * u * v, total += p * r2;
            }
        }
        if (total > 0) {
            s.anisotropy = std::hypot(sx, sy) / total;
            s.normalDeg = std::atan2(sy, sx) / 2 * 180 / kPi;
            s.ok = true;
        }
    }
    return s;
}

} // namespace

// The level half way between the means of the domains' insides: isodata over the pixels whose
// whole neighbourhood lies on one side of the level. The blurred walls' pixels would otherwise
// pull the mean of the smaller class toward the level and move it into that class (by a tenth
// of the contrast at a black fraction of 0.38). Each class's sums come from a fine histogram of
// the neighbourhoods' extremes, so each step costs its bins only.
namespace {

TOVRA_WIDE_VECTORS double interiorIsodataWide(const Image& g) {
    const int w = g.width, h = g.height, radius = 2;
    if (g.px.empty()) return 0;
    // The greatest and least value of each pixel's neighbourhood (a square of side 2 radius + 1,
    // borders mirrored): first along the rows, then down the columns one row at a time.
    std::vector<double> rowMost(g.px.size()), rowLeast(g.px.size()), padded;
    for (int y = 0; y < h; ++y) {
        padRow(g.px.data() + static_cast<size_t>(y) * w, w, radius, padded);
        double* a = rowMost.data() + static_cast<size_t>(y) * w;
        double* b = rowLeast.data() + static_cast<size_t>(y) * w;
        std::copy_n(padded.data(), w, a);
        std::copy_n(padded.data(), w, b);
        for (int i = 1; i <= 2 * radius; ++i) {
            const double* src = padded.data() + i;
            for (int x = 0; x < w; ++x)
                a[x] = std::max(a[x], src[x]), b[x] = std::min(b[x], src[x]);
        }
    }
    const double lo = valueRange(rowLeast).first, hi = valueRange(rowMost).second;
    if (!(hi > lo)) return lo;
    constexpr int bins = 1 << 12;
    const double scale = (bins - 1) / (hi - lo);
    auto binOf = [&](double v) { return std::clamp(static_cast<int>((v - lo) * scale), 0, bins - 1); };
    // A pixel is inside the black class for every level above its neighbourhood's greatest
    // value, inside the white class for every level at or below its least.
    // Pixels side by side fall mostly in one bin: two histograms of each kind, for even and odd
    // columns, keep each addition from waiting for the one before.
    struct Tally {
        double count = 0, sum = 0;
    };
    std::vector<Tally> black(2 * static_cast<size_t>(bins + 1)), white(2 * static_cast<size_t>(bins + 1));
    std::vector<double> most(static_cast<size_t>(w)), least(static_cast<size_t>(w));
    std::vector<int> mostBin(static_cast<size_t>(w)), leastBin(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const size_t first = static_cast<size_t>(mirror(y - radius, h)) * w;
        std::copy_n(rowMost.data() + first, w, most.data());
        std::copy_n(rowLeast.data() + first, w, least.data());
        for (int i = -radius + 1; i <= radius; ++i) {
            const size_t from = static_cast<size_t>(mirror(y + i, h)) * w;
            const double *c = rowMost.data() + from, *d = rowLeast.data() + from;
            for (int x = 0; x < w; ++x)
                most[x] = std::max(most[x], c[x]), least[x] = std::min(least[x], d[x]);
        }
        for (int x = 0; x < w; ++x) // within 0 .. bins - 1 already, as lo and hi bound the values
            mostBin[x] = static_cast<int>((most[x] - lo) * scale),
            leastBin[x] = static_cast<int>((least[x] - lo) * scale);
        const double* v = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            const size_t lane = static_cast<size_t>(x & 1) * (bins + 1);
            Tally& b = black[lane + static_cast<size_t>(mostBin[x]) + 1];
            Tally& c = white[lane + static_cast<size_t>(leastBin[x])];
            b.count += 1, b.sum += v[x], c.count += 1, c.sum += v[x];
        }
    }
    std::vector<double> blackCount(bins + 1), blackSum(bins + 1), whiteCount(bins + 1), whiteSum(bins + 1);
    for (int b = 0; b <= bins; ++b) {
        blackCount[b] = black[b].count + black[b + bins + 1].count;
        blackSum[b] = black[b].sum + black[b + bins + 1].sum;
        whiteCount[b] = white[b].count + white[b + bins + 1].count;
        whiteSum[b] = white[b].sum + white[b + bins + 1].sum;
    }
    for (int b = 0; b < bins; ++b) // black: bins below; white: bins from here on
        blackCount[b + 1] += blackCount[b], blackSum[b + 1] += blackSum[b];
    for (int b = bins - 1; b >= 0; --b)
        whiteCount[b] += whiteCount[b + 1], whiteSum[b] += whiteSum[b + 1];
    // From the mean grey level, each step half way between the two classes' means.
    double t = std::accumulate(g.px.begin(), g.px.end(), 0.0) / static_cast<double>(g.px.size());
    for (int i = 0; i < 100; ++i) {
        const int k = binOf(t);
        if (blackCount[k] == 0 || whiteCount[k + 1] == 0) break;
        const double next = (blackSum[k] / blackCount[k] + whiteSum[k + 1] / whiteCount[k + 1]) / 2;
        if (std::fabs(next - t) < 1e-9 * (1 + std::fabs(t))) break;
        t = next;
    }
    return t;
}

} // namespace

double interiorIsodata(const Image& g) {
    return unwinding<&interiorIsodataWide>(g);
}

// Connected regions (4-neighbours) smaller than `area` take the other colour: the rows' runs of
// one colour joined (union-find) with the runs of that colour they touch in the row above, and
// every run of a region under the size turned over.
void removeSpecks(std::vector<uint8_t>& black, int w, int h, int area) {
    if (area <= 1 || w <= 0 || h <= 0) return;
    struct Run {
        int32_t begin, end;
        int64_t parent, size;
    };
    std::vector<Run> runs;
    std::vector<size_t> rowStart(static_cast<size_t>(h) + 1, 0);
    auto root = [&](int64_t i) {
        while (runs[i].parent != i)
            i = runs[i].parent = runs[runs[i].parent].parent;
        return i;
    };
    for (int y = 0; y < h; ++y) {
        rowStart[y] = runs.size();
        const uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w;) {
            int end = x + 1;
            while (end < w && row[end] == row[x])
                ++end;
            const auto self = static_cast<int64_t>(runs.size());
            runs.push_back({x, end, self, end - x});
            x = end;
        }
        if (y == 0) continue;
        // Runs of the row above that overlap this row's runs: both lists in order of x.
        const uint8_t* above = row - w;
        size_t j = rowStart[y - 1];
        for (size_t i = rowStart[y]; i < runs.size(); ++i) {
            while (j < rowStart[y] && runs[j].end <= runs[i].begin)
                ++j;
            for (size_t k = j; k < rowStart[y] && runs[k].begin < runs[i].end; ++k) {
                if (above[runs[k].begin] != row[runs[i].begin]) continue;
                const int64_t a = root(static_cast<int64_t>(i)), b = root(static_cast<int64_t>(k));
                if (a != b) runs[a].parent = b, runs[b].size += runs[a].size;
            }
        }
    }
    rowStart[h] = runs.size();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = black.data() + static_cast<size_t>(y) * w;
        for (size_t i = rowStart[y]; i < rowStart[y + 1]; ++i)
            if (runs[root(static_cast<int64_t>(i))].size < area)
                std::fill(row + runs[i].begin, row + runs[i].end, static_cast<uint8_t>(!row[runs[i].begin]));
    }
}

namespace {

// Wall length per area along the threshold's iso-line of the grey image (marching squares with
// linear interpolation along the cell edges): straight walls come out straight, whatever their
// angle.
TOVRA_WIDE_VECTORS double contourLengthPerAreaWide(const Image& g, double t) {
    double length = 0;
    auto cross = [&](double a, double b) { return (t - a) / (b - a); };
    for (int y = 0; y + 1 < g.height; ++y)
        for (int x = 0; x + 1 < g.width; ++x) {
            const double v[4] = {g.px[static_cast<size_t>(y) * g.width + x],
                                 g.px[static_cast<size_t>(y) * g.width + x + 1],
                                 g.px[static_cast<size_t>(y + 1) * g.width + x + 1],
                                 g.px[static_cast<size_t>(y + 1) * g.width + x]};
            const int code = (v[0] < t) | (v[1] < t) << 1 | (v[2] < t) << 2 | (v[3] < t) << 3;
            if (code == 0 || code == 15) continue;
            // Crossing points on the cell's four edges: top, right, bottom, left.
            double px[4], py[4];
            bool on[4] = {false, false, false, false};
            const double cx[4] = {0, 1, 1, 0}, cy[4] = {0, 0, 1, 1};
            for (int e = 0; e < 4; ++e) {
                const int a = e, b = (e + 1) % 4;
                if ((v[a] < t) == (v[b] < t)) continue;
                const double f = cross(v[a], v[b]);
                px[e] = cx[a] + f * (cx[b] - cx[a]), py[e] = cy[a] + f * (cy[b] - cy[a]);
                on[e] = true;
            }
            int idx[4], n = 0;
            for (int e = 0; e < 4; ++e)
                if (on[e]) idx[n++] = e;
            if (n == 2) {
                const double dx = px[idx[0]] - px[idx[1]], dy = py[idx[0]] - py[idx[1]];
                length += std::sqrt(dx * dx + dy * dy);
            } else if (n == 4) { // a saddle: the two shorter pairings
                const double a =
                    std::hypot(px[0] - px[1], py[0] - py[1]) + std::hypot(px[2] - px[3], py[2] - py[3]);
                const double b =
                    std::hypot(px[0] - px[3], py[0] - py[3]) + std::hypot(px[1] - px[2], py[1] - py[2]);
                length += std::min(a, b);
            }
        }
    return length / (static_cast<double>(g.width - 1) * (g.height - 1));
}

// Light multiplies what the sample shows: `target` divided by the light (or, where the light
// reaches zero or below, the light subtracted), scaled to keep its mean level. The light is
// `source` blurred by `sigma`; it varies slowly, so it is blurred on a picture made k times
// smaller by block means (k about a quarter of sigma) and spread back bilinearly.
TOVRA_WIDE_VECTORS void flatFieldWide(Image& target, const Image& source, double sigma) {
    const int w = source.width, h = source.height;
    const int k = std::max(1, static_cast<int>(sigma / 4));
    Image small;
    small.width = (w + k - 1) / k, small.height = (h + k - 1) / k;
    small.px.assign(static_cast<size_t>(small.width) * small.height, 0.0);
    std::vector<double> area(small.px.size(), 0.0);
    for (int y = 0; y < h; ++y) {
        const double* row = source.px.data() + static_cast<size_t>(y) * w;
        double* dst = small.px.data() + static_cast<size_t>(y / k) * small.width;
        double* n = area.data() + static_cast<size_t>(y / k) * small.width;
        for (int x = 0; x < w; ++x)
            dst[x / k] += row[x], n[x / k] += 1;
    }
    for (size_t i = 0; i < small.px.size(); ++i)
        small.px[i] /= area[i];
    const std::vector<double> light =
        small.width >= 2 && small.height >= 2 ? blur(small, sigma / k) : small.px;
    const double level = std::accumulate(light.begin(), light.end(), 0.0) / static_cast<double>(light.size());
    const bool divide = valueRange(light).first > 0;
    // Block (i, j) stands at the centre of its pixels; between centres the light is interpolated,
    // beyond the outer ones it is held.
    auto place = [k](int p, int cells, int& i, double& f) {
        const double at = std::clamp((p - (k - 1) / 2.0) / k, 0.0, static_cast<double>(cells - 1));
        i = std::min(static_cast<int>(at), std::max(0, cells - 2));
        f = at - i;
    };
    std::vector<int> xi(static_cast<size_t>(w));
    std::vector<double> xf(static_cast<size_t>(w)), along(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x)
        place(x, small.width, xi[x], xf[x]);
    const int sx = small.width > 1 ? 1 : 0;
    for (int y = 0; y < h; ++y) {
        int j = 0;
        double fy = 0;
        place(y, small.height, j, fy);
        const double* a = light.data() + static_cast<size_t>(j) * small.width;
        const double* b = small.height > 1 ? a + small.width : a;
        for (int x = 0; x < w; ++x) {
            const int i = xi[x];
            const double top = a[i] + (a[i + sx] - a[i]) * xf[x], bottom = b[i] + (b[i + sx] - b[i]) * xf[x];
            along[x] = top + (bottom - top) * fy;
        }
        double* row = target.px.data() + static_cast<size_t>(y) * w;
        if (divide)
            for (int x = 0; x < w; ++x)
                row[x] *= level / along[x];
        else
            for (int x = 0; x < w; ++x)
                row[x] -= along[x];
    }
}

// The standard deviation of the pixels' noise: from the differences of neighbours along the
// rows (twice the noise's variance), by their median absolute value, which walls and single
// bright or dark pixels hardly move. Rows are sampled so that at most about 2^16 differences
// are sorted.
double noiseLevel(const Image& g) {
    if (g.width < 2) return 0;
    const int step = std::max(1, static_cast<int>(static_cast<int64_t>(g.width) * g.height / 65536));
    std::vector<double> d;
    for (int y = 0; y < g.height; y += step) {
        const double* row = g.px.data() + static_cast<size_t>(y) * g.width;
        for (int x = 0; x + 1 < g.width; ++x)
            d.push_back(std::fabs(row[x + 1] - row[x]));
    }
    if (d.empty()) return 0;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return 1.4826 * d[d.size() / 2] / std::sqrt(2.0);
}

// Single pixels brighter or darker than all eight neighbours by more than four times the noise
// (salt and pepper, hot pixels) take the median of those neighbours. Walls are left where they
// are, unlike under a median over every pixel.
TOVRA_WIDE_VECTORS void removeImpulsesWide(Image& g, double noise) {
    const int w = g.width, h = g.height;
    const double margin = 4 * noise;
    std::vector<std::pair<size_t, double>> fixes;
    std::vector<uint8_t> odd(static_cast<size_t>(std::max(w, 0)));
    for (int y = 1; y + 1 < h; ++y) {
        const double *a = g.px.data() + static_cast<size_t>(y - 1) * w, *p = a + w, *b = p + w;
        for (int x = 1; x + 1 < w; ++x) { // a test without branches, for whole rows at once
            const double most = std::max(std::max(std::max(a[x - 1], a[x]), std::max(a[x + 1], p[x - 1])),
                                         std::max(std::max(p[x + 1], b[x - 1]), std::max(b[x], b[x + 1])));
            const double least = std::min(std::min(std::min(a[x - 1], a[x]), std::min(a[x + 1], p[x - 1])),
                                          std::min(std::min(p[x + 1], b[x - 1]), std::min(b[x], b[x + 1])));
            odd[x] = (p[x] > most + margin) | (p[x] < least - margin);
        }
        for (int x = 1; x + 1 < w; ++x)
            if (odd[x]) {
                double around[8] = {a[x - 1], a[x], a[x + 1], p[x - 1], p[x + 1], b[x - 1], b[x], b[x + 1]};
                std::nth_element(around, around + 4, around + 8);
                fixes.emplace_back(static_cast<size_t>(y) * w + x,
                                   (*std::max_element(around, around + 4) + around[4]) / 2);
            }
    }
    for (const auto& [i, v] : fixes)
        g.px[i] = v;
}

// The least and the greatest of x cx + y cy over the picture's pixels: its extent along (cx, cy).
std::pair<double, double> extentAlong(const Image& g, double cx, double cy) {
    const double corners[4] = {0, (g.width - 1) * cx, (g.height - 1) * cy,
                               (g.width - 1) * cx + (g.height - 1) * cy};
    return {*std::min_element(corners, corners + 4), *std::max_element(corners, corners + 4)};
}

// Grey at (x, y) between the pixels, bilinear.
inline double sampleAt(const Image& g, double x, double y) {
    const int x0 = std::clamp(static_cast<int>(x), 0, g.width - 2),
              y0 = std::clamp(static_cast<int>(y), 0, g.height - 2);
    const double fx = x - x0, fy = y - y0;
    const double* p = g.px.data() + static_cast<size_t>(y0) * g.width + x0;
    return (p[0] * (1 - fx) + p[1] * fx) * (1 - fy) + (p[g.width] * (1 - fx) + p[g.width + 1] * fx) * fy;
}

struct Runs {
    double black = 0, white = 0; // mean lengths
};

// The mean lengths of black and white runs along lines parallel to the stripes' normal, a pixel
// apart, on the smoothed image at the threshold, each crossing placed by linear interpolation
// between samples a pixel apart. Runs cut by the border are left out; a run shorter than a pixel
// and a half between two others (noise at a wall) joins them.
std::optional<Runs> runsAlongNormal(const Image& g, double t, double normalDeg) {
    if (g.width < 2 || g.height < 2) return std::nullopt;
    const double nx = std::cos(normalDeg * kPi / 180), ny = std::sin(normalDeg * kPi / 180);
    const double dx = -ny, dy = nx; // along the walls
    const double w = g.width - 1, h = g.height - 1;
    const auto [sFrom, sTo] = extentAlong(g, dx, dy);
    constexpr double kShortest = 1.5;
    double sum[2] = {0, 0};
    int64_t runs[2] = {0, 0};
    struct Run {
        double length;
        uint8_t black;
    };
    std::vector<Run> line;
    for (double s = std::ceil(sFrom); s <= sTo; s += 1) {
        // The stretch of u where (s dx + u nx, s dy + u ny) lies in the picture.
        double uFrom = -1e300, uTo = 1e300;
        auto clip = [&](double origin, double step, double limit) {
            if (std::fabs(step) < 1e-12) {
                if (origin < 0 || origin > limit) uFrom = 1, uTo = 0;
                return;
            }
            double a = -origin / step, b = (limit - origin) / step;
            if (a > b) std::swap(a, b);
            uFrom = std::max(uFrom, a), uTo = std::min(uTo, b);
        };
        clip(s * dx, nx, w);
        clip(s * dy, ny, h);
        if (!(uTo - uFrom > 2)) continue;
        // The runs between crossings; what lies before the first and after the last is cut.
        line.clear();
        std::optional<double> crossed;
        double u = uFrom, previous = sampleAt(g, s * dx + u * nx, s * dy + u * ny) - t;
        for (double next = uFrom + 1; next <= uTo; next += 1) {
            const double v = sampleAt(g, s * dx + next * nx, s * dy + next * ny) - t;
            if ((v < 0) != (previous < 0)) {
                const double at = u + previous / (previous - v);
                if (crossed) line.push_back({at - *crossed, previous < 0});
                crossed = at;
            }
            u = next, previous = v;
        }
        for (size_t i = 0; i < line.size(); ++i) {
            Run run = line[i];
            while (i + 2 < line.size() && line[i + 1].length < kShortest) // noise: one run with the next two
                run.length += line[i + 1].length + line[i + 2].length, i += 2;
            sum[run.black] += run.length, ++runs[run.black];
        }
    }
    if (runs[0] == 0 || runs[1] == 0) return std::nullopt;
    return Runs{sum[1] / static_cast<double>(runs[1]), sum[0] / static_cast<double>(runs[0])};
}

// Bands of straight stripes. The walls' direction is the one, near the spectrum's, along which
// the prepared image averaged into a profile has the most contrast. At that angle a Hough
// accumulator of the edge image (the gradient's length on the smoothed image), a quarter pixel
// a bin in rho, has a peak at each wall: every peak that no stronger one within a pixel
// suppresses is a wall (peaks of equal votes are all kept, their number is not capped). Each wall is then
// placed to a fraction of a pixel where the prepared image, averaged along the walls, crosses the level half
// way between the two bands beside it; a peak without such a crossing is no wall. Each band is black or white
// by the majority of its binarized pixels.
std::vector<Band> bandsOf(const Image& g, const Image& smooth, const std::vector<uint8_t>& black,
                          double threshold, double noise, double normalDeg, double& refinedNormalDeg) {
    constexpr double kBin = 0.25;
    std::vector<double> edges(smooth.px.size(), 0.0);
    for (int y = 1; y + 1 < smooth.height; ++y)
        for (int x = 1; x + 1 < smooth.width; ++x) {
            const double* p = smooth.px.data() + static_cast<size_t>(y) * smooth.width + x;
            edges[static_cast<size_t>(y) * smooth.width + x] =
                std::sqrt((p[1] - p[-1]) * (p[1] - p[-1]) +
                          (p[smooth.width] - p[-smooth.width]) * (p[smooth.width] - p[-smooth.width])) /
                2;
        }
    // The profiles across walls whose normal points at `deg`, from every `step`-th row: the grey
    // and the edge accumulator.
    std::vector<double> grey, edge, dark, where;
    std::vector<int> count;
    double origin = 0;
    // `step` 1 gives every profile; others, for choosing the direction, the grey one only.
    auto profile = [&](double deg, int step) {
        const double nx = std::cos(deg * kPi / 180), ny = std::sin(deg * kPi / 180);
        const auto [from, end] = extentAlong(g, nx, ny);
        origin = from;
        const size_t bins = static_cast<size_t>((end - origin) / kBin) + 2;
        grey.assign(bins, 0), edge.assign(bins, 0), dark.assign(bins, 0), count.assign(bins, 0),
            where.assign(bins, 0);
        for (int y = 0; y < g.height; y += step) {
            const double* row = g.px.data() + static_cast<size_t>(y) * g.width;
            const double* rim = edges.data() + static_cast<size_t>(y) * g.width;
            const uint8_t* dots = black.data() + static_cast<size_t>(y) * g.width;
            const double start = (y * ny - origin) / kBin + 0.5, along = nx / kBin;
            if (step > 1) {
                for (int x = 0; x < g.width; ++x) {
                    const auto b = static_cast<size_t>(start + x * along); // never below 0.5
                    grey[b] += row[x], ++count[b];
                }
                continue;
            }
            for (int x = 0; x < g.width; ++x) {
                const double at = start + x * along;
                const auto b = static_cast<size_t>(at);
                grey[b] += row[x], edge[b] += rim[x], dark[b] += dots[x], where[b] += at - 0.5, ++count[b];
            }
        }
    };
    // The direction whose grey profile has the most contrast (walls are sharpest when averaged
    // along them), from every other row: in steps of a quarter degree, then narrowed down to a
    // hundredth by golden sections.
    auto contrast = [&](double deg) {
        profile(deg, 2);
        double s = 0, s2 = 0, n = 0;
        for (size_t b = 0; b < grey.size(); ++b)
            if (count[b] >= 2) {
                const double m = grey[b] / count[b];
                s += m, s2 += m * m, ++n;
            }
        return n > 0 ? s2 / n - (s / n) * (s / n) : 0;
    };
    double best = normalDeg, bestContrast = -1;
    for (double d = -1.5; d <= 1.5 + 1e-9; d += 0.25) {
        const double c = contrast(normalDeg + d);
        if (c > bestContrast) bestContrast = c, best = normalDeg + d;
    }
    const double golden = (std::sqrt(5.0) - 1) / 2;
    double left = best - 0.25, right = best + 0.25;
    double p = right - golden * (right - left), q = left + golden * (right - left);
    double cp = contrast(p), cq = contrast(q);
    while (right - left > 0.01) {
        if (cp > cq)
            right = q, q = p, cq = cp, p = right - golden * (right - left), cp = contrast(p);
        else
            left = p, p = q, cp = cq, q = left + golden * (right - left), cq = contrast(q);
    }
    if (std::max(cp, cq) > bestContrast) best = cp > cq ? p : q;
    refinedNormalDeg = best;
    profile(best, 1);
    // Enough pixels per bin to trust it: walls with short chords, at the corners, are left out
    // where the noise on their bins' means would reach a sixteenth of the contrast between the
    // bands (about twice the middle distance of the bins from the threshold).
    // The bins trusted, each at the mean position of its pixels: along the axes and the diagonals
    // the pixels fall on every fourth or third bin only, and neighbours then lie up to a pixel
    // apart.
    std::vector<double> apart;
    for (size_t b = 0; b < grey.size(); ++b)
        if (count[b] >= 4) apart.push_back(std::fabs(grey[b] / count[b] - threshold));
    if (apart.empty()) return {};
    std::nth_element(apart.begin(), apart.begin() + static_cast<std::ptrdiff_t>(apart.size() / 2),
                     apart.end());
    const double levels = 2 * apart[apart.size() / 2], quiet = levels > 0 ? 16 * noise / levels : 0;
    const int enough = static_cast<int>(std::clamp(
        std::max({4.0, quiet * quiet, *std::max_element(count.begin(), count.end()) / 25.0}), 4.0, 1e9));
    struct Bin {
        double at, grey, edge, dark;
        int count;
    };
    std::vector<Bin> bins;
    for (size_t b = 0; b < grey.size(); ++b)
        if (count[b] >= enough)
            bins.push_back({origin + kBin * where[b] / count[b], grey[b] / count[b], edge[b] / count[b],
                            dark[b], count[b]});
    auto next = [&](size_t j) { return j + 1 < bins.size() && bins[j + 1].at - bins[j].at <= 1.01; };
    // Where the profile crosses `level` between bins j and j + 1, or nothing.
    auto crossing = [&](size_t j, double level) -> std::optional<double> {
        if (!next(j)) return std::nullopt;
        const double a = bins[j].grey - level, b = bins[j + 1].grey - level;
        if ((a > 0) == (b > 0)) return std::nullopt;
        return bins[j].at + (bins[j + 1].at - bins[j].at) * a / (a - b);
    };
    // The accumulator's peaks: no bin within a pixel holds more (equal ones stay).
    std::vector<double> walls;
    size_t from = 0;
    for (size_t j = 0; j < bins.size(); ++j) {
        while (bins[from].at < bins[j].at - 1)
            ++from;
        bool peak = true;
        for (size_t k = from; k < bins.size() && bins[k].at <= bins[j].at + 1 && peak; ++k)
            peak = bins[k].edge <= bins[j].edge;
        if (!peak) continue;
        // The crossing of the threshold nearest the peak, within a pixel and a quarter; peaks of
        // equal votes side by side lead to the same crossing, which counts once.
        std::optional<double> nearest;
        for (size_t k = from; k < bins.size() && bins[k].at <= bins[j].at + 1.25; ++k)
            if (const auto at = crossing(k, threshold); at && std::fabs(*at - bins[j].at) <= 1.25)
                if (!nearest || std::fabs(*at - bins[j].at) < std::fabs(*nearest - bins[j].at)) nearest = at;
        if (nearest && (walls.empty() || *nearest > walls.back() + 1e-9)) walls.push_back(*nearest);
    }
    // Each wall again at the level half way between the two bands beside it (the middle halves of
    // their profiles), so that light left over after the flat field does not move it.
    auto plateau = [&](double a, double b) {
        double sum = 0;
        long n = 0;
        for (const Bin& bin : bins)
            if (bin.at >= a + (b - a) / 4 && bin.at <= b - (b - a) / 4) sum += bin.grey, ++n;
        return n ? std::optional<double>(sum / static_cast<double>(n)) : std::nullopt;
    };
    std::vector<double> refined = walls;
    // Beyond the first and the last wall lies only what the border leaves of a band, often a
    // sliver in a corner: the next whole band of that colour stands in for it.
    const size_t wallCount = walls.size();
    for (size_t i = 0; i < wallCount; ++i) {
        const auto before = i > 0           ? plateau(walls[i - 1], walls[i])
                            : wallCount > 2 ? plateau(walls[1], walls[2])
                                            : std::nullopt;
        const auto after = i + 1 < wallCount ? plateau(walls[i], walls[i + 1])
                           : wallCount > 2   ? plateau(walls[wallCount - 3], walls[wallCount - 2])
                                             : std::nullopt;
        if (!before || !after) continue;
        const double level = (*before + *after) / 2;
        for (size_t j = 0; j < bins.size(); ++j) {
            if (bins[j].at < walls[i] - 1.25 || bins[j].at > walls[i] + 1.25) continue;
            if (const auto at = crossing(j, level)) {
                refined[i] = *at;
                break;
            }
        }
    }
    // Walls that the levels moved onto or past their neighbour are one wall; of two walls with
    // bands of one colour on either side, neither separates anything.
    walls.clear();
    for (double at : refined)
        if (walls.empty() || at > walls.back() + 1) walls.push_back(at);
    auto darkShare = [&](double a, double b) {
        double dsum = 0, n = 0;
        for (const Bin& bin : bins)
            if (bin.at > a && bin.at < b) dsum += bin.dark, n += bin.count;
        return n > 0 ? dsum / n : 0.5;
    };
    for (size_t i = 1; i + 1 < walls.size();) {
        if ((darkShare(walls[i - 1], walls[i]) > 0.5) == (darkShare(walls[i], walls[i + 1]) > 0.5))
            walls.erase(walls.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    std::vector<Band> bands;
    const double wallDeg = std::atan(std::tan((best + 90) * kPi / 180)) * 180 / kPi;
    for (size_t i = 0; i + 1 < walls.size(); ++i) {
        const double a = walls[i], b = walls[i + 1];
        bands.push_back({(a + b) / 2, wallDeg, b - a, darkShare(a, b) > 0.5});
    }
    return bands;
}

} // namespace

std::string describe(const Settings& s) {
    std::ostringstream o;
    o << "median " << (s.median ? "on" : "off") << ", flat field " << (s.flatField ? "on" : "off")
      << ", threshold " << (s.otsu ? "between class means" : "mean grey") << ", specks below " << s.speckArea
      << " px removed";
    return o.str();
}

namespace {

// The factor that brings the largest magnitude of the picture (and its background) to 65535.
double workingScale(const Image& g, const Image& b) {
    double most = 0;
    for (const Image* i : {&g, &b})
        for (double v : i->px)
            most = std::max(most, std::fabs(v));
    return most > 0 ? 65535 / most : 1;
}

Result measureOrThrow(const Image& image, const Image* background, std::optional<Rect> rect,
                      const Settings& settings) {
    Result r;
    auto fail = [&](const std::string& why) {
        Result e;
        e.error = why;
        e.width = r.width, e.height = r.height;
        return e;
    };
    if (image.width <= 0 || image.height <= 0 ||
        image.px.size() != static_cast<size_t>(image.width) * image.height)
        return fail("the image is empty");
    Rect area = rect.value_or(Rect{0, 0, image.width, image.height});
    area.x1 = std::clamp(area.x1, 0, image.width), area.x2 = std::clamp(area.x2, 0, image.width);
    area.y1 = std::clamp(area.y1, 0, image.height), area.y2 = std::clamp(area.y2, 0, image.height);
    if (area.x2 - area.x1 < 16 || area.y2 - area.y1 < 16)
        return fail("the rectangle holds less than 16 x 16 pixels");
    auto finite = [](const std::vector<double>& v) {
        return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
    };
    if (!finite(image.px) || (background && !finite(background->px)))
        return fail("the image holds values that are not numbers");
    Image g = crop(image, area);
    r.area = area;
    r.width = g.width, r.height = g.height;
    if (background && (background->width != image.width || background->height != image.height ||
                       background->px.size() != image.px.size()))
        return fail("the background image has another size");
    Image b = background ? crop(*background, area) : Image{};
    // The median works on whole numbers: a picture scaled 0..1 (or 0..1e-6) would come out
    // uniform, and one in millions would overflow. Every picture is measured scaled (no offset, so
    // the light's division and the Kerr ratio keep their meaning) to largest magnitude 65535: an
    // 8-bit picture by 257, whose median is that of its own grey levels, a 16-bit one as it is.
    const double scale = workingScale(g, b);
    for (double& v : g.px)
        v *= scale;
    for (double& v : b.px)
        v *= scale;
    Image unfiltered = g; // for the bands: averaging along the walls removes the noise, unbiased
    if (settings.median) median(g);
    if (background) {
        // The Kerr contrast: the difference relative to the background, which carries the light, so
        // that the domains' contrast is the same everywhere.
        auto relative = [](double v, double bg) { return bg > 0 ? (v - bg) / bg : 0.0; };
        for (size_t i = 0; i < g.px.size(); ++i)
            unfiltered.px[i] = relative(unfiltered.px[i], b.px[i]);
        if (settings.median) median(b);
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = relative(g.px[i], b.px[i]);
    }
    if (const auto [lo, hi] = valueRange(g.px); !(hi > lo)) return fail("the image is uniform");
    const double noise = noiseLevel(unfiltered);
    if (settings.median) unwinding<&removeImpulsesWide>(unfiltered, noise);

    Spectrum s = spectrum(g);
    if (settings.flatField && s.ok && !background) unwinding<&flatFieldWide>(unfiltered, g, 2 * s.period);
    // Area and wall length come from the image smoothed a little, binarized once: noise would make
    // the walls' iso-line wander and lengthen it, and single dark or bright pixels would draw loops
    // of their own; more smoothing would round the walls' bends and shorten them.
    constexpr double kSmoothing = 1.2;
    const Image smooth{unfiltered.width, unfiltered.height, blur(unfiltered, kSmoothing)};
    r.threshold = settings.otsu ? interiorIsodata(smooth)
                                : std::accumulate(smooth.px.begin(), smooth.px.end(), 0.0) /
                                      static_cast<double>(smooth.px.size());
    std::vector<uint8_t> black(smooth.px.size());
    for (size_t i = 0; i < smooth.px.size(); ++i)
        black[i] = smooth.px[i] < r.threshold;
    removeSpecks(black, g.width, g.height, settings.speckArea);
    const int64_t dark = std::count(black.begin(), black.end(), 1);
    if (dark == 0 || dark == static_cast<int64_t>(black.size()))
        return fail("no domains: the image is all one colour");
    r.blackFraction = static_cast<double>(dark) / static_cast<double>(black.size());
    const double la = unwinding<&contourLengthPerAreaWide>(smooth, r.threshold);
    if (!(la > 0)) return fail("no domain walls found");
    r.blackWidthPx = 2 * r.blackFraction / la;
    r.whiteWidthPx = 2 * (1 - r.blackFraction) / la;
    r.periodPx = r.blackWidthPx + r.whiteWidthPx;
    if (s.ok) {
        r.periodFftPx = s.period;
        r.anisotropy = s.anisotropy;
        r.orientationDeg = std::atan(std::tan((s.normalDeg + 90) * kPi / 180)) * 180 / kPi;
    }
    r.pattern = s.ok && s.anisotropy > 0.5 ? "stripes" : "maze";
    if (r.pattern == "stripes") {
        double normal = s.normalDeg;
        r.bands = bandsOf(unfiltered, smooth, black, r.threshold, noise, s.normalDeg, normal);
        r.orientationDeg = std::atan(std::tan((normal + 90) * kPi / 180)) * 180 / kPi;
        // Stripes' widths are their runs across: in a picture a few periods wide the wall length
        // depends on where the walls happen to cut the border, by up to a period per picture.
        if (const auto runs = runsAlongNormal(smooth, r.threshold, normal)) {
            r.blackWidthPx = runs->black, r.whiteWidthPx = runs->white;
            r.periodPx = runs->black + runs->white;
        }
    }
    // The spectrum looks for periods up to a third of the picture's smaller side; a longer one
    // it cannot show, and what it found is then a harmonic.
    if (3 * r.periodPx > std::min(r.width, r.height)) r.periodFftPx = 0;
    if (!background) r.threshold /= scale; // in the picture's own grey levels
    r.black = std::move(black);
    return r;
}

} // namespace

Result measure(const Image& image, const Image* background, std::optional<Rect> rect,
               const Settings& settings) {
    Result r;
    try {
        return measureOrThrow(image, background, rect, settings);
    } catch (const std::bad_alloc&) {
        r.error = "not enough memory to measure this image";
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    r.width = image.width, r.height = image.height;
    return r;
}

} // namespace tovra::measure
