// The measurement in the program: its number boxes and its export.
#include "measure/measure_files.h"
#include "measure/measurement.h"
#include "measure/tiff_page.h"
#include "support/module_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace tovra;
using namespace tovra_test;

namespace {

class MeasurementTest : public ModuleTest {
protected:
    MeasurementModule measurement{module};
    void openStripes() {
        openRaw(0, 256, 256,
                testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon"));
    }
};

} // namespace

// A box that holds no usable number is refused where it is read, with a message, and goes back
// to the value last used: "abc" or 99999999 had turned speck removal off, 1e400 µm was ignored.
TEST_F(MeasurementTest, NumberBoxesThatSayNo) {
    openStripes();
    measurement.setSpeckArea(QStringLiteral("25"));
    measurement.setPixelSize(QStringLiteral("0.5"));
    measurement.measureCurrentSlot();
    ASSERT_TRUE(measurement.result().error.empty());
    EXPECT_DOUBLE_EQ(measurement.pixelSize(), 0.5);
    const struct {
        const char *speck, *pixel, *said;
    } rows[] = {{"abc", "0.5", "ゴミ"},          {"99999999", "0.5", "ゴミ"},   {"-3", "0.5", "ゴミ"},
                {"25", "1e400", "画素の大きさ"}, {"25", "abc", "画素の大きさ"}, {"25", "-1", "画素の大きさ"}};
    for (const auto& r : rows) {
        measurement.setSpeckArea(QLatin1String(r.speck));
        measurement.setPixelSize(QLatin1String(r.pixel));
        dialogs.inform(QString());
        measurement.measureCurrentSlot();
        EXPECT_TRUE(dialogs.lastMessage().contains(QString::fromUtf8(r.said))) << r.speck << " " << r.pixel;
        EXPECT_EQ(measurement.fields().speckArea, QStringLiteral("25")) << r.speck;
        EXPECT_EQ(measurement.fields().pixelSize, QStringLiteral("0.5")) << r.pixel;
        EXPECT_DOUBLE_EQ(measurement.pixelSize(), 0.5) << r.pixel;
    }
    measurement.setPixelSize(QString()); // empty: widths in pixels only
    dialogs.inform(QString());
    measurement.measureCurrentSlot();
    EXPECT_TRUE(dialogs.lastMessage().isEmpty());
    EXPECT_EQ(measurement.pixelSize(), 0);
}

// The measurement's CSV export on a full disk fails and leaves the old file, like the intervals.
TEST_F(MeasurementTest, ExportOnAFullDiskFails) {
    openStripes();
    measurement.measureCurrentSlot();
    const QString path = writeData(QStringLiteral("m.csv"), "old");
    auto exportOnAFullDisk = [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::_Exit(!measurement.exportCsv(path) && dataBytes("m.csv") == "old" ? 0 : 1);
    };
    EXPECT_EXIT(exportOnAFullDisk(), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(measurement.exportCsv(path));
}

// The information window's rectangle is measured with a warning that says where it came from,
// and the whole picture on request; the summary shows the standard errors and the verdict, and
// the export carries the command line's record columns.
TEST_F(MeasurementTest, RectangleFromTheInformationWindowIsSaid) {
    openStripes();
    state.setHfx1(QStringLiteral("10")), state.setHfy1(QStringLiteral("20"));
    state.setHfx2(QStringLiteral("200")), state.setHfy2(QStringLiteral("220"));
    measurement.measureCurrentSlot();
    ASSERT_TRUE(measurement.result().error.empty());
    EXPECT_EQ(measurement.result().area.x2, 200);
    ASSERT_EQ(measurement.result().warnings.size(), 1u);
    EXPECT_EQ(measurement.result().warnings[0].code, "rectangle_elsewhere");
    EXPECT_TRUE(measurement.result().reliable);
    EXPECT_TRUE(measurement.summary().contains(QStringLiteral("情報ウィンドウの矩形")));
    EXPECT_TRUE(measurement.summary().contains(QStringLiteral(" ± ")));
    measurement.measureCurrentSlot(true);
    EXPECT_EQ(measurement.result().area.x2, 256);
    EXPECT_TRUE(measurement.result().warnings.empty());
    EXPECT_TRUE(measurement.summary().contains(QStringLiteral("使える数値です")));
    EXPECT_TRUE(measurement.summary().contains(QStringLiteral("設定: メディアン あり, 照明むら補正 あり")));
    const QString path = writeData(QStringLiteral("r.csv"), "");
    ASSERT_TRUE(measurement.exportCsv(path));
    EXPECT_NE(dataBytes("r.csv").find(measure::recordCsvHeader()), std::string::npos);
}

// A slot opened from a 16-bit picture is measured at the file's full depth (its threshold in the
// file's levels) until an operation changes the slot; then the slot's own 0..255 are measured.
TEST_F(MeasurementTest, SixteenBitSlotMeasuredAtFullDepth) {
    QImage deep(256, 256, QImage::Format_Grayscale16);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            reinterpret_cast<quint16*>(deep.scanLine(y))[x] =
                (x + y / 3) % 20 < 8 ? 12000 : 44000 + (x * y) % 97;
    ASSERT_TRUE(deep.save(dataFile("deep.png"), "png"));
    ASSERT_TRUE(module.openImage(dataFile("deep.png"), QStringLiteral("deep.png")));
    measurement.measureCurrentSlot(true);
    ASSERT_TRUE(measurement.result().error.empty()) << measurement.result().error;
    EXPECT_GT(measurement.result().threshold, 20000);
    EXPECT_EQ(measurement.result().pattern, "stripes");
    module.doGradationInvert();
    measurement.measureCurrentSlot(true);
    ASSERT_TRUE(measurement.result().error.empty());
    EXPECT_LE(measurement.result().threshold, 255);
}

// An uneven frame shows its blocks' map: each block outlined, those that stand out shaded; an even
// frame shows none.
TEST_F(MeasurementTest, UnevenFrameShowsItsBlocks) {
    const std::string maze =
        testing_support::readBytes(testing_support::projectSamplesDir() / "maze_512.mon");
    ASSERT_EQ(maze.size(), 512u * 512u);
    std::string half = maze;
    const std::string* frames[] = {&maze, &half};
    for (int y = 0; y < 512; ++y)
        std::fill_n(half.begin() + y * 512 + 256, 256, static_cast<char>(200));
    for (const std::string* bytes : frames) {
        openRaw(0, 512, 512, *bytes);
        measurement.measureCurrentSlot(true);
        const measure::Result& r = measurement.result();
        ASSERT_TRUE(r.error.empty());
        ASSERT_FALSE(r.blockMap.empty());
        const measure::Rect& far = r.blockMap.back().rect; // bottom right, wholly in the uniform half
        const int64_t corner = measurement.picture().pointColor(far.x1, far.y1);
        if (bytes == &half) {
            EXPECT_TRUE(r.blockMap.back().odd);
            EXPECT_EQ(corner, 0x00D2FF); // the outline's yellow, as 0x00BBGGRR
        } else {
            EXPECT_NE(corner, 0x00D2FF);
        }
    }
}

// The window's masks: one frame's two planes, the pixel size and the record's black fraction in
// the OME-XML, and where the window and its settings came from; a folder as the target is refused.
TEST_F(MeasurementTest, MasksExportedAsTheCommandLineWritesThem) {
    openStripes();
    measurement.setPixelSize(QStringLiteral("0.5"));
    measurement.measureCurrentSlot(true);
    ASSERT_TRUE(measurement.result().error.empty());
    QString why;
    const QString path = dataFile("m.ome.tif");
    ASSERT_TRUE(measurement.exportMasks(path, why)) << why.toStdString();
    const PictureLayout layout = pictureLayout(path);
    EXPECT_EQ(layout.pages, 2);
    EXPECT_EQ(layout.metadata.kind, QStringLiteral("OME"));
    EXPECT_EQ(layout.metadata.pixelSizeUm, 0.5);
    ASSERT_EQ(layout.metadata.planes.size(), 2u);
    EXPECT_NEAR(layout.metadata.planes[0].values.value(QStringLiteral("black_fraction")).toDouble(),
                measurement.result().blackFraction, 1e-12);
    QString readWhy;
    const auto domains = readTiffDirectory(path, layout.directories[0], readWhy);
    ASSERT_TRUE(domains) << readWhy.toStdString();
    EXPECT_EQ(std::count(domains->px.begin(), domains->px.end(), 1.0F),
              std::count(measurement.result().black.begin(), measurement.result().black.end(), 1));
    EXPECT_TRUE(measurement.provenance().contains("\"window\":\"磁区幅の自動測定\""));
    EXPECT_FALSE(measurement.exportMasks(data, why));
}
