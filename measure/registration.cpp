// Frames aligned to a reference by cross-correlation through the Fourier transform: the
// cross-power spectrum of the two (each less its mean and tapered to its border by a Hann window,
// so that the frame's edges do not correlate), its inverse transform's peak found to a pixel, then
// to a hundredth of one by the inverse transform evaluated on fine grids around it (a discrete
// Fourier transform of the peak's neighbourhood alone, as matrix products), and found again on the
// frame moved back; the frame resampled by cubic convolution.
#include "motion.h"
#include "stages.h"

#include <fftw3.h>
#include <utility>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <mutex>
#include <numeric>

namespace tovra::measure {

namespace {

using Complex = std::complex<double>;

std::mutex& planner() {
    return detail::fftwPlanner();
}

// The rectangle's values less their mean, times a Hann window, transformed: the half of the
// spectrum a real picture needs (h rows of w / 2 + 1 frequencies).
std::vector<Complex> spectrumOf(const Image& g, const Rect& r) {
    const int w = r.x2 - r.x1, h = r.y2 - r.y1, half = w / 2 + 1;
    double mean = 0;
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x)
            mean += g.px[static_cast<size_t>(y) * static_cast<size_t>(g.width) + static_cast<size_t>(x)];
    mean /= static_cast<double>(w) * h;
    float* in = fftwf_alloc_real(static_cast<size_t>(w) * static_cast<size_t>(h));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<size_t>(half) * static_cast<size_t>(h));
    std::vector<double> wx(static_cast<size_t>(w)), wy(static_cast<size_t>(h));
    for (int x = 0; x < w; ++x)
        wx[static_cast<size_t>(x)] = 0.5 - 0.5 * std::cos(2 * detail::kPi * (x + 0.5) / w);
    for (int y = 0; y < h; ++y)
        wy[static_cast<size_t>(y)] = 0.5 - 0.5 * std::cos(2 * detail::kPi * (y + 0.5) / h);
    for (int y = 0; y < h; ++y) {
        const float* row = g.px.data() + static_cast<size_t>(y + r.y1) * static_cast<size_t>(g.width) + r.x1;
        float* to = in + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int x = 0; x < w; ++x) {
            const double v = row[x];
            to[x] =
                std::isfinite(v)
                    ? static_cast<float>((v - mean) * wx[static_cast<size_t>(x)] * wy[static_cast<size_t>(y)])
                    : 0.0F;
        }
    }
    fftwf_plan plan;
    {
        const std::lock_guard<std::mutex> lock(planner());
        plan = fftwf_plan_dft_r2c_2d(h, w, in, out, FFTW_ESTIMATE);
    }
    fftwf_execute(plan);
    std::vector<Complex> spectrum(static_cast<size_t>(half) * static_cast<size_t>(h));
    for (size_t i = 0; i < spectrum.size(); ++i)
        spectrum[i] = Complex(out[i][0], out[i][1]);
    {
        const std::lock_guard<std::mutex> lock(planner());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(in);
    fftwf_free(out);
    return spectrum;
}

// The energy of the whole spectrum from its half (w the picture's width), the mean left out: each
// frequency but the first column's and the last's stands for itself and its opposite.
double energyOf(const std::vector<Complex>& half, int w) {
    const size_t columns = static_cast<size_t>(w / 2) + 1;
    double e = 0;
    for (size_t i = 1; i < half.size(); ++i) {
        const size_t kx = i % columns;
        e += std::norm(half[i]) * (kx > 0 && 2 * kx != static_cast<size_t>(w) ? 2 : 1);
    }
    return e;
}

// The largest length up to n whose only prime factors are 2, 3, 5 and 7: FFTW transforms those fast
// (a length with a large prime factor takes many times as long).
int fastLength(int n) {
    for (int m = n; m > 1; --m) {
        int r = m;
        for (int p : {2, 3, 5, 7})
            while (r % p == 0)
                r /= p;
        if (r == 1) return m;
    }
    return n;
}

// The rectangle cut to fast lengths about its middle.
Rect fastRect(const Rect& r) {
    const int w = fastLength(r.x2 - r.x1), h = fastLength(r.y2 - r.y1);
    const int x1 = r.x1 + (r.x2 - r.x1 - w) / 2, y1 = r.y1 + (r.y2 - r.y1 - h) / 2;
    return Rect{x1, y1, x1 + w, y1 + h};
}

// The frequency of index k of n, in cycles a sample, from -1/2 up.
double frequency(int k, int n) {
    return (k <= n / 2 ? k : k - n) / static_cast<double>(n);
}

// The place of the largest value of the inverse transform of `cross` (the half spectrum of a w x h
// picture) on a grid of `count` x `count` points over +-`reach` about (x, y), its frequencies up to a
// quarter cycle.
std::pair<double, double> finePeak(const std::vector<Complex>& cross, int w, int h, double x, double y,
                                   double reach, int count) {
    // The pictures are real: a frequency and its opposite are conjugate, so the columns' positive
    // frequencies, counted twice, give the real part the whole sum gives.
    std::vector<int> kxs, kys;
    std::vector<double> twice;
    const int half = w / 2 + 1;
    for (int k = 0; k < half; ++k)
        if (static_cast<double>(k) / w <= 0.25)
            kxs.push_back(k), twice.push_back(k > 0 && 2 * k != w ? 2 : 1);
    for (int k = 0; k < h; ++k)
        if (std::abs(frequency(k, h)) <= 0.25) kys.push_back(k);
    const double step = count > 1 ? 2 * reach / (count - 1) : 0;
    const auto nu = static_cast<size_t>(count);
    // partial[ky][u]: the sum over the columns' frequencies at x_u.
    std::vector<Complex> phase(kxs.size() * nu), partial(kys.size() * nu);
    for (size_t u = 0; u < nu; ++u)
        for (size_t k = 0; k < kxs.size(); ++k)
            phase[u * kxs.size() + k] =
                twice[k] * std::polar(1.0, 2 * detail::kPi * frequency(kxs[k], w) *
                                               (x - reach + static_cast<double>(u) * step));
    for (size_t j = 0; j < kys.size(); ++j) {
        const Complex* row = cross.data() + static_cast<size_t>(kys[j]) * static_cast<size_t>(half);
        for (size_t u = 0; u < nu; ++u) {
            Complex acc = 0;
            const Complex* ph = phase.data() + u * kxs.size();
            for (size_t k = 0; k < kxs.size(); ++k)
                acc += row[kxs[k]] * ph[k];
            partial[j * nu + u] = acc;
        }
    }
    double top = -std::numeric_limits<double>::infinity();
    std::pair<double, double> best{x, y};
    for (size_t v = 0; v < nu; ++v) {
        const double yv = y - reach + static_cast<double>(v) * step;
        std::vector<Complex> rowPhase(kys.size());
        for (size_t j = 0; j < kys.size(); ++j)
            rowPhase[j] = std::polar(1.0, 2 * detail::kPi * frequency(kys[j], h) * yv);
        for (size_t u = 0; u < nu; ++u) {
            double re = 0;
            for (size_t j = 0; j < kys.size(); ++j)
                re += (partial[j * nu + u] * rowPhase[j]).real();
            if (re > top)
                top = re, best = std::pair<double, double>(x - reach + static_cast<double>(u) * step, yv);
        }
    }
    return best;
}

} // namespace

Aligner::Aligner(const Image& reference, std::optional<Rect> rect)
    : width_(reference.width), height_(reference.height) {
    if (width_ < 8 || height_ < 8) return;
    Rect r = rect.value_or(Rect{0, 0, width_, height_});
    r.x1 = std::clamp(r.x1, 0, width_), r.x2 = std::clamp(r.x2, 0, width_);
    r.y1 = std::clamp(r.y1, 0, height_), r.y2 = std::clamp(r.y2, 0, height_);
    if (r.x2 - r.x1 < 8 || r.y2 - r.y1 < 8) return;
    rect_ = fastRect(r);
    spectrum_ = spectrumOf(reference, rect_);
    energy_ = energyOf(spectrum_, rect_.x2 - rect_.x1);
}

// The cross-power spectrum: the frequencies weighed by their power, so that those the noise holds
// weigh least (a phase correlation, each frequency's phase alone, lets the noise of a frame with few
// features drown its peak). Its inverse transform's peak to a pixel, then to a hundredth of one on
// the correlation evaluated on fine grids (a tenth of a pixel over the peak's pixel, a hundredth
// about the best) from the frequencies below a quarter cycle a pixel (above them a blurred frame
// holds mostly noise). Then once more between the reference and the frame moved back by what was
// found: at first the window tapers the two frames' views of the pattern unlike each other (the
// pattern has moved under it), moved back they are alike and the rest is found exactly, from the
// fine grids alone (the rest is below a pixel).
Shift Aligner::shiftOf(const Image& moving) const {
    Shift s;
    if (spectrum_.empty() || moving.width != width_ || moving.height != height_ || !(energy_ > 0)) return s;
    const int w = rect_.x2 - rect_.x1, h = rect_.y2 - rect_.y1;
    auto crossWith = [&](const Image& g, double& energy) {
        const std::vector<Complex> b = spectrumOf(g, rect_);
        std::vector<Complex> cross(b.size());
        for (size_t i = 0; i < b.size(); ++i)
            cross[i] = b[i] * std::conj(spectrum_[i]);
        cross[0] = 0;
        energy = energyOf(b, w);
        return cross;
    };
    double energy = 0;
    const std::vector<Complex> cross = crossWith(moving, energy);
    fftwf_complex* data = fftwf_alloc_complex(cross.size());
    float* surface = fftwf_alloc_real(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (size_t i = 0; i < cross.size(); ++i)
        data[i][0] = static_cast<float>(cross[i].real()), data[i][1] = static_cast<float>(cross[i].imag());
    fftwf_plan plan;
    {
        const std::lock_guard<std::mutex> lock(planner());
        plan = fftwf_plan_dft_c2r_2d(h, w, data, surface, FFTW_ESTIMATE);
    }
    fftwf_execute(plan);
    const size_t cells = static_cast<size_t>(w) * static_cast<size_t>(h);
    size_t best = 0;
    for (size_t i = 0; i < cells; ++i)
        if (surface[i] > surface[best]) best = i;
    const double peak = surface[best];
    {
        const std::lock_guard<std::mutex> lock(planner());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(data);
    fftwf_free(surface);
    // How alike the two are there: the correlation coefficient of the windowed frames at the shift
    // (by Parseval's theorem, from the spectra's energies).
    s.strength = energy > 0 ? peak / std::sqrt(energy_ * energy) : 0;
    const int px = static_cast<int>(best % static_cast<size_t>(w)),
              py = static_cast<int>(best / static_cast<size_t>(w));
    std::pair<double, double> at{px <= w / 2 ? px : px - w, py <= h / 2 ? py : py - h};
    for (const auto& [half, count] : {std::pair{0.7, 15}, std::pair{0.1, 21}})
        at = finePeak(cross, w, h, at.first, at.second, half, count);
    // moving(x) = reference(x - d) puts the peak at d.
    s.dx = at.first, s.dy = at.second;
    s.ok = std::isfinite(s.dx) && std::isfinite(s.dy);
    if (!s.ok) return s;
    const Image back = shiftedBack(moving, s.dx, s.dy);
    double backEnergy = 0;
    const std::vector<Complex> rest = crossWith(back, backEnergy);
    std::pair<double, double> r{0, 0};
    for (const auto& [half, count] : {std::pair{0.7, 15}, std::pair{0.1, 21}})
        r = finePeak(rest, w, h, r.first, r.second, half, count);
    if (std::abs(r.first) < 1 && std::abs(r.second) < 1) s.dx += r.first, s.dy += r.second;
    return s;
}

Shift registerFrames(const Image& reference, const Image& moving, std::optional<Rect> rect) {
    return Aligner(reference, rect).shiftOf(moving);
}

namespace {

// Keys' cubic convolution kernel (a = -1/2).
double cubic(double t) {
    t = std::abs(t);
    if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
    if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
    return 0;
}

} // namespace

Image shiftedBack(const Image& g, double dx, double dy) {
    Image out{g.width, g.height, std::vector<float>(g.px.size())};
    if (!std::isfinite(dx) || !std::isfinite(dy) || std::abs(dx) > 1e6 || std::abs(dy) > 1e6) {
        out.px = g.px;
        return out;
    }
    const int ix = static_cast<int>(std::floor(dx)), iy = static_cast<int>(std::floor(dy));
    const double fx = dx - ix, fy = dy - iy;
    double kx[4], ky[4];
    for (int k = 0; k < 4; ++k)
        kx[k] = cubic(fx - (k - 1)), ky[k] = cubic(fy - (k - 1));
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
            // out(x, y) = g(x + dx, y + dy), from the 4 x 4 samples about it (the border's own
            // pixels repeated beyond it).
            const int sx = x + ix - 1, sy = y + iy - 1;
            double v = 0;
            const bool inside = sx >= 0 && sx + 3 < g.width && sy >= 0 && sy + 3 < g.height;
            for (int j = 0; j < 4; ++j) {
                const int row = inside ? sy + j : std::clamp(sy + j, 0, g.height - 1);
                const float* r = g.px.data() + static_cast<size_t>(row) * static_cast<size_t>(g.width);
                double across = 0;
                if (inside)
                    across = kx[0] * r[sx] + kx[1] * r[sx + 1] + kx[2] * r[sx + 2] + kx[3] * r[sx + 3];
                else
                    for (int i = 0; i < 4; ++i)
                        across += kx[i] * r[std::clamp(sx + i, 0, g.width - 1)];
                v += ky[j] * across;
            }
            out.px[static_cast<size_t>(y) * static_cast<size_t>(g.width) + static_cast<size_t>(x)] =
                static_cast<float>(v);
        }
    return out;
}

} // namespace tovra::measure
