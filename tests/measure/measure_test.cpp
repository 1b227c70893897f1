// The domain measurement against the samples' ground truth (samples/*.json), with the accuracy
// the measurement promises, and on images it cannot measure.
#include "measure.h"
#include "measure_c.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tovra::measure;

namespace {

Image sample(const char* name, int side) {
    const std::string bytes = testing_support::readBytes(testing_support::projectSamplesDir() / name);
    Image img{side, side, {}};
    for (unsigned char c : bytes)
        img.px.push_back(c);
    img.px.resize(static_cast<size_t>(side) * side);
    return img;
}

bool finite(const Result& r) {
    for (double v : {r.blackFraction, r.blackWidthPx, r.whiteWidthPx, r.periodPx, r.periodFftPx,
                     r.orientationDeg, r.anisotropy, r.threshold})
        if (!std::isfinite(v)) return false;
    return true;
}

} // namespace

// Truth from samples/*.json; tolerances: widths and period relative, black fraction absolute.
TEST(Measure, SamplesWithinTheirAccuracy) {
    const struct {
        const char *file, *background;
        int side;
        const char* pattern;
        double black, white, period, fraction, periodFft;
        double widthTol, periodTol, fractionTol, fftTol;
    } rows[] = {
        {"stripes_256.mon", nullptr, 256, "stripes", 10, 14, 24, 0.4165, 24.03, 0.015, 0.01, 0.015, 0.015},
        {"stripes_bin_256.mon", nullptr, 256, "stripes", 8, 12, 20, 0.4001, 19.85, 0.015, 0.01, 0.015, 0.015},
        {"aligned_512.mon", nullptr, 512, "stripes", 10.99, 10.99, 22.01, 0.5, 22.01, 0.015, 0.01, 0.015,
         0.015},
        {"maze_512.mon", nullptr, 512, "maze", 14.04, 14.04, 28.09, 0.5, 28.46, 0.025, 0.01, 0.015, 0.015},
        {"kerr_a_256.mon", "kerr_bg_256.mon", 256, "maze", 10.07, 10.07, 20.15, 0.5, 20.11, 0.035, 0.01,
         0.012, 0.015},
        {"kerr_b_256.mon", "kerr_bg_256.mon", 256, "maze", 7.61, 12.42, 20.03, 0.38, 20.11, 0.035, 0.01,
         0.012, 0.015},
    };
    for (const auto& r : rows) {
        const Image img = sample(r.file, r.side);
        const Image bg = r.background ? sample(r.background, r.side) : Image{};
        const Result m = measure(img, r.background ? &bg : nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.error, "") << r.file;
        EXPECT_EQ(m.pattern, r.pattern) << r.file;
        EXPECT_NEAR(m.blackWidthPx, r.black, r.black * r.widthTol) << r.file;
        EXPECT_NEAR(m.whiteWidthPx, r.white, r.white * r.widthTol) << r.file;
        EXPECT_NEAR(m.periodPx, r.period, r.period * r.periodTol) << r.file;
        EXPECT_NEAR(m.blackFraction, r.fraction, r.fractionTol) << r.file;
        EXPECT_NEAR(m.periodFftPx, r.periodFft, r.periodFft * r.fftTol) << r.file;
    }
}

// Straight stripes: nearly every wall found, every band within a quarter pixel of its width and
// of its colour, the walls' angle that of the stripes.
TEST(Measure, StraightStripesBandByBand) {
    const struct {
        const char* file;
        double black, white, angle;
        int walls;
    } rows[] = {{"stripes_256.mon", 10, 14, 25, 29}, {"stripes_bin_256.mon", 8, 12, -40, 36}};
    for (const auto& r : rows) {
        const Result m = measure(sample(r.file, 256), nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << r.file;
        EXPECT_GE(m.bands.size() + 1, static_cast<size_t>(std::ceil(0.9 * r.walls))) << r.file;
        EXPECT_NEAR(m.orientationDeg, r.angle, 0.25) << r.file;
        for (size_t i = 0; i < m.bands.size(); ++i) {
            const Band& b = m.bands[i];
            EXPECT_NEAR(b.widthPx, b.black ? r.black : r.white, 0.25) << r.file << " band " << i;
            if (i > 0) { // colours alternate
                EXPECT_NE(b.black, m.bands[i - 1].black) << r.file << " band " << i;
            }
        }
    }
}

// Straight stripes at any angle, along the axes and diagonals too (where the pixels fall on
// every third or fourth bin of the profile) and nearly along an axis (where the walls' length in
// the picture depends on where they cut the border): 9 px black, 13 px white, blurred edges,
// uneven light and noise; last, a faint pattern under salt and pepper pixels (each as bright or
// dark as eight times the contrast), whose widths the smoothing alone would shorten.
TEST(Measure, StripesAtAnyAngle) {
    const struct {
        double angle, contrast;
        int salt; // pixels in a thousand
    } rows[] = {{0, 110, 0}, {0.5, 110, 0}, {45, 110, 0}, {90, 110, 0}, {-63, 110, 0}, {25, 30, 4}};
    for (const auto& r : rows) {
        const int side = 256;
        const double nx = -std::sin(r.angle * M_PI / 180), ny = std::cos(r.angle * M_PI / 180);
        Image img{side, side, std::vector<double>(static_cast<size_t>(side) * side)};
        uint32_t seed = 99;
        auto random = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                double dark = 0; // share of the pixel in a black band, 4 x 4 samples
                for (int k = 0; k < 16; ++k) {
                    const double u =
                        (x + (k % 4 + 0.5) / 4 - 0.5) * nx + (y + (k / 4 + 0.5) / 4 - 0.5) * ny + 3.3;
                    dark += std::fmod(std::fmod(u, 22.0) + 22.0, 22.0) < 9 ? 1.0 / 16 : 0.0;
                }
                double v = (70 + r.contrast - r.contrast * dark) * (0.9 + 0.2 * x / side) +
                           (random() % 1000 / 1000.0 - 0.5) * 24;
                if (static_cast<int>(random() % 1000) < r.salt)
                    v += random() % 2 ? 8 * r.contrast : -8 * r.contrast;
                img.px[static_cast<size_t>(y) * side + x] = v;
            }
        const Result m = measure(img, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << r.angle;
        const double across = side * (std::fabs(nx) + std::fabs(ny)); // walls every 11 px on average
        if (r.salt == 0) { // faint patterns leave out the corners' walls
            EXPECT_GE(static_cast<double>(m.bands.size() + 1), 0.9 * across / 11 - 1) << r.angle;
        }
        for (const Band& b : m.bands)
            EXPECT_NEAR(b.widthPx, b.black ? 9 : 13, 0.25) << r.angle << " at " << b.positionPx;
        EXPECT_NEAR(m.blackWidthPx, 9, 9 * 0.015) << r.angle;
        EXPECT_NEAR(m.whiteWidthPx, 13, 13 * 0.015) << r.angle;
    }
}

// Speck removal against regions found independently (union-find over the untouched picture): on
// random pictures every region under the size, and only those, changes colour, however the
// regions wind.
TEST(MeasureSteps, OnlyRegionsUnderTheSizeChangeColour) {
    const int w = 61, h = 47;
    uint32_t seed = 12345;
    for (int density : {30, 50, 70}) {
        std::vector<uint8_t> black(static_cast<size_t>(w) * h);
        for (auto& b : black)
            seed = seed * 1664525u + 1013904223u, b = (seed >> 24) % 100 < static_cast<uint32_t>(density);
        std::vector<int> parent(black.size());
        for (size_t i = 0; i < parent.size(); ++i)
            parent[i] = static_cast<int>(i);
        auto root = [&](int i) {
            while (parent[i] != i)
                i = parent[i] = parent[parent[i]];
            return i;
        };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int i = y * w + x;
                if (x + 1 < w && black[i] == black[i + 1]) parent[root(i)] = root(i + 1);
                if (y + 1 < h && black[i] == black[i + w]) parent[root(i)] = root(i + w);
            }
        std::vector<int> size(black.size(), 0);
        for (size_t i = 0; i < black.size(); ++i)
            ++size[root(static_cast<int>(i))];
        std::vector<uint8_t> cleaned = black;
        removeSpecks(cleaned, w, h, 10);
        for (size_t i = 0; i < black.size(); ++i) {
            const bool small = size[root(static_cast<int>(i))] < 10;
            ASSERT_EQ(cleaned[i], small ? !black[i] : black[i]) << "density " << density << " pixel " << i;
        }
    }
}

// The threshold sits half way between the two levels whatever the share of each: blurred bands
// one black to three white put plain isodata a tenth of the contrast toward black.
TEST(MeasureSteps, ThresholdHalfWayBetweenUnequalClasses) {
    Image bands{128, 128, std::vector<double>(128 * 128)};
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            bands.px[static_cast<size_t>(y) * 128 + x] = x % 16 < 4 ? 60.0 : 180.0;
    const Image blurred{128, 128, blur(bands, 1.5)};
    EXPECT_NEAR(interiorIsodata(blurred), 120.0, 1.0);
}

// What cannot be measured says so, and no number is ever not a number.
TEST(Measure, ImagesThatCannotBeMeasuredSaySo) {
    Image half = sample("maze_512.mon", 512);
    Image withNan = half, withInfinity = half; // through the C interface, any double may come
    withNan.px[1000] = std::nan(""), withInfinity.px[5000] = -HUGE_VAL;
    const struct {
        Image image;
        std::optional<Rect> rect;
    } rows[] = {
        {Image{64, 64, std::vector<double>(64 * 64, 128.0)}, std::nullopt},
        {Image{64, 64, std::vector<double>(64 * 64, 0.0)}, std::nullopt},
        {Image{1, 1, {7.0}}, std::nullopt},
        {Image{3, 1000, std::vector<double>(3000, 5.0)}, std::nullopt},
        {half, Rect{600, 600, 700, 700}},
        {half, Rect{10, 10, 10, 300}},
        {Image{}, std::nullopt},
        {withNan, std::nullopt},
        {withInfinity, std::nullopt},
    };
    for (const auto& r : rows) {
        const Result m = measure(r.image, nullptr, r.rect, Settings{});
        EXPECT_NE(m.error, "") << r.image.width << "x" << r.image.height;
        EXPECT_TRUE(finite(m));
    }
    // A rectangle inside measures that part; one less than three periods across has no period
    // in its spectrum rather than a harmonic.
    const Result narrow = measure(half, nullptr, Rect{0, 0, 512, 40}, Settings{});
    EXPECT_EQ(narrow.error, "");
    EXPECT_EQ(narrow.periodFftPx, 0);
    const Result part = measure(half, nullptr, Rect{0, 0, 256, 256}, Settings{});
    EXPECT_EQ(part.error, "");
    EXPECT_EQ(part.width, 256);
}

#if !defined(__SANITIZE_ADDRESS__)
// In a child whose memory is limited to what it holds plus `spare` bytes: 0 when `check` holds.
int withSpareMemory(size_t spare, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        FILE* status = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (status == nullptr || std::fscanf(status, "%lu", &pages) != 1) ::_exit(3);
        std::fclose(status);
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = pages * static_cast<unsigned long>(::sysconf(_SC_PAGESIZE)) + spare;
        ::setrlimit(RLIMIT_AS, &limit);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1; // ended by a signal
    return WEXITSTATUS(status);
}

// A long narrow picture is measured in memory that holds it several times over (its spectrum is
// not padded to a square), and where memory runs out the record says so instead of the program
// ending.
TEST(Measure, MemoryRunningShortIsReportedNotFatal) {
    Image strip{16000, 96, std::vector<double>(16000 * 96)};
    for (int y = 0; y < strip.height; ++y)
        for (int x = 0; x < strip.width; ++x)
            strip.px[static_cast<size_t>(y) * strip.width + x] = (x + y / 4) % 20 < 8 ? 60 : 180;
    EXPECT_EQ(withSpareMemory(256u << 20,
                              [&] {
                                  const Result m = measure(strip, nullptr, std::nullopt, Settings{});
                                  return m.error.empty() &&
                                         std::fabs(m.periodPx - 20 * std::cos(std::atan(0.25))) < 0.2 &&
                                         std::fabs(m.periodFftPx - 20 * std::cos(std::atan(0.25))) < 0.3;
                              }),
              0);
    const Image maze = sample("maze_512.mon", 512);
    EXPECT_EQ(withSpareMemory(1u << 20,
                              [&] {
                                  return measure(maze, nullptr, std::nullopt, Settings{}).error ==
                                         "not enough memory to measure this image";
                              }),
              0);
}
#endif

TEST(Measure, CInterfaceGivesTheSameNumbersAndBands) {
    const Image img = sample("stripes_bin_256.mon", 256);
    TovraMeasurement m{};
    ASSERT_EQ(tovra_measure(img.px.data(), 256, 256, nullptr, 0, 0, 0, 0, &m), 0);
    const Result direct = measure(img, nullptr, std::nullopt, Settings{});
    EXPECT_STREQ(m.pattern, "stripes");
    EXPECT_EQ(m.period_px, direct.periodPx);
    ASSERT_EQ(m.bands, static_cast<int32_t>(direct.bands.size()));
    double width = 0;
    int32_t black = -1;
    ASSERT_EQ(tovra_measure_band(0, nullptr, nullptr, &width, &black), 0);
    EXPECT_EQ(width, direct.bands[0].widthPx);
    EXPECT_EQ(tovra_measure_band(m.bands, nullptr, nullptr, &width, &black), 1);
    EXPECT_EQ(tovra_measure(nullptr, 0, 0, nullptr, 0, 0, 0, 0, &m), 1);
    EXPECT_STRNE(m.error, "");
}

// The measurement does not depend on whole grey levels: the same picture scaled by any factor
// (0..1 floats, 16 bits, millions) gives the same numbers as in 0..255. Whole-number filtering
// once made a 0..1 picture uniform.
TEST(Measure, AnyValueScaleGivesTheSameWidths) {
    for (const auto& [name, side] :
         {std::pair{"maze_512.mon", 512}, {"kerr_a_256.mon", 256}, {"stripes_256.mon", 256}}) {
        const Image bytes = sample(name, side);
        const Result base = measure(bytes, nullptr, std::nullopt, Settings{});
        ASSERT_TRUE(base.error.empty()) << name;
        for (double factor : {1e-6, 1.0 / 255, 257.0, 1e6}) {
            Image scaled = bytes;
            for (double& v : scaled.px)
                v *= factor;
            const Result r = measure(scaled, nullptr, std::nullopt, Settings{});
            ASSERT_TRUE(r.error.empty()) << name << " x" << factor << ": " << r.error;
            EXPECT_EQ(r.pattern, base.pattern) << name << " x" << factor;
            EXPECT_NEAR(r.blackWidthPx, base.blackWidthPx, 1e-3 * base.blackWidthPx)
                << name << " x" << factor;
            EXPECT_NEAR(r.whiteWidthPx, base.whiteWidthPx, 1e-3 * base.whiteWidthPx)
                << name << " x" << factor;
            EXPECT_NEAR(r.periodPx, base.periodPx, 1e-3 * base.periodPx) << name << " x" << factor;
            EXPECT_NEAR(r.blackFraction, base.blackFraction, 1e-3) << name << " x" << factor;
            EXPECT_NEAR(r.threshold, base.threshold * factor, 1e-6 * base.threshold * factor) << name;
        }
    }
}
