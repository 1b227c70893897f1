#include "quarnk.h"
#include "reference.h"
#include "support/test_support.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

using namespace testing_support;

namespace {

std::vector<double> readCsv(const std::string& text, int32_t w, int32_t h, double fill = 99.0) {
    writeBytes("in.csv", text);
    std::vector<double> buf(static_cast<size_t>(w) * h, fill);
    EXPECT_EQ(Opencsvk("in.csv", w, h, buf.data()), 0);
    return buf;
}

size_t leftoverPartFiles() {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator("."))
        n += e.path().extension() == ".part";
    return n;
}

} // namespace

TEST(CsvFiles, WriteAndReadBack) {
    TempDir dir;
    const double img[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(Savecsvk("a.csv", 3, 2, img), 0);
    EXPECT_EQ(readBytes("a.csv"), "1,2,3\r\n4,5,6\r\n");
    std::vector<double> back(6);
    ASSERT_EQ(Opencsvk("a.csv", 3, 2, back.data()), 0);
    EXPECT_EQ(back, std::vector<double>(img, img + 6));
    // Line breaks are only separators: the same six values in another shape.
    EXPECT_EQ(readCsv("1,2,3,4,5,6\r\n", 2, 3), std::vector<double>({1, 2, 3, 4, 5, 6}));
}

TEST(CsvFiles, OneColumnHasNoCommas) {
    TempDir dir;
    const double img[] = {7, -8, 9};
    ASSERT_EQ(Savecsvk("c.csv", 1, 3, img), 0);
    EXPECT_EQ(readBytes("c.csv"), "7\r\n-8\r\n9\r\n");
}

TEST(CsvFiles, FieldRules) {
    TempDir dir;
    EXPECT_EQ(readCsv("-7,7-3\r\n", 2, 1), std::vector<double>({-7, -73}));
    // A trailing comma is an extra field of 0 that shifts what follows.
    EXPECT_EQ(readCsv("1,2,\r\n3,4\r\n", 2, 2), std::vector<double>({1, 2, 0, 3}));
    // Foreign characters count as the digit 0.
    EXPECT_EQ(readCsv("12.5, 1\n", 2, 1), std::vector<double>({1205, 1}));
    // LF alone ends lines as well as CR LF.
    EXPECT_EQ(readCsv("1,2\n3,4\n", 2, 2), std::vector<double>({1, 2, 3, 4}));
    // A sign followed by the separator is an empty negative field.
    EXPECT_EQ(readCsv("-,5\r\n", 2, 1), std::vector<double>({0, 5}));
}

TEST(CsvFiles, MalformedInputStops) {
    TempDir dir;
    // The end of the file ends the field being read; later fields read as 0.
    EXPECT_EQ(readCsv("1,2,3", 3, 1), std::vector<double>({1, 2, 3}));
    EXPECT_EQ(readCsv("1,2\r\n", 2, 2), std::vector<double>({1, 2, 0, 0}));
    EXPECT_EQ(readCsv("", 2, 2), std::vector<double>({0, 0, 0, 0}));
    // A field ends after ten characters even without a separator; ten digits fit, and the
    // eleventh character starts the next field.
    EXPECT_EQ(readCsv("99999999999,5\n", 3, 1), std::vector<double>({9999999999.0, 9, 5}));
    // A huge size over a tiny file ends promptly, every value 0 after the data.
    writeBytes("tiny.csv", "4");
    std::vector<double> big(1 << 20, 7.0);
    ASSERT_EQ(Opencsvk("tiny.csv", 1024, 1024, big.data()), 0);
    EXPECT_EQ(big[0], 4);
    EXPECT_EQ(big.back(), 0);
}

TEST(CsvFiles, MissingFileLeavesBuffer) {
    TempDir dir;
    std::vector<double> buf(4, 3.0);
    EXPECT_EQ(Opencsvk("nothing.csv", 2, 2, buf.data()), -1);
    EXPECT_EQ(buf, std::vector<double>(4, 3.0));
}

TEST(RawFiles, RealsWithoutAnIntegerAreStoredAsZero) {
    TempDir dir;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double img[] = {0.0, 255.0, 255.7, 256.0, -1.0, 300.0, -0.9, nan, inf, 3e10};
    ASSERT_EQ(Savek("r.mon", 10, 1, img), 0);
    EXPECT_EQ(readBytes("r.mon"), std::string("\x00\xff\xff\x00\xff\x2c\x00\x00\x00\x00", 10));
    ASSERT_EQ(Savecsvk("r.csv", 10, 1, img), 0);
    EXPECT_EQ(readBytes("r.csv"), "0,255,255,256,-1,300,0,0,0,0\r\n");
}

TEST(RawFiles, ShortFilesPadWithMinusOneAndLongOnesAreCut) {
    TempDir dir;
    writeBytes("s.mon", std::string("\x01\x02\x03", 3));
    std::vector<double> buf(6, 9.0);
    ASSERT_EQ(Openk("s.mon", 3, 2, buf.data()), 0);
    EXPECT_EQ(buf, std::vector<double>({1, 2, 3, -1, -1, -1}));
    std::vector<double> two(2, 9.0);
    ASSERT_EQ(Openk("s.mon", 2, 1, two.data()), 0);
    EXPECT_EQ(two, std::vector<double>({1, 2}));
    EXPECT_EQ(Openk("missing.mon", 2, 1, two.data()), -1);
    EXPECT_EQ(two, std::vector<double>({1, 2}));
}

TEST(RawFiles, RoundTripMatchesByteAtATimeReader) {
    TempDir dir;
    const auto img = randomImage(200, 150, 7);
    ASSERT_EQ(Savek("x.mon", 200, 150, img.data()), 0);
    ASSERT_EQ(reference::saveRaw("ref.mon", 200, 150, img.data()), 0);
    EXPECT_EQ(readBytes("x.mon"), readBytes("ref.mon"));
    std::vector<double> a(img.size()), b(img.size());
    ASSERT_EQ(Openk("x.mon", 200, 150, a.data()), 0);
    ASSERT_EQ(reference::openRaw("x.mon", 200, 150, b.data()), 0);
    EXPECT_EQ(a, img);
    EXPECT_EQ(b, img);
    ASSERT_EQ(Savecsvk("x.csv", 200, 150, img.data()), 0);
    ASSERT_EQ(reference::saveCsv("ref.csv", 200, 150, img.data()), 0);
    EXPECT_EQ(readBytes("x.csv"), readBytes("ref.csv"));
}

TEST(RawFiles, RectangleSavesOnlyItsOwnPixels) {
    TempDir dir;
    const double img[] = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(Savertk("r.mon", 4, 1, 1, 3, 2, img), 0);
    EXPECT_EQ(readBytes("r.mon"), std::string("\x05\x06", 2));
}

TEST(RawFiles, EmptyRectangleWritesAnEmptyFile) {
    TempDir dir;
    const double img[] = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(Savertk("e.mon", 4, 3, 1, 1, 2, img), 0);
    EXPECT_TRUE(exists("e.mon"));
    EXPECT_EQ(readBytes("e.mon"), "");
}

TEST(RawFiles, RectangleOutsideTheRowsIsRefusedAndWritesNothing) {
    TempDir dir;
    const double img[] = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(Savertk("o.mon", 4, -1, 0, 2, 1, img), -1);
    EXPECT_EQ(Savertk("o.mon", 4, 0, 0, 5, 1, img), -1);
    EXPECT_EQ(Savertk("o.mon", 4, 0, -1, 2, 1, img), -1);
    EXPECT_FALSE(exists("o.mon"));
}

TEST(RawFiles, SavesReplaceWholeOrNothing) {
    TempDir dir;
    const double img[] = {1, 2, 3, 4};
    writeBytes("old.mon", "previous");
    ASSERT_EQ(Savek("old.mon", 2, 2, img), 0);
    EXPECT_EQ(readBytes("old.mon"), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(leftoverPartFiles(), 0u);
    // A file that may not be written stays as it was.
    writeBytes("locked.mon", "keep");
    ::chmod("locked.mon", 0444);
    if (::geteuid() != 0) {
        EXPECT_EQ(Savek("locked.mon", 2, 2, img), -1);
        EXPECT_EQ(readBytes("locked.mon"), "keep");
    }
    EXPECT_EQ(Savek("no/such/dir.mon", 2, 2, img), -1);
    EXPECT_EQ(Savecsvk("", 2, 2, img), -1);
    std::filesystem::create_directory("adir");
    EXPECT_EQ(Savek("adir", 2, 2, img), -1);
    EXPECT_EQ(leftoverPartFiles(), 0u);
}
