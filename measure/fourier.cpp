// The power spectrum (FFTW): the period of the pattern and its preferred direction.
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <mutex>
#include <new>
#include <numeric>

namespace tovra::measure::detail {

std::mutex& fftwPlanner() {
    static std::mutex m;
    return m;
}

namespace {

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

    // Buffers of rows x columns reals and rows x (columns / 2 + 1) complex values; the input is
    // the caller's to fill, all of it.
    void prepare(int rows, int columns) {
        if (rows != rows_ || columns != columns_) {
            release();
            in_ = fftwf_alloc_real(static_cast<size_t>(rows) * columns);
            out_ = fftwf_alloc_complex(static_cast<size_t>(rows) * (columns / 2 + 1));
            if (!in_ || !out_) {
                fftwf_free(in_), fftwf_free(out_);
                throw std::bad_alloc();
            }
            std::lock_guard<std::mutex> lock(planning());
            plan_ = fftwf_plan_dft_r2c_2d(rows, columns, in_, out_, FFTW_ESTIMATE);
            rows_ = rows, columns_ = columns;
        }
    }
    float* in() const { return in_; }
    const fftwf_complex* out() const { return out_; }
    void run() const { fftwf_execute(plan_); }

    void release() {
        if (rows_ == 0) return;
        {
            std::lock_guard<std::mutex> lock(planning());
            fftwf_destroy_plan(plan_);
        }
        fftwf_free(in_);
        fftwf_free(out_);
        rows_ = columns_ = 0;
    }

private:
    static std::mutex& planning() { return fftwPlanner(); }
    int rows_ = 0, columns_ = 0;
    float* in_ = nullptr;
    fftwf_complex* out_ = nullptr;
    fftwf_plan plan_ = nullptr;
};

// std::nearbyint(x) for 0 <= x < 2^52: adding 2^52 leaves no bits for a fraction, so the sum is
// rounded to a whole number as nearbyint rounds, and taking 2^52 away again is exact. Made here in
// two additions, where nearbyint is a call into the library on processors without SSE4.1.
inline double nearestWhole(double x) {
    constexpr double kNoFraction = 4503599627370496.0; // 2^52
    return (x + kNoFraction) - kNoFraction;
}

// One row of the transform's input: the picture's row less its mean, times the window, and zeros
// past the picture.
TOVRA_WIDE_VECTORS void windowRowWide(const float* row, int w, double mean, const double* wx, double wy,
                                      float* in, int nx) {
    for (int x = 0; x < w; ++x)
        in[x] = static_cast<float>((row[x] - mean) * wx[x] * wy);
    std::fill(in + w, in + nx, 0.0F);
}

} // namespace

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
    // Kept for the next picture only while small: a large picture's buffers, 8 bytes a pixel,
    // would stay beside everything the measurement holds later.
    struct Kept {
        Transform& transform;
        bool small;
        ~Kept() {
            if (!small) transform.release();
        }
    } kept{transform, static_cast<int64_t>(nx) * ny <= int64_t{1} << 20};
    transform.prepare(ny, nx);
    float* in = transform.in();
    const fftwf_complex* out = transform.out();
    const double mean = std::accumulate(g.px.begin(), g.px.end(), 0.0) / static_cast<double>(g.px.size());
    std::vector<double> wx(g.width), wy(g.height);
    for (int x = 0; x < g.width; ++x)
        wx[x] = 0.5 - 0.5 * std::cos(2 * kPi * (x + 0.5) / g.width);
    for (int y = 0; y < g.height; ++y)
        wy[y] = 0.5 - 0.5 * std::cos(2 * kPi * (y + 0.5) / g.height);
    for (int y = 0; y < g.height; ++y)
        unwinding<&windowRowWide>(g.px.data() + static_cast<size_t>(y) * g.width, g.width, mean, wx.data(),
                                  wy[y], in + static_cast<size_t>(y) * nx, nx);
    std::fill(in + static_cast<size_t>(g.height) * nx, in + static_cast<size_t>(ny) * nx, 0.0F);
    transform.run();

    // Power by ring (one bin wide); periods from 3 pixels to a third of the smaller side.
    const int rings = n / 2;
    std::vector<double> power(rings + 2, 0.0), bins(rings + 2, 0.0);
    auto powerAt = [&](int ky, int kx) {
        const fftwf_complex& c = out[static_cast<size_t>(ky) * half + kx];
        return static_cast<double>(c[0]) * c[0] + static_cast<double>(c[1]) * c[1];
    };
    for (int ky = 0; ky < ny; ++ky) {
        const double v = (ky < ny / 2 ? ky : ky - ny) * unitY;
        // Neighbours along a row mostly share a ring: its sums are held in registers while they
        // do, and added to in the same order as one at a time.
        int ring = -1;
        double p = 0, b = 0;
        for (int kx = 0; kx < half; ++kx) {
            const double u = kx * unitX;
            const int r = static_cast<int>(nearestWhole(std::sqrt(u * u + v * v)));
            if (r >= rings) break; // the rest of this row lies further out
            if (r != ring) {
                if (ring >= 0) power[ring] = p, bins[ring] = b;
                ring = r, p = power[r], b = bins[r];
            }
            const double twice = kx == 0 || 2 * kx == nx ? 1 : 2; // the half not stored mirrors this one
            p += powerAt(ky, kx) * twice, b += twice;
        }
        if (ring >= 0) power[ring] = p, bins[ring] = b;
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
        double sx = 0, sy = 0, total = 0, strongest = -1;
        int peakX = 0, peakY = 0;
        const double inner = 0.49 * r * r, outer = 1.69 * r * r;
        const int reachY = std::min(ny / 2 - 1, static_cast<int>(std::ceil(1.3 * r / unitY))),
                  reachX = std::min(nx / 2, static_cast<int>(std::ceil(1.3 * r / unitX)));
        for (int fy = -reachY; fy <= reachY; ++fy) {
            const int ky = fy < 0 ? fy + ny : fy;
            const double v = fy * unitY;
            for (int kx = 0; kx <= reachX; ++kx) {
                const double u = kx * unitX, r2 = u * u + v * v;
                if (r2 < inner || r2 > outer) continue;
                if (powerAt(ky, kx) > strongest) strongest = powerAt(ky, kx), peakX = kx, peakY = fy;
                const double p = powerAt(ky, kx) / r2;
                sx += p * (u * u - v * v), sy += p * 2 * u * v, total += p * r2;
            }
        }
        // The strongest single wave, placed between the bins by a parabola through the logarithm
        // of its power and its neighbours' along each axis (a Hann window's peak is nearly a
        // Gaussian, whose logarithm is a parabola): the period of straight stripes, which the
        // rings would round to their width.
        auto at = [&](int fy, int fx) {
            if (fx < 0) fy = -fy, fx = -fx; // the half not stored mirrors this one
            if (fx >= half || std::abs(fy) >= ny / 2) return 0.0;
            return powerAt(fy < 0 ? fy + ny : fy, fx);
        };
        auto vertex = [](double left, double mid, double right) {
            if (!(left > 0 && mid > 0 && right > 0)) return 0.0;
            const double la = std::log(left), lb = std::log(mid), lc = std::log(right), d = la - 2 * lb + lc;
            return d < 0 ? std::clamp(0.5 * (la - lc) / d, -0.5, 0.5) : 0.0;
        };
        const double fx = peakX + vertex(at(peakY, peakX - 1), at(peakY, peakX), at(peakY, peakX + 1));
        const double fy = peakY + vertex(at(peakY - 1, peakX), at(peakY, peakX), at(peakY + 1, peakX));
        if (fx != 0 || fy != 0) s.wavePeriod = 1 / std::hypot(fx / nx, fy / ny);
        // How far the peak's ring stands out of the rings' typical power.
        std::vector<double> typical(power.begin() + rMin, power.begin() + rMax + 1);
        std::nth_element(typical.begin(), typical.begin() + static_cast<std::ptrdiff_t>(typical.size() / 2),
                         typical.end());
        const double middle = typical[typical.size() / 2];
        s.prominence = middle > 0 ? b / middle : b > 0 ? HUGE_VAL : 0;
        if (total > 0) {
            s.anisotropy = std::hypot(sx, sy) / total;
            s.normalDeg = std::atan2(sy, sx) / 2 * 180 / kPi;
            s.ok = true;
        }
    }
    return s;
}

} // namespace tovra::measure::detail
