// Benchmark images, made the same way in every run.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace bench_images {

constexpr int32_t kSide = 1024;

// A noisy grey micrograph-like image of whole numbers 0..255.
inline std::vector<double> grey(int32_t w = kSide, int32_t h = kSide, uint32_t seed = 1) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0.0, 12.0);
    std::vector<double> v(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double stripe = std::sin((x * 0.8 + y * 0.6) * 2 * M_PI / 24.0) > 0 ? 170 : 70;
            v[static_cast<size_t>(y) * w + x] = std::clamp(std::floor(stripe + noise(gen)), 0.0, 255.0);
        }
    return v;
}

// Straight stripes about half black: black (0) and white (255) bands of 10 px at -40 degrees.
inline std::vector<double> stripes(int32_t w = 512, int32_t h = 512) {
    std::vector<double> v(static_cast<size_t>(w) * h);
    const double c = std::cos(40 * M_PI / 180), s = std::sin(40 * M_PI / 180);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            v[static_cast<size_t>(y) * w + x] = std::fmod(x * s + y * c + 1000.0, 20.0) < 10.0 ? 0.0 : 255.0;
    return v;
}

} // namespace bench_images
