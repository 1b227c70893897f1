// The Hough simulator's procedures, without a display.
#include "core/system_info.h"
#include "hough/palette.h"
#include "hough/simulator.h"
#include "support/module_fixture.h"
#include "version.h"

using namespace tovra;
using namespace tovra_test;

namespace {

class SimulatorTest : public ModuleTest {
protected:
    HoughSimulator sim{module};

    // Opens a w x h image (white, with the given black pixels) and acquires it into P1.
    void acquire(int w, int h, const std::vector<std::pair<int, int>>& black) {
        std::string bytes(static_cast<size_t>(w) * h, '\xff');
        for (auto [x, y] : black)
            bytes[static_cast<size_t>(y) * w + x] = '\0';
        openRaw(0, w, h, bytes);
        sim.acquireImage();
    }
    void select(int x1, int y1, int x2, int y2) {
        state.setHfx1(QString::number(x1)), state.setHfy1(QString::number(y1));
        state.setHfx2(QString::number(x2)), state.setHfy2(QString::number(y2));
    }
    int pixelsOf(const Canvas& c, QColor colour) const {
        int n = 0;
        for (int y = 0; y < c.pixelHeight(); ++y)
            for (int x = 0; x < c.pixelWidth(); ++x)
                n += c.image().pixel(x, y) == colour.rgb();
        return n;
    }
};

} // namespace

TEST_F(SimulatorTest, StepBoxResetsValuesOutsideTheRange) {
    const struct {
        const char *typed, *kept;
    } rows[] = {{"200", "1"}, {"0.05", "1"}, {"0.1", "0.1"}, {"180", "180"}, {"abc", "abc"}};
    for (const auto& row : rows) {
        sim.setStep(QLatin1String(row.typed));
        EXPECT_EQ(sim.step(), QLatin1String(row.kept)) << row.typed;
    }
}

// A step that is not a number from 0.1 to 180 runs nothing and says why.
TEST_F(SimulatorTest, UnusableStepRunsNothing) {
    acquire(8, 8, {{2, 2}});
    select(0, 0, 7, 7);
    sim.setStep(QStringLiteral("abc"));
    const QImage image = sim.image().image(), hough = sim.hough().image();
    sim.imagePress(3, 3);
    sim.houghPress(90, 800);
    EXPECT_FALSE(sim.autoTransform());
    EXPECT_EQ(sim.image().image(), image);
    EXPECT_EQ(sim.hough().image(), hough);
    EXPECT_EQ(sim.colourIndex(), 0);
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("π分割STEP")));
}

TEST_F(SimulatorTest, PointAtTheOriginTracesRhoZero) {
    sim.imagePress(100, 100); // the first trace is black, like the axis
    sim.imagePress(0, 0);
    const QColor blue = paletteColour(1);
    int row = 0; // rho = 0 lies half way down: 750 of 1500 units on 265 pixels
    for (int x = 0; x < sim.hough().pixelWidth(); ++x)
        row += sim.hough().image().pixel(x, 132) == blue.rgb() ||
               sim.hough().image().pixel(x, 133) == blue.rgb();
    EXPECT_GE(row, sim.hough().pixelWidth() - 2);
    EXPECT_EQ(state.info().hfx1, QStringLiteral("0"));
}

TEST_F(SimulatorTest, DragSelectsOrderedRectangleWithoutTracing) {
    sim.setSelecting(true);
    const QImage image = sim.image().image(), hough = sim.hough().image();
    sim.imagePress(50, 60);
    sim.imageRelease(10, 20);
    EXPECT_EQ(sim.image().image(), image);
    EXPECT_EQ(sim.hough().image(), hough);
    const InfoFields& f = state.info();
    EXPECT_EQ(QStringList({f.hfx1, f.hfy1, f.hfx2, f.hfy2}),
              QStringList(
                  {QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("50"), QStringLiteral("60")}));
}

TEST_F(SimulatorTest, TraceColoursSkipLightGreyAndWrap) {
    std::vector<int> used;
    for (int i = 0; i < 15; ++i) {
        used.push_back(sim.colourIndex());
        sim.imagePress(10, 10);
    }
    EXPECT_EQ(used[0], 0); // black
    EXPECT_EQ(used[3], 3); // cyan
    EXPECT_EQ(used[7], 8); // grey: light grey (7) is skipped
    EXPECT_EQ(used[13], 14);
    EXPECT_EQ(used[14], 0); // white (15) wraps to black
}

TEST_F(SimulatorTest, AcquisitionPlotsEachPixelAtTheImagesScale) {
    openRaw(0, 2, 2, std::string("\x00\xff\x80\x40", 4));
    sim.acquireImage();
    const QImage& p = sim.image().image();
    EXPECT_EQ(qRed(p.pixel(0, 0)), 0);
    EXPECT_EQ(qRed(p.pixel(132, 0)), 255);
    EXPECT_EQ(qRed(p.pixel(0, 132)), 128);
    EXPECT_EQ(qRed(p.pixel(132, 132)), 64);
}

TEST_F(SimulatorTest, WhiteRectangleLeavesTheNearlyVerticalNoPeakLine) {
    acquire(16, 16, {});
    select(0, 0, 15, 15);
    const auto peak = sim.autoTransform();
    ASSERT_TRUE(peak);
    EXPECT_EQ(peak->votes, 0);
    EXPECT_EQ(peak->angleIndex, 0);
    EXPECT_EQ(peak->distanceIndex, 0);
    EXPECT_EQ(peak->phi, 0.001);
}

// The transform finds a drawn line: its normal angle and distance, from the geometry.
TEST_F(SimulatorTest, AutomaticTransformFindsADrawnLine) {
    const struct {
        int angle, rho, votes;
    } rows[] = {
        {90, 40, 100},  // y = 40: normal at 90 degrees, 40 from the origin
        {135, 0, 64},   // y = x: normal at 135 degrees through the origin
        {180, -30, 80}, // x = 30: the normal at 0 degrees is never a candidate, 180 is
    };
    std::vector<std::pair<int, int>> horizontal, diagonal, vertical;
    for (int x = 0; x < 100; ++x)
        horizontal.emplace_back(x, 40);
    for (int x = 0; x < 64; ++x)
        diagonal.emplace_back(x, x);
    for (int y = 10; y < 90; ++y)
        vertical.emplace_back(30, y);
    const std::vector<std::pair<int, int>>* lines[] = {&horizontal, &diagonal, &vertical};
    for (size_t i = 0; i < 3; ++i) {
        sim.clearAll();
        acquire(100, 100, *lines[i]);
        select(0, 0, 99, 99);
        const auto peak = sim.autoTransform();
        ASSERT_TRUE(peak);
        EXPECT_EQ(peak->angleIndex, rows[i].angle) << i;
        EXPECT_EQ(peak->distanceIndex - 750, rows[i].rho) << i;
        EXPECT_EQ(peak->votes, rows[i].votes) << i;
        EXPECT_GT(pixelsOf(sim.hough(), paletteColour(0)), 1000) << i; // the votes are drawn
    }
}

// A rectangle reaching far outside the picture votes what the picture shows, no more.
TEST_F(SimulatorTest, RectangleOutsideThePictureIsClipped) {
    acquire(50, 50, {{10, 10}, {20, 20}, {30, 30}});
    select(0, 0, 49, 49);
    const auto inside = sim.autoTransform();
    sim.acquireImage(); // the best line drawn over the picture would vote too
    select(-32768, -32768, 32767, 32767);
    const auto clipped = sim.autoTransform();
    ASSERT_TRUE(inside && clipped);
    EXPECT_EQ(clipped->votes, inside->votes);
    EXPECT_EQ(clipped->angleIndex, inside->angleIndex);
    EXPECT_EQ(clipped->distanceIndex, inside->distanceIndex);
}

TEST_F(ModuleTest, SystemInformationNamesVersionFolderAndLibrary) {
    const QString text = systemInformation(quarn);
    EXPECT_TRUE(text.contains(QStringLiteral("Tovra " TOVRA_VERSION)));
    EXPECT_TRUE(text.contains(work));
    EXPECT_TRUE(text.contains(QStringLiteral("Quarn")));
    // Japanese like the rest of the program.
    for (const char* label : {"CPU のコア数: ", "メモリ: ", "作業フォルダ: ", "画像処理ライブラリ: "})
        EXPECT_TRUE(text.contains(QString::fromUtf8(label))) << label;
    for (const char* english : {"cores", "Memory", "Work folder", "built with"})
        EXPECT_FALSE(text.contains(QLatin1String(english))) << english;
}
