#include "core/batch.h"
#include "histogram/histogram.h"
#include "measure/measure_files.h"
#include "support/module_fixture.h"

#include <sys/stat.h>

#include <QBuffer>
#include <QFile>
#include <functional>
#include <random>

using namespace tovra;
using namespace tovra_test;

TEST_F(ModuleTest, OpenRawFillsSlotWindowAndList) {
    openRaw(0, 4, 3, ramp(12, 20));
    EXPECT_EQ(workBytes("0_im.tmp"), ramp(12, 20));
    EXPECT_EQ(workBytes("8_im.tmp"), ramp(12, 20));
    EXPECT_EQ(workBytes("0_inf.tmp"), "4\r\r\n3\r\r\n0\r\r\n");
    EXPECT_TRUE(state.slotInUse(0));
    EXPECT_EQ(state.tool().slotList[0], QStringLiteral("ID 0 be"));
    const ImageWindowModel& win = state.imageWindow(0);
    EXPECT_TRUE(win.visible);
    EXPECT_EQ(win.caption, QStringLiteral("イメージ ID 0"));
    EXPECT_EQ(win.nameLabel, dataFile("img.mon"));
    EXPECT_EQ(win.picture->pixelWidth(), 4);
    EXPECT_EQ(drawn(0, 1, 0), 20); // auto-draw is on
    EXPECT_EQ(drawn(0, 3, 2), 220);
    // Opening again into the occupied slot replaces the contents; the caption does not grow.
    openRaw(0, 4, 3, ramp(12, 1));
    EXPECT_EQ(win.caption, QStringLiteral("イメージ ID 0"));
    EXPECT_EQ(drawn(0, 1, 0), 1);
}

TEST_F(ModuleTest, RawFilesUseTheCurrentSize) {
    openRaw(1, 2, 2, ramp(8));
    EXPECT_EQ(workBytes("1_im.tmp"), ramp(4));
    // Width and height persist across slots.
    state.setId(QStringLiteral("2"));
    module.openImage(dataFile("img.mon"), QStringLiteral("img.mon"));
    EXPECT_EQ(workBytes("2_inf.tmp"), "2\r\r\n2\r\r\n2\r\r\n");
}

TEST_F(ModuleTest, OpenCsvStretchesToFullRange) {
    state.setMx(QStringLiteral("2"));
    state.setMy(QStringLiteral("2"));
    const QString path = writeData(QStringLiteral("a.csv"), "10,15\r\n20,10\r\n");
    module.openImage(path, QStringLiteral("a.csv"));
    EXPECT_EQ(workBytes("0_im.tmp"), std::string("\x00\x7f\xff\x00", 4));
    EXPECT_EQ(drawn(0, 0, 1), 255);
}

TEST_F(ModuleTest, OpenPicturesTakeSizeAndRedChannel) {
    QImage img(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            img.setPixel(x, y, qRgb(x * 50 + y, 7, 9));
    ASSERT_TRUE(img.save(dataFile("p.bmp"), "BMP"));
    module.openImage(dataFile("p.bmp"), QStringLiteral("p.bmp"));
    EXPECT_EQ(state.info().mx, QStringLiteral("5"));
    EXPECT_EQ(state.info().my, QStringLiteral("3"));
    std::string expected;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            expected.push_back(static_cast<char>(x * 50 + y));
    EXPECT_EQ(workBytes("0_im.tmp"), expected);
    // The window shows the picture as loaded.
    EXPECT_EQ(qGreen(state.imageWindow(0).picture->image().pixel(0, 0)), 7);
}

// PNG and TIFF open like the other pictures, 8 bits as they are and 16 bits mapped by their full
// range onto 0..255 as CSV images are (truncated in the work file); 開く offers them.
TEST_F(ModuleTest, PngAndTiffOpenLikeTheOtherPictures) {
    QImage deep(4, 2, QImage::Format_Grayscale16);
    const quint16 levels[8] = {1000, 2000, 3000, 51000, 1000, 1000, 26000, 51000};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<quint16*>(deep.scanLine(y))[x] = levels[y * 4 + x];
    QImage grey(3, 1, QImage::Format_Grayscale8);
    for (int x = 0; x < 3; ++x)
        grey.setPixel(x, 0, qRgb(10 * (x + 1), 10 * (x + 1), 10 * (x + 1)));
    for (const char* kind : {"png", "tif"}) {
        ASSERT_TRUE(deep.save(dataFile(QStringLiteral("d16.%1").arg(QLatin1String(kind))), kind));
        ASSERT_TRUE(grey.save(dataFile(QStringLiteral("g8.%1").arg(QLatin1String(kind))), kind));
    }
    QFile::copy(dataFile("d16.tif"), dataFile("d16.tiff"));
    const std::string stretched("\x00\x05\x0a\xff\x00\x00\x7f\xff", 8), plain("\x0a\x14\x1e", 3);
    const struct {
        const char* name;
        const char* mx;
        const std::string& bytes;
    } rows[] = {{"d16.png", "4", stretched},
                {"d16.tif", "4", stretched},
                {"d16.tiff", "4", stretched},
                {"g8.png", "3", plain},
                {"g8.tif", "3", plain}};
    for (const auto& row : rows) {
        openRaw(0, 2, 1, "\x05\x06");
        ASSERT_TRUE(module.openImage(dataFile(QLatin1String(row.name)), QLatin1String(row.name))) << row.name;
        EXPECT_EQ(state.info().mx, QLatin1String(row.mx)) << row.name;
        EXPECT_EQ(workBytes("0_im.tmp"), row.bytes) << row.name;
        EXPECT_EQ(drawn(0, 2, 0), static_cast<unsigned char>(row.bytes[2])) << row.name; // not a blank window
    }
    dialogs.queueAnswer(std::nullopt);
    module.openButton();
    EXPECT_TRUE(
        dialogs.lastFilter().contains(QStringLiteral("画像 (*.png;*.tif;*.tiff)|*.png;*.tif;*.tiff")));
}

TEST_F(ModuleTest, OpenGifSample) {
    const QString gif =
        QString::fromStdString((testing_support::projectSamplesDir() / "maze_256.gif").string());
    state.setMx(QStringLiteral("9"));
    module.openImage(gif, QStringLiteral("maze_256.gif"));
    EXPECT_EQ(state.info().mx, QStringLiteral("256"));
    const QImage decoded(gif);
    const std::string px = workBytes("0_im.tmp");
    ASSERT_EQ(px.size(), 65536u);
    for (int i : {0, 1000, 40000, 65535})
        EXPECT_EQ(static_cast<unsigned char>(px[i]), qRed(decoded.pixel(i % 256, i / 256))) << i;
}

TEST_F(ModuleTest, OpenJpegTakesDecoderSize) {
    QImage img(16, 8, QImage::Format_RGB32);
    img.fill(qRgb(100, 100, 100));
    ASSERT_TRUE(img.save(dataFile("p.jpg"), "JPG"));
    module.openImage(dataFile("p.jpg"), QStringLiteral("p.jpg"));
    EXPECT_EQ(state.info().mx, QStringLiteral("16"));
    const std::string px = workBytes("0_im.tmp");
    ASSERT_EQ(px.size(), 128u);
    EXPECT_NEAR(static_cast<unsigned char>(px[40]), 100, 3);
}

TEST_F(ModuleTest, TopDownBitmapReadsRowsInStoredOrder) {
    // A 2 x 2, 24-bit BMP with a negative height: rows are stored top row first.
    QByteArray bmp;
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bmp.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    bmp.append("BM");
    le(54 + 16, 4), le(0, 4), le(54, 4);
    le(40, 4), le(2, 4), le(static_cast<uint32_t>(-2), 4), le(1, 2), le(24, 2), le(0, 4), le(16, 4);
    le(0, 4), le(0, 4), le(0, 4), le(0, 4);
    for (int row : {0, 1}) {
        for (int x = 0; x < 2; ++x) {
            const char v = static_cast<char>(row * 100 + x * 10 + 5);
            bmp.append(v), bmp.append(v), bmp.append(v);
        }
        bmp.append(2, '\0'); // rows are padded to four bytes
    }
    writeData(QStringLiteral("td.bmp"), bmp.toStdString());
    module.openImage(dataFile("td.bmp"), QStringLiteral("td.bmp"));
    EXPECT_EQ(state.info().my, QStringLiteral("2"));
    EXPECT_EQ(workBytes("0_im.tmp"), std::string("\x05\x0f\x69\x73", 4));
}

TEST_F(ModuleTest, NamesDecideTheKindCaseSensitively) {
    writeData(QStringLiteral("u.BMP"), "BMxxxx");
    module.openImage(dataFile("u.BMP"), QStringLiteral("u.BMP"));
    EXPECT_FALSE(workExists("0_inf.tmp"));
    EXPECT_TRUE(state.imageWindow(0).visible); // the window is prepared all the same
    state.setMx(QStringLiteral("2"));
    state.setMy(QStringLiteral("1"));
    writeData(QStringLiteral("t.txt"), "\x01\x02");
    module.openImage(dataFile("t.txt"), QStringLiteral("t.txt"));
    EXPECT_FALSE(workExists("0_inf.tmp"));
    state.setRawOverride(true);
    module.openImage(dataFile("t.txt"), QStringLiteral("t.txt"));
    EXPECT_EQ(workBytes("0_im.tmp"), "\x01\x02");
}

// A picture that cannot be decoded, or is larger than the buffers, is said so; the slot, its
// window and the size fields stay as they were.
TEST_F(ModuleTest, UndecodablePictureLeavesSlotAsItWas) {
    QImage big(1025, 1025, QImage::Format_RGB32);
    big.fill(Qt::gray);
    ASSERT_TRUE(big.save(dataFile("big.bmp"), "BMP"));
    writeData(QStringLiteral("bad.bmp"),
              "BM this is not a bitmap at all, not even close to one..............");
    writeData(QStringLiteral("empty.bmp"), "");
    writeData(QStringLiteral("bad.png"), "\x89PNG\r\n\x1a\n but nothing a decoder could read");
    writeData(QStringLiteral("bad.tif"), "II*\0 but nothing a decoder could read");
    QDir().mkpath(dataFile("dir.bmp"));
    ASSERT_EQ(::mkfifo(dataFile("fifo.gif").toLocal8Bit().constData(), 0600), 0);
    writeTruncatedSamples();
    for (const char* name : {"bad.bmp", "empty.bmp", "big.bmp", "dir.bmp", "fifo.gif", "cut.bmp", "cut.jpg",
                             "cut.gif", "bad.png", "bad.tif", "cut.tif"}) {
        openRaw(0, 2, 1, "\x05\x06");
        const QImage picture = state.imageWindow(0).picture->image();
        dialogs.inform(QString());
        EXPECT_FALSE(module.openImage(dataFile(QLatin1String(name)), QLatin1String(name))) << name;
        EXPECT_EQ(workBytes("0_im.tmp"), "\x05\x06") << name;
        EXPECT_EQ(state.info().mx, QStringLiteral("2")) << name;
        EXPECT_EQ(state.info().my, QStringLiteral("1")) << name;
        EXPECT_EQ(state.imageWindow(0).picture->image(), picture) << name;
        EXPECT_TRUE(dialogs.lastMessage().contains(QLatin1String(name))) << name;
    }
}

// A truncated picture is a file that cannot be read, for the measurement and the batch too: the
// decoders fill what is missing and would report the rest as a whole picture.
TEST_F(ModuleTest, TruncatedPicturesAreNotReadAsWhole) {
    writeTruncatedSamples();
    for (const char* name : {"stripes_256.bmp", "stripes_256.jpg", "maze_256.gif"}) {
        const QString whole = QString::fromStdString((testing_support::projectSamplesDir() / name).string());
        EXPECT_TRUE(readPictureFile(whole, fileKind(whole))) << name;
        QString error;
        EXPECT_TRUE(readMeasureImage(whole, {}, error)) << name;
    }
    for (const char* name : {"cut.bmp", "cut.jpg", "cut.gif", "cut.tif"}) {
        QString error;
        EXPECT_FALSE(readMeasureImage(dataFile(QLatin1String(name)), {}, error)) << name;
        EXPECT_TRUE(error.contains(QStringLiteral("cut short")) || error.contains(QStringLiteral("holds")))
            << error.toStdString();
    }
    // The batch skips it instead of saving the filled picture over it.
    const std::string before = dataBytes("cut.bmp");
    HistogramModule histogram(module);
    BatchRunner runner(module);
    runner.makeHistogram = [&](int mode) { return histogram.makeHistogram(mode); };
    const auto out =
        runner.run(writeData(QStringLiteral("s.tvs"), "256\n256\n0\n1\nr.mon\n100\n0\ncut.bmp\n0\n"));
    EXPECT_EQ(out.read, 0);
    EXPECT_EQ(dataBytes("cut.bmp"), before);
}

TEST_F(ModuleTest, SizesBeyondTheBufferAreNeverPassedOn) {
    openRaw(0, 2000, 2000, ramp(100));
    EXPECT_FALSE(workExists("0_inf.tmp"));
    openRaw(0, 30000, 30000, ramp(100));
    EXPECT_LE(state.imageWindow(0).picture->pixelWidth(), 1024); // no picture of 30000 x 30000
    // A slot whose info file claims more than the buffer holds is not read.
    openRaw(1, 2, 2, ramp(4));
    testing_support::writeBytes(workFile("1_inf.tmp").toStdString(), "2000\r\r\n2000\r\r\n1\r\r\n");
    state.setMx(QStringLiteral("2"));
    module.drawSlot();
    module.doMedian();
    module.doUndo();
    state.setDifferenceSources(QStringLiteral("1"), QStringLiteral("1"));
    state.setId(QStringLiteral("0"));
    openRaw(0, 2, 2, ramp(4));
    module.doDifference();
    EXPECT_EQ(workBytes("0_im.tmp"), ramp(4)); // refused: a source too large
    module.saveImage(dataFile("out.mon"));
    EXPECT_TRUE(QFile::exists(dataFile("out.mon")));
}

TEST_F(ModuleTest, OpenButtonUsesTheDialog) {
    state.setMx(QStringLiteral("2"));
    state.setMy(QStringLiteral("1"));
    const QString path = writeData(QStringLiteral("b.mon"), "\x09\x08");
    dialogs.queueAnswer(std::nullopt); // cancel does nothing
    module.openButton();
    EXPECT_FALSE(workExists("0_inf.tmp"));
    EXPECT_TRUE(dialogs.lastFilter().startsWith(QStringLiteral("専用形式 (*.mon)|*.mon|")));
    dialogs.queueAnswer(path);
    module.openButton();
    EXPECT_EQ(workBytes("0_im.tmp"), "\x09\x08");
    // "その他" shows every file, those without a dot too.
    EXPECT_EQ(FileDialogs::toQtFilter(QStringLiteral("汎用形式 (*.bmp;*.jpg)|*.bmp;*.jpg|その他 (*.*)|*.*")),
              QStringLiteral("汎用形式 (*.bmp *.jpg);;その他 (*)"));
}

TEST_F(ModuleTest, NameLabelFitsTheWidth) {
    openRaw(0, 300, 1, ramp(300));
    EXPECT_EQ(state.imageWindow(0).nameLabelWidth, 300 - 48);
    openRaw(0, 10, 1, ramp(10)); // narrower than the label's left: left as it was
    EXPECT_EQ(state.imageWindow(0).nameLabelWidth, 300 - 48);
}

TEST_F(ModuleTest, SlotOutsideTheTableIsSkippedButStillLoaded) {
    openRaw(9, 2, 1, "\x01\x02");
    EXPECT_FALSE(state.hasImageWindow(0));
    EXPECT_EQ(workBytes("9_im.tmp"), "\x01\x02"); // the library takes any slot number
}

TEST_F(ModuleTest, AnyBytesInAnyFileOrWorkFile) {
    // Readers and procedures survive whatever a file holds (the sanitizer build checks the memory):
    // a slot that took a file holds an image of the size it says, and an operation that fails
    // leaves the slot's image as it was.
    std::mt19937 gen(21);
    auto junk = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(gen());
        return s;
    };
    auto slotIsWhole = [&] {
        int32_t w = -1, h = -1;
        if (quarn.Xyretid(0, &w, &h) != kStatusOk) return true;
        return static_cast<int64_t>(workBytes("0_im.tmp").size()) == static_cast<int64_t>(w) * h;
    };
    module.runScript = [](const QString&, const QString&) {};
    const char* kinds[] = {"bmp", "gif", "jpg", "csv", "mon", "tvs"};
    for (int i = 0; i < 60; ++i) {
        const QString name = QStringLiteral("j%1.%2").arg(i).arg(QLatin1String(kinds[i % 6]));
        std::string bytes = junk(gen() % 4000);
        if (i % 6 == 0 && bytes.size() > 30) bytes.replace(0, 2, "BM"); // a bitmap header that lies
        state.setMx(QString::number(gen() % 300));
        state.setMy(QString::number(gen() % 300));
        const bool loaded = module.openImage(writeData(name, bytes), name);
        EXPECT_FALSE(loaded && i % 6 == 5) << "a script is no image";
        EXPECT_TRUE(slotIsWhole()) << name.toStdString();
    }
    // Work files with any content: every procedure reads them safely or refuses.
    using Operation = std::function<int32_t()>;
    const Operation operations[] = {[&] { return module.doMedian(); }, [&] { return module.doEdge(1); },
                                    [&] { return module.doAxisFlip(0); }};
    for (int i = 0; i < 30; ++i) {
        testing_support::writeBytes(workFile("0_inf.tmp").toStdString(),
                                    i % 3 ? junk(gen() % 40) : "9\r\r\n7\r\r\n0\r\r\n");
        testing_support::writeBytes(workFile("0_im.tmp").toStdString(), junk(gen() % 200));
        testing_support::writeBytes(workFile("8_inf.tmp").toStdString(), junk(gen() % 40));
        state.setId(QStringLiteral("0"));
        state.setMx(QString::number(gen() % 50));
        state.setMy(QString::number(gen() % 50));
        module.drawSlot();
        for (const Operation& op : operations) {
            const std::string before = workBytes("0_im.tmp");
            const int32_t status = op();
            EXPECT_TRUE(status == kNotCalled || (status >= kStatusOk && status <= kUndoFailed)) << status;
            if (status != kStatusOk) {
                EXPECT_EQ(workBytes("0_im.tmp"), before) << i;
            }
        }
        const int32_t undone = module.doUndo();
        EXPECT_TRUE(undone == kNotCalled || (undone >= kStatusOk && undone <= kUndoFailed)) << undone;
        module.redrawAll();
        if (module.saveImage(dataFile("out.csv"))) {
            EXPECT_TRUE(QFile::exists(dataFile("out.csv")));
        }
    }
}

// A raw or CSV image of a size no slot holds says so in words a user knows, like a picture, and
// leaves the slot and its window as they were.
TEST_F(ModuleTest, TooLargeForASlotIsSaid) {
    writeData(QStringLiteral("a.csv"), "1,2\n3,4\n");
    writeData(QStringLiteral("big.mon"), std::string(1000, '\x10'));
    const struct {
        const char *name, *w, *h;
    } rows[] = {{"big.mon", "2048", "2048"},
                {"big.mon", "99999", "99999"},
                {"a.csv", "1025", "1025"},
                {"big.mon", "1e9", "1"}};
    for (const auto& r : rows) {
        openRaw(0, 2, 1, "\x05\x06");
        dialogs.inform(QString());
        state.setMx(QLatin1String(r.w));
        state.setMy(QLatin1String(r.h));
        EXPECT_FALSE(module.openImage(dataFile(QLatin1String(r.name)), QLatin1String(r.name))) << r.w;
        EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("1024 × 1024 画素"))) << r.w;
        EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("自動測定"))) << r.w;
        EXPECT_EQ(workBytes("0_im.tmp"), "\x05\x06") << r.w;
        EXPECT_EQ(state.imageWindow(0).nameLabel, dataFile("img.mon")) << r.w;
    }
}
