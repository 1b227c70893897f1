#include "quarnk.h"
#include "reference.h"
#include "support/test_support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace testing_support;

namespace {

constexpr size_t kAccCells = 2700001;

struct Line {
    int32_t votes;
    double slope;
    double intercept;
};

struct Fixture {
    int32_t width;
    int32_t height;
    std::vector<double> image;
    std::vector<double> acc = std::vector<double>(kAccCells, -5.0);

    Fixture(int32_t w, int32_t h) : width(w), height(h), image(static_cast<size_t>(w) * h, 255.0) {}
    void black(int32_t x, int32_t y) { image[static_cast<size_t>(y) * width + x] = 0; }
    Line run(int32_t bound, double step, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        Line l{bound, 0, 0};
        EXPECT_EQ(
            Hcck(width, x0, y0, x1, y1, &l.votes, step, &l.slope, &l.intercept, image.data(), acc.data()), 0);
        return l;
    }
    Line run(int32_t bound, double step = 1.0) { return run(bound, step, 0, 0, width, height); }
};

} // namespace

TEST(Hough, EmptyRegionGivesFallbackLine) {
    Fixture f(50, 50);
    const Line l = f.run(3000);
    EXPECT_EQ(l.votes, 0);
    EXPECT_EQ(l.slope, -std::cos(0.001) / std::sin(0.001));
    EXPECT_EQ(l.intercept, -750 / std::sin(0.001));
    // Cleared exactly up to element 2,253,300 and not beyond.
    EXPECT_EQ(f.acc[2253300], 0.0);
    EXPECT_EQ(f.acc[2253301], -5.0);
}

TEST(Hough, VerticalLinePeaksAtAngle180) {
    Fixture f(200, 200);
    for (int32_t y = 0; y < 100; ++y)
        f.black(100, y);
    const Line l = f.run(3000);
    EXPECT_EQ(l.votes, 100);
    EXPECT_EQ(f.acc[650 * 1501 + 180], 100.0);
    EXPECT_GT(std::fabs(l.slope), 1e10);
}

TEST(Hough, HorizontalLineAndBoundFeedback) {
    Fixture f(200, 200);
    for (int32_t x = 0; x < 100; ++x)
        f.black(x, 50);
    for (int32_t x = 0; x < 100; ++x)
        f.black(x, 120); // a second line with as many votes
    const Line first = f.run(3000);
    EXPECT_EQ(first.votes, 100);
    EXPECT_EQ(f.acc[800 * 1501 + 90], 100.0);
    EXPECT_NEAR(first.slope, 0.0, 1e-14);
    EXPECT_DOUBLE_EQ(first.intercept, 50.0);
    // The bound excludes equal counts: the other 100-vote line never follows.
    const Line next = f.run(first.votes);
    EXPECT_LT(next.votes, 100);
    EXPECT_GT(next.votes, 0);
}

TEST(Hough, AngleIndexFromRepeatedAddition) {
    // At step 0.7 the fourth angle is 2.0999999999999996, index 2: it shares column 2 with the
    // third angle, and column 3 gets no votes.
    Fixture f(10, 10);
    f.black(3, 4);
    f.run(3000, 0.7);
    double col2 = 0, col3 = 0;
    for (int r = 0; r <= 1500; ++r)
        col2 += f.acc[r * 1501 + 2], col3 += f.acc[r * 1501 + 3];
    EXPECT_EQ(col2, 2.0);
    EXPECT_EQ(col3, 0.0);
}

TEST(Hough, HalfDegreeStepUsesAngleIndices0To360) {
    Fixture f(20, 20);
    f.black(5, 7);
    f.run(3000, 0.5);
    double votes = 0;
    for (int r = 0; r <= 1500; ++r)
        for (int a = 0; a <= 360; ++a)
            votes += f.acc[r * 1501 + a];
    EXPECT_EQ(votes, 361.0);
}

TEST(Hough, RefusesStepsTheTableCannotHold) {
    Fixture f(10, 10);
    f.black(1, 1);
    for (double step : {0.0, -1.0, 0.1, std::numeric_limits<double>::quiet_NaN()}) {
        int32_t bound = 3000;
        double slope = 7, intercept = 7;
        EXPECT_EQ(Hcck(10, 0, 0, 10, 10, &bound, step, &slope, &intercept, f.image.data(), f.acc.data()), -1);
        EXPECT_EQ(bound, 3000);
        EXPECT_EQ(f.acc[0], -5.0);
    }
}

TEST(Hough, FarPixelsSkipVotesOutsideTheTable) {
    Fixture f(1200, 2);
    f.black(1100, 0); // rho up to 1100 + 750 at theta 0: beyond the table
    const Line l = f.run(3000);
    EXPECT_GT(l.votes, 0);
    EXPECT_EQ(f.acc[2253301], -5.0);
}

TEST(Hough, EqualPeaksInBothHalvesOfTheRowsGoToTheLowerRho) {
    // Two 200-vote lines: vertical x = 100 (rho index 650) and horizontal y = 300 (rho index 1050),
    // with enough scattered black pixels that both cores share the work.
    Fixture f(400, 400);
    for (int32_t i = 0; i < 200; ++i)
        f.black(100, i), f.black(200 + i, 300);
    std::mt19937 gen(9);
    for (int i = 0; i < 4000; ++i)
        f.black(200 + gen() % 200, gen() % 180);
    const Line l = f.run(3000);
    std::vector<double> acc(kAccCells);
    int32_t bound = 3000;
    double slope, intercept;
    reference::hough(400, 0, 0, 400, 400, &bound, 1.0, &slope, &intercept, f.image.data(), acc.data());
    EXPECT_EQ(l.votes, 200);
    EXPECT_EQ(bound, 200);
    EXPECT_EQ(l.slope, slope);
    EXPECT_GT(std::fabs(l.slope), 1e10); // the vertical line, first in scan order
}

TEST(Hough, MatchesPlainVersionBitForBit) {
    std::mt19937 gen(5);
    for (int trial = 0; trial < 7; ++trial) {
        // The last one is wide, so that whole vectors of votes fall below the table, into it from
        // between -1 and 0, and beyond it.
        const int32_t w = trial == 6 ? 1700 : 120, h = trial == 6 ? 8 : 90;
        Fixture f(w, h);
        f.image = randomImage(w, h, gen(), 2);
        if (trial >= 3) // dense enough to take the two-thread path
            for (size_t i = 0; i < f.image.size(); ++i)
                f.image[i] = (i % 3 == 0) ? 255 : 0;
        const double steps[] = {1.0, 0.7, 0.25, 1.0, 3.3, 0.12, 0.5};
        const int32_t x0 = trial, y0 = 2 * trial, x1 = w - trial, y1 = h - 1;
        std::vector<double> acc(kAccCells, -5.0);
        int32_t bound = trial == 2 ? 40 : 3000, refBound = bound;
        double s1, i1, s2, i2;
        ASSERT_EQ(Hcck(w, x0, y0, x1, y1, &bound, steps[trial], &s1, &i1, f.image.data(), f.acc.data()), 0);
        reference::hough(w, x0, y0, x1, y1, &refBound, steps[trial], &s2, &i2, f.image.data(), acc.data());
        EXPECT_EQ(bound, refBound);
        EXPECT_EQ(std::memcmp(&s1, &s2, sizeof s1), 0);
        EXPECT_EQ(std::memcmp(&i1, &i2, sizeof i1), 0);
        ASSERT_EQ(f.acc, acc) << "trial " << trial;
    }
}

TEST(Hough, VotesPastWhatSixteenBitsHoldAreAllCounted) {
    // A row of 600,000 black pixels and one with every other one: at 90 degrees each row's cell
    // gets far more than 65,535 votes.
    Fixture f(600000, 2);
    for (size_t i = 0; i < f.image.size(); ++i)
        f.image[i] = (i < 600000 || i % 2 == 1) ? 0 : 255;
    std::vector<double> acc(kAccCells, -5.0);
    int32_t bound = std::numeric_limits<int32_t>::max(), refBound = bound;
    double s1, i1, s2, i2;
    ASSERT_EQ(Hcck(f.width, 0, 0, f.width, 2, &bound, 2.0, &s1, &i1, f.image.data(), f.acc.data()), 0);
    reference::hough(f.width, 0, 0, f.width, 2, &refBound, 2.0, &s2, &i2, f.image.data(), acc.data());
    EXPECT_EQ(bound, refBound);
    EXPECT_EQ(bound, 600000);
    EXPECT_EQ(std::memcmp(&s1, &s2, sizeof s1), 0);
    ASSERT_EQ(f.acc, acc);
}
