#include "histogram/histogram.h"
#include "support/module_fixture.h"

#include <QFile>

using namespace tovra;
using namespace tovra_test;

namespace {

class HistogramTest : public ModuleTest {
protected:
    HistogramModule histogram{module};

    // The picture row (from the top) of the dark-blue curve in a pixel column, or -1.
    int curveRow(Canvas& c, int px) {
        for (int y = 0; y < c.pixelHeight(); ++y)
            if (c.image().pixel(px, y) == HistogramModule::kCurve) return y;
        return -1;
    }
    std::string lines(std::initializer_list<int> values) {
        std::string s;
        for (int v : values)
            s += std::to_string(v) + "\r\n";
        return s;
    }
};

} // namespace

TEST_F(HistogramTest, FirstComputationWritesFileZeroAndAdvances) {
    openRaw(0, 2, 2, std::string("\x00\x00\xff\x07", 4));
    histogram.histogramButton();
    EXPECT_TRUE(workExists("0_hdat.csv"));
    EXPECT_EQ(histogram.fields().ht, QStringLiteral("1"));
    EXPECT_EQ(histogram.fields().vsch, 1);
    EXPECT_EQ(state.tool().segt, QStringLiteral("0")); // the peak is level 0
    // The curve: bin k at x = k + 1, the highest count on the top edge.
    EXPECT_EQ(histogram.hist().scaleHeight(), 2);
    EXPECT_EQ(curveRow(histogram.hist(), 1), 0);
}

TEST_F(HistogramTest, PeakAndMeanBecomeTheThreshold) {
    openRaw(0, 4, 1, std::string("\x0a\x14\x14\xc8", 4)); // 10, 20, 20, 200
    histogram.makeHistogram(0);
    EXPECT_EQ(state.tool().segt, QStringLiteral("20"));
    EXPECT_EQ(state.tool().hscseg, 20);
    EXPECT_EQ(histogram.hist().scaleHeight(), 20); // the vertical scale follows the threshold
    histogram.setMeanMode(true);
    histogram.makeHistogram(99);
    EXPECT_EQ(state.tool().segt, QStringLiteral("62"));
    EXPECT_EQ(histogram.fields().ht, QStringLiteral("2"));
    EXPECT_TRUE(workExists("1_hdat.csv"));
}

TEST_F(HistogramTest, FailedComputationStillAdvances) {
    state.setId(QStringLiteral("5"));
    histogram.setHt(QStringLiteral("65"));
    EXPECT_EQ(histogram.fields().vsch, 0); // 65 is beyond the bar
    histogram.makeHistogram(0);
    EXPECT_EQ(histogram.fields().ht, QStringLiteral("66"));
    EXPECT_EQ(state.tool().segt, QStringLiteral("0"));
}

TEST_F(HistogramTest, MaximumCutLowersTheScalePeakByPeak) {
    std::vector<int> counts(256, 0);
    counts[10] = 500, counts[100] = 300, counts[200] = 40, counts[201] = 40;
    std::string text;
    for (int c : counts)
        text += std::to_string(c) + "\r\n";
    testing_support::writeBytes(workFile("3_hdat.csv").toStdString(), text);
    histogram.drawHistogram(QStringLiteral("3"), false);
    EXPECT_EQ(histogram.hist().scaleHeight(), 500);
    histogram.setHt2(QStringLiteral("3"));
    histogram.maximumCutButton();
    EXPECT_EQ(histogram.hist().scaleHeight(), 300);
    histogram.maximumCutButton();
    EXPECT_EQ(histogram.hist().scaleHeight(), 40);
    // A histogram never written: a flat line along the top, the scale unchanged.
    histogram.setHt2(QStringLiteral("44"));
    histogram.maximumCutButton();
    EXPECT_EQ(histogram.hist().scaleHeight(), 40);
    EXPECT_EQ(curveRow(histogram.hist(), 100), 0);
}

TEST_F(HistogramTest, BinarizedSampleDrawsBothPeaksOnScale) {
    // Counts far above 32767: both peaks stay inside the picture.
    std::string img(512 * 512, '\x00');
    for (size_t i = 0; i < img.size(); i += 3)
        img[i] = '\xff';
    openRaw(0, 512, 512, img);
    histogram.histogramButton();
    const int top = curveRow(histogram.hist(), 1);
    EXPECT_EQ(histogram.hist().scaleHeight(), 174762);
    EXPECT_EQ(top, 0); // the larger peak touches the top edge
    const int white =
        curveRow(histogram.hist(), static_cast<int>(256 * histogram.hist().pixelWidth() / 256.0) - 1);
    EXPECT_GT(white, 0); // the smaller one lies below it, on the picture
}

TEST_F(HistogramTest, LineProfilesPlainAndDifference) {
    openRaw(0, 3, 3, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9));
    state.setHfx1(QStringLiteral("1"));
    state.setHfy1(QStringLiteral("1"));
    histogram.lineProfileButton();
    EXPECT_EQ(workBytes("0_ylhdat.csv"), lines({0, 5, 8}));
    EXPECT_EQ(workBytes("0_xlhdat.csv"), lines({0, 5, 6}));
    EXPECT_EQ(histogram.fields().lh2, QStringLiteral("1"));
    EXPECT_EQ(histogram.lhx().scaleWidth(), 3);
    EXPECT_EQ(histogram.lhy().scaleHeight(), 3);
    openRaw(0, 1, 3, std::string("\x00\x0a\x1e", 3));
    state.setHfx1(QStringLiteral("0"));
    state.setHfy1(QStringLiteral("0"));
    histogram.setDifference(true);
    histogram.lineProfileButton();
    EXPECT_EQ(workBytes("1_ylhdat.csv"), lines({0, 0, 255}));
}

TEST_F(HistogramTest, ProfilePicturesFollowTheFiles) {
    openRaw(0, 256, 4, std::string(256 * 4, '\x00'));
    std::string row;
    for (int k = 0; k < 256; ++k)
        row += std::to_string(k) + "\r\n";
    testing_support::writeBytes(workFile("0_xlhdat.csv").toStdString(), row);
    testing_support::writeBytes(workFile("0_ylhdat.csv").toStdString(), lines({0, 200, 200, 200}));
    histogram.setLh2(QStringLiteral("1"));
    histogram.drawLineProfiles();
    // Row profile: the grey value measured down from the top edge.
    // Column k stands at x = k + 1 of 256 scale units across 345 pixels.
    EXPECT_EQ(curveRow(histogram.lhx(), 2), 0);
    EXPECT_NEAR(curveRow(histogram.lhx(), 300), 221 * 89 / 256.0, 2);
    // Column profile: measured leftwards from the right edge.
    Canvas& lhy = histogram.lhy();
    const int y = lhy.pixelHeight() / 2;
    int col = -1;
    for (int x = 0; x < lhy.pixelWidth(); ++x)
        if (lhy.image().pixel(x, y) == HistogramModule::kCurve) col = x;
    EXPECT_NEAR(col, (256 - 200) * lhy.pixelWidth() / 256.0, 2);
    // Missing files, sizes over 1024 and points outside never go outside the table.
    state.setMx(QStringLiteral("3000"));
    state.setMy(QStringLiteral("-5"));
    histogram.setLh2(QStringLiteral("77"));
    histogram.drawLineProfiles();
    state.setHfx1(QStringLiteral("9999"));
    histogram.lineProfileButton();
}

TEST_F(HistogramTest, ReadOutsUseThePictureScale) {
    std::string text;
    for (int k = 0; k < 256; ++k)
        text += (k == 5 ? "1000" : "0") + std::string("\r\n");
    testing_support::writeBytes(workFile("0_hdat.csv").toStdString(), text);
    histogram.drawHistogram(QStringLiteral("0"), false);
    histogram.histMove(12.7, 250.2);
    EXPECT_EQ(histogram.fields().xy, QStringLiteral("749-12"));
    histogram.histPress(3.2, 999.5);
    EXPECT_EQ(histogram.fields().hfx1, QStringLiteral("0"));
    EXPECT_EQ(histogram.fields().hfy1, QStringLiteral("3"));
    histogram.lhy().setScaleWidth(256);
    histogram.lhyPress(256, 17.9);
    EXPECT_EQ(histogram.fields().hfx1, QStringLiteral("17"));
    EXPECT_EQ(histogram.fields().hfy1, QStringLiteral("0")); // the right edge reads grey 0
    histogram.lhxMove(10.5, 99.9);
    EXPECT_EQ(histogram.fields().xy, QStringLiteral("10-99"));
}
