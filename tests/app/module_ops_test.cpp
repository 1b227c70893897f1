#include "support/module_fixture.h"

#include <sys/stat.h>

#include <QFile>
#include <QImageReader>
#include <cmath>
#include <functional>

using namespace tovra;
using namespace tovra_test;

TEST_F(ModuleTest, OperationsRedrawOnlyWithAutoDraw) {
    openRaw(0, 3, 1, std::string("\x0a\x14\x1e", 3));
    state.setAutoDraw(false);
    module.doGradationInvert();
    EXPECT_EQ(workBytes("0_im.tmp"), std::string("\xf5\xeb\xe1", 3));
    EXPECT_EQ(drawn(0, 0, 0), 10); // the picture is not redrawn
    module.drawSlot();
    EXPECT_EQ(drawn(0, 0, 0), 245);
    state.setAutoDraw(true);
    module.doOverValueCorrection();
    EXPECT_EQ(drawn(0, 0, 0), 255);
    EXPECT_EQ(drawn(0, 2, 0), 0);
}

TEST_F(ModuleTest, EveryOperationRedrawsOnlyWithAutoDraw) {
    struct Op {
        const char* name;
        std::function<void(Module&)> run;
        std::function<void(Module&)> prepare = [](Module&) {};
    };
    const std::vector<Op> ops = {
        {"contrast", [](Module& m) { m.state().setCt1(QStringLiteral("50")), m.doContrast(); }},
        {"median", [](Module& m) { m.doMedian(); }},
        {"difference",
         [](Module& m) {
             m.state().setDifferenceSources(QStringLiteral("0"), QStringLiteral("1")), m.doDifference();
         }},
        {"binarize", [](Module& m) { m.doBinarize(); }},
        {"over-value", [](Module& m) { m.doOverValueCorrection(); }},
        {"edge", [](Module& m) { m.doEdge(99); }},
        {"dust", [](Module& m) { m.doDustRemoval(); },
         [this](Module&) {
             std::string speck(64, '\xff');
             for (int y = 1; y <= 3; ++y)
                 for (int x = 1; x <= 3; ++x)
                     speck[y * 8 + x] = '\x00';
             openRaw(0, 8, 8, speck);
         }},
        {"invert", [](Module& m) { m.doGradationInvert(); }},
        {"undo", [](Module& m) { m.doUndo(); }, [](Module& m) { m.doGradationInvert(); }},
        {"flip", [](Module& m) { m.doAxisFlip(99); }},
        {"composite",
         [](Module& m) {
             m.state().setCompositionSources(QStringLiteral("0"), QStringLiteral("1")), m.doComposite();
         }},
    };
    // An 8 x 8 image whose every operation changes it; slot 1 has black pixels for the composite.
    std::string img(64, '\xff'), other(64, '\x00');
    for (int i = 0; i < 64; ++i)
        img[i] = static_cast<char>((i * 29 + (i % 8) * 60) & 0xFF);
    img[9 * 1 + 18] = '\x00';
    for (bool autoDraw : {false, true}) {
        for (const Op& op : ops) {
            openRaw(1, 8, 8, other);
            openRaw(0, 8, 8, img);
            op.prepare(module);
            state.setAutoDraw(autoDraw);
            const QImage before = state.imageWindow(0).picture->image();
            const std::string slotBefore = workBytes("0_im.tmp");
            op.run(module);
            EXPECT_NE(workBytes("0_im.tmp"), slotBefore) << op.name;
            const bool redrawn = state.imageWindow(0).picture->image() != before;
            EXPECT_EQ(redrawn, autoDraw) << op.name << " auto-draw " << autoDraw;
            state.setAutoDraw(true);
        }
    }
}

TEST_F(ModuleTest, FailedOperationLeavesThePicture) {
    openRaw(0, 2, 1, "\x01\x02");
    state.setId(QStringLiteral("3")); // nothing loaded there
    module.doMedian();
    EXPECT_FALSE(state.hasImageWindow(3));
    state.setId(QStringLiteral("0"));
    QFile::remove(workFile("8_inf.tmp")); // undo slot gone: status 6, no redraw
    state.imageWindow(0).picture->clear();
    module.doGradationInvert();
    EXPECT_EQ(drawn(0, 0, 0), 255);
}

TEST_F(ModuleTest, UndoTwiceIsTheIdentity) {
    openRaw(0, 2, 2, ramp(4, 50));
    module.doGradationInvert();
    const std::string after = workBytes("0_im.tmp");
    module.doUndo();
    EXPECT_EQ(workBytes("0_im.tmp"), ramp(4, 50));
    EXPECT_EQ(drawn(0, 1, 0), 50);
    module.doUndo();
    EXPECT_EQ(workBytes("0_im.tmp"), after);
}

TEST_F(ModuleTest, ParametersComeFromTheToolbox) {
    openRaw(0, 3, 1, std::string("\x00\x96\xc8", 3)); // 0, 150, 200
    state.setCt1(QStringLiteral("0"));
    state.setCt2(QStringLiteral("300")); // passed as typed
    module.doContrast();
    EXPECT_EQ(workBytes("0_im.tmp"), std::string("\x00\x7f\xaa", 3));
    // A threshold outside the grey levels is refused, said, and the box goes back to the last one.
    state.setSegt(QStringLiteral("100"));
    ASSERT_EQ(module.doBinarize(), kStatusOk);
    openRaw(0, 3, 1, std::string("\x00\x96\xc8", 3));
    for (const char* bad : {"abc", "99999", "-1", "256"}) {
        state.setSegt(QLatin1String(bad));
        dialogs.inform(QString());
        EXPECT_NE(module.doBinarize(), kStatusOk) << bad;
        EXPECT_EQ(workBytes("0_im.tmp"), std::string("\x00\x96\xc8", 3)) << bad;
        EXPECT_TRUE(dialogs.lastMessage().contains(QStringLiteral("しきい値"))) << bad;
        EXPECT_EQ(state.tool().segt, QStringLiteral("100")) << bad;
    }
    state.setSegt(QStringLiteral("149.5")); // rounded half to even: 150
    ASSERT_EQ(module.doBinarize(), kStatusOk);
    EXPECT_EQ(workBytes("0_im.tmp"), std::string("\x00\x00\xff", 3));
}

TEST_F(ModuleTest, EdgeAndFlipModes) {
    const std::string img("\x00\xff\xff\xff\xff\xff\xff\xff\xff", 9);
    openRaw(0, 3, 3, img);
    state.setEdgeOrdinary(true);
    module.doEdge(99); // mode 1 from the option
    EXPECT_EQ(static_cast<unsigned char>(workBytes("0_im.tmp")[2]), 127);
    openRaw(0, 3, 3, img);
    module.doEdge(0); // explicit mode wins
    EXPECT_EQ(static_cast<unsigned char>(workBytes("0_im.tmp")[2]), 255);
    openRaw(0, 3, 1, std::string("\x01\x02\x03", 3));
    module.doAxisFlip(99);
    EXPECT_EQ(workBytes("0_im.tmp"), "\x03\x02\x01");
    state.setFlipUpDown(true);
    openRaw(0, 1, 3, std::string("\x01\x02\x03", 3));
    module.doAxisFlip(99);
    EXPECT_EQ(workBytes("0_im.tmp"), "\x03\x02\x01");
}

TEST_F(ModuleTest, DifferenceAndCompositionWriteIntoTheCurrentSlot) {
    openRaw(0, 3, 1, std::string("\x0a\x14\x1e", 3));
    openRaw(1, 3, 1, std::string("\x0a\x0a\x0a", 3));
    openRaw(2, 3, 1, std::string("\x07\x07\x07", 3));
    state.setDifferenceSources(QStringLiteral("0"), QStringLiteral("1"));
    module.doDifference(); // current slot is 2
    EXPECT_EQ(workBytes("2_im.tmp"), std::string("\x00\x7f\xff", 3));
    EXPECT_EQ(drawn(2, 2, 0), 255);
    openRaw(3, 3, 1, std::string("\x00\xff\x01", 3));
    openRaw(4, 3, 1, std::string("\x64\x64\x64", 3));
    state.setCompositionSources(QStringLiteral("4"), QStringLiteral("3"));
    module.doComposite();
    EXPECT_EQ(workBytes("4_im.tmp"), std::string("\x00\x64\x64", 3));
}

TEST_F(ModuleTest, SaveWholeSlot) {
    openRaw(0, 3, 1, std::string("\x01\x02\x03", 3));
    module.saveImage(dataFile("o.mon"));
    EXPECT_EQ(dataBytes("o.mon"), "\x01\x02\x03");
    module.saveImage(dataFile("o.csv"));
    EXPECT_EQ(dataBytes("o.csv"), "1,2,3\r\n");
    module.saveImage(dataFile("o.txt"));
    EXPECT_FALSE(QFile::exists(dataFile("o.txt")));
    module.saveImage(dataFile("o.bmp"));
    QImage back(dataFile("o.bmp"));
    ASSERT_EQ(back.width(), 3);
    EXPECT_EQ(qRed(back.pixel(2, 0)), 3);
    EXPECT_EQ(state.imageWindow(0).nameLabel, dataFile("o.bmp"));
    // With the raw override a ".bmp" path is written twice, and the raw bytes win.
    state.setRawOverride(true);
    module.saveImage(dataFile("r.bmp"));
    EXPECT_EQ(dataBytes("r.bmp"), "\x01\x02\x03");
}

TEST_F(ModuleTest, BmpSaveShowsWhatWasDrawn) {
    openRaw(0, 2, 1, std::string("\x10\x20", 2));
    state.setAutoDraw(false);
    module.doGradationInvert();
    module.saveImage(dataFile("before.bmp"));
    EXPECT_EQ(qRed(QImage(dataFile("before.bmp")).pixel(0, 0)), 0x10);
}

TEST_F(ModuleTest, SaveRectangleAsRawChangesOnlyTheFields) {
    openRaw(0, 20, 10, ramp(200));
    state.setHfx1(QStringLiteral("2")), state.setHfy1(QStringLiteral("3"));
    state.setHfx2(QStringLiteral("12")), state.setHfy2(QStringLiteral("8"));
    module.saveRectangle(dataFile("r.mon"));
    EXPECT_EQ(dataBytes("r.mon").size(), 50u);
    EXPECT_EQ(dataBytes("r.mon")[0], static_cast<char>(3 * 20 + 2));
    EXPECT_EQ(state.info().mx, QStringLiteral("10"));
    EXPECT_EQ(state.info().my, QStringLiteral("5"));
    EXPECT_EQ(workBytes("0_im.tmp"), ramp(200));
}

TEST_F(ModuleTest, SaveRectangleAsBmpCropsTheSlot) {
    openRaw(0, 20, 10, ramp(200));
    state.setHfx1(QStringLiteral("2")), state.setHfy1(QStringLiteral("3"));
    state.setHfx2(QStringLiteral("12")), state.setHfy2(QStringLiteral("8"));
    module.saveRectangle(dataFile("r.bmp"));
    EXPECT_EQ(workBytes("0_inf.tmp"), "10\r\r\n5\r\r\n0\r\r\n");
    EXPECT_EQ(workBytes("8_inf.tmp"), "10\r\r\n5\r\r\n8\r\r\n");
    EXPECT_FALSE(workExists("srt.tmp"));
    EXPECT_FALSE(QFile::exists(data + "/srt.tmp"));
    QImage back(dataFile("r.bmp"));
    ASSERT_EQ(back.size(), QSize(10, 5));
    EXPECT_EQ(qRed(back.pixel(0, 0)), 3 * 20 + 2);
    EXPECT_EQ(state.imageWindow(0).nameLabel, dataFile("r.bmp"));
}

TEST_F(ModuleTest, RectangleOutsideTheImageIsNotCropped) {
    openRaw(0, 20, 10, ramp(200));
    state.setHfx1(QStringLiteral("5")), state.setHfy1(QStringLiteral("5"));
    state.setHfx2(QStringLiteral("40")), state.setHfy2(QStringLiteral("8"));
    for (const char* name : {"r.bmp", "r.mon"}) { // a save that writes nothing changes no field
        module.saveRectangle(dataFile(QLatin1String(name)));
        EXPECT_FALSE(QFile::exists(dataFile(QLatin1String(name)))) << name;
        EXPECT_EQ(state.info().mx, QStringLiteral("20")) << name;
        EXPECT_EQ(state.info().my, QStringLiteral("10")) << name;
    }
    EXPECT_EQ(workBytes("0_im.tmp"), ramp(200));
    EXPECT_FALSE(workExists("srt.tmp"));
}

TEST_F(ModuleTest, SaveDialogsAndCancel) {
    openRaw(0, 2, 1, "\x01\x02");
    dialogs.queueAnswer(std::nullopt);
    module.saveButton();
    dialogs.queueAnswer(dataFile("s.mon"));
    module.saveButton();
    EXPECT_EQ(dataBytes("s.mon"), "\x01\x02");
    EXPECT_EQ(
        dialogs.lastFilter(),
        QStringLiteral(
            "専用形式 (*.mon)|*.mon|汎用形式 (*.bmp)|*.bmp|csvファイル (*.csv)|*.csv|その他 (*.*)|*.*"));
    dialogs.queueAnswer(std::nullopt);
    module.saveRectangleButton();
    EXPECT_EQ(dialogs.lastFilter(),
              QStringLiteral("専用形式 (*.mon)|*.mon|汎用形式 (*.bmp)|*.bmp|その他 (*.*)|*.*"));
}

TEST_F(ModuleTest, DrawUsesTheCurrentSize) {
    openRaw(0, 2, 2, std::string("\x0a\x14\x1e\x28", 4));
    state.setMx(QStringLiteral("1"));
    module.drawSlot(); // the stored values, sheared into one column
    EXPECT_EQ(drawn(0, 0, 1), 20);
    EXPECT_EQ(drawn(0, 1, 1), 40); // beyond the new width: as drawn before
    state.setMx(QStringLiteral("0"));
    module.drawSlot(); // draws nothing
}

TEST_F(ModuleTest, RedrawAllLeavesTheHighestOccupiedSlotCurrent) {
    openRaw(1, 2, 1, "\x01\x02");
    openRaw(4, 3, 2, ramp(6));
    state.setId(QStringLiteral("0"));
    state.setMx(QStringLiteral("9"));
    state.imageWindow(1).picture->clear();
    module.redrawAll();
    EXPECT_EQ(state.info().id, QStringLiteral("4"));
    EXPECT_EQ(state.info().mx, QStringLiteral("3"));
    EXPECT_EQ(state.info().my, QStringLiteral("2"));
    EXPECT_EQ(drawn(1, 1, 0), 2);
}

TEST_F(ModuleTest, ActivationAndClosingOfImageWindows) {
    openRaw(3, 5, 4, ramp(20));
    state.setId(QStringLiteral("0"));
    state.setMx(QStringLiteral("1"));
    module.imageWindowActivated(state.imageWindow(3).caption);
    EXPECT_EQ(state.info().id, QStringLiteral("3"));
    EXPECT_EQ(state.info().mx, QStringLiteral("5"));
    EXPECT_EQ(state.info().my, QStringLiteral("4"));
    module.imageWindowActivated(QStringLiteral("イメージ")); // no digit: slot 0, which has no files
    EXPECT_EQ(state.info().id, QStringLiteral("0"));
    EXPECT_EQ(state.info().mx, QStringLiteral("0"));
    module.imageWindowClosed(3);
    EXPECT_FALSE(state.slotInUse(3));
    EXPECT_EQ(state.tool().slotList[3], QStringLiteral("ID 3 empty"));
    EXPECT_EQ(state.imageWindow(3).caption, QStringLiteral("イメージ"));
    EXPECT_TRUE(workExists("3_im.tmp")); // the work files stay
    // Reopening rebuilds caption, list line and flag as for a first open.
    openRaw(3, 5, 4, ramp(20));
    EXPECT_EQ(state.imageWindow(3).caption, QStringLiteral("イメージ ID 3"));
    EXPECT_EQ(state.tool().slotList[3], QStringLiteral("ID 3 be"));
}

TEST_F(ModuleTest, MouseSelectionIsNormalised) {
    module.pictureMouseMove(120, 45);
    EXPECT_EQ(state.info().xy, QStringLiteral("120-45"));
    module.pictureMousePress(50, 40);
    module.pictureMouseRelease(10, 20);
    EXPECT_EQ(state.info().hfx1, QStringLiteral("10"));
    EXPECT_EQ(state.info().hfy1, QStringLiteral("20"));
    EXPECT_EQ(state.info().hfx2, QStringLiteral("50"));
    EXPECT_EQ(state.info().hfy2, QStringLiteral("40"));
}

TEST_F(ModuleTest, SelectedRectangleDrawnAndErased) {
    openRaw(0, 10, 10, std::string(100, '\x80'));
    module.drawSelectedRectangle(); // before any selection: a one-pixel box at (0, 0)
    EXPECT_EQ(drawn(0, 0, 0), 0);
    state.setHfx1(QStringLiteral("2")), state.setHfy1(QStringLiteral("2"));
    state.setHfx2(QStringLiteral("6")), state.setHfy2(QStringLiteral("6"));
    module.drawSelectedRectangle();
    EXPECT_EQ(drawn(0, 2, 4), 0);
    EXPECT_EQ(drawn(0, 4, 4), 128);
    module.drawSlot(); // the erase button
    EXPECT_EQ(drawn(0, 2, 4), 128);
    state.setHfx1(QStringLiteral("x"));
    module.drawSelectedRectangle(); // not a number: skipped
}

TEST_F(ModuleTest, ReloadFromTheNameLabel) {
    openRaw(0, 2, 1, "\x01\x02");
    writeData(QStringLiteral("img.mon"), "\x07\x08");
    module.reloadFromNameLabel();
    EXPECT_EQ(workBytes("0_im.tmp"), "\x07\x08");
}

TEST_F(ModuleTest, StartUpWritesTheSettingsFileAndSize) {
    QDir::setCurrent(data);
    module.startUp(QStringLiteral("/opt/tovra"));
    EXPECT_EQ(dataBytes("Tovra.ini"), "\"/opt/tovra/\"\r\n");
    module.startUp(QStringLiteral("/opt/tovra"));
    EXPECT_EQ(dataBytes("Tovra.ini"), "\"/opt/tovra/\"\r\n");
    EXPECT_EQ(state.info().mx, QStringLiteral("256"));
    EXPECT_EQ(state.info().id, QStringLiteral("0"));
    module.presetSize(640, 480);
    EXPECT_EQ(state.info().mx, QStringLiteral("640"));
    EXPECT_EQ(state.info().my, QStringLiteral("480"));
}

TEST_F(ModuleTest, ExitDeletesOnlyWorkFiles) {
    openRaw(0, 2, 1, "\x01\x02");
    testing_support::writeBytes(workFile("0_hdat.csv").toStdString(), "1\r\n");
    testing_support::writeBytes(workFile("Tovra.ini").toStdString(), "x");
    module.deleteWorkFiles();
    EXPECT_FALSE(workExists("0_im.tmp"));
    EXPECT_FALSE(workExists("8_inf.tmp"));
    EXPECT_TRUE(workExists("0_hdat.csv"));
    EXPECT_TRUE(workExists("Tovra.ini"));
}

// Saving over a file keeps its permissions and writes through a symbolic link, in every format;
// names as long as a folder entry may be save too.
TEST_F(ModuleTest, SavesKeepLinksPermissionsAndLongNames) {
    openRaw(0, 2, 1, "\x01\x02");
    module.drawSlot();
    for (const char* ext : {"bmp", "mon", "csv"}) {
        const QString target = dataFile(QStringLiteral("target.%1").arg(QLatin1String(ext)));
        const QString link = dataFile(QStringLiteral("link.%1").arg(QLatin1String(ext)));
        testing_support::writeBytes(target.toStdString(), "old");
        ::chmod(target.toLocal8Bit().constData(), 0640);
        ASSERT_TRUE(QFile::link(target, link));
        EXPECT_TRUE(module.saveImage(link)) << ext;
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << ext;
        EXPECT_NE(testing_support::readBytes(target.toStdString()), "old") << ext;
        struct stat st {};
        ASSERT_EQ(::stat(target.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << ext;
        const QString longName =
            dataFile(QString(250, QLatin1Char('n')) + QLatin1Char('.') + QLatin1String(ext));
        EXPECT_TRUE(module.saveImage(longName)) << ext;
        EXPECT_TRUE(QFile::exists(longName)) << ext;
    }
}
