#include "quarnk.h"
#include "reference.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;
using V = std::vector<double>;

TEST(Turn, MirrorsRowsAndColumns) {
    V row{1, 2, 3}, scratch(3);
    ASSERT_EQ(Turnk(0, 3, 1, row.data(), scratch.data()), 0);
    EXPECT_EQ(row, V({3, 2, 1}));
    V col{1, 2, 3};
    ASSERT_EQ(Turnk(1, 1, 3, col.data(), scratch.data()), 0);
    EXPECT_EQ(col, V({3, 2, 1}));
    // Degenerate directions change nothing.
    V thin{1, 2, 3};
    Turnk(0, 1, 3, thin.data(), scratch.data());
    EXPECT_EQ(thin, V({1, 2, 3}));
    Turnk(1, 3, 1, thin.data(), scratch.data());
    EXPECT_EQ(thin, V({1, 2, 3}));
}

TEST(Turn, TwiceIsIdentityAndMatchesPlainVersion) {
    const auto img = randomImage(31, 17, 2);
    for (int32_t mode : {0, 1}) {
        V a = img, b = img, s(img.size()), s2(img.size());
        Turnk(mode, 31, 17, a.data(), s.data());
        reference::turn(mode, 31, 17, b.data(), s2.data());
        EXPECT_EQ(a, b);
        Turnk(mode, 31, 17, a.data(), s.data());
        EXPECT_EQ(a, img);
    }
}

TEST(Turn, InvalidModeTouchesNothing) {
    V v{1, 2}, s{7, 8};
    EXPECT_EQ(Turnk(2, 2, 1, v.data(), s.data()), -1);
    EXPECT_EQ(Turnk(-1, 2, 1, v.data(), s.data()), -1);
    EXPECT_EQ(v, V({1, 2}));
    EXPECT_EQ(s, V({7, 8}));
}

TEST(Composite, StampsBlackOfSecondImage) {
    V a{100, 100, 100}, b{0, 255, 1};
    EXPECT_EQ(Compok(3, 1, a.data(), b.data()), 0);
    EXPECT_EQ(a, V({0, 100, 100}));
    EXPECT_EQ(b, V({0, 255, 1}));
}
