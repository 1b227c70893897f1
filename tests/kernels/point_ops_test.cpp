#include "common/levels.h"
#include "quarnk.h"
#include "reference.h"
#include "support/test_support.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace testing_support;
using V = std::vector<double>;

TEST(Stretch, MapsRangeOntoFullScale) {
    V v{10, 20, 30};
    Rofk(3, 1, v.data());
    EXPECT_EQ(v, V({0, 127.5, 255}));
    V a{10, 20, 30}, b{10, 10, 10};
    Dpk(3, 1, a.data(), b.data());
    EXPECT_EQ(a, V({0, 127.5, 255}));
    EXPECT_EQ(b, V({10, 10, 10}));
}

TEST(Stretch, EqualValuesAndNotANumberStayFinite) {
    V flat{42, 42, 42, 42};
    Rofk(2, 2, flat.data());
    EXPECT_EQ(flat, V({42, 42, 42, 42}));
    V a{5, 5}, b{5, 5};
    Dpk(2, 1, a.data(), b.data());
    EXPECT_EQ(a, V({0, 0}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    V first{nan, 1, 2};
    Rofk(3, 1, first.data());
    EXPECT_TRUE(std::isnan(first[0])); // left as it was; stored as 0 by the slot conversion
    EXPECT_EQ(first[1], 1);
}

TEST(Contrast, Window) {
    V v{25, 50, 75, 100, 200};
    Conk(50, 100, 5, 1, v.data());
    EXPECT_EQ(v, V({0, 0, 127.5, 255, 255}));
    V same{0, 17, 255};
    Conk(0, 255, 3, 1, same.data());
    EXPECT_EQ(same, V({0, 17, 255}));
    // A reversed window maps in reverse.
    V rev{100, 150, 200};
    Conk(200, 100, 3, 1, rev.data());
    EXPECT_EQ(rev, V({255, 127.5, 0}));
}

TEST(Contrast, EqualBoundsThresholdAtLow) {
    V v{99, 100, 101, std::numeric_limits<double>::quiet_NaN()};
    Conk(100, 100, 4, 1, v.data());
    EXPECT_EQ(v, V({0, 0, 255, 0}));
    // Extreme bounds do not overflow the integer difference.
    V w{0, 1};
    Conk(INT32_MIN, INT32_MAX, 2, 1, w.data());
    EXPECT_TRUE(w[0] >= 0 && w[0] <= 255);
}

TEST(PointOps, BinarizeAndInvert) {
    V v{128, 129, 0, 255};
    Segmk(128, 4, 1, v.data());
    EXPECT_EQ(v, V({0, 255, 0, 255}));
    V r{0, 255, 100, 0.5, std::numeric_limits<double>::infinity()};
    Rdk(5, 1, r.data());
    EXPECT_EQ(r, V({255, 0, 155, 254, 0}));
}

// The batch engine binarizes whole bytes itself: the same as the kernel at every threshold.
TEST(PointOps, BinarizedBytesAsTheKernelGivesThem) {
    V levels(256);
    for (int i = 0; i < 256; ++i)
        levels[i] = i;
    for (int32_t t : {INT32_MIN, -256, -1, 0, 1, 127, 128, 254, 255, 256, INT32_MAX}) {
        V reals = levels;
        Segmk(t, 256, 1, reals.data());
        std::vector<uint8_t> bytes(levels.begin(), levels.end());
        quarnk::binarize(bytes.data(), 256, t);
        EXPECT_EQ(V(bytes.begin(), bytes.end()), reals) << t;
    }
}

TEST(PointOps, AgreeWithPlainVersionsOnRandomImages) {
    const auto img = randomImage(64, 48, 3);
    const auto img2 = randomImage(64, 48, 4);
    auto check = [&](auto fast, auto plain) {
        V a = img, b = img;
        fast(a.data());
        plain(b.data());
        EXPECT_EQ(a, b);
    };
    check([](double* p) { Rofk(64, 48, p); }, [](double* p) { reference::stretch(64, 48, p); });
    check([](double* p) { Conk(30, 200, 64, 48, p); },
          [](double* p) { reference::contrast(30, 200, 64, 48, p); });
    check([](double* p) { Segmk(77, 64, 48, p); }, [](double* p) { reference::binarize(77, 64, 48, p); });
    check([](double* p) { Rdk(64, 48, p); }, [](double* p) { reference::invert(64, 48, p); });
    check([&](double* p) { Dpk(64, 48, p, img2.data()); },
          [&](double* p) { reference::difference(64, 48, p, img2.data()); });
}

TEST(PointOps, EmptyAndNegativeSizesTouchNothing) {
    V v{1, 2};
    Rofk(0, 5, v.data());
    Conk(0, 10, -1, 2, v.data());
    Segmk(0, 2, -3, v.data());
    Rdk(0, 0, v.data());
    EXPECT_EQ(v, V({1, 2}));
}
