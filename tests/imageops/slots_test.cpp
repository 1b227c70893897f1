#include "quarn.h"
#include "support/test_support.h"

#include <array>
#include <gtest/gtest.h>
#include <random>

using namespace testing_support;
using V = std::vector<double>;

namespace {

const std::string kInfoEnd = "\r\r\n";

std::string info(int w, int h, int id) {
    return std::to_string(w) + kInfoEnd + std::to_string(h) + kInfoEnd + std::to_string(id) + kInfoEnd;
}

// Puts an image into a slot through the load export.
void load(int32_t id, int32_t w, int32_t h, V pixels) {
    ASSERT_EQ(Openxim(w, h, id, pixels.data()), 0);
}

V slotPixels(int32_t id) {
    V buf(1048577, 0.0);
    int32_t w = 0, h = 0;
    if (Xyretid(id, &w, &h) != 0) return {};
    EXPECT_EQ(Toutim(id, buf.data()), 0);
    buf.resize(static_cast<size_t>(w) * h);
    return buf;
}

std::string slotFiles(int32_t id) {
    return readBytes(std::to_string(id) + "_inf.tmp") + "|" + readBytes(std::to_string(id) + "_im.tmp");
}

} // namespace

TEST(Load, WritesSlotAndUndoSlot) {
    TempDir dir;
    V buf{1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(Openxim(4, 2, 3, buf.data()), 0);
    EXPECT_EQ(readBytes("3_inf.tmp"), info(4, 2, 3));
    EXPECT_EQ(readBytes("3_im.tmp").size(), 8u);
    EXPECT_EQ(readBytes("11_inf.tmp"), info(4, 2, 11));
    EXPECT_EQ(readBytes("11_im.tmp"), readBytes("3_im.tmp"));
    V odd{255.9, 256.0, -1.0};
    ASSERT_EQ(Openxim(3, 1, 0, odd.data()), 0);
    EXPECT_EQ(readBytes("0_im.tmp"), std::string("\xff\x00\xff", 3));
}

TEST(Load, RawAndCsvFiles) {
    TempDir dir;
    auto buf = bigBuffer();
    writeBytes("a.mon", std::string("\x0a\x14\x1e", 3));
    ASSERT_EQ(Openim("a.mon", 3, 1, 2, buf.data()), 0);
    EXPECT_EQ(slotPixels(2), V({10, 20, 30}));
    // A CSV image is stretched to the full range on loading.
    writeBytes("a.csv", "10,15\r\n20,10\r\n");
    ASSERT_EQ(Opencsv("a.csv", 2, 2, 1, buf.data()), 0);
    EXPECT_EQ(slotPixels(1), V({0, 127, 255, 0}));
    EXPECT_EQ(slotPixels(9), V({0, 127, 255, 0}));
    // A short raw file stores its missing pixels as 255.
    ASSERT_EQ(Openim("a.mon", 2, 2, 4, buf.data()), 0);
    EXPECT_EQ(slotPixels(4), V({10, 20, 30, 255}));
}

TEST(Load, FailuresAndTheirCodes) {
    TempDir dir;
    auto buf = bigBuffer();
    EXPECT_EQ(Openim("missing.mon", 2, 2, 0, buf.data()), 5);
    EXPECT_EQ(Opencsv("missing.csv", 2, 2, 0, buf.data()), 5);
    EXPECT_FALSE(exists("0_inf.tmp"));
    // Sizes that no info file can describe are refused before anything is written.
    EXPECT_EQ(Openxim(-1, 5, 0, buf.data()), 5);
    EXPECT_EQ(Openxim(70000, 70000, 0, buf.data()), 5);
    EXPECT_FALSE(exists("0_inf.tmp"));
    // The undo info cannot be written (a folder stands in its place): code 6 after slot's info.
    std::filesystem::create_directory("8_inf.tmp");
    EXPECT_EQ(Openxim(1, 1, 0, buf.data()), 6);
    EXPECT_EQ(readBytes("0_inf.tmp"), info(1, 1, 0));
    EXPECT_FALSE(exists("0_im.tmp"));
    std::filesystem::create_directory("1_inf.tmp");
    EXPECT_EQ(Openxim(1, 1, 1, buf.data()), 4);
    std::filesystem::create_directory("2_im.tmp");
    EXPECT_EQ(Openxim(1, 1, 2, buf.data()), 2);
    EXPECT_TRUE(exists("10_inf.tmp"));
    std::filesystem::create_directory("11_im.tmp");
    EXPECT_EQ(Openxim(1, 1, 3, buf.data()), 6);
    EXPECT_TRUE(exists("3_im.tmp"));
}

TEST(ReadOnly, MissingFilesGiveTheirCodes) {
    TempDir dir;
    auto buf = bigBuffer();
    int32_t w = -7, h = -7;
    EXPECT_EQ(Toutim(5, buf.data()), 1);
    EXPECT_EQ(Xyretid(5, &w, &h), 3);
    EXPECT_EQ(w, -7);
    EXPECT_EQ(Conim(0, 255, 5, buf.data()), 1);
    EXPECT_EQ(Saveim("x.mon", 5, buf.data()), 1);
    EXPECT_EQ(Undoim(5, buf.data(), buf.data()), 6);
    // Info present, pixels missing: still "cannot be read".
    writeBytes("5_inf.tmp", info(2, 2, 5));
    EXPECT_EQ(Toutim(5, buf.data()), 1);
    EXPECT_EQ(Xyretid(5, &w, &h), 0);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
}

TEST(ReadOnly, SavesWholeSlotAndRectangle) {
    TempDir dir;
    auto buf = bigBuffer();
    load(0, 4, 2, {0, 1, 2, 3, 4, 5, 6, 7});
    ASSERT_EQ(Saveim("w.mon", 0, buf.data()), 0);
    EXPECT_EQ(readBytes("w.mon"), readBytes("0_im.tmp"));
    ASSERT_EQ(Savecsv("w.csv", 0, buf.data()), 0);
    EXPECT_EQ(readBytes("w.csv"), "0,1,2,3\r\n4,5,6,7\r\n");
    ASSERT_EQ(Savert("r.mon", 1, 1, 3, 2, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("r.mon"), std::string("\x05\x06", 2));
    ASSERT_EQ(Savert("e.mon", 3, 0, 1, 2, 0, buf.data()), 0);
    EXPECT_EQ(readBytes("e.mon"), "");
    const std::array<int32_t, 4> outside[] = {
        {-1, 0, 2, 1}, {0, 0, 5, 1}, {0, 0, 2, 3}, {0, -2, 1, 1}, {5, 0, 0, 1}};
    for (auto [x0, y0, x1, y1] : outside) {
        EXPECT_EQ(Savert("out.mon", x0, y0, x1, y1, 0, buf.data()), 5);
        EXPECT_FALSE(exists("out.mon"));
    }
    EXPECT_EQ(Saveim("no/dir/x.mon", 0, buf.data()), 5);
}

TEST(InPlace, OperationsStoreResultAndUndo) {
    TempDir dir;
    auto buf = bigBuffer();
    load(2, 3, 1, {10, 20, 30});
    ASSERT_EQ(Rofim(2, buf.data()), 0);
    EXPECT_EQ(V(buf.begin(), buf.begin() + 3), V({0, 127.5, 255}));
    EXPECT_EQ(slotPixels(2), V({0, 127, 255}));
    EXPECT_EQ(slotPixels(10), V({10, 20, 30}));
    ASSERT_EQ(Segmim(127, 2, buf.data()), 0);
    EXPECT_EQ(slotPixels(2), V({0, 0, 255}));
    EXPECT_EQ(slotPixels(10), V({0, 127, 255}));
    ASSERT_EQ(Rdim(2, buf.data()), 0);
    EXPECT_EQ(slotPixels(2), V({255, 255, 0}));
    ASSERT_EQ(Conim(0, 255, 2, buf.data()), 0);
    EXPECT_EQ(slotPixels(2), V({255, 255, 0}));
    ASSERT_EQ(Edgeim(0, 2, buf.data()), 0);
    ASSERT_EQ(Medim(2, buf.data()), 0);
    ASSERT_EQ(Dmim(2, buf.data()), 0);
}

TEST(InPlace, MissingUndoSlotGivesSixAndKeepsSlot) {
    TempDir dir;
    auto buf = bigBuffer();
    load(1, 2, 1, {5, 6});
    std::filesystem::remove("9_inf.tmp");
    const std::string before = slotFiles(1);
    EXPECT_EQ(Rdim(1, buf.data()), 6);
    EXPECT_EQ(slotFiles(1), before);
}

TEST(InPlace, KernelFailureLeavesUndoWrittenAndSlotUntouched) {
    TempDir dir;
    auto buf = bigBuffer(), scratch = bigBuffer();
    load(0, 2, 1, {5, 6});
    ASSERT_EQ(Rdim(0, buf.data()), 0); // slot {250, 249}, undo {5, 6}
    EXPECT_EQ(Turnim(2, 0, buf.data(), scratch.data()), 5);
    EXPECT_EQ(slotPixels(0), V({250, 249}));
    EXPECT_EQ(slotPixels(8), V({250, 249}));
    ASSERT_EQ(Turnim(0, 0, buf.data(), scratch.data()), 0);
    EXPECT_EQ(slotPixels(0), V({249, 250}));
}

TEST(InPlace, UndoSlotOfAnotherSizeGetsTheImagesSize) {
    TempDir dir;
    auto buf = bigBuffer();
    load(0, 2, 1, {5, 6});
    writeBytes("8_inf.tmp", info(1000, 1000, 8));
    ASSERT_EQ(Rdim(0, buf.data()), 0);
    EXPECT_EQ(readBytes("8_inf.tmp"), info(2, 1, 8));
    EXPECT_EQ(slotPixels(8), V({5, 6}));
}

TEST(Undo, SwapsAndTwiceIsIdentity) {
    TempDir dir;
    auto buf = bigBuffer(), scratch = bigBuffer();
    load(3, 3, 1, {1, 2, 3});
    ASSERT_EQ(Rdim(3, buf.data()), 0);
    const std::string after = slotFiles(3), undo = slotFiles(11);
    ASSERT_EQ(Undoim(3, buf.data(), scratch.data()), 0);
    EXPECT_EQ(V(buf.begin(), buf.begin() + 3), V({1, 2, 3}));
    EXPECT_EQ(slotPixels(3), V({1, 2, 3}));
    EXPECT_EQ(slotPixels(11), V({254, 253, 252}));
    ASSERT_EQ(Undoim(3, buf.data(), scratch.data()), 0);
    EXPECT_EQ(slotFiles(3), after);
    EXPECT_EQ(slotFiles(11), undo);
}

TEST(Undo, SwapsSizesToo) {
    TempDir dir;
    auto buf = bigBuffer(), scratch = bigBuffer();
    load(0, 2, 2, {1, 2, 3, 4});
    V small{9};
    ASSERT_EQ(Openxim(1, 1, 8, small.data()), 0); // the undo slot now holds a 1 x 1 image
    ASSERT_EQ(Undoim(0, buf.data(), scratch.data()), 0);
    int32_t w, h;
    ASSERT_EQ(Xyretid(0, &w, &h), 0);
    EXPECT_EQ(w * 10 + h, 11);
    EXPECT_EQ(slotPixels(0), V({9}));
    EXPECT_EQ(slotPixels(8), V({1, 2, 3, 4}));
}

TEST(TwoSource, DifferenceAndComposite) {
    TempDir dir;
    auto a = bigBuffer(), b = bigBuffer();
    load(0, 3, 1, {10, 20, 30});
    load(1, 3, 1, {10, 10, 10});
    load(5, 3, 1, {7, 7, 7});
    ASSERT_EQ(Dpim(0, 1, 5, a.data(), b.data()), 0);
    EXPECT_EQ(slotPixels(5), V({0, 127, 255}));
    EXPECT_EQ(slotPixels(13), V({7, 7, 7}));
    // Destination equal to the first source: its undo keeps its own image from before.
    ASSERT_EQ(Dpim(0, 1, 0, a.data(), b.data()), 0);
    EXPECT_EQ(slotPixels(8), V({10, 20, 30}));
    load(2, 3, 1, {0, 255, 1});
    ASSERT_EQ(Compoim(5, 2, 5, a.data(), b.data()), 0);
    EXPECT_EQ(slotPixels(5), V({0, 127, 255}));
    load(3, 3, 1, {100, 100, 100});
    ASSERT_EQ(Compoim(3, 2, 3, a.data(), b.data()), 0);
    EXPECT_EQ(slotPixels(3), V({0, 100, 100}));
}

TEST(TwoSource, DifferentSizesAreRefused) {
    TempDir dir;
    auto a = bigBuffer(), b = bigBuffer();
    load(0, 3, 1, {10, 20, 30});
    load(1, 2, 1, {1, 2});
    load(4, 3, 1, {5, 5, 5});
    const std::string before = slotFiles(4);
    EXPECT_EQ(Dpim(0, 1, 4, a.data(), b.data()), 5);
    EXPECT_EQ(Compoim(1, 0, 4, a.data(), b.data()), 5);
    EXPECT_EQ(slotFiles(4), before);
    EXPECT_EQ(Dpim(0, 7, 4, a.data(), b.data()), 1);
    EXPECT_EQ(Dpim(0, 1, 7, a.data(), b.data()), 1);
}

TEST(Slots, RandomOperationSequencesKeepUndoConsistent) {
    // Every operation followed by undo twice returns the slot and its undo slot to where they were.
    TempDir dir;
    auto buf = bigBuffer(), buf2 = bigBuffer();
    std::mt19937 gen(1);
    V img = randomImage(40, 30, 3);
    load(0, 40, 30, img);
    load(1, 40, 30, randomImage(40, 30, 4));
    for (int i = 0; i < 30; ++i) {
        switch (gen() % 9) {
        case 0:
            ASSERT_EQ(Medim(0, buf.data()), 0);
            break;
        case 1:
            ASSERT_EQ(Edgeim(gen() % 2, 0, buf.data()), 0);
            break;
        case 2:
            ASSERT_EQ(Dmim(0, buf.data()), 0);
            break;
        case 3:
            ASSERT_EQ(Turnim(gen() % 2, 0, buf.data(), buf2.data()), 0);
            break;
        case 4:
            ASSERT_EQ(Dpim(0, 1, 0, buf.data(), buf2.data()), 0);
            break;
        case 5:
            ASSERT_EQ(Compoim(1, 0, 0, buf.data(), buf2.data()), 0);
            break;
        case 6:
            ASSERT_EQ(Conim(gen() % 100, 100 + gen() % 156, 0, buf.data()), 0);
            break;
        case 7:
            ASSERT_EQ(Segmim(gen() % 256, 0, buf.data()), 0);
            break;
        default:
            ASSERT_EQ(Rofim(0, buf.data()), 0);
            break;
        }
        const std::string s = slotFiles(0), u = slotFiles(8);
        ASSERT_EQ(Undoim(0, buf.data(), buf2.data()), 0);
        ASSERT_EQ(Undoim(0, buf.data(), buf2.data()), 0);
        ASSERT_EQ(slotFiles(0), s);
        ASSERT_EQ(slotFiles(8), u);
    }
}

TEST(Slots, WorkFilesLeaveNoTemporaries) {
    TempDir dir;
    auto buf = bigBuffer();
    load(0, 8, 8, randomImage(8, 8, 1));
    ASSERT_EQ(Medim(0, buf.data()), 0);
    for (auto& e : std::filesystem::directory_iterator("."))
        EXPECT_NE(e.path().extension(), ".part");
}
