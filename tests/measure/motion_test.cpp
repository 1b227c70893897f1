// Walls moving between frames: frames aligned to the first to a part of a pixel, and the steps,
// the creep fit and the switching fields on generated series of known truth.
#include "motion.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace tovra::measure;

namespace {

// A labyrinth of walls about 16 px apart, smooth to the last digit wherever it is sampled, seen
// shifted by (dx, dy) with noise of `noise` of the contrast.
Image labyrinth(int w, int h, double dx, double dy, double noise, unsigned seed) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(0, 6.283185307179586), phase(0, 6.283185307179586);
    std::vector<std::array<double, 3>> waves;
    for (int k = 0; k < 12; ++k) {
        const double a = angle(rng), kk = 2 * 3.141592653589793 / 16;
        waves.push_back({kk * std::cos(a), kk * std::sin(a), phase(rng)});
    }
    std::mt19937 noiseRng(seed);
    std::normal_distribution<double> n(0, noise);
    Image g{w, h, std::vector<float>(static_cast<size_t>(w) * static_cast<size_t>(h))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (const auto& wv : waves)
                s += std::cos(wv[0] * (x - dx) + wv[1] * (y - dy) + wv[2]);
            g.px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                static_cast<float>(100 + 50 * std::tanh(0.4 * s) + 100 * n(noiseRng));
        }
    return g;
}

} // namespace

// Shifts up to 20 px with their sub-pixel parts, on noisy frames: found within 0.05 px, the peak
// strong; an unrelated frame's peak weak.
TEST(Registration, ShiftsToAPartOfAPixel) {
    const Image reference = labyrinth(256, 224, 0, 0, 0.1, 1);
    for (const auto& [dx, dy] : {std::pair{0.0, 0.0}, std::pair{0.37, -0.81}, std::pair{-7.25, 3.6},
                                 std::pair{19.9, -14.45}, std::pair{-20.0, 20.0}}) {
        const Shift s = registerFrames(reference, labyrinth(256, 224, dx, dy, 0.1, 2), std::nullopt);
        ASSERT_TRUE(s.ok);
        EXPECT_NEAR(s.dx, dx, 0.05) << dx << "," << dy;
        EXPECT_NEAR(s.dy, dy, 0.05) << dx << "," << dy;
        EXPECT_GT(s.strength, kWeakPeak);
        // Moved back, the frame lies on the reference but for the noise.
        const Image back = shiftedBack(labyrinth(256, 224, dx, dy, 0, 2), s.dx, s.dy);
        const Image still = labyrinth(256, 224, 0, 0, 0, 2);
        double worst = 0;
        for (int y = 30; y < 194; ++y)
            for (int x = 30; x < 226; ++x) {
                const size_t i = static_cast<size_t>(y) * 256 + static_cast<size_t>(x);
                worst = std::max(worst, std::abs(static_cast<double>(back.px[i]) - still.px[i]));
            }
        EXPECT_LT(worst, 2) << dx << "," << dy; // of a contrast of 100
    }
    std::mt19937 rng(3);
    std::normal_distribution<double> n(0, 1);
    Image noise{256, 224, std::vector<float>(256 * 224)};
    for (float& v : noise.px)
        v = static_cast<float>(n(rng));
    EXPECT_LT(registerFrames(reference, noise, std::nullopt).strength, kWeakPeak);
    EXPECT_FALSE(registerFrames(reference, Image{4, 4, std::vector<float>(16)}, std::nullopt).ok);
}

namespace {

// Stripes `period` px apart whose black bands are `width` px wide, walls tilted by 10 degrees,
// blurred by a Gaussian of sigma 1.2 (each pixel the blur's edge profile at its distance from the
// nearer wall), shifted by (dx, dy), with noise of 4 % of the contrast; the top 60 rows hold marks
// on the sample instead (dust, a scratch: dots at random places) to align the frames on.
Image stripes(int side, double width, double dx, double dy, unsigned seed, double period = 100) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, 4);
    const double c = std::cos(0.1745329), s = std::sin(0.1745329), sigma = 1.2;
    auto edge = [&](double d) { return 0.5 * std::erfc(-d / (sigma * std::sqrt(2.0))); }; // 1 inside d > 0
    Image g{side, side, std::vector<float>(static_cast<size_t>(side) * static_cast<size_t>(side))};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double u = (x - dx) * c + (y - dy) * s;
            const double p = u - period * std::floor(u / period); // place within the period
            // Black from the middle less width/2 to the middle plus width/2 of each period.
            const double d = std::min(p - (period / 2 - width / 2), (period / 2 + width / 2) - p);
            double black = edge(d);
            if (y < 60) { // the marks: a dot of radius 2.5 at every 23rd place of a fixed pseudo-random grid
                black = 0;
                for (int j = 0; j < 40; ++j) {
                    const double mx = std::fmod(j * 97.3, side) + dx, my = std::fmod(j * 37.9, 50.0) + 5 + dy;
                    black = std::max(black, edge(2.5 - std::hypot(x - mx, y - my)));
                }
            }
            g.px[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] =
                static_cast<float>(180 - 100 * black + n(rng));
        }
    return g;
}

} // namespace

// Straight walls moving by known steps from half a pixel to 20 px, the frames drifting: each step's
// displacement within its errors and 3 %, the drift found, velocities with their durations.
TEST(Motion, StraightWallsMovingByKnownSteps) {
    const std::vector<double> widths{20, 21, 25, 35, 75};
    const std::vector<std::pair<double, double>> drift{
        {0, 0}, {1.3, -0.4}, {-2.6, 3.1}, {5.2, 1.7}, {-0.8, -6.3}};
    const FrameSource source = [&](size_t k, std::string&) -> std::optional<Image> {
        return stripes(480, widths[k], drift[k].first, drift[k].second, static_cast<unsigned>(k) + 1);
    };
    MotionSettings settings;
    settings.alignOn = Rect{0, 0, 480, 60}, settings.rect = Rect{0, 70, 480, 480};
    const Motion m = measureMotion(5, source, {0, 1, 2, 3, 4}, {0.5, 0.5, 1, 2}, nullptr, settings);
    ASSERT_TRUE(m.error.empty()) << m.error;
    ASSERT_EQ(m.steps.size(), 4U);
    for (size_t k = 0; k < 4; ++k) {
        const MotionStep& s = m.steps[k];
        const double truth = (widths[k + 1] - widths[k]) / 2; // each wall of a band moves half the growth
        ASSERT_TRUE(s.displacement && s.displacementSe && s.velocity)
            << k << (s.warnings.empty() ? "" : s.warnings[0].message);
        EXPECT_NEAR(*s.displacement, truth, std::max(0.03 * truth, 0.05)) << k;
        EXPECT_NEAR(*s.velocity, *s.displacement / s.duration.value_or(1), 1e-9);
        EXPECT_NEAR(s.driftX, drift[k + 1].first, 0.05) << k;
        EXPECT_NEAR(s.driftY, drift[k + 1].second, 0.05) << k;
        EXPECT_GT(s.toBlack, 10 * s.toWhite) << k; // the black bands grow
        EXPECT_TRUE(s.reliable) << k;
    }
}

// A bubble that appears where no wall was is nucleation, counted apart; a step from a frame without
// walls has no displacement; durations of the wrong count or not above 0, one frame, frames of two
// sizes: refused.
TEST(Motion, NucleationAndWhatIsRefused) {
    auto frame = [](bool withBubble) {
        Image g = stripes(300, 15, 0, 0, 1, 40);
        // A black bubble in the middle of a white band: at (x, y) with u = x cos + y sin = 40 k.
        if (withBubble)
            for (int y = 0; y < 300; ++y)
                for (int x = 0; x < 300; ++x)
                    if (std::hypot(x - 171.0, y - 182.4) < 7) g.px[static_cast<size_t>(y) * 300 + x] = 80;
        return g;
    };
    const FrameSource two = [&](size_t k, std::string&) -> std::optional<Image> { return frame(k == 1); };
    MotionSettings below;
    below.rect = Rect{0, 70, 300, 300};
    const Motion m = measureMotion(2, two, {0, 1}, {}, nullptr, below);
    ASSERT_TRUE(m.error.empty()) << m.error;
    EXPECT_GT(m.steps[0].nucleated, 150);
    EXPECT_LT(m.steps[0].displacement.value_or(1), 0.1);
    const FrameSource sizes = [](size_t k, std::string&) -> std::optional<Image> {
        return stripes(k == 0 ? 300 : 310, 15, 0, 0, 1, 40);
    };
    EXPECT_FALSE(measureMotion(2, sizes, {0, 1}, {}, nullptr, {}).error.empty());
    EXPECT_FALSE(measureMotion(1, two, {0}, {}, nullptr, {}).error.empty());
    EXPECT_FALSE(measureMotion(2, two, {0, 1}, {1, 2}, nullptr, {}).error.empty());
    EXPECT_FALSE(measureMotion(2, two, {0, 1}, {0}, nullptr, {}).error.empty());
    EXPECT_FALSE(measureMotion(2, two, {0, 1}, {NAN}, nullptr, {}).error.empty());
    const FrameSource flat = [](size_t k, std::string&) -> std::optional<Image> {
        if (k == 0) return Image{300, 300, std::vector<float>(300 * 300, 130)};
        return stripes(300, 15, 0, 0, 1, 40);
    };
    const Motion none = measureMotion(2, flat, {0, 1}, {}, nullptr, below);
    ASSERT_EQ(none.steps.size(), 1U);
    EXPECT_FALSE(none.steps[0].displacement);
    EXPECT_FALSE(none.steps[0].reliable);
}

// Velocities drawn from the creep law with 3 % noise over fields from 1.5 to 60: mu fixed gives a and b
// within 3 SE, mu free gives 0.25 +- 0.03; fewer than three fields are refused.
TEST(Motion, CreepLawFit) {
    const double a = 12, b = 9;
    int muWithin = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        std::normal_distribution<double> noise(0, 0.03);
        std::vector<double> h, v, se;
        for (double field = 1.5; field <= 60; field *= 1.15) {
            const double truth = std::exp(a - b * std::pow(field, -0.25));
            h.push_back(field), v.push_back(truth * std::exp(noise(rng))), se.push_back(0.03 * truth);
        }
        const CreepFit fixed = fitCreep(h, v, se, false), free = fitCreep(h, v, se, true);
        ASSERT_TRUE(fixed.ok && free.ok) << fixed.error << free.error;
        EXPECT_LT(std::abs(fixed.a - a), 3 * fixed.aSe) << seed;
        EXPECT_LT(std::abs(fixed.b - b), 3 * fixed.bSe) << seed;
        EXPECT_GT(fixed.chi2Dof, 0.3);
        EXPECT_LT(fixed.chi2Dof, 2.5);
        muWithin += std::abs(free.mu - 0.25) <= 0.03;
        EXPECT_LT(std::abs(free.mu - 0.25), 4 * free.muSe) << seed;
    }
    EXPECT_GE(muWithin, 19);
    EXPECT_FALSE(fitCreep({1, 2}, {1, 2}, {0.1, 0.1}, false).ok);
    EXPECT_FALSE(fitCreep({1, 2, 3}, {1, 2, -3}, {0.1, 0.1, 0.1}, false).ok);
}

// A sweep where each pixel switches at a field of its own (a smooth random map), one field step a
// frame: the map gives each pixel's field to the step on nearly all pixels.
TEST(Motion, SwitchingFieldMap) {
    const int side = 240, frames = 12;
    std::mt19937 rng(4);
    std::normal_distribution<double> n(0, 1);
    std::vector<double> field(static_cast<size_t>(side) * side);
    // The switching field: a smooth landscape from 1 to 10 (waves of 40 to 70 px).
    auto at = [](double x, double y) {
        return 5.5 + 2.2 * std::sin(x / 40.0 + 0.4) * std::cos(y / 50.0) + 2.2 * std::sin((x + y) / 70.0);
    };
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            field[static_cast<size_t>(y) * side + x] = at(x, y);
    std::vector<double> values;
    for (int k = 0; k < frames; ++k)
        values.push_back(k);
    const FrameSource sweep = [&](size_t k, std::string&) -> std::optional<Image> {
        Image g{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = static_cast<float>((field[i] <= values[k] ? 80 : 180) + 3 * n(rng));
        return g;
    };
    const Motion m = measureMotion(frames, sweep, values, {}, nullptr, {});
    ASSERT_TRUE(m.error.empty()) << m.error;
    size_t right = 0, judged = 0;
    for (int y = m.area.y1 + 3; y < m.area.y2 - 3; ++y)
        for (int x = m.area.x1 + 3; x < m.area.x2 - 3; ++x) {
            const double f = field[static_cast<size_t>(y) * side + x];
            // Away from the walls' blur: no frame's wall (a whole field's contour) within 3 px.
            const double slope = std::hypot(at(x + 0.5, y) - at(x - 0.5, y), at(x, y + 0.5) - at(x, y - 0.5));
            if (std::abs(f - std::round(f)) < 3 * slope) continue;
            ++judged;
            const float got = m.switching[static_cast<size_t>(y) * side + x];
            right += std::isfinite(got) && std::abs(got - std::ceil(f)) < 0.5;
        }
    EXPECT_GT(judged, 10000U);
    EXPECT_GT(static_cast<double>(right), 0.99 * static_cast<double>(judged));
    const Distribution d = distributionOf(m.switching);
    EXPECT_GT(d.count, 30000U);
    EXPECT_LT(d.q1, d.q3);
    EXPECT_NEAR(d.mean, 6.0, 1.0);
}
