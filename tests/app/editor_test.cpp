// The Hough analysis editor's procedures: search, rows, spacing, band colours and interval files.
#include "hough/editor.h"
#include "hough/line_trace.h"
#include "hough/palette.h"
#include "measure/measurement.h"
#include "support/module_fixture.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <csignal>
#include <sys/resource.h>

using namespace tovra;
using namespace tovra_test;

namespace {

class EditorTest : public ModuleTest {
protected:
    HoughEditor ed{module};

    void select(double x1, double y1, double x2, double y2) {
        ed.picturePress(x1, y1);
        ed.pictureRelease(x2, y2);
    }
    // A 64 x 64 image with black horizontal lines at the given rows, acquired into the editor.
    void acquireLines(const std::vector<int>& rows, int length = 64) {
        std::string bytes(64 * 64, '\xff');
        for (int y : rows)
            for (int x = 0; x < length; ++x)
                bytes[static_cast<size_t>(y) * 64 + x] = '\0';
        openRaw(0, 64, 64, bytes);
        ed.acquireImage();
    }
    void setLines(const std::vector<double>& intercepts, double slope = 0.5) {
        for (size_t k = 0; k < intercepts.size(); ++k)
            ed.setRecord(static_cast<int>(k), {slope, intercepts[k], QStringLiteral("typed"), 1});
    }
    QStringList intervalLines() {
        QFile f(ed.intervalFile());
        if (!f.open(QIODevice::ReadOnly)) return {};
        QStringDecoder sjis("Shift_JIS");
        QStringList lines = QString(sjis.decode(f.readAll())).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
        return lines;
    }
};

} // namespace

TEST(EditorRules, RoundToDigitAndLineColours) {
    const struct {
        double x;
        int n;
        double expected;
    } rows[] = {{0.125, 3, 0.13},   {1.23456, 3, 1.23}, {1.235, 3, 1.24},   {-1.23456, 3, -1.23},
                {-0.583, 3, -0.59}, {0.125, 9, 0.125},  {0.125, -1, 0.125}, {8.944271909999, 8, 8.9442719}};
    for (const auto& r : rows)
        EXPECT_DOUBLE_EQ(roundToDigit(r.x, r.n), r.expected) << r.x << " " << r.n;
    EXPECT_EQ(paletteColour(lineColorIndex(6)), QColor(128, 128, 128)); // line 6 grey
    EXPECT_EQ(paletteColour(lineColorIndex(7)), QColor(0, 0, 255));     // line 7 light blue
    EXPECT_EQ(lineColorIndex(10), 0);
    EXPECT_EQ(lineColorIndex(-1), 0);
}

TEST_F(EditorTest, LoadShowsFourRowsAndTheStartingBound) {
    EXPECT_EQ(ed.sampleCount(), 3);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("3"));
    EXPECT_EQ(ed.fields().mfig, QStringLiteral("3000"));
    EXPECT_EQ(ed.leaderStrip().pixelHeight(), 192);
}

TEST_F(EditorTest, RowsStopAtNineAndAtNone) {
    for (int i = 0; i < 8; ++i)
        ed.addRow();
    EXPECT_EQ(ed.sampleCount(), 9);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("9"));
    for (int i = 0; i < 12; ++i)
        ed.removeRow();
    EXPECT_EQ(ed.sampleCount(), 0);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("0"));
}

TEST_F(EditorTest, ChecksCountAndInvertTwiceRestores) {
    ed.sikicClicked(2, false);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("2"));
    ed.checkAll();
    for (int k = 0; k <= 3; ++k)
        EXPECT_TRUE(ed.row(k).sikic && ed.row(k).bow) << k;
    ed.setBow(1, false);
    ed.invertChecks();
    ed.invertChecks();
    EXPECT_TRUE(ed.row(0).bow);
    EXPECT_FALSE(ed.row(1).bow);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("3"));
}

TEST_F(EditorTest, SearchFindsTheStrongestLineThenAWeakerOne) {
    acquireLines({20, 40}, 64);
    std::string shorter(64 * 64, '\xff'); // the line at row 40 shorter than the one at row 20
    select(0, 0, 64, 64);
    ed.singleSearch();
    EXPECT_EQ(ed.fields().mfig, QStringLiteral("64"));
    EXPECT_NEAR(ed.record(0).intercept, 20, 0.5);
    EXPECT_NEAR(ed.record(0).slope, 0, 1e-6);
    EXPECT_TRUE(ed.row(0).siki.startsWith(QStringLiteral("Y = "))) << ed.row(0).siki.toStdString();
    EXPECT_TRUE(ed.row(0).siki.contains(QStringLiteral(" * X  + 20"))) << ed.row(0).siki.toStdString();
    ed.singleSearch();
    EXPECT_LT(ed.fields().mfig.toInt(), 64); // equal votes are never returned twice
}

// A step the accumulator cannot hold, or a rectangle the search cannot serve, never reaches the
// library; the editor says why, once per command.
TEST_F(EditorTest, UnusableStepsAndRectanglesAreRefused) {
    acquireLines({20});
    select(0, 0, 64, 64);
    const struct {
        const char* step;
        double x1, y1, x2, y2;
        const char* said;
    } rows[] = {{"abc", 0, 0, 64, 64, "π"},
                {"0", 0, 0, 64, 64, "π"},
                {"0.1", 0, 0, 64, 64, "π"},
                {"1", 10, 10, 10, 30, "空"},
                {"1", 0, 0, 0, 0, "空"}};
    for (const auto& r : rows) {
        ed.setPif(QLatin1String(r.step));
        select(r.x1, r.y1, r.x2, r.y2);
        const int before = ed.searchCount(), messages = 0;
        dialogs.inform(QString());
        ed.singleSearch();
        ed.multiSearch();
        EXPECT_EQ(ed.searchCount(), before + messages) << r.step;
        EXPECT_TRUE(dialogs.lastMessage().contains(QString::fromUtf8(r.said))) << r.step;
    }
    // So is a working slot larger than the pixel buffer, and a rectangle reaching 750 pixels from
    // the origin.
    testing_support::writeBytes(workFile("16_inf.tmp").toStdString(), "2000\r\r\n2000\r\r\n16\r\r\n");
    ed.setPif(QStringLiteral("1"));
    select(0, 0, 64, 64);
    dialogs.inform(QString());
    ed.singleSearch();
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("大きすぎ")));
    std::string big(800 * 10, '\xff');
    openRaw(0, 800, 10, big);
    ed.acquireImage();
    ed.setPif(QStringLiteral("1"));
    select(0, 0, 800, 10);
    const int before = ed.searchCount();
    ed.singleSearch();
    EXPECT_EQ(ed.searchCount(), before);
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("750")));
}

// Candidates outside the angle window: the question comes after the 12th rejection, again after
// ten more, and Yes ends the command.
TEST_F(EditorTest, AbortQuestionAfterTwelveAndTenMoreRejections) {
    openRaw(0, 256, 256,
            testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon"));
    ed.acquireImage();
    select(1, 1, 255, 255);
    ed.singleSearch();
    ed.setHfrate(QStringLiteral("0")); // an empty window: every candidate is rejected
    dialogs.queueReply(FileDialogs::Reply::No);
    dialogs.queueReply(FileDialogs::Reply::Yes);
    const int before = ed.searchCount();
    ed.multiSearch();
    EXPECT_EQ(dialogs.questionsAsked(), 2);
    EXPECT_EQ(dialogs.lastQuestion(), QStringLiteral("直線が見つかりません処理を打ち切りますか？"));
    EXPECT_EQ(ed.searchCount() - before, 22);
    // The rejected candidate is not left in the row as if found; the rows after it were never
    // searched, and no band with a missing line gets a width.
    EXPECT_FALSE(ed.row(1).sikic);
    EXPECT_TRUE(ed.row(1).siki.isEmpty());
    EXPECT_EQ(ed.record(1).flag, 0);
    ed.sortAndMeasure();
    for (int k = 0; k < ed.sampleCount(); ++k)
        EXPECT_TRUE(ed.row(k).intval.isEmpty()) << k << " " << ed.row(k).intval.toStdString();
}

// The multi-line search ends when nothing is left below the bound, keeping what it found.
TEST_F(EditorTest, MultiSearchEndsWhenNoLineIsLeft) {
    acquireLines({10}, 1); // one black pixel: every line through it has the same single vote
    select(0, 0, 64, 64);
    ed.singleSearch();
    ed.multiSearch();
    EXPECT_EQ(dialogs.questionsAsked(), 0);
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("これ以上の直線はありません")))
        << dialogs.lastMessage().toStdString();
    EXPECT_FALSE(ed.row(1).sikic); // the last candidate, of no votes, is not kept
}

TEST_F(EditorTest, UncheckedRowsAreNotSearched) {
    acquireLines({10, 20, 30, 40}, 64);
    select(0, 0, 64, 64);
    ed.singleSearch();
    ed.setMfig(QStringLiteral("3000"));
    for (int k = 1; k <= 3; ++k)
        ed.sikicClicked(k, false);
    const int before = ed.searchCount();
    ed.multiSearch();
    EXPECT_EQ(ed.searchCount(), before);
}

TEST_F(EditorTest, OneSortPassPerClick) {
    ed.removeRow();
    const struct {
        std::vector<double> given, firstClick;
    } rows[] = {{{30, 10, 20}, {10, 20, 30}}, {{30, 20, 10}, {20, 10, 30}}};
    for (const auto& r : rows) {
        setLines(r.given);
        ed.sortAndMeasure();
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(ed.record(k).intercept, r.firstClick[k]) << k;
    }
    ed.sortAndMeasure(); // the second click completes 30, 20, 10
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(ed.record(k).intercept, 10.0 * (k + 1)) << k;
    // Two parallel lines 10 apart vertically: 10 cos(atan 0.5) across.
    EXPECT_EQ(ed.row(0).intval, QStringLiteral("8.9442719"));
}

TEST_F(EditorTest, SortDropsUnselectedLines) {
    setLines({10, 20, 30, 40});
    ed.sikicClicked(2, false);
    ed.sortAndMeasure();
    EXPECT_EQ(ed.sampleCount(), 2);
    EXPECT_EQ(ed.record(2).intercept, 40);
    EXPECT_EQ(ed.fields().nam, QStringLiteral("2"));
}

// A pair with a line never found, one that cannot be constructed, or no width the picture could
// hold, gives no width.
TEST_F(EditorTest, WidthsThatAreNotWidthsStayEmpty) {
    setLines({10, 20, 30, 1e15});
    ed.setRecord(1, {0, 20, QStringLiteral("typed"), 1}); // a flat line typed in
    ed.sortAndMeasure();
    EXPECT_NE(ed.row(0).intval, QString()); // from a sloped line to a flat one: a width
    EXPECT_EQ(ed.row(1).intval, QString()); // from a flat one: no perpendicular
    EXPECT_EQ(ed.row(2).intval, QString()); // farther than the picture's diagonal
    // A row never searched: neither of its bands has a width, above or below it.
    setLines({10, 20, 30, 40});
    ed.setRecord(2, {0.5, 25, QString(), 1});
    ed.sortAndMeasure();
    EXPECT_EQ(ed.record(2).intercept, 25);
    EXPECT_NE(ed.row(0).intval, QString());
    EXPECT_EQ(ed.row(1).intval, QString());
    EXPECT_EQ(ed.row(2).intval, QString());
}

TEST_F(EditorTest, ExportAveragesOverMeasuredBandsOnly) {
    ed.setBow(0, true), ed.setBow(1, false), ed.setBow(2, true);
    ed.setIntval(0, QStringLiteral("8")), ed.setIntval(1, QStringLiteral("10")),
        ed.setIntval(2, QStringLiteral("14"));
    ed.exportIntervals();
    EXPECT_EQ(intervalLines(), QStringList({QStringLiteral("\"ハフ変換解析エディッタ\""),
                                            QStringLiteral("\"白\",10"), QStringLiteral("\"黒\",11")}));
    // An unmeasured band counts for nothing; a class without bands has no average to give.
    QFile::remove(ed.intervalFile());
    ed.setIntval(1, QString());
    ed.exportIntervals();
    EXPECT_EQ(intervalLines().mid(1), QStringList({QStringLiteral("\"白\","), QStringLiteral("\"黒\",11")}));
    // Per band, unmeasured bands left out; appended, never truncated.
    ed.setAve(false);
    ed.exportIntervals();
    EXPECT_EQ(intervalLines().mid(3), QStringList({QStringLiteral("\"ハフ変換解析エディッタ\""),
                                                   QStringLiteral("1,8"), QStringLiteral("1,14")}));
}

TEST_F(EditorTest, FileNumberBeyondTheBarStillNamesTheFile) {
    ed.setFintval(QStringLiteral("12"));
    EXPECT_EQ(ed.fields().vs, 12);
    ed.setFintval(QStringLiteral("65"));
    EXPECT_EQ(ed.fields().vs, 12); // 65 is beyond the bar
    ed.exportIntervals();
    EXPECT_TRUE(QFile::exists(workFile("65_intval.csv")));
    ed.setVs(3);
    EXPECT_EQ(ed.fields().fintval, QStringLiteral("3"));
}

// Region judgement reads the source under the probe strip: black, white, or unknown outside it.
TEST_F(EditorTest, RegionJudgementSamplesTheProbeStrip) {
    std::string source(64 * 64, '\xff');
    for (int y = 20; y < 30; ++y)
        for (int x = 0; x < 64; ++x)
            source[static_cast<size_t>(y) * 64 + x] = '\0';
    openRaw(0, 64, 64, source);
    ed.acquireImage();
    ed.acquireSourceImage();
    select(10, 0, 20, 64);
    ed.toggleProbe();
    EXPECT_EQ(ed.fields().c9cc, QStringLiteral("非表示"));
    setLines({20, 30, 40, 200}, 0); // bands 20..30 black, 30..40 white, 40..200 mostly below the strip
    ed.setBow(1, true);
    ed.setBow(2, true);
    ed.regionJudgement();
    EXPECT_TRUE(ed.row(0).bow);
    EXPECT_FALSE(ed.row(1).bow);
    EXPECT_TRUE(ed.row(2).bow); // sampled at y = 120, outside the 64-pixel strip: left as it was
    ed.toggleProbe();
    EXPECT_EQ(ed.fields().c9cc, QStringLiteral("表示"));
}

// The whole road on binarized stripes at -40 degrees: walls made black by edge and inversion,
// lines found, sorted, measured, judged against the binarized source, exported per band. Each
// exported line is checked against the found lines by a construction of its own.
TEST_F(EditorTest, StripesFromSearchToIntervalFile) {
    const std::string stripes =
        testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon");
    openRaw(1, 256, 256, stripes); // the source, for the probe strip
    openRaw(0, 256, 256, stripes);
    ASSERT_EQ(module.doEdge(0), kStatusOk);
    ASSERT_EQ(module.doGradationInvert(), kStatusOk);
    state.setId(QStringLiteral("1"));
    ed.acquireSourceImage();
    state.setId(QStringLiteral("0"));
    ed.acquireImage();
    select(1, 1, 255, 255); // one pixel inside the picture
    for (int i = 0; i < 6; ++i)
        ed.addRow();
    ed.singleSearch();
    EXPECT_NEAR(std::atan(ed.record(0).slope) * 180 / HoughEditor::kPi, -40, 1.0);
    ed.multiSearch();
    const int n = ed.sampleCount();
    ASSERT_EQ(n, 9);
    for (int click = 0; click < n; ++click)
        ed.sortAndMeasure();
    for (int k = 0; k < n; ++k)
        ASSERT_LE(ed.record(k).intercept, ed.record(k + 1).intercept) << k;
    ed.toggleProbe(); // the strip at the rectangle's left edge: its middle column is x = 16
    ed.regionJudgement();
    ed.setAve(false);
    ed.exportIntervals();

    const QStringList lines = intervalLines();
    ASSERT_EQ(lines.size(), n + 1);
    for (int k = 0; k < n; ++k) {
        const LineRecord &a = ed.record(k), &b = ed.record(k + 1);
        // From the point of line k at x = 128 along its unit normal to line k + 1.
        const double px = 128, py = a.slope * px + a.intercept;
        const double len = std::hypot(a.slope, 1.0), nx = -a.slope / len, ny = 1 / len;
        const double t = (b.slope * px + b.intercept - py) / (ny - b.slope * nx);
        // The band's colour in the source, half way between the lines at the strip's middle.
        const double y1 = 16 * a.slope + a.intercept, y2 = 16 * b.slope + b.intercept;
        const int ym = static_cast<int>(std::floor(y1 + std::fabs(y2 - y1) / 2));
        const QStringList fields = lines[k + 1].split(QLatin1Char(','));
        ASSERT_EQ(fields.size(), 2) << lines[k + 1].toStdString();
        EXPECT_NEAR(fields[1].toDouble(), std::fabs(t), 1e-6) << k;
        if (ym >= 0 && ym < 256) {
            const bool black = static_cast<unsigned char>(stripes[static_cast<size_t>(ym) * 256 + 16]) == 0;
            EXPECT_EQ(fields[0], black ? QStringLiteral("1") : QStringLiteral("0")) << k;
        }
    }
}

// The interval file on a full disk: the export says so and the file keeps what it had, not half
// a block more (the limit on a file's size stands in for the disk, in a child process).
TEST_F(EditorTest, ExportOnAFullDiskSaysSoAndKeepsTheFile) {
    ed.setIntval(0, QStringLiteral("8"));
    ed.exportIntervals();
    const std::string before = testing_support::readBytes(ed.intervalFile().toStdString());
    ASSERT_FALSE(before.empty());
    auto exportOnAFullDisk = [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 8, before.size() + 8};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        dialogs.inform(QString());
        ed.exportIntervals();
        const bool kept = testing_support::readBytes(ed.intervalFile().toStdString()) == before;
        std::_Exit(kept && dialogs.lastMessage().contains(QStringLiteral("書き込めません")) ? 0 : 1);
    };
    EXPECT_EXIT(exportOnAFullDisk(), testing::ExitedWithCode(0), "");
}

// Characters Shift-JIS cannot hold become "?" and the user is told; the others stay.
TEST_F(EditorTest, ExportReplacesWhatShiftJisCannotHoldVisibly) {
    QStringList replaced;
    EXPECT_EQ(shiftJis(QStringLiteral("磁区 µm ü.mon"), replaced),
              QStringEncoder("Shift_JIS").encode(QStringLiteral("磁区 ?m ?.mon")));
    EXPECT_EQ(replaced, QStringList({QStringLiteral("µ"), QStringLiteral("ü")}));
    acquireLines({20});
    state.imageWindow(0).nameLabel = QStringLiteral("Müller µ.mon");
    ed.acquireImage();
    ed.exportIntervals();
    EXPECT_EQ(intervalLines().first(), QStringLiteral("\"M?ller ?.mon\""));
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("「?」")))
        << dialogs.lastMessage().toStdString();
}

// A failed copy into slot 16 leaves it whole: its pixels and its size, and the editor as it was.
TEST_F(EditorTest, AcquisitionThatCannotCopyKeepsTheOldSlot) {
    acquireLines({20});
    const std::string pixels = workBytes("16_im.tmp"), size = workBytes("16_inf.tmp");
    openRaw(0, 32, 32, std::string(32 * 32, '\0'));
    QFile::remove(workFile("0_inf.tmp"));
    dialogs.inform(QString());
    ed.acquireImage();
    EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("前の画像のまま")));
    EXPECT_EQ(workBytes("16_im.tmp"), pixels);
    EXPECT_EQ(workBytes("16_inf.tmp"), size);
    EXPECT_EQ(ed.fields().mx, QStringLiteral("64"));
    EXPECT_EQ(ed.picture().pixelWidth(), 64);
}

// Corners typed far beyond any picture are taken as its border, not as overflowed numbers.
TEST_F(EditorTest, HugeTypedCornersAreTheBorder) {
    acquireLines({20});
    for (const char* corner : {"1e10", "1e300", "99999999999"}) {
        state.setHfx1(QStringLiteral("-1e10"));
        state.setHfy1(QStringLiteral("0"));
        state.setHfx2(QLatin1String(corner));
        state.setHfy2(QLatin1String(corner));
        ed.setMfig(QStringLiteral("3000"));
        const int before = ed.searchCount();
        ed.singleSearch();
        EXPECT_EQ(ed.searchCount(), before + 1) << corner;
        EXPECT_NEAR(ed.record(0).intercept, 20, 0.5) << corner;
    }
}

// The source picture is as large as the slot it copies, before any acquisition too: the probe
// strip of a 512-pixel picture samples its own rows.
TEST_F(EditorTest, SourcePictureTakesTheSlotsSize) {
    std::string rows(512 * 512, '\xff');
    for (int x = 0; x < 512; ++x)
        rows[static_cast<size_t>(400) * 512 + x] = '\0';
    openRaw(0, 512, 512, rows);
    ed.acquireSourceImage();
    EXPECT_EQ(ed.sourcePicture().pixelWidth(), 512);
    EXPECT_EQ(ed.sourcePicture().pixelHeight(), 512);
    EXPECT_EQ(qRed(ed.sourcePicture().image().pixel(10, 400)), 0);
    EXPECT_EQ(qRed(ed.sourcePicture().image().pixel(10, 399)), 255);
}

// A line whose y leaves 16 bits in every column of the picture draws nothing, in the editor as in
// the simulator, instead of a row of points at the last y that fitted.
TEST_F(EditorTest, LinesBeyondSixteenBitsDrawNothing) {
    acquireLines({});
    const QImage before = ed.picture().image();
    ed.drawLine(-1000, -750000, 0);
    EXPECT_EQ(ed.picture().image(), before);
    const auto points = traceLine(63, [](double x) { return x < 10 ? 1e9 : x; });
    ASSERT_EQ(points.size(), 54u);
    EXPECT_EQ(points.front(), QPointF(10, 10));
}
