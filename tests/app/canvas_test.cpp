// The picture areas: scales, drawing, colours and snapshots.
#include "core/canvas.h"

#include <gtest/gtest.h>

using namespace tovra;

TEST(Canvas, GreyLevelsRoundHalvesToEvenAndClamp) {
    Canvas c(7, 1);
    const double v[] = {0.5, 1.5, 2.5, -3.0, 300.0, std::nan(""), 254.5};
    c.drawGrey(v, 7, 1);
    const int expected[] = {0, 2, 2, 0, 255, 0, 254};
    for (int x = 0; x < 7; ++x)
        EXPECT_EQ(qRed(c.image().pixel(x, 0)), expected[x]) << x;
    EXPECT_EQ(qBlue(c.image().pixel(1, 0)), 2);
}

TEST(Canvas, ScalesDrawingAndSnapshots) {
    Canvas c(100, 50);
    EXPECT_EQ(c.scaleWidth(), 100);
    EXPECT_FALSE(c.setScaleHeight(0)); // a scale of 0 fails and keeps the old one
    EXPECT_EQ(c.scaleHeight(), 50);
    ASSERT_TRUE(c.setScaleWidth(10));
    ASSERT_TRUE(c.setScaleHeight(5));
    EXPECT_EQ(c.toPixels(5, 2.5), QPointF(50, 25));
    EXPECT_EQ(c.fromPixels(50, 25), QPointF(5, 2.5));
    c.fillBox(1, 1, 2, 2, Qt::red);              // pixels 10..20 in both directions
    EXPECT_EQ(c.pointColor(1.5, 1.5), 0x0000FF); // red as 0x00BBGGRR
    EXPECT_EQ(c.pointColor(-1, 0), -1);
    EXPECT_EQ(c.pointColor(10, 0), -1);
    c.keepSnapshot();
    c.setLineWidth(3);
    c.line(0, 4, 10, 4, Qt::blue);
    EXPECT_EQ(c.pointColor(5, 4), 0xFF0000);
    c.restoreSnapshot();
    EXPECT_EQ(c.pointColor(5, 4), 0xFFFFFF);
    EXPECT_EQ(c.pointColor(1.5, 1.5), 0x0000FF);
    c.setPixelScale();
    c.point(99, 49, Qt::black);
    EXPECT_EQ(c.pointColor(99, 49), 0);
    c.point(100, 49, Qt::black); // outside: clipped
    c.box(0, 0, 99, 49, Qt::green);
    EXPECT_EQ(c.pointColor(0, 30), 0x00FF00);
    c.clear();
    EXPECT_EQ(c.pointColor(0, 30), 0xFFFFFF);
    c.resize(20, 10); // keeps what fits, in pixels
    EXPECT_EQ(c.pixelWidth(), 20);
}
