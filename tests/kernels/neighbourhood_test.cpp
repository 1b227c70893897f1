#include "common/median.h"
#include "quarnk.h"
#include "reference.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace testing_support;
using V = std::vector<double>;

TEST(Median, ThreeByThreeChangesOnlyTheCentre) {
    V v{9, 1, 8, 2, 7, 3, 6, 4, 5};
    Medk(3, 3, v.data());
    EXPECT_EQ(v, V({9, 1, 8, 2, 5, 3, 6, 4, 5}));
}

TEST(Median, RemovesInnerSpeckKeepsBorder) {
    V v(25, 0.0);
    v[12] = 255; // centre
    v[2] = 255;  // top border row
    Medk(5, 5, v.data());
    EXPECT_EQ(v[12], 0);
    EXPECT_EQ(v[2], 255);
}

TEST(Median, IsRecursive) {
    // Pixel (2, 1) sees the 9 already written to (1, 1); a filter over the input would give 0.
    V v{9, 9, 9, 0, 0, 0, 9, 0, 0, 9, 0, 0};
    Medk(4, 3, v.data());
    EXPECT_EQ(v[5], 9);
    EXPECT_EQ(v[6], 9);
}

TEST(Median, SmallImagesUnchangedAndValuesTruncated) {
    V thin{1.7, 2.2, 3.9, 4.5, 5.5, 6.5};
    Medk(2, 3, thin.data());
    EXPECT_EQ(thin, V({1.7, 2.2, 3.9, 4.5, 5.5, 6.5}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    V v{1.7, 2.2, 3.9, -4.5, nan, 6.5, 7.9, 8.1, 9.9};
    Medk(3, 3, v.data());
    EXPECT_EQ(v, V({1, 2, 3, -4, 3, 6, 7, 8, 9}));
}

TEST(Median, MatchesPlainVersionBitForBit) {
    std::mt19937 gen(11);
    // Widths around the column blocks (64), the byte path's vectors (16) and heights around the
    // row bands (4), then random sizes.
    const std::pair<int32_t, int32_t> sizes[] = {{3, 3},   {65, 4},   {66, 5}, {67, 6}, {130, 7},
                                                 {131, 8}, {1024, 9}, {17, 5}, {18, 3}, {19, 4}};
    for (int trial = 0; trial < 50; ++trial) {
        const bool fixed = trial < 10;
        const int32_t w = fixed ? sizes[trial].first : 3 + gen() % 200;
        const int32_t h = fixed ? sizes[trial].second : 3 + gen() % 40;
        // Few levels make many ties; wide values take the 32-bit path.
        const int levels[] = {2, 3, 256};
        auto img = randomImage(w, h, gen(), levels[trial % 3]);
        if (trial % 5 == 4)
            for (double& x : img)
                x = x * 1000.0 - 70000.5;
        V a = img, b = img;
        Medk(w, h, a.data());
        reference::median(w, h, b.data());
        ASSERT_EQ(a, b) << w << "x" << h << " trial " << trial;
        if (trial % 5 == 4) continue;
        // Whole bytes take the batch engine's byte path, which must give the same medians.
        std::vector<uint8_t> bytes(img.begin(), img.end());
        quarnk::recursiveMedian(w, h, bytes.data());
        ASSERT_EQ(V(bytes.begin(), bytes.end()), b) << "bytes " << w << "x" << h << " trial " << trial;
    }
}

TEST(Edge, CutAndFullRange) {
    V v{0, 255, 255, 255, 255, 255, 255, 255, 255};
    Edgek(0, 3, 3, v.data());
    EXPECT_EQ(v, V({255, 0, 255, 0, 0, 255, 255, 255, 255}));
    V w{0, 255, 255, 255, 255, 255, 255, 255, 255};
    Edgek(1, 3, 3, w.data());
    EXPECT_EQ(w, V({255, 0, 127.5, 0, 0, 127.5, 127.5, 127.5, 127.5}));
}

TEST(Edge, UniformImageStaysFinite) {
    V v(16, 80.0);
    Edgek(0, 4, 4, v.data());
    // Gradients 0 and the border 80: a range to stretch.
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[15], 255);
    V one(1, 80.0);
    Edgek(0, 1, 1, one.data());
    EXPECT_EQ(one[0], 80);
}

TEST(Edge, MatchesPlainVersion) {
    for (int32_t flag : {0, 1}) {
        auto img = randomImage(33, 21, 5 + flag);
        V a = img, b = img;
        Edgek(flag, 33, 21, a.data());
        reference::edge(flag, 33, 21, b.data());
        EXPECT_EQ(a, b);
    }
}

namespace {
V whiteWithBlackSquare(int32_t size, int32_t side, int32_t at) {
    V v(static_cast<size_t>(size) * size, 255.0);
    for (int32_t y = at; y < at + side; ++y)
        for (int32_t x = at; x < at + side; ++x)
            v[y * size + x] = 0;
    return v;
}
} // namespace

TEST(Dust, FillsEnclosedSpecksUpToThreeByThree) {
    V v = whiteWithBlackSquare(7, 3, 1);
    Dmk(7, 7, v.data());
    EXPECT_EQ(v, V(49, 255.0));
    V big = whiteWithBlackSquare(7, 4, 1);
    const V before = big;
    Dmk(7, 7, big.data());
    EXPECT_EQ(big, before);
}

TEST(Dust, BlockCornersStopShortOfTheLastRowAndColumn) {
    // On 6 x 6 only the block at (0, 0) is tested: a speck at (2..4, 2..4) framed by rows and
    // columns 1 and 5 is never filled, since its block would start at (1, 1).
    V v = whiteWithBlackSquare(6, 3, 2);
    const V before = v;
    Dmk(6, 6, v.data());
    EXPECT_EQ(v, before);
    V w = whiteWithBlackSquare(6, 3, 1);
    Dmk(6, 6, w.data());
    EXPECT_EQ(w, V(36, 255.0));
    V small(25, 0.0);
    Dmk(5, 5, small.data());
    EXPECT_EQ(small, V(25, 0.0));
}

TEST(Dust, MatchesPlainVersionOnBinaryImages) {
    auto img = randomImage(60, 40, 9, 2);
    for (double& x : img)
        x = x > 0 ? 255 : (x == 0 && (&x - img.data()) % 7 == 0 ? 0 : 255);
    V a = img, b = img;
    Dmk(60, 40, a.data());
    reference::dust(60, 40, b.data());
    EXPECT_EQ(a, b);
}
