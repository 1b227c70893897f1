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

// FFTW's planner is not safe to call from several threads at once.
std::mutex& planner() {
    static std::mutex m;
    return m;
}

// The rectangle's values less their mean, times a Hann window, transformed (w x h complex, rows).
std::vector<Complex> spectrumOf(const Image& g, const Rect& r) {
    const int w = r.x2 - r.x1, h = r.y2 - r.y1;
    double mean = 0;
    for (int y = r.y1; y < r.y2; ++y)
        for (int x = r.x1; x < r.x2; ++x)
            mean += g.px[static_cast<size_t>(y) * static_cast<size_t>(g.width) + static_cast<size_t>(x)];
    mean /= static_cast<double>(w) * h;
    fftwf_complex* data = fftwf_alloc_complex(static_cast<size_t>(w) * static_cast<size_t>(h));
    std::vector<double> wx(static_cast<size_t>(w)), wy(static_cast<size_t>(h));
    for (int x = 0; x < w; ++x)
        wx[static_cast<size_t>(x)] = 0.5 - 0.5 * std::cos(2 * detail::kPi * (x + 0.5) / w);
    for (int y = 0; y < h; ++y)
        wy[static_cast<size_t>(y)] = 0.5 - 0.5 * std::cos(2 * detail::kPi * (y + 0.5) / h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            const double v = g.px[static_cast<size_t>(y + r.y1) * static_cast<size_t>(g.width) +
                                  static_cast<size_t>(x + r.x1)];
            data[i][0] =
                std::isfinite(v)
                    ? static_cast<float>((v - mean) * wx[static_cast<size_t>(x)] * wy[static_cast<size_t>(y)])
                    : 0.0F;
            data[i][1] = 0;
        }
    fftwf_plan plan;
    {
        const std::lock_guard<std::mutex> lock(planner());
        plan = fftwf_plan_dft_2d(h, w, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    }
    fftwf_execute(plan);
    std::vector<Complex> out(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = Complex(data[i][0], data[i][1]);
    {
        const std::lock_guard<std::mutex> lock(planner());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(data);
    return out;
}

// The frequency of index k of n, in cycles a sample, from -1/2 up.
double frequency(int k, int n) {
    return (k <= n / 2 ? k : k - n) / static_cast<double>(n);
}

// The place of the largest real part of the inverse transform of `cross` (w x h) on a grid of
// `count` x `count` points over +-`half` about (x, y), its frequencies up to a quarter cycle.
std::pair<double, double> finePeak(const std::vector<Complex>& cross, int w, int h, double x, double y,
                                   double half, int count) {
    std::vector<int> kxs, kys;
    for (int k = 0; k < w; ++k)
        if (std::abs(frequency(k, w)) <= 0.25) kxs.push_back(k);
    for (int k = 0; k < h; ++k)
        if (std::abs(frequency(k, h)) <= 0.25) kys.push_back(k);
    const double step = count > 1 ? 2 * half / (count - 1) : 0;
    const auto nu = static_cast<size_t>(count);
    // partial[ky][u]: the sum over the columns' frequencies at x_u.
    std::vector<Complex> phase(kxs.size() * nu), partial(kys.size() * nu);
    for (size_t u = 0; u < nu; ++u)
        for (size_t k = 0; k < kxs.size(); ++k)
            phase[u * kxs.size() + k] = std::polar(1.0, 2 * detail::kPi * frequency(kxs[k], w) *
                                                            (x - half + static_cast<double>(u) * step));
    for (size_t j = 0; j < kys.size(); ++j) {
        const Complex* row = cross.data() + static_cast<size_t>(kys[j]) * static_cast<size_t>(w);
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
        const double yv = y - half + static_cast<double>(v) * step;
        std::vector<Complex> rowPhase(kys.size());
        for (size_t j = 0; j < kys.size(); ++j)
            rowPhase[j] = std::polar(1.0, 2 * detail::kPi * frequency(kys[j], h) * yv);
        for (size_t u = 0; u < nu; ++u) {
            double re = 0;
            for (size_t j = 0; j < kys.size(); ++j)
                re += (partial[j * nu + u] * rowPhase[j]).real();
            if (re > top) top = re, best = {x - half + static_cast<double>(u) * step, yv};
        }
    }
    return best;
}

Shift registerOnce(const Image& reference, const Image& moving, std::optional<Rect> rect);

} // namespace

// The shift found, then found again between the reference and the frame moved back by it, over
// the part both show: at first the window tapers the two frames' views of the pattern unlike each
// other (the pattern has moved under it), moved back they are alike and the rest is found exactly.
Shift registerFrames(const Image& reference, const Image& moving, std::optional<Rect> rect) {
    Shift s = registerOnce(reference, moving, rect);
    if (!s.ok) return s;
    const Rect whole = rect.value_or(Rect{0, 0, reference.width, reference.height});
    for (int round = 0; round < 2; ++round) {
        const Image back = shiftedBack(moving, s.dx, s.dy);
        // Where the moved frame has values: its cubic kernel reaches two pixels.
        Rect r = whole;
        r.x1 = std::max(r.x1, static_cast<int>(std::ceil(-s.dx)) + 2);
        r.y1 = std::max(r.y1, static_cast<int>(std::ceil(-s.dy)) + 2);
        r.x2 = std::min(r.x2, reference.width - static_cast<int>(std::ceil(s.dx)) - 3);
        r.y2 = std::min(r.y2, reference.height - static_cast<int>(std::ceil(s.dy)) - 3);
        if (r.x2 - r.x1 < 8 || r.y2 - r.y1 < 8) break;
        const Shift rest = registerOnce(reference, back, r);
        if (!rest.ok || std::abs(rest.dx) > 1 || std::abs(rest.dy) > 1) break;
        s.dx += rest.dx, s.dy += rest.dy;
    }
    return s;
}

namespace {

Shift registerOnce(const Image& reference, const Image& moving, std::optional<Rect> rect) {
    Shift s;
    if (reference.width != moving.width || reference.height != moving.height || reference.width < 8 ||
        reference.height < 8)
        return s;
    Rect r = rect.value_or(Rect{0, 0, reference.width, reference.height});
    r.x1 = std::clamp(r.x1, 0, reference.width), r.x2 = std::clamp(r.x2, 0, reference.width);
    r.y1 = std::clamp(r.y1, 0, reference.height), r.y2 = std::clamp(r.y2, 0, reference.height);
    const int w = r.x2 - r.x1, h = r.y2 - r.y1;
    if (w < 8 || h < 8) return s;
    const std::vector<Complex> a = spectrumOf(reference, r), b = spectrumOf(moving, r);
    // The cross-power spectrum: the frequencies weighed by their power, so that those the noise holds
    // weigh least (a phase correlation, each frequency's phase alone, lets the noise of a frame with
    // few features drown its peak).
    std::vector<Complex> plain(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        plain[i] = b[i] * std::conj(a[i]);
    plain[0] = 0;
    const std::vector<Complex>& cross = plain;
    // The correlation to a pixel: its inverse transform's peak.
    fftwf_complex* data = fftwf_alloc_complex(cross.size());
    for (size_t i = 0; i < cross.size(); ++i)
        data[i][0] = static_cast<float>(cross[i].real()), data[i][1] = static_cast<float>(cross[i].imag());
    fftwf_plan plan;
    {
        const std::lock_guard<std::mutex> lock(planner());
        plan = fftwf_plan_dft_2d(h, w, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    fftwf_execute(plan);
    size_t best = 0;
    for (size_t i = 0; i < cross.size(); ++i)
        if (data[i][0] > data[best][0]) best = i;
    const double peak = data[best][0];
    {
        const std::lock_guard<std::mutex> lock(planner());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(data);
    // How alike the two are there: the correlation coefficient of the windowed frames at the shift
    // (by Parseval's theorem, from the spectra's energies).
    double ea = 0, eb = 0;
    for (size_t i = 1; i < a.size(); ++i)
        ea += std::norm(a[i]), eb += std::norm(b[i]);
    s.strength = ea > 0 && eb > 0 ? peak / std::sqrt(ea * eb) : 0;
    const int px = static_cast<int>(best % static_cast<size_t>(w)),
              py = static_cast<int>(best / static_cast<size_t>(w));
    const double cx = px <= w / 2 ? px : px - w, cy = py <= h / 2 ? py : py - h;
    // To a hundredth of a pixel: the correlation on a grid of a tenth of a pixel over the
    // peak's pixel, then of a hundredth about the best, from the frequencies below a quarter
    // cycle a pixel (above them a blurred frame holds mostly noise).
    std::pair<double, double> at{cx, cy};
    for (const auto& [half, count] : {std::pair{0.7, 15}, std::pair{0.1, 21}})
        at = finePeak(plain, w, h, at.first, at.second, half, count);
    // moving(x) = reference(x - d) puts the peak at d.
    s.dx = at.first, s.dy = at.second;
    s.ok = std::isfinite(s.dx) && std::isfinite(s.dy);
    return s;
}

} // namespace

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
            for (int j = 0; j < 4; ++j) {
                const int row = std::clamp(sy + j, 0, g.height - 1);
                const float* r = g.px.data() + static_cast<size_t>(row) * static_cast<size_t>(g.width);
                double across = 0;
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
