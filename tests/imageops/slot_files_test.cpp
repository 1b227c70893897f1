#include "slot_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace testing_support;

namespace {
bool parse(const std::string& text, SlotSize& s) {
    return parseInfo(text.data(), text.size(), s);
}
} // namespace

TEST(InfoFile, ParsesFirstTwoLines) {
    SlotSize s;
    ASSERT_TRUE(parse("4\r\r\n2\r\r\n3\r\r\n", s));
    EXPECT_EQ(s, (SlotSize{4, 2}));
    ASSERT_TRUE(parse("  +640 px\n480\n", s));
    EXPECT_EQ(s, (SlotSize{640, 480}));
    ASSERT_TRUE(parse("x\ny\n", s)); // no digits read as 0
    EXPECT_EQ(s, (SlotSize{0, 0}));
    ASSERT_TRUE(parse("7\n9", s)); // the last line needs no line end
    EXPECT_EQ(s, (SlotSize{7, 9}));
}

TEST(InfoFile, LinesAreAtMostFourteenCharacters) {
    // The first read stops after 14 characters; the second continues in the same line.
    SlotSize s;
    ASSERT_TRUE(parse("00000000000012345\r\r\n6\r\r\n", s));
    EXPECT_EQ(s, (SlotSize{12, 345}));
}

TEST(InfoFile, RefusesWhatCannotDescribeAnImage) {
    SlotSize s{1, 1};
    EXPECT_FALSE(parse("", s));
    EXPECT_FALSE(parse("5\r\r\n", s));
    EXPECT_FALSE(parse("-5\r\r\n5\r\r\n", s));
    EXPECT_FALSE(parse("5\r\r\n-1\r\r\n", s));
    EXPECT_FALSE(parse("99999999999\r\n1\r\n", s));
    EXPECT_FALSE(parse("65536\r\r\n65536\r\r\n", s));
    EXPECT_EQ(s, (SlotSize{1, 1}));
    EXPECT_TRUE(parse("46340\r\r\n46340\r\r\n", s));
}

TEST(InfoFile, WriteFormatAndReadBack) {
    TempDir dir;
    ASSERT_TRUE(writeInfo(-3, SlotSize{10, 20}));
    EXPECT_EQ(readBytes("-3_inf.tmp"), "10\r\r\n20\r\r\n-3\r\r\n");
    SlotSize s;
    ASSERT_TRUE(readInfo(-3, s));
    EXPECT_EQ(s, (SlotSize{10, 20}));
    EXPECT_FALSE(readInfo(4, s));
    EXPECT_EQ(pixelFileName(16), "16_im.tmp");
}
