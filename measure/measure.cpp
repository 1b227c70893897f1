#include "measure.h"

#include "quarnk.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <fftw3.h>
#include <mutex>
#include <numeric>
#include <sstream>

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

// Mirrored index: -1 is 0, -2 is 1, n is n - 1 (for a radius below n).
inline int mirror(int i, int n) {
    if (i < 0) i = -i - 1;
    if (i >= n) i = 2 * n - i - 1;
    return std::clamp(i, 0, n - 1);
}

// A running box mean of width 2 radius + 1 along each row, borders mirrored.
void boxRows(const std::vector<double>& in, std::vector<double>& out, int w, int h, int radius) {
    const double scale = 1.0 / (2 * radius + 1);
    for (int y = 0; y < h; ++y) {
        const double* row = in.data() + static_cast<size_t>(y) * w;
        double* dst = out.data() + static_cast<size_t>(y) * w;
        double sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += row[mirror(i, w)];
        for (int x = 0; x < w; ++x) {
            dst[x] = sum * scale;
            const int add = x + radius + 1, drop = x - radius;
            sum +=
                (add < w ? row[add] : row[mirror(add, w)]) - (drop >= 0 ? row[drop] : row[mirror(drop, w)]);
        }
    }
}

// The same down each column, all columns at once: a running sum of whole rows.
void boxColumns(const std::vector<double>& in, std::vector<double>& out, int w, int h, int radius) {
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

} // namespace

// A Gaussian blur of standard deviation sigma, borders mirrored. Narrow blurs convolve with the
// sampled Gaussian out to three sigma; wide ones, where that would cost too much, repeat a box
// mean three times (whose variance is the Gaussian's, to within the box's whole-pixel radius).
std::vector<double> blur(const Image& g, double sigma) {
    const int w = g.width, h = g.height;
    if (sigma > 3) {
        const int radius =
            std::max(1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
        std::vector<double> a = g.px, b(a.size());
        for (int pass = 0; pass < 3; ++pass) {
            boxRows(a, b, w, h, radius);
            boxColumns(b, a, w, h, radius);
        }
        return a;
    }
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<double> kernel(2 * radius + 1);
    for (int i = -radius; i <= radius; ++i)
        kernel[i + radius] = std::exp(-0.5 * i * i / (sigma * sigma));
    const double total = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    for (double& k : kernel)
        k /= total;
    std::vector<double> rows(g.px.size()), out(g.px.size(), 0.0);
    for (int y = 0; y < h; ++y) {
        const double* row = g.px.data() + static_cast<size_t>(y) * w;
        double* dst = rows.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            if (x >= radius && x + radius < w)
                for (int i = -radius; i <= radius; ++i)
                    sum += kernel[i + radius] * row[x + i];
            else
                for (int i = -radius; i <= radius; ++i)
                    sum += kernel[i + radius] * row[mirror(x + i, w)];
            dst[x] = sum;
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

    // Buffers of n x n reals and n x (n / 2 + 1) complex values, zeroed input.
    void prepare(int n) {
        if (n != n_) {
            release();
            in_ = fftw_alloc_real(static_cast<size_t>(n) * n);
            out_ = fftw_alloc_complex(static_cast<size_t>(n) * (n / 2 + 1));
            std::lock_guard<std::mutex> lock(planning());
            plan_ = fftw_plan_dft_r2c_2d(n, n, in_, out_, FFTW_ESTIMATE);
            n_ = n;
        }
        std::fill(in_, in_ + static_cast<size_t>(n) * n, 0.0);
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
        if (n_ == 0) return;
        {
            std::lock_guard<std::mutex> lock(planning());
            fftw_destroy_plan(plan_);
        }
        fftw_free(in_);
        fftw_free(out_);
        n_ = 0;
    }
    int n_ = 0;
    double* in_ = nullptr;
    fftw_complex* out_ = nullptr;
    fftw_plan plan_ = nullptr;
};

// The period and the preferred direction from the 2-D power spectrum: the mean removed, a Hann
// window, the image placed in a square (padded to the longer side), the ring of the greatest mean
// power found with a parabola through its neighbours.
Spectrum spectrum(const Image& g) {
    Spectrum s;
    const int n = transformSize(std::max({g.width, g.height, 8}));
    const int half = n / 2 + 1;
    thread_local Transform transform;
    transform.prepare(n);
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
            in[static_cast<size_t>(y) * n + x] =
                (g.px[static_cast<size_t>(y) * g.width + x] - mean) * wx[x] * wy[y];
    transform.run();

    // Power by ring (one bin wide); periods from 3 pixels to a third of the smaller side.
    const int rings = n / 2;
    std::vector<double> power(rings + 2, 0.0), bins(rings + 2, 0.0);
    auto powerAt = [&](int ky, int kx) {
        const fftw_complex& c = out[static_cast<size_t>(ky) * half + kx];
        return c[0] * c[0] + c[1] * c[1];
    };
    for (int ky = 0; ky < n; ++ky) {
        const int fy = ky < n / 2 ? ky : ky - n;
        for (int kx = 0; kx < half; ++kx) {
            const int r = static_cast<int>(std::nearbyint(std::sqrt(static_cast<double>(kx * kx + fy * fy))));
            if (r >= rings) break;                               // the rest of this row lies further out
            const double twice = kx == 0 || 2 * kx == n ? 1 : 2; // the half not stored mirrors this one
            power[r] += powerAt(ky, kx) * twice, bins[r] += twice;
        }
    }
    for (int r = 0; r < rings; ++r)
        if (bins[r] > 0) power[r] /= bins[r];
    const int rMin = std::max(2, static_cast<int>(std::ceil(3.0 * n / std::min(g.width, g.height)))),
              rMax = std::min(rings - 2, n / 3);
    int peak = -1;
    for (int r = rMin; r <= rMax; ++r)
        if (peak < 0 || power[r] > power[peak]) peak = r;
    if (peak > rMin && peak < rMax) {
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
        const int reach = std::min(n / 2 - 1, static_cast<int>(std::ceil(1.3 * r)));
        for (int fy = -reach; fy <= reach; ++fy) {
            const int ky = fy < 0 ? fy + n : fy;
            for (int kx = 0; kx <= reach; ++kx) {
                const double r2 = static_cast<double>(kx * kx + fy * fy);
                if (r2 < inner || r2 > outer) continue;
                const double p = powerAt(ky, kx) / r2;
                sx += p * (kx * kx - fy * fy), sy += p * 2 * kx * fy, total += p * r2;
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

// Otsu's threshold: the level between the two classes that separates their means best.
double otsu(const std::vector<double>& v) {
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    if (!(*hi > *lo)) return *lo;
    constexpr int bins = 256;
    std::vector<double> hist(bins, 0.0);
    const double scale = (bins - 1) / (*hi - *lo);
    for (double x : v)
        hist[static_cast<size_t>((x - *lo) * scale)] += 1;
    const double total = static_cast<double>(v.size());
    double sumAll = 0;
    for (int i = 0; i < bins; ++i)
        sumAll += i * hist[i];
    std::vector<double> between(bins, -1);
    double w0 = 0, sum0 = 0, best = -1;
    for (int i = 0; i < bins - 1; ++i) {
        w0 += hist[i], sum0 += i * hist[i];
        const double w1 = total - w0;
        if (w0 == 0 || w1 == 0) continue;
        const double m0 = sum0 / w0, m1 = (sumAll - sum0) / w1;
        between[i] = w0 * w1 * (m0 - m1) * (m0 - m1);
        best = std::max(best, between[i]);
    }
    // Where the classes separate equally well over a range of levels (two clean peaks), the
    // middle of that range.
    int first = 0;
    while (first < bins - 1 && between[first] < best * (1 - 1e-9))
        ++first;
    int last = first;
    while (last + 1 < bins - 1 && between[last + 1] >= best * (1 - 1e-9))
        ++last;
    return *lo + ((first + last) / 2.0 + 1) / scale; // values above belong to the upper class
}

// The isodata threshold: half way between the means of the two classes it makes, found by
// iteration from Otsu's. Blurred walls then sit where their grey is half way, whatever the share
// of each class. The classes' sums come from a fine histogram, so each step costs its bins only.
double isodata(const std::vector<double>& v) {
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    if (!(*hi > *lo)) return *lo;
    constexpr int bins = 1 << 14;
    const double scale = (bins - 1) / (*hi - *lo);
    std::vector<double> count(bins, 0.0), sum(bins, 0.0);
    for (double x : v) {
        const auto b = static_cast<size_t>((x - *lo) * scale);
        count[b] += 1, sum[b] += x;
    }
    // Prefix sums: the class below bin k holds bins 0 .. k - 1.
    std::vector<double> n0(bins + 1, 0.0), s0(bins + 1, 0.0);
    for (int b = 0; b < bins; ++b)
        n0[b + 1] = n0[b] + count[b], s0[b + 1] = s0[b] + sum[b];
    double t = otsu(v);
    for (int i = 0; i < 100; ++i) {
        const int k = std::clamp(static_cast<int>(std::ceil((t - *lo) * scale)), 1, bins - 1);
        const double below = n0[k], above = n0[bins] - n0[k];
        if (below == 0 || above == 0) break;
        const double next = (s0[k] / below + (s0[bins] - s0[k]) / above) / 2;
        if (std::fabs(next - t) < 1e-9 * (1 + std::fabs(t))) break;
        t = next;
    }
    return t;
}

// The greatest and least value within `radius` pixels (a square), borders mirrored.
void localExtremes(const Image& g, int radius, std::vector<double>& most, std::vector<double>& least) {
    const int w = g.width, h = g.height;
    std::vector<double> rowMost(g.px.size()), rowLeast(g.px.size());
    for (int y = 0; y < h; ++y) {
        const double* row = g.px.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            double a = row[x], b = row[x];
            for (int i = -radius; i <= radius; ++i) {
                const double v = row[mirror(x + i, w)];
                a = std::max(a, v), b = std::min(b, v);
            }
            rowMost[static_cast<size_t>(y) * w + x] = a, rowLeast[static_cast<size_t>(y) * w + x] = b;
        }
    }
    most = rowMost, least = rowLeast;
    for (int i = -radius; i <= radius; ++i) {
        if (i == 0) continue;
        for (int y = 0; y < h; ++y) {
            const size_t from = static_cast<size_t>(mirror(y + i, h)) * w, to = static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                most[to + x] = std::max(most[to + x], rowMost[from + x]);
                least[to + x] = std::min(least[to + x], rowLeast[from + x]);
            }
        }
    }
}

} // namespace

// The level half way between the means of the domains' insides: isodata over the pixels whose
// whole neighbourhood lies on one side of the level. The blurred walls' pixels would otherwise
// pull the mean of the smaller class toward the level and move it into that class (by a tenth
// of the contrast at a black fraction of 0.38). Each class's sums come from a fine histogram of
// the neighbourhoods' extremes, so each step costs its bins only.
double interiorIsodata(const Image& g) {
    double t = isodata(g.px);
    std::vector<double> most, least;
    localExtremes(g, 2, most, least);
    const auto [lo, hi] = std::minmax_element(g.px.begin(), g.px.end());
    constexpr int bins = 1 << 12;
    const double scale = (bins - 1) / (*hi - *lo);
    auto binOf = [&](double v) { return std::clamp(static_cast<int>((v - *lo) * scale), 0, bins - 1); };
    // A pixel is inside the black class for every level above its neighbourhood's greatest
    // value, inside the white class for every level at or below its least.
    std::vector<double> blackCount(bins + 1, 0.0), blackSum(bins + 1, 0.0), whiteCount(bins + 1, 0.0),
        whiteSum(bins + 1, 0.0);
    for (size_t i = 0; i < g.px.size(); ++i) {
        const int b = binOf(most[i]), c = binOf(least[i]);
        blackCount[b + 1] += 1, blackSum[b + 1] += g.px[i];
        whiteCount[c] += 1, whiteSum[c] += g.px[i];
    }
    for (int b = 0; b < bins; ++b) // black: bins below; white: bins from here on
        blackCount[b + 1] += blackCount[b], blackSum[b + 1] += blackSum[b];
    for (int b = bins - 1; b >= 0; --b)
        whiteCount[b] += whiteCount[b + 1], whiteSum[b] += whiteSum[b + 1];
    for (int i = 0; i < 100; ++i) {
        const int k = binOf(t);
        if (blackCount[k] == 0 || whiteCount[k + 1] == 0) break;
        const double next = (blackSum[k] / blackCount[k] + whiteSum[k + 1] / whiteCount[k + 1]) / 2;
        if (std::fabs(next - t) < 1e-9 * (1 + std::fabs(t))) break;
        t = next;
    }
    return t;
}

// Connected regions (4-neighbours) smaller than `area` take the other colour. Each region is
// flooded whole, so that no part of a large one is ever taken for a small one.
void removeSpecks(std::vector<uint8_t>& black, int w, int h, int area) {
    if (area <= 1) return;
    std::vector<uint8_t> seen(black.size(), 0);
    std::vector<int32_t> stack, members;
    for (size_t start = 0; start < black.size(); ++start) {
        if (seen[start]) continue;
        const uint8_t colour = black[start];
        members.clear();
        int64_t size = 0;
        stack.assign(1, static_cast<int32_t>(start));
        seen[start] = 1;
        while (!stack.empty()) {
            const int32_t p = stack.back();
            stack.pop_back();
            if (size++ < area) members.push_back(p);
            const int x = p % w, y = p / w;
            const int32_t next[4] = {x > 0 ? p - 1 : -1, x + 1 < w ? p + 1 : -1, y > 0 ? p - w : -1,
                                     y + 1 < h ? p + w : -1};
            for (int32_t q : next)
                if (q >= 0 && !seen[q] && black[q] == colour) seen[q] = 1, stack.push_back(q);
        }
        if (size < area)
            for (int32_t p : members)
                black[p] = !colour;
    }
}

namespace {

// Wall length per area along the threshold's iso-line of the grey image (marching squares with
// linear interpolation along the cell edges): straight walls come out straight, whatever their
// angle.
double contourLengthPerArea(const Image& g, double t) {
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

// Bands of straight stripes: the prepared image averaged along the walls into a profile across
// them, a quarter pixel a bin; walls where the profile crosses the threshold, placed between bins
// by linear interpolation; each band black or white by the majority of its binarized pixels.
std::vector<Band> bandsOf(const Image& g, const std::vector<uint8_t>& black, double threshold,
                          double normalDeg, double& refinedNormalDeg) {
    constexpr double kBin = 0.25;
    auto profile = [&](double deg, std::vector<double>& grey, std::vector<double>& dark,
                       std::vector<int>& count, double& origin) {
        const double nx = std::cos(deg * kPi / 180), ny = std::sin(deg * kPi / 180);
        const double corners[4] = {0, (g.width - 1) * nx, (g.height - 1) * ny,
                                   (g.width - 1) * nx + (g.height - 1) * ny};
        origin = *std::min_element(corners, corners + 4);
        const double end = *std::max_element(corners, corners + 4);
        const size_t bins = static_cast<size_t>((end - origin) / kBin) + 2;
        grey.assign(bins, 0), dark.assign(bins, 0), count.assign(bins, 0);
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                const auto b = static_cast<size_t>(std::lround((x * nx + y * ny - origin) / kBin));
                grey[b] += g.px[static_cast<size_t>(y) * g.width + x];
                dark[b] += black[static_cast<size_t>(y) * g.width + x];
                ++count[b];
            }
    };
    std::vector<double> grey, dark;
    std::vector<int> count;
    double origin = 0;
    // The direction whose profile has the most contrast: walls sharpest when averaged along.
    double best = normalDeg, bestContrast = -1;
    for (double d = -1.5; d <= 1.5; d += 0.05) {
        profile(normalDeg + d, grey, dark, count, origin);
        double s = 0, s2 = 0, n = 0;
        for (size_t b = 0; b < grey.size(); ++b)
            if (count[b] >= 8) {
                const double m = grey[b] / count[b];
                s += m, s2 += m * m, ++n;
            }
        const double contrast = n > 0 ? s2 / n - (s / n) * (s / n) : 0;
        if (contrast > bestContrast) bestContrast = contrast, best = normalDeg + d;
    }
    refinedNormalDeg = best;
    profile(best, grey, dark, count, origin);
    // Enough pixels per bin to trust it: walls with short chords, at the corners, are left out.
    const int enough = std::max(8, *std::max_element(count.begin(), count.end()) / 10);
    std::vector<double> walls;
    double previous = 0;
    bool have = false;
    size_t previousBin = 0;
    for (size_t b = 0; b < grey.size(); ++b) {
        if (count[b] < enough) {
            have = false;
            continue;
        }
        const double m = grey[b] / count[b] - threshold;
        if (have && (m > 0) != (previous > 0) && b == previousBin + 1)
            walls.push_back(origin + kBin * (previousBin + previous / (previous - m)));
        previous = m, previousBin = b, have = true;
    }
    // Each wall again at the level half way between the two bands beside it (the middle halves of
    // their profiles), so that light left over after the flat field does not move it.
    auto binOf = [&](double at) { return static_cast<long>(std::lround((at - origin) / kBin)); };
    auto plateau = [&](double a, double b) {
        double sum = 0;
        long n = 0;
        for (long k = binOf(a + (b - a) / 4); k <= binOf(b - (b - a) / 4); ++k)
            if (k >= 0 && k < static_cast<long>(grey.size()) && count[static_cast<size_t>(k)] >= enough)
                sum += grey[static_cast<size_t>(k)] / count[static_cast<size_t>(k)], ++n;
        return n ? std::optional<double>(sum / static_cast<double>(n)) : std::nullopt;
    };
    std::vector<double> refined = walls;
    // The first and last walls have, beyond them, what is left of a band up to the trusted bins.
    double first = 0, last = 0;
    for (size_t b = 0; b < grey.size(); ++b)
        if (count[b] >= enough) {
            if (first == 0) first = origin + kBin * static_cast<double>(b);
            last = origin + kBin * static_cast<double>(b);
        }
    for (size_t i = 0; i < walls.size(); ++i) {
        const auto before = plateau(i > 0 ? walls[i - 1] : first, walls[i]);
        const auto after = plateau(walls[i], i + 1 < walls.size() ? walls[i + 1] : last);
        if (!before || !after) continue;
        const double level = (*before + *after) / 2;
        for (long k = binOf(walls[i]) - 4; k < binOf(walls[i]) + 4; ++k) {
            if (k < 0 || k + 1 >= static_cast<long>(grey.size()) || count[static_cast<size_t>(k)] < enough ||
                count[static_cast<size_t>(k) + 1] < enough)
                continue;
            const double a = grey[static_cast<size_t>(k)] / count[static_cast<size_t>(k)] - level;
            const double b = grey[static_cast<size_t>(k) + 1] / count[static_cast<size_t>(k) + 1] - level;
            if ((a > 0) != (b > 0)) {
                refined[i] = origin + kBin * (static_cast<double>(k) + a / (a - b));
                break;
            }
        }
    }
    walls = refined;
    std::vector<Band> bands;
    const double wallDeg = std::atan(std::tan((best + 90) * kPi / 180)) * 180 / kPi;
    for (size_t i = 0; i + 1 < walls.size(); ++i) {
        const double a = walls[i], b = walls[i + 1];
        double dsum = 0, n = 0;
        for (size_t k = static_cast<size_t>(std::ceil((a - origin) / kBin));
             k <= static_cast<size_t>((b - origin) / kBin) && k < dark.size(); ++k)
            dsum += dark[k], n += count[k];
        bands.push_back({(a + b) / 2, wallDeg, b - a, n > 0 && dsum / n > 0.5});
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

Result measure(const Image& image, const Image* background, std::optional<Rect> rect,
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
    Image g = crop(image, area);
    r.area = area;
    r.width = g.width, r.height = g.height;
    Image unfiltered = g; // for the bands: averaging along the walls removes the noise, unbiased
    if (settings.median) median(g);
    if (background) {
        if (background->width != image.width || background->height != image.height ||
            background->px.size() != image.px.size())
            return fail("the background image has another size");
        // The Kerr contrast: the difference relative to the background, which carries the light, so
        // that the domains' contrast is the same everywhere.
        Image b = crop(*background, area);
        auto relative = [](double v, double bg) { return bg > 0 ? (v - bg) / bg : 0.0; };
        for (size_t i = 0; i < g.px.size(); ++i)
            unfiltered.px[i] = relative(unfiltered.px[i], b.px[i]);
        if (settings.median) median(b);
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = relative(g.px[i], b.px[i]);
    }
    const auto [lo, hi] = std::minmax_element(g.px.begin(), g.px.end());
    if (!(*hi > *lo)) return fail("the image is uniform");

    Spectrum s = spectrum(g);
    if (settings.flatField && s.ok && !background) {
        // Light multiplies what the sample shows: divided out, one threshold fits everywhere.
        const std::vector<double> light = blur(g, 2 * s.period);
        const double level =
            std::accumulate(light.begin(), light.end(), 0.0) / static_cast<double>(light.size());
        const bool divide = *std::min_element(light.begin(), light.end()) > 0;
        for (size_t i = 0; i < g.px.size(); ++i) {
            if (divide)
                g.px[i] *= level / light[i], unfiltered.px[i] *= level / light[i];
            else
                g.px[i] -= light[i], unfiltered.px[i] -= light[i];
        }
    }
    // Area and wall length come from the image smoothed a little, binarized once: noise would make
    // the walls' iso-line wander and lengthen it, and single dark or bright pixels would draw loops
    // of their own; more smoothing would round the walls' bends and shorten them.
    constexpr double kSmoothing = 1.2;
    const Image smooth{unfiltered.width, unfiltered.height, blur(unfiltered, kSmoothing)};
    r.threshold = settings.otsu
                      ? interiorIsodata(smooth)
                      : std::accumulate(g.px.begin(), g.px.end(), 0.0) / static_cast<double>(g.px.size());
    std::vector<uint8_t> black(smooth.px.size());
    for (size_t i = 0; i < smooth.px.size(); ++i)
        black[i] = smooth.px[i] < r.threshold;
    removeSpecks(black, g.width, g.height, settings.speckArea);
    const int64_t dark = std::count(black.begin(), black.end(), 1);
    if (dark == 0 || dark == static_cast<int64_t>(black.size()))
        return fail("no domains: the image is all one colour");
    r.blackFraction = static_cast<double>(dark) / static_cast<double>(black.size());
    const double la = contourLengthPerArea(smooth, r.threshold);
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
        r.bands = bandsOf(unfiltered, black, r.threshold, s.normalDeg, normal);
        r.orientationDeg = std::atan(std::tan((normal + 90) * kPi / 180)) * 180 / kPi;
    }
    r.black = std::move(black);
    return r;
}

} // namespace tovra::measure
