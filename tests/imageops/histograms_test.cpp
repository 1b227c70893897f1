#include "quarn.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

using namespace testing_support;
using V = std::vector<double>;

namespace {

std::string lines(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += std::to_string(v) + "\r\n";
    return s;
}

std::string histogramText(const std::vector<int>& counts) {
    std::string s;
    for (int c : counts)
        s += std::to_string(c) + "\r\n";
    return s;
}

} // namespace

TEST(Hist, CountsPeakAndMean) {
    TempDir dir;
    auto buf = bigBuffer();
    V img{0, 0, 255, 7};
    ASSERT_EQ(Openxim(2, 2, 0, img.data()), 0);
    int32_t result = -1;
    ASSERT_EQ(Hist(0, &result, 0, 0, buf.data()), 0);
    EXPECT_EQ(result, 0);
    std::vector<int> counts(256, 0);
    counts[0] = 2, counts[7] = 1, counts[255] = 1;
    EXPECT_EQ(readBytes("0_hdat.csv"), histogramText(counts));
    ASSERT_EQ(Hist(1, &result, -4, 0, buf.data()), 0);
    EXPECT_EQ(result, 65);
    EXPECT_TRUE(exists("-4_hdat.csv"));
    result = 77;
    ASSERT_EQ(Hist(2, &result, 1, 0, buf.data()), 0);
    EXPECT_EQ(result, 77);
}

TEST(Hist, TiesGoToTheLowestLevel) {
    TempDir dir;
    auto buf = bigBuffer();
    V img{20, 10, 20, 10, 30};
    ASSERT_EQ(Openxim(5, 1, 0, img.data()), 0);
    int32_t result = -1;
    ASSERT_EQ(Hist(0, &result, 0, 0, buf.data()), 0);
    EXPECT_EQ(result, 10);
}

TEST(Hist, EmptyImageAndFailures) {
    TempDir dir;
    auto buf = bigBuffer();
    ASSERT_EQ(Openxim(0, 0, 0, buf.data()), 0);
    int32_t result = -1;
    ASSERT_EQ(Hist(1, &result, 0, 0, buf.data()), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Hist(0, &result, 0, 6, buf.data()), 1);
    writeBytes("6_inf.tmp", "2\r\r\n2\r\r\n6\r\r\n");
    writeBytes("6_im.tmp", std::string("\x05", 1)); // short: three pixels read as -1
    result = -1;
    ASSERT_EQ(Hist(0, &result, 2, 6, buf.data()), 0);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(Hist(0, &result, 2, 7, buf.data()), 1);
    std::filesystem::create_directory("3_hdat.csv");
    result = -1;
    EXPECT_EQ(Hist(0, &result, 3, 6, buf.data()), 5);
    EXPECT_EQ(result, 5); // stored before the file failed
}

TEST(Lhist, PlainProfiles) {
    TempDir dir;
    auto buf = bigBuffer();
    V img{1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(Openxim(3, 3, 0, img.data()), 0);
    ASSERT_EQ(Lhist(1, 1, 0, 0, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("0_ylhdat.csv"), lines({0, 5, 8}));
    EXPECT_EQ(readBytes("0_xlhdat.csv"), lines({0, 5, 6}));
}

TEST(Lhist, DifferenceProfiles) {
    TempDir dir;
    auto buf = bigBuffer();
    V column{0, 10, 30};
    ASSERT_EQ(Openxim(1, 3, 0, column.data()), 0);
    ASSERT_EQ(Lhist(0, 0, 1, 1, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("1_ylhdat.csv"), lines({0, 0, 255}));
    EXPECT_EQ(readBytes("1_xlhdat.csv"), lines({0}));
    // Equal steps all along a line have no range: a flat profile of 0.
    V img{1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(Openxim(3, 3, 0, img.data()), 0);
    ASSERT_EQ(Lhist(1, 1, 2, 1, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("2_ylhdat.csv"), lines({0, 0, 0}));
    EXPECT_EQ(readBytes("2_xlhdat.csv"), lines({0, 0, 0}));
    // Falling steps: low below 0.
    V falling{200, 100, 150, 150};
    ASSERT_EQ(Openxim(4, 1, 0, falling.data()), 0);
    ASSERT_EQ(Lhist(0, 0, 3, 1, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("3_xlhdat.csv"), lines({0, 0, 255, 170}));
}

TEST(Lhist, ProfilesLongerThan1024AndPointsOutside) {
    TempDir dir;
    auto buf = bigBuffer();
    V wide(2000, 9.0);
    ASSERT_EQ(Openxim(2000, 1, 0, wide.data()), 0);
    ASSERT_EQ(Lhist(1999, 0, 0, 0, 0, buf.data()), 0);
    const std::string along = readBytes("0_xlhdat.csv");
    EXPECT_EQ(std::count(along.begin(), along.end(), '\n'), 2000);
    const std::pair<int32_t, int32_t> outside[] = {{2000, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (auto [x, y] : outside) {
        EXPECT_EQ(Lhist(x, y, 9, 0, 0, buf.data()), 5);
        EXPECT_FALSE(exists("9_ylhdat.csv"));
        EXPECT_FALSE(exists("9_xlhdat.csv"));
    }
    EXPECT_EQ(Lhist(0, 0, 9, 0, 4, buf.data()), 1);
}

TEST(Lhist, SecondFileFailureKeepsTheFirst) {
    TempDir dir;
    auto buf = bigBuffer();
    V img{1, 2, 3, 4};
    ASSERT_EQ(Openxim(2, 2, 0, img.data()), 0);
    std::filesystem::create_directory("5_xlhdat.csv");
    EXPECT_EQ(Lhist(0, 0, 5, 0, 0, buf.data()), 5);
    EXPECT_TRUE(exists("5_ylhdat.csv"));
}

TEST(HccExport, ClipsRegionToTheImage) {
    TempDir dir;
    auto buf = bigBuffer();
    std::vector<double> acc(2700001);
    V img(100 * 60, 255.0);
    for (int x = 0; x < 100; ++x)
        img[30 * 100 + x] = 0;
    ASSERT_EQ(Openxim(100, 60, 16, img.data()), 0);
    int32_t bound = 3000;
    double slope = 0, intercept = 0;
    ASSERT_EQ(Hcc(-50, -50, 5000, 5000, &bound, 1.0, &slope, &intercept, 16, buf.data(), acc.data()), 0);
    EXPECT_EQ(bound, 100);
    EXPECT_DOUBLE_EQ(intercept, 30.0);
    EXPECT_EQ(Hcc(0, 0, 10, 10, &bound, 0.0, &slope, &intercept, 16, buf.data(), acc.data()), 5);
    EXPECT_EQ(Hcc(0, 0, 10, 10, &bound, 1.0, &slope, &intercept, 3, buf.data(), acc.data()), 1);
}
