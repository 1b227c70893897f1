// The domain measurement against the samples' ground truth (samples/*.json), with the accuracy
// the measurement promises, and on images it cannot measure.
#include "measure.h"
#include "measure_c.h"
#include "quarnk.h"
#include "stages.h"
#include "support/test_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
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
// Every true value lies within three of the measurement's whole errors (the standard error and the
// method's allowance in quadrature); the standard errors stay under 1.5 % at 512 pixels a side;
// every sample is reliable and of its kind.
TEST(Measure, SamplesWithinTheirAccuracy) {
    const struct {
        const char *file, *background;
        int side;
        const char* pattern;
        double black, white, period, fraction, periodFft;
        double widthTol, periodTol, fractionTol, fftTol;
    } rows[] = {
        {"stripes_256.mon", nullptr, 256, "stripes", 10, 14, 24, 0.4165, 24, 0.015, 0.01, 0.015, 0.01},
        {"stripes_bin_256.mon", nullptr, 256, "stripes", 8, 12, 20, 0.4001, 20, 0.015, 0.01, 0.015, 0.01},
        {"aligned_512.mon", nullptr, 512, "stripes", 10.99, 10.99, 22.01, 0.5, 22.01, 0.015, 0.01, 0.015,
         0.015},
        {"maze_512.mon", nullptr, 512, "maze", 14.04, 14.04, 28.09, 0.5, 28.46, 0.025, 0.01, 0.015, 0.015},
        {"kerr_a_256.mon", "kerr_bg_256.mon", 256, "maze", 10.07, 10.07, 20.15, 0.5, 20.11, 0.035, 0.01,
         0.012, 0.015},
        {"kerr_b_256.mon", "kerr_bg_256.mon", 256, "maze", 7.61, 12.42, 20.03, 0.38, 20.11, 0.035, 0.01,
         0.012, 0.015},
        {"narrow_384.mon", nullptr, 384, "maze", 5.9, 18.7, 24.6, 0.24, 24.08, 0.035, 0.02, 0.012, 0.015},
        {"bubbles_384.mon", nullptr, 384, "bubbles", 7.44, 26.38, 33.82, 0.22, 26.14, 0.035, 0.03, 0.012,
         0.015},
    };
    for (const auto& r : rows) {
        const Image img = sample(r.file, r.side);
        const Image bg = r.background ? sample(r.background, r.side) : Image{};
        const Result m = measure(img, r.background ? &bg : nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.error, "") << r.file;
        EXPECT_EQ(m.pattern, r.pattern) << r.file;
        EXPECT_TRUE(m.reliable) << r.file << ": " << (m.warnings.empty() ? "" : m.warnings[0].code);
        EXPECT_NEAR(m.blackWidthPx, r.black, r.black * r.widthTol) << r.file;
        EXPECT_NEAR(m.whiteWidthPx, r.white, r.white * r.widthTol) << r.file;
        EXPECT_NEAR(m.periodPx, r.period, r.period * r.periodTol) << r.file;
        EXPECT_NEAR(m.blackFraction, r.fraction, r.fractionTol) << r.file;
        EXPECT_NEAR(m.periodFftPx, r.periodFft, r.periodFft * r.fftTol) << r.file;
        const struct {
            double measured, se, sys, truth;
        } numbers[] = {{m.blackWidthPx, m.blackWidthSePx, m.blackWidthSysPx, r.black},
                       {m.whiteWidthPx, m.whiteWidthSePx, m.whiteWidthSysPx, r.white},
                       {m.periodPx, m.periodSePx, m.periodSysPx, r.period},
                       {m.blackFraction, m.blackFractionSe, m.blackFractionSys, r.fraction}};
        for (const auto& n : numbers) {
            EXPECT_GT(n.se, 0) << r.file;
            EXPECT_LE(std::fabs(n.measured - n.truth), 3 * std::hypot(n.se, n.sys))
                << r.file << " truth " << n.truth;
            if (r.side >= 512) {
                EXPECT_LE(n.se, 0.015 * n.truth) << r.file;
            }
        }
        EXPECT_GE(m.periodsAcross, 3) << r.file;
        EXPECT_GE(m.blocks, 4) << r.file;
    }
}

// Bubbles against the truth of the mask: count, density and equivalent diameter within 3 %.
TEST(Measure, BubblesCountedAndSized) {
    const Result m = measure(sample("bubbles_384.mon", 384), nullptr, std::nullopt, Settings{});
    ASSERT_TRUE(m.bubbles) << m.pattern;
    const Bubbles& b = *m.bubbles;
    EXPECT_TRUE(b.black);
    EXPECT_NEAR(b.count, 199, 199 * 0.03);
    EXPECT_NEAR(b.countInside, 171, 171 * 0.03);
    EXPECT_NEAR(b.densityPerPx2, 0.0013496, 0.0013496 * 0.03);
    EXPECT_NEAR(b.meanDiameterPx, 14.86, 14.86 * 0.03);
    EXPECT_NEAR(b.sdDiameterPx, 0.68, 0.3);
    EXPECT_NEAR(b.meanNearestNeighbourPx, 27.99, 27.99 * 0.03);
    EXPECT_EQ(m.whiteDomains, 1);
}

// Frames without a domain pattern, and patterns too faint, too few or too coarse for widths, are
// never reliable, each with the warning that says why; the Kerr background alone is no maze.
TEST(Measure, FramesWithoutUsableNumbersSaySo) {
    const int side = 256;
    uint32_t seed = 7;
    auto gauss = [&seed] { // the sum of twelve uniform numbers, less six
        double s = 0;
        for (int k = 0; k < 12; ++k)
            s += ((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0;
        return s - 6;
    };
    auto frame = [&](const std::function<double(int, int)>& grey) {
        Image img{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                img.px[static_cast<size_t>(y) * side + x] = grey(x, y);
        return img;
    };
    auto stripes = [](int x, int y, double period) {
        return std::fmod(0.9 * x + 0.3 * y, period) < period / 2;
    };
    const struct {
        const char* name;
        Image image;
        const char* warning;
        const char* pattern; // or nullptr for any
    } rows[] = {
        {"Kerr background", sample("kerr_bg_256.mon", side), "no_spectral_peak", "none"},
        {"noise", frame([&](int, int) { return 128 + 20 * gauss(); }), "no_spectral_peak", "none"},
        {"faint stripes",
         frame([&](int x, int y) { return 128 + (stripes(x, y, 20) ? 4 : -4) + 20 * gauss(); }),
         "low_contrast", "none"},
        {"two stripes", frame([&](int x, int y) { return (stripes(x, y, 320) ? 70 : 180) + 5 * gauss(); }),
         "few_periods", nullptr},
        {"one wall", frame([&](int x, int y) { return (x + 0.3 * y < 140 ? 70 : 180) + 5 * gauss(); }),
         "one_domain", nullptr},
    };
    for (const auto& r : rows) {
        const Result m = measure(r.image, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.error, "") << r.name;
        EXPECT_FALSE(m.reliable) << r.name;
        if (r.pattern) {
            EXPECT_EQ(m.pattern, r.pattern) << r.name;
        }
        EXPECT_TRUE(std::any_of(m.warnings.begin(), m.warnings.end(), [&](const Warning& w) {
            return w.code == r.warning && w.serious && !w.message.empty();
        })) << r.name;
    }
    // A rectangle drawn elsewhere is said, and leaves the numbers usable.
    Result m = measure(sample("maze_512.mon", 512), nullptr, Rect{0, 0, 256, 256}, Settings{});
    addWarning(m, "rectangle_elsewhere");
    EXPECT_TRUE(m.reliable);
    ASSERT_EQ(m.warnings.size(), 1u);
    EXPECT_EQ(m.warnings[0].code, "rectangle_elsewhere");
}

// A maze binarized before it is measured: the light's division lifts some of its white pixels
// above white, which is no dust.
TEST(Measure, BinarizedPictureHoldsNoDefects) {
    Image maze = sample("maze_512.mon", 512);
    for (float& v : maze.px)
        v = v > 112 ? 255 : 0;
    const Result r = measure(maze, nullptr, std::nullopt, Settings{});
    EXPECT_TRUE(r.reliable) << (r.warnings.empty() ? "" : r.warnings[0].code);
}

// The blocks' map tiles the rectangle; with the pattern in the left half only, the blocks wholly on
// the right stand out and those wholly on the left do not; on the whole maze none does, and each
// block's period is near the frame's.
TEST(Measure, BlockMapShowsWhereTheFrameDiffers) {
    Image maze = sample("maze_512.mon", 512), half = maze;
    for (int y = 0; y < 512; ++y)
        for (int x = 256; x < 512; ++x)
            half.px[static_cast<size_t>(y) * 512 + x] = 200;
    const Rect rect{8, 8, 504, 500};
    for (const Image* image : {&maze, &half}) {
        const Result r = measure(*image, nullptr, rect, Settings{});
        ASSERT_EQ(r.error, "");
        ASSERT_EQ(static_cast<int>(r.blockMap.size()), r.blocks);
        int64_t covered = 0;
        for (const BlockReading& b : r.blockMap) {
            EXPECT_TRUE(b.rect.x1 >= rect.x1 && b.rect.x2 <= rect.x2 && b.rect.y1 >= rect.y1 &&
                        b.rect.y2 <= rect.y2);
            covered += static_cast<int64_t>(b.rect.x2 - b.rect.x1) * (b.rect.y2 - b.rect.y1);
            if (image == &maze) {
                EXPECT_FALSE(b.odd);
                EXPECT_NEAR(b.periodPx / r.periodPx, 1, 0.15);
            } else if (b.rect.x1 >= 256) {
                EXPECT_TRUE(b.odd);
            } else if (b.rect.x2 <= 256) {
                EXPECT_FALSE(b.odd);
            }
        }
        EXPECT_EQ(covered, static_cast<int64_t>(rect.x2 - rect.x1) * (rect.y2 - rect.y1));
        const bool uneven = std::any_of(r.warnings.begin(), r.warnings.end(),
                                        [](const Warning& w) { return w.code == "uneven"; });
        EXPECT_EQ(uneven, image == &half);
    }
}

// The spectral period of straight stripes from the 2-D peak: within 1 % at 256 pixels, oblique,
// and on a picture three times as wide as high; the rings had rounded it by up to 7 %.
TEST(Measure, SpectralPeriodOfStraightStripes) {
    const struct {
        int w, h;
        double period, angle;
    } rows[] = {{256, 256, 24, 25}, {256, 256, 17.3, -61}, {640, 200, 24.7, 30}, {200, 640, 21.2, 75}};
    for (const auto& r : rows) {
        Image img{r.w, r.h, std::vector<float>(static_cast<size_t>(r.w) * r.h)};
        const double nx = std::cos(r.angle * M_PI / 180), ny = std::sin(r.angle * M_PI / 180);
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                const double u = std::fmod(x * nx + y * ny + 1000 * r.period, r.period);
                img.px[static_cast<size_t>(y) * r.w + x] = u < 0.4 * r.period ? 60 : 180;
            }
        const Result m = measure(img, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << r.w << "x" << r.h;
        EXPECT_NEAR(m.periodFftPx, r.period, 0.01 * r.period) << r.w << "x" << r.h << " at " << r.angle;
        EXPECT_NEAR(m.periodPx, r.period, 0.01 * r.period) << r.w << "x" << r.h << " at " << r.angle;
    }
}

// Stripes in grains (a chevron, and three grains side by side): each grain found with its
// direction, the widths within 1.5 %, every band within a quarter pixel and named by its grain.
TEST(Measure, StripesInSeveralGrains) {
    const struct {
        const char* name;
        std::vector<double> angles; // of the walls in each grain, left to right or top to bottom
        bool across;                // grains side by side rather than one above the other
    } rows[] = {{"chevron", {-60, 60}, false}, {"three grains", {0, 50, -45}, true}};
    for (const auto& r : rows) {
        const int side = 512, n = static_cast<int>(r.angles.size());
        Image img{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
        uint32_t seed = 11;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int k = std::min(n - 1, (r.across ? x : y) * n / side);
                const double normal = (r.angles[static_cast<size_t>(k)] - 90) * M_PI / 180;
                double dark = 0; // share of the pixel in a black band, 4 x 4 samples, as a camera sees it
                for (int s = 0; s < 16; ++s) {
                    const double px = x + (s % 4 - 1.5) / 4, py = y + (s / 4 - 1.5) / 4;
                    dark += std::fmod(px * std::cos(normal) + py * std::sin(normal) + 1e4, 20.0) < 8
                                ? 1.0 / 16
                                : 0;
                }
                seed = seed * 1664525u + 1013904223u;
                img.px[static_cast<size_t>(y) * side + x] = 180 - 120 * dark + (seed >> 24) / 16.0;
            }
        const Result m = measure(img, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << r.name;
        ASSERT_EQ(m.grains.size(), r.angles.size()) << r.name;
        EXPECT_TRUE(m.reliable) << r.name;
        for (const Grain& g : m.grains) {
            EXPECT_TRUE(
                std::any_of(r.angles.begin(), r.angles.end(),
                            [&](double a) { return std::fabs(std::remainder(g.angleDeg - a, 180.0)) < 2; }))
                << r.name << " grain at " << g.angleDeg;
        }
        EXPECT_NEAR(m.blackWidthPx, 8, 8 * 0.015) << r.name;
        EXPECT_NEAR(m.whiteWidthPx, 12, 12 * 0.015) << r.name;
        EXPECT_GT(m.bands.size(), 40u) << r.name;
        for (const Band& b : m.bands) {
            EXPECT_NEAR(b.widthPx, b.black ? 8 : 12, 0.25)
                << r.name << " grain " << b.grain << " at " << b.positionPx;
            EXPECT_GE(b.grain, 1) << r.name;
        }
        const std::string json = recordJson(m, {});
        EXPECT_NE(json.find("\"grains\":[{\"id\":1,\"angle_deg\":"), std::string::npos) << r.name;
        EXPECT_NE(json.find("\"grain\":1}"), std::string::npos) << r.name;
    }
}

// The record: valid JSON whatever bytes the file name holds, null widths for no pattern, and a CSV
// row of as many fields as its header.
TEST(Measure, RecordsHoldEveryFieldOnce) {
    const Result m = measure(sample("bubbles_384.mon", 384), nullptr, std::nullopt, Settings{});
    const std::string json = recordJson(m, RecordInfo{"a\"b\\c\n\xff\xc3(.mon", 3, 0.5, "", -0.25});
    EXPECT_NE(json.find("\"file\":\"a\\\"b\\\\c\\u000a\xef\xbf\xbd\xef\xbf\xbd(.mon\""), std::string::npos)
        << json;
    for (const char* key : {"\"page\":3,\"value\":-0.25", "\"reliable\":true", "\"warnings\":[]",
                            "\"black_width_se_px\":", "\"periods_across\":", "\"bubbles\":{",
                            "\"count_inside\":", "\"density_per_um2\":", "\"pattern\":\"bubbles\""})
        EXPECT_NE(json.find(key), std::string::npos) << key;
    Result none = measure(sample("kerr_bg_256.mon", 256), nullptr, std::nullopt, Settings{});
    EXPECT_NE(recordJson(none, {}).find("\"black_width_px\":null"), std::string::npos);
    auto fields = [](const std::string& line) { return std::count(line.begin(), line.end(), ',') + 1; };
    EXPECT_EQ(fields(recordCsv(m, {"x.mon", 0, 0.5, "", 12.5})), fields(recordCsvHeader()));
    // The CSV gives the widths in micrometres as the JSON does, and the orientation.
    auto column = [](const std::string& line, const std::string& name) {
        std::vector<std::string> names, values;
        std::string cell;
        for (std::istringstream in(recordCsvHeader()); std::getline(in, cell, ',');)
            names.push_back(cell);
        for (std::istringstream in(line); std::getline(in, cell, ',');)
            values.push_back(cell);
        const auto at = std::find(names.begin(), names.end(), name) - names.begin();
        return static_cast<size_t>(at) < values.size() ? values[static_cast<size_t>(at)] : std::string();
    };
    const std::string row = recordCsv(m, {"x.mon", 0, 0.5, "", std::nullopt});
    EXPECT_NEAR(std::stod(column(row, "black_width_um")), m.blackWidthPx / 2, 1e-6);
    EXPECT_NEAR(std::stod(column(row, "period_se_um")), m.periodSePx / 2, 1e-6);
    EXPECT_FALSE(column(row, "orientation_deg").empty());
    Result failed;
    failed.error = "the image is empty";
    EXPECT_EQ(fields(recordCsv(failed, {"x.mon", 0, 0, "", 1})), fields(recordCsvHeader()));
    EXPECT_EQ(fields(recordCsv(none, {"x.mon", 0, 0, "", std::nullopt})), fields(recordCsvHeader()));
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
        Image img{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
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
    Image bands{128, 128, std::vector<float>(128 * 128)};
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            bands.px[static_cast<size_t>(y) * 128 + x] = x % 16 < 4 ? 60.0 : 180.0;
    const Image blurred{128, 128, blur(bands, 1.5)};
    EXPECT_NEAR(interiorIsodata(blurred), 120.0, 1.0);
}

// The level from the neighbourhoods' extremes, made a few rows at a time, is the one from each
// pixel's 5 x 5 neighbourhood looked at whole, whatever the picture's height against the window.
TEST(MeasureSteps, InteriorLevelFromEachPixelsWholeNeighbourhood) {
    for (const auto& [w, h] : {std::pair{40, 16}, {23, 2}, {17, 3}, {31, 4}, {19, 5}, {16, 6}, {3, 37}}) {
        Image g{w, h, std::vector<float>(static_cast<size_t>(w) * h)};
        uint32_t seed = 11;
        for (size_t i = 0; i < g.px.size(); ++i)
            g.px[i] = static_cast<float>((i % static_cast<size_t>(w) / 4 + i / static_cast<size_t>(w) / 3) %
                                             2 * 500 +
                                         ((seed = seed * 1664525 + 1013904223) >> 24));
        const auto [lo, hi] = detail::valueRange(g.px);
        const double scale = 4095 / (hi - lo);
        std::vector<double> blackN(4097), blackS(4097), whiteN(4097), whiteS(4097);
        double mean = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float most = -1e30F, least = 1e30F;
                for (int j = -2; j <= 2; ++j)
                    for (int i = -2; i <= 2; ++i) {
                        const float v = g.px[static_cast<size_t>(detail::mirror(y + j, h)) * w +
                                             detail::mirror(x + i, w)];
                        most = std::max(most, v), least = std::min(least, v);
                    }
                const double v = g.px[static_cast<size_t>(y) * w + x];
                const auto b = static_cast<size_t>((most - lo) * scale) + 1,
                           c = static_cast<size_t>((least - lo) * scale);
                blackN[b] += 1, blackS[b] += v, whiteN[c] += 1, whiteS[c] += v, mean += v;
            }
        for (size_t b = 1; b < 4097; ++b)
            blackN[b] += blackN[b - 1], blackS[b] += blackS[b - 1];
        for (size_t b = 4096; b-- > 0;)
            whiteN[b] += whiteN[b + 1], whiteS[b] += whiteS[b + 1];
        double t = mean / static_cast<double>(g.px.size());
        for (int i = 0; i < 100; ++i) {
            const auto k = static_cast<size_t>(std::clamp(static_cast<int>((t - lo) * scale), 0, 4095));
            if (blackN[k] == 0 || whiteN[k + 1] == 0) break;
            t = (blackS[k] / blackN[k] + whiteS[k + 1] / whiteN[k + 1]) / 2;
        }
        EXPECT_NEAR(interiorIsodata(g), t, 1e-9 * t) << w << " x " << h;
    }
}

// The recursive median run on a single-precision picture is the kernels' median of its values as
// reals: truncated alike, values without an integer (not a number, beyond 32 bits) taken as 0,
// whether they all lie within 16 bits (0 to 65535) or not.
TEST(MeasureSteps, MedianOfFloatsIsTheKernelsMedian) {
    for (const auto& [w, h] :
         {std::pair{70, 3}, {33, 64}, {50, 65}, {41, 66}, {37, 129}, {64, 200}, {19, 40}})
        for (const float beyond : {65535.5F, 65536.0F, -0.75F, -1.0F, -70000.75F}) {
            Image g{w, h, std::vector<float>(static_cast<size_t>(w) * h)};
            uint32_t seed = 7;
            for (float& v : g.px)
                v = static_cast<float>((seed = seed * 1664525 + 1013904223) >> 16) + 0.25F;
            g.px[static_cast<size_t>(w) + 1] = std::nanf("");
            g.px[static_cast<size_t>(w) + 2] = -3e9F;
            g.px[static_cast<size_t>(w) + 3] = beyond;
            std::vector<double> whole(g.px.begin(), g.px.end());
            ASSERT_EQ(Medk(w, h, whole.data()), 0);
            detail::median(g);
            EXPECT_TRUE(std::equal(whole.begin(), whole.end(), g.px.begin()))
                << w << " x " << h << ", " << beyond;
        }
}

// The tallies of the picture smoothed more, made row by row as the blur makes them, are those of
// the blurred picture held whole and binarized, to the last bit; a wide blur takes the whole way.
TEST(MeasureSteps, TalliesRowByRowAreThoseOfTheWholeBlur) {
    Image g{97, 61, std::vector<float>(97 * 61)};
    uint32_t seed = 3;
    for (size_t i = 0; i < g.px.size(); ++i)
        g.px[i] = static_cast<float>((i / 7 + i % 97 / 9) % 2 * 40000 +
                                     ((seed = seed * 1664525 + 1013904223) >> 20));
    const detail::Blocks blocks = detail::blocksOf(g.width, g.height, 9.0);
    for (double sigma : {2.0, 0.6, 4.5}) {
        const Image blurred{g.width, g.height, blur(g, sigma)};
        std::vector<uint8_t> black(blurred.px.size());
        for (size_t i = 0; i < black.size(); ++i)
            black[i] = blurred.px[i] < 21000.0;
        const auto whole = detail::stereologyOf(blurred, 21000.0, black, blocks);
        const auto rows = detail::stereologyOfBlurred(g, sigma, 21000.0, blocks);
        ASSERT_EQ(rows.size(), whole.size());
        for (size_t k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(rows[k].black, whole[k].black) << sigma << " block " << k;
            EXPECT_EQ(rows[k].pixels, whole[k].pixels);
            EXPECT_EQ(rows[k].cells, whole[k].cells);
            EXPECT_EQ(rows[k].length, whole[k].length);
            EXPECT_GT(rows[k].length, 0.0);
        }
    }
}

// The wall length taken to no blur through three blurs: a length that falls on a straight line
// in the variance is taken along it, one that falls on the curve L0 - a s / (1 + b s) is taken
// along the curve, one bending the other way along the line, and the curve never adds more than
// the line's correction again.
TEST(MeasureSteps, WallLengthTakenToNoBlur) {
    const double s[3] = {2.0, 5.0, 8.0};
    auto along = [&](double b, double a = 0.01) {
        std::array<double, 3> l{};
        for (int i = 0; i < 3; ++i)
            l[static_cast<size_t>(i)] = 1 - a * s[i] / (1 + b * s[i]);
        return l;
    };
    struct Row {
        std::array<double, 3> perArea;
        double curve, line;
        bool pinched = false; // the fall stops short after the first step: necks closed
    };
    const double lineOfCurve = 1 + (along(0.1)[0] - along(0.1)[1]) / along(0.1)[0] * s[0] / 3;
    const Row rows[] = {
        {along(0), 1 / along(0)[0], 1 / along(0)[0]},                           // a straight line
        {along(0.1), 1 / along(0.1)[0], lineOfCurve},                           // the curve
        {{0.98, 0.95, 0.91}, 1 + 0.03 / 0.98 * 2 / 3, 1 + 0.03 / 0.98 * 2 / 3}, // bending the other way
        {along(50), 1 + (along(50)[0] - along(50)[1]) / along(50)[0] * 2 / 3 * 2,
         1 + (along(50)[0] - along(50)[1]) / along(50)[0] * 2 / 3}, // the curvature held at 1 / s2
        // 6.7 % lost at the first step, 5 % at the second: necks closed (b 1 / 16)
        {{0.060, 0.056, 0.053}, 1 + 0.004 / 0.06 * 2 / 3 * (1 + 5.0 / 16), 1 + 0.004 / 0.06 * 2 / 3, true},
        {{0.98, 0.0, 0.91}, 1, 1}, // no walls at one blur
    };
    for (const Row& row : rows) {
        const double l[3] = {row.perArea[0], row.perArea[1], row.perArea[2]};
        const detail::NoBlur n = detail::lengthAtNoBlur(s, l);
        EXPECT_NEAR(n.curve, row.curve, 1e-9) << row.perArea[0] << " " << row.perArea[2];
        EXPECT_NEAR(n.line, row.line, 1e-9);
        EXPECT_EQ(n.pinched, row.pinched) << row.perArea[0] << " " << row.perArea[2];
    }
}

// What the noise inside the domains says of the camera, on squares of two levels 32 px wide: a
// linear camera's Gaussian noise and its shot noise with read noise stay within the gain; the same
// Gaussian noise under a gamma of 1.6 skews the dark squares beyond it, and under 0.6 makes them
// the noisier.
TEST(MeasureSteps, CameraResponseFromTheNoiseInside) {
    const int side = 512;
    std::vector<uint8_t> black(static_cast<size_t>(side) * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            black[static_cast<size_t>(y) * side + x] = ((x / 32) + (y / 32)) % 2;
    const struct Row {
        const char* camera;
        double gamma, photons; // photons at the linear level 1 (0: Gaussian noise alone)
        bool stretched, compressed;
    } rows[] = {{"linear", 1, 0, false, false},
                {"shot and read noise", 1, 100, false, false},
                {"gamma 1.6", 1.6, 0, true, false},
                {"gamma 0.6", 0.6, 0, false, true}};
    for (const Row& row : rows) {
        std::mt19937 rng(7);
        std::normal_distribution<double> read(0, 0.028);
        Image g{side, side, {}};
        for (uint8_t b : black) {
            const double level = b ? 0.12 : 0.74;
            double v = level;
            if (row.photons > 0) v = std::poisson_distribution<int>(level * row.photons)(rng) / row.photons;
            v += read(rng);
            g.px.push_back(static_cast<float>(255 * std::pow(std::max(v, 0.0), row.gamma)));
        }
        EXPECT_EQ(detail::darkSkew(g, black, 4) > detail::kStretched, row.stretched) << row.camera;
        EXPECT_EQ(detail::noiseRatio(g, black, 4) > detail::kCompressed, row.compressed) << row.camera;
    }
    // Too few pixels inside either colour to tell: nothing is said.
    EXPECT_EQ(detail::darkSkew(Image{side, side, std::vector<float>(black.size(), 1.0F)}, black, 40), 0);
}

// The blocks' error about a plane: a trend across the frame alone gives none, adding a plane to
// any blocks' values changes nothing, and on a grid too small to fit one it is the jackknife.
TEST(MeasureSteps, JackknifeAboutThePlaneOfTheBlocks) {
    detail::Blocks blocks;
    blocks.across = 4, blocks.down = 3;
    const double scatter[12] = {0.3, -0.1, 0.4, -0.5, 0.2, 0.0, -0.3, 0.1, 0.6, -0.2, -0.4, 0.2};
    auto leaveOut = [&](double tilt, double noise) {
        return [=, &blocks](int k) {
            double sum = 0;
            for (int j = 0; j < blocks.count(); ++j)
                if (j != k) sum += tilt * (j % blocks.across - 2 * (j / blocks.across)) + noise * scatter[j];
            return sum / (blocks.count() - 1);
        };
    };
    EXPECT_NEAR(detail::jackknifeAboutPlane(blocks, leaveOut(1, 0)), 0, 1e-12);
    EXPECT_GT(detail::jackknife(blocks.count(), leaveOut(1, 0)), 0.3);
    const double noiseOnly = detail::jackknifeAboutPlane(blocks, leaveOut(0, 1));
    EXPECT_GT(noiseOnly, 0.05);
    EXPECT_NEAR(detail::jackknifeAboutPlane(blocks, leaveOut(5, 1)), noiseOnly, 1e-9);
    blocks.across = blocks.down = 2;
    EXPECT_DOUBLE_EQ(detail::jackknifeAboutPlane(blocks, leaveOut(0, 1)),
                     detail::jackknife(4, leaveOut(0, 1)));
}

// The period's standard error of straight stripes is the scatter a repeat shows: frames of one
// sample at other phases of its stripes. A wall's error lengthens one run and shortens the next,
// which cancels along a line across the frame; blocks that cut the lines counted it in each and
// made the error about twice the scatter.
TEST(MeasureSteps, StripesPeriodErrorIsTheRepeatsScatter) {
    const int side = 256, frames = 32;
    const double nx = std::cos(0.3), ny = std::sin(0.3);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 6);
    std::vector<double> period, se;
    for (int f = 0; f < frames; ++f) {
        Image img{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
        const double phase = 20.0 * f / frames + 0.37;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                double dark = 0; // share of the pixel in a black band, 4 x 4 samples
                for (int k = 0; k < 16; ++k) {
                    const double u = (x + (k % 4 - 1.5) / 4) * nx + (y + (k / 4 - 1.5) / 4) * ny + phase;
                    dark += std::fmod(u, 20.0) < 8 ? 1.0 / 16 : 0.0;
                }
                img.px[static_cast<size_t>(y) * side + x] =
                    static_cast<float>(60 + 120 * (1 - dark) + noise(random));
            }
        const Result m = measure(img, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << f;
        period.push_back(m.periodPx), se.push_back(m.periodSePx);
    }
    double mean = 0, spread = 0;
    for (double p : period)
        mean += p / frames;
    for (double p : period)
        spread += (p - mean) * (p - mean) / (frames - 1);
    std::nth_element(se.begin(), se.begin() + frames / 2, se.end());
    const double ratio = std::sqrt(spread) / se[frames / 2];
    EXPECT_GT(ratio, 0.75);
    EXPECT_LT(ratio, 1.6);
}

// Stripes under light falling off across the frame, at three angles: the light divided out
// leaves the walls in place up to the border (its blur carried the stripes' phase there, and the
// period read up to 0.1 % long), and the runs are taken along the direction that makes them
// shortest, whatever direction they start from.
TEST(MeasureSteps, StripesUnderUnevenLightAlongTheirShortestRuns) {
    for (const double angle : {0.0, 17.0, -38.0}) {
        const int side = 256;
        const double nx = std::cos(angle * M_PI / 180), ny = std::sin(angle * M_PI / 180);
        Image img{side, side, std::vector<float>(static_cast<size_t>(side) * side)};
        uint32_t seed = 5;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                double dark = 0; // share of the pixel in a black band, 4 x 4 samples
                for (int k = 0; k < 16; ++k) {
                    const double u = (x + (k % 4 - 1.5) / 4) * nx + (y + (k / 4 - 1.5) / 4) * ny + 7.1;
                    dark += std::fmod(std::fmod(u, 20.0) + 20.0, 20.0) < 8 ? 1.0 / 16 : 0.0;
                }
                seed = seed * 1664525u + 1013904223u;
                img.px[static_cast<size_t>(y) * side + x] = static_cast<float>(
                    (40 + 150 * (1 - dark)) * (0.7 + 0.6 * x / side) + (seed >> 24) / 32.0);
            }
        const Result m = measure(img, nullptr, std::nullopt, Settings{});
        ASSERT_EQ(m.pattern, "stripes") << angle;
        EXPECT_NEAR(m.periodPx, 20, 20 * 3e-4) << angle;
        EXPECT_NEAR(std::remainder(m.orientationDeg - angle - 90, 180.0), 0, 0.1) << angle;
        Image smooth{side, side, blur(img, detail::kSmoothing)};
        const detail::Blocks blocks = detail::blocksOf(side, side, 20);
        for (const double off : {-1.5, 1.0}) {
            double normal = angle + off;
            const auto runs = detail::runsAlongShortest(smooth, m.threshold, normal, blocks, nullptr);
            ASSERT_TRUE(runs) << angle;
            // A fifth of a degree off lengthens the runs by 6e-6.
            EXPECT_NEAR(std::remainder(normal - angle, 180.0), 0, 0.3) << angle << " from " << off;
        }
    }
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
        {Image{64, 64, std::vector<float>(64 * 64, 128.0)}, std::nullopt},
        {Image{64, 64, std::vector<float>(64 * 64, 0.0)}, std::nullopt},
        {Image{1, 1, {7.0}}, std::nullopt},
        {Image{3, 1000, std::vector<float>(3000, 5.0)}, std::nullopt},
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
    Image strip{16000, 96, std::vector<float>(16000 * 96)};
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
    const std::vector<double> px(img.px.begin(), img.px.end());
    TovraMeasurement m{};
    ASSERT_EQ(tovra_measure(px.data(), 256, 256, nullptr, 0, 0, 0, 0, &m), 0);
    const Result direct = measure(img, nullptr, std::nullopt, Settings{});
    EXPECT_STREQ(m.pattern, "stripes");
    EXPECT_EQ(m.period_px, direct.periodPx);
    ASSERT_EQ(m.bands, static_cast<int32_t>(direct.bands.size()));
    double width = 0;
    int32_t black = -1;
    ASSERT_EQ(tovra_measure_band(0, nullptr, nullptr, &width, &black), 0);
    EXPECT_EQ(width, direct.bands[0].widthPx);
    EXPECT_EQ(tovra_measure_band(m.bands, nullptr, nullptr, &width, &black), 1);
    EXPECT_EQ(m.period_se_px, direct.periodSePx);
    EXPECT_EQ(m.reliable, 1);
    // The record as JSON: asked for its length first, then cut to the room given.
    const int32_t length = tovra_measure_json(nullptr, 0);
    EXPECT_EQ(static_cast<size_t>(length), recordJson(direct, {}).size());
    char small[8];
    EXPECT_EQ(tovra_measure_json(small, sizeof small), length);
    EXPECT_EQ(std::string(small), recordJson(direct, {}).substr(0, 7));
    // With a pixel size, the micrometres too; without a usable one, the record as it was.
    std::string um(static_cast<size_t>(tovra_measure_record(nullptr, 0, 0.5)) + 1, '\0');
    tovra_measure_record(um.data(), static_cast<int32_t>(um.size()), 0.5);
    EXPECT_NE(um.find("\"pixel_size_um\":0.5,"), std::string::npos) << um;
    EXPECT_EQ(tovra_measure_record(nullptr, 0, -1), length);
    EXPECT_EQ(tovra_measure(nullptr, 0, 0, nullptr, 0, 0, 0, 0, &m), 1);
    EXPECT_STRNE(m.error, "");
    // Doubles beyond single precision's range, either way, measure as the picture in bytes.
    for (double factor : {1e300, 1e-300}) {
        std::vector<double> scaled = px;
        for (double& v : scaled)
            v *= factor;
        ASSERT_EQ(tovra_measure(scaled.data(), 256, 256, nullptr, 0, 0, 0, 0, &m), 0) << factor << m.error;
        EXPECT_NEAR(m.period_px, direct.periodPx, 1e-3 * direct.periodPx) << factor;
        EXPECT_NEAR(m.threshold / factor, direct.threshold, 1e-3 * direct.threshold) << factor;
    }
}

// The measurement does not depend on whole grey levels: the same picture scaled by any factor
// (0..1 floats, 16 bits, millions) gives the same numbers as in 0..255. Whole-number filtering
// once made a 0..1 picture uniform.
// A picture's numbers do not depend on the one measured before it on the same thread, though the
// spectrum's buffers are kept: one a little larger, of the same transform size, leaves nothing in
// the padding that a size which is not a product of small primes needs.
TEST(Measure, NumbersDoNotDependOnThePictureBefore) {
    const Image maze = sample("maze_512.mon", 512);
    auto cut = [&](int w, int h, bool invert) {
        Image g{w, h, {}};
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                const float v = maze.px[static_cast<size_t>(y + 100) * 512 + x + 50];
                g.px.push_back(invert ? 255 - v : v);
            }
        return g;
    };
    const Image first = cut(335, 313, false), second = cut(333, 301, true); // both 336 x 315
    std::string alone, after;
    std::thread([&] {
        alone = recordJson(measure(second, nullptr, std::nullopt, Settings{}), RecordInfo{});
    }).join();
    std::thread([&] {
        (void)measure(first, nullptr, std::nullopt, Settings{});
        after = recordJson(measure(second, nullptr, std::nullopt, Settings{}), RecordInfo{});
    }).join();
    EXPECT_EQ(after, alone);
}

// An image given up to the measurement is measured alike, its pixels freed once copied out.
TEST(Measure, GivenImageMeasuredAlikeAndFreed) {
    const Image bytes = sample("maze_512.mon", 512);
    Image given = bytes;
    const Result kept = measure(bytes, nullptr, Rect{10, 20, 400, 500}, Settings{});
    const Result r = measure(static_cast<Image&&>(given), nullptr, Rect{10, 20, 400, 500}, Settings{});
    EXPECT_TRUE(given.px.empty() && given.px.capacity() == 0);
    EXPECT_EQ(given.width, 512);
    EXPECT_EQ(recordJson(r, RecordInfo{}), recordJson(kept, RecordInfo{}));
}

TEST(Measure, AnyValueScaleGivesTheSameWidths) {
    for (const auto& [name, side] :
         {std::pair{"maze_512.mon", 512}, {"kerr_a_256.mon", 256}, {"stripes_256.mon", 256}}) {
        const Image bytes = sample(name, side);
        const Result base = measure(bytes, nullptr, std::nullopt, Settings{});
        ASSERT_TRUE(base.error.empty()) << name;
        for (double factor : {1e-6, 1.0 / 255, 257.0, 1e6}) {
            Image scaled = bytes;
            for (float& v : scaled.px)
                v = static_cast<float>(v * factor);
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
