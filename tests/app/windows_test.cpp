// The windows on the offscreen platform: controls found by their names, driven by clicks and
// typing, with file dialogs answered through the dialogs' queue.
#include "core/toolbox_window.h"
#include "histogram/histogram_window.h"
#include "hough/editor.h"
#include "hough/editor_window.h"
#include "hough/simulator.h"
#include "hough/simulator_window.h"
#include "measure/measure_files.h"
#include "measure/measurement.h"
#include "measure/measurement_window.h"
#include "measure/motion_window.h"
#include "measure/series_window.h"
#include "measure/track_window.h"
#include "shell/about_window.h"
#include "shell/application.h"
#include "shell/help_window.h"
#include "shell/image_window.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "support/loop_frames.h"
#include "support/test_support.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRubberBand>
#include <QScrollBar>
#include <QSlider>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

using namespace tovra;

class WindowsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testing_support::TempDir> tmp_;
    std::unique_ptr<Application> app_;
    QString work_;

    template <typename T> T* find(QWidget& window, const char* name) {
        T* w = window.findChild<T*>(QLatin1String(name));
        if (!w) qFatal("no control %s", name);
        return w;
    }
    void type(QLineEdit* e, const QString& text) {
        e->selectAll();
        QTest::keyClicks(e, text);
    }
    // A click on one of a scroll bar's arrows, where the style draws it.
    void clickArrow(QScrollBar* bar, QStyle::SubControl arrow) {
        QStyleOptionSlider opt;
        opt.initFrom(bar);
        opt.orientation = bar->orientation();
        opt.minimum = bar->minimum();
        opt.maximum = bar->maximum();
        opt.sliderPosition = opt.sliderValue = bar->value();
        opt.singleStep = bar->singleStep();
        opt.pageStep = bar->pageStep();
        opt.upsideDown = bar->invertedAppearance();
        const QRect r = bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, arrow, bar);
        QTest::mouseClick(bar, Qt::LeftButton, {}, r.center());
    }
    QString writeRaw(const QString& name, const QByteArray& bytes) {
        const QString path = QString::fromStdString(tmp_->path().string()) + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

private slots:
    void init() {
        tmp_ = std::make_unique<testing_support::TempDir>();
        work_ = QString::fromStdString((tmp_->path() / "work").string());
        Options o;
        o.workFolder = work_;
        app_ = std::make_unique<Application>(QCoreApplication::applicationDirPath(), o);
        app_->start();
    }
    void cleanup() {
        app_.reset();
        tmp_.reset();
    }

    void startShowsMainToolboxAndInformation() {
        QVERIFY(app_->mainWindow().isVisible());
        QVERIFY(app_->toolbox().isVisible());
        QVERIFY(app_->info().isVisible());
        QCOMPARE(app_->toolbox().windowTitle(), QStringLiteral("道具箱"));
        QCOMPARE(app_->info().windowTitle(), QStringLiteral("情報"));
        QCOMPARE(find<QLineEdit>(app_->info(), "mx")->text(), QStringLiteral("256"));
        QCOMPARE(find<QComboBox>(app_->toolbox(), "idx")->itemText(5), QStringLiteral("ID 5 empty"));
        QCOMPARE(app_->toolbox().size(), QSize(200, 430));
        // The main window says where the work, histogram and profile files go.
        QVERIFY(find<QLabel>(app_->mainWindow(), "workFolder")->toolTip().endsWith(work_));
        for (int s = 0; s < kSlots; ++s)
            QVERIFY(!app_->imageWindow(s) || !app_->imageWindow(s)->isVisible());
    }

    void numberBoxesAndScrollBars() {
        auto& tool = app_->toolbox();
        auto* ct2 = find<QLineEdit>(tool, "ct2");
        ct2->selectAll();
        ct2->insert(QStringLiteral("300")); // as pasted: out of range, the bar stays
        QCOMPARE(find<NumberBar>(tool, "VSc2")->number(), 255);
        QCOMPARE(app_->state().tool().ct2, QStringLiteral("300"));
        type(find<QLineEdit>(tool, "segt"), QStringLiteral("12.5"));
        QCOMPARE(find<NumberBar>(tool, "HScseg")->number(), 12);
        find<NumberBar>(tool, "VSc1")->setValue(255 - 77);
        QCOMPARE(find<QLineEdit>(tool, "ct1")->text(), QStringLiteral("77"));
        find<QComboBox>(tool, "dpcb2(1)")->setEditText(QStringLiteral("5"));
        QCOMPARE(app_->state().tool().dpcb2[1], QStringLiteral("5"));
        QTest::mouseClick(find<QRadioButton>(tool, "ns1"), Qt::LeftButton);
        QVERIFY(app_->state().tool().edgeOrdinary);
        QTest::mouseClick(find<QCheckBox>(tool, "Ch1"), Qt::LeftButton);
        QVERIFY(app_->state().tool().rawOverride);
    }

    // Pushing a vertical bar up raises its number: the up arrow, the Up key and the wheel.
    void verticalBarsRiseWhenPushedUp() {
        auto& tool = app_->toolbox();
        auto* vsc1 = find<NumberBar>(tool, "VSc1");
        clickArrow(vsc1, QStyle::SC_ScrollBarSubLine);
        QCOMPARE(app_->state().tool().ct1, QStringLiteral("1"));
        vsc1->setFocus();
        QTest::keyClick(vsc1, Qt::Key_Up);
        QCOMPARE(app_->state().tool().ct1, QStringLiteral("2"));
        QWheelEvent wheel(QPointF(5, 5), vsc1->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(vsc1, &wheel);
        QVERIFY(app_->state().tool().ct1.toInt() > 2);
        auto* vsc2 = find<NumberBar>(tool, "VSc2");
        clickArrow(vsc2, QStyle::SC_ScrollBarAddLine);
        QCOMPARE(app_->state().tool().ct2, QStringLiteral("254"));
        auto& hw = app_->histogramWindow();
        hw.show();
        for (const char* name : {"VSch", "VSch2", "VScl2"})
            clickArrow(find<NumberBar>(hw, name), QStyle::SC_ScrollBarSubLine);
        QCOMPARE(app_->histogram().fields().ht, QStringLiteral("1"));
        QCOMPARE(app_->histogram().fields().ht2, QStringLiteral("1"));
        QCOMPARE(app_->histogram().fields().lh2, QStringLiteral("1"));
    }

    // A number box that names a file holds a whole number, so the file written is the file drawn.
    void histogramNumberBoxesHoldWholeNumbers() {
        auto& hw = app_->histogramWindow();
        hw.show();
        app_->module().openImage(writeRaw("w.mon", QByteArray(256 * 256, '\x30')), QStringLiteral("w.mon"));
        type(find<QLineEdit>(hw, "ht"), QStringLiteral("12.5"));
        QTest::mouseClick(find<QPushButton>(hw, "Command13"), Qt::LeftButton);
        QVERIFY(QFile::exists(work_ + "/12_hdat.csv"));
        QCOMPARE(find<QLineEdit>(hw, "ht")->text(), QStringLiteral("13"));
        // The drawn curve is the file's: a flat image has one full bin, so the curve leaves the floor.
        const QImage pic = app_->histogram().hist().image();
        int curve = 0;
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x)
                curve += pic.pixel(x, y) == HistogramModule::kCurve;
        QVERIFY(curve > pic.height() / 2);
    }

    // While a script runs nothing else starts: its progress cannot be dismissed, the exit waits,
    // and an activation queued during the run does not change the current slot afterwards.
    void batchRunHoldsTheProgramUntilItEnds() {
        app_->module().openImage(writeRaw("w.mon", QByteArray(256 * 256, '\x30')), QStringLiteral("w.mon"));
        QString script = QStringLiteral("64\n64\n0\n1\nr.mon\n20\n80\n0\n");
        writeRaw("r.mon", QByteArray(64 * 64, '\x01'));
        for (int i = 0; i < 3; ++i) {
            writeRaw(QStringLiteral("f%1.mon").arg(i), QByteArray(64 * 64, '\x20'));
            script += QStringLiteral("f%1.mon\n").arg(i);
        }
        const QString path = writeRaw("s.tvs", (script + "0\n").toUtf8());
        bool dismissed = true, exited = true, queued = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* d = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (!d || !d->labelText().startsWith(QStringLiteral("3 / 3"))) return;
            poll.stop();
            QTest::keyClick(d, Qt::Key_Escape);
            d->close();
            dismissed = !d->isVisible();
            app_->mainWindow().findChild<QAction*>(QStringLiteral("en"))->trigger();
            exited = !QFile::exists(work_ + "/0_im.tmp");
            QMetaObject::invokeMethod(
                &poll, [this] { app_->module().imageWindowActivated(QStringLiteral("イメージ ID 1")); },
                Qt::QueuedConnection);
            queued = true;
        });
        poll.start(0);
        app_->module().openImage(path, QStringLiteral("s.tvs"));
        QCoreApplication::processEvents();
        QVERIFY(queued);
        QVERIFY(!dismissed);
        QVERIFY(!exited);
        QCOMPARE(app_->state().info().id, QStringLiteral("0"));
        QCOMPARE(QFile(QString::fromStdString(tmp_->path().string()) + "/f2.mon").size(), 64 * 64);
    }

    // A script that cannot run says why, in a message.
    void refusedScriptIsExplained() {
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        const QString path = writeRaw("bad.tvs", "abc\n2\n0\n1\nr.mon\n110\n0\na.mon\n0\n");
        app_->module().openImage(path, QStringLiteral("bad.tvs"));
        QVERIFY(said.contains(QStringLiteral("1 行目")));
    }

    // Help shows the guide, with its pictures, in a window of the program.
    void helpShowsTheGuideWithItsPictures() {
        auto* item = app_->mainWindow().findChild<QAction*>(QStringLiteral("he1"));
        item->trigger();
        HelpWindow* help = app_->helpWindow();
        QVERIFY(help && help->isVisible());
        const QTextDocument* doc = help->browser().document();
        QVERIFY(
            doc->toPlainText().contains(QStringLiteral("Tovra 利用の手引き"))); // in Japanese, like the rest
        QTextBlock block = doc->begin();
        int pictures = 0;
        for (; block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().isImageFormat()) {
                    const QString name = it.fragment().charFormat().toImageFormat().name();
                    pictures +=
                        !doc->resource(QTextDocument::ImageResource, QUrl(name)).value<QImage>().isNull();
                }
        QVERIFY(pictures >= 3);
    }

    // The simulator: from the menu and the toolbox, made once, every control where it belongs.
    void simulatorWindowPersistsAndTraces() {
        app_->mainWindow().findChild<QAction*>(QStringLiteral("chf2"))->trigger();
        SimulatorWindow* w = app_->simulatorWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("ハフ変換シミュレータ"));
        QCOMPARE(find<QLineEdit>(*w, "Text1")->text(), QStringLiteral("1"));
        QCOMPARE(find<QPushButton>(*w, "Command3")->text(), QStringLiteral("オートハフ変換"));
        QCOMPARE(find<QPushButton>(*w, "Command3")->geometry(), QRect(88, 280, 89, 25));
        QTest::mouseClick(find<PictureView>(*w, "P1"), Qt::LeftButton, {}, QPoint(40, 40)); // a trace
        QCOMPARE(app_->simulator().colourIndex(), 1);
        type(find<QLineEdit>(*w, "Text1"), QStringLiteral("200"));
        QCOMPARE(find<QLineEdit>(*w, "Text1")->text(), QStringLiteral("1"));
        w->hide();
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command14"), Qt::LeftButton);
        QCOMPARE(app_->simulatorWindow(), w);
        QVERIFY(w->isVisible());
        QCOMPARE(app_->simulator().colourIndex(), 1);
    }

    // The editor: from the toolbox and the menu, made once; rows and texts persist while hidden; a
    // drag draws its rectangle on the view and writes the ordered corners.
    void editorWindowRowsAndRectangle() {
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command15"), Qt::LeftButton);
        EditorWindow* w = app_->editorWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("ハフ変換解析エディッタ"));
        QCOMPARE(find<QLineEdit>(*w, "mfig")->text(), QStringLiteral("3000"));
        QCOMPARE(find<QLineEdit>(*w, "nam")->text(), QStringLiteral("3"));
        QCOMPARE(find<QPushButton>(*w, "Command7")->geometry(), QRect(0, 104, 65, 33));
        QVERIFY(find<QCheckBox>(*w, "sikic(3)")->isVisible());
        QCOMPARE(find<QLineEdit>(*w, "intval(3)")->geometry(), QRect(208, 48 * 3 + 24, 57, 25));
        QTest::mouseClick(find<QPushButton>(*w, "Command2"), Qt::LeftButton);
        QVERIFY(find<QCheckBox>(*w, "sikic(4)")->isVisible());
        QTest::mouseClick(find<QCheckBox>(*w, "sikic(2)"), Qt::LeftButton);
        QCOMPARE(find<QLineEdit>(*w, "nam")->text(), QStringLiteral("3"));

        app_->module().openImage(writeRaw("e.mon", QByteArray(256 * 256, '\xff')), QStringLiteral("e.mon"));
        QTest::mouseClick(find<QPushButton>(*w, "Command1"), Qt::LeftButton);
        QCOMPARE(find<QLabel>(*w, "id")->text(), QStringLiteral("16"));
        auto* picture = find<PictureView>(*w, "P1(0)");
        QCOMPARE(picture->size(), QSize(256, 256));
        QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(90, 80));
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 30), picture->mapToGlobal(QPointF(20, 30)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);
        auto* band = picture->findChild<QRubberBand*>();
        QVERIFY(band && band->isVisible());
        QCOMPARE(band->geometry(), QRect::span(QPoint(20, 30), QPoint(90, 80)));
        QTest::mouseRelease(picture, Qt::LeftButton, {}, QPoint(20, 30));
        QVERIFY(!band->isVisible());
        const InfoFields& f = app_->state().info();
        QCOMPARE(QStringList({f.hfx1, f.hfy1, f.hfx2, f.hfy2}),
                 QStringList({QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("90"),
                              QStringLiteral("80")}));
        QVERIFY(app_->editor().picture().image().pixel(50, 50) == qRgb(255, 255, 255)); // nothing drawn

        w->hide();
        app_->mainWindow().findChild<QAction*>(QStringLiteral("chf1"))->trigger();
        QCOMPARE(app_->editorWindow(), w);
        QVERIFY(find<QCheckBox>(*w, "sikic(4)")->isVisible());
        QVERIFY(!find<QCheckBox>(*w, "sikic(2)")->isChecked());
    }

    // A width too long for its narrow box shows its start, like the equations.
    void editorWidthBoxesShowTheirStart() {
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command15"), Qt::LeftButton);
        EditorWindow* w = app_->editorWindow();
        HoughEditor& ed = app_->editor();
        ed.setMx(QStringLiteral("1000")), ed.setMy(QStringLiteral("1000"));
        for (int k = 0; k <= 3; ++k)
            ed.setRecord(k, {0.5, 427.0 * k, QStringLiteral("typed"), 1});
        QTest::mouseClick(find<QPushButton>(*w, "Command5"), Qt::LeftButton);
        auto* width = find<QLineEdit>(*w, "intval(0)");
        QCOMPARE(width->text(), QStringLiteral("381.9204106"));
        QCOMPARE(width->cursorPosition(), 0);
    }

    // The automatic measurement: from the menu and the editor, on the current slot; the table,
    // the summary and the export with its header.
    void measurementWindowMeasuresAndExports() {
        const std::string stripes =
            testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon");
        app_->module().openImage(writeRaw("s.mon", QByteArray::fromStdString(stripes)),
                                 QStringLiteral("s.mon"));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cmeasure"))->trigger();
        MeasurementWindow* w = app_->measurementWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("磁区幅の自動測定"));
        type(find<QLineEdit>(*w, "pixelSize"), QStringLiteral("0.5"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QVERIFY(find<QLabel>(*w, "summary")->text().contains(QStringLiteral("ストライプ")));
        // Every wrapped line of the summary is shown, the settings line at its end too.
        auto* summary = find<QLabel>(*w, "summary");
        QVERIFY(summary->height() >= summary->heightForWidth(summary->width()));
        auto* table = find<QTableWidget>(*w, "bands");
        QVERIFY(table->rowCount() > 20);
        // µm beside px, each rounded as shown
        QVERIFY(qAbs(table->item(0, 3)->text().toDouble() - table->item(0, 2)->text().toDouble() / 2) <
                0.001);
        const QString out = QString::fromStdString(tmp_->path().string()) + "/m.csv";
        app_->dialogs().queueAnswer(out);
        QTest::mouseClick(find<QPushButton>(*w, "export"), Qt::LeftButton);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.startsWith(QStringLiteral("# Tovra 1.2.4\r\n# provenance: {")));
        QVERIFY(text.contains(QStringLiteral("\r\n# file: ")));
        QVERIFY2(text.contains(QStringLiteral("# rectangle: 0 0 256 256")), qPrintable(text.left(200)));
        QVERIFY(text.contains(QStringLiteral(",black,\r\n")));
        w->hide();
        app_->mainWindow().findChild<QAction*>(QStringLiteral("chf1"))->trigger();
        QTest::mouseClick(find<QPushButton>(*app_->editorWindow(), "automatic"), Qt::LeftButton);
        QVERIFY(w->isVisible());
    }

    // A field sweep in the program: a folder of frames, values from their names, the plots drawn
    // as frames finish, a click on a point opening that frame, the table and the plot exported;
    // values that do not fit refused before anything runs, and a cancelled run keeping what it did.
    void seriesWindowMeasuresOpensAndExports() {
        const QString dir = QString::fromStdString(tmp_->path().string()) + "/sweep";
        QDir().mkpath(dir);
        for (int k = 1; k <= 6; ++k) { // stripes whose black bands widen from 6 to 16 px of 24
            QImage frame(192, 192, QImage::Format_Grayscale8);
            for (int y = 0; y < 192; ++y)
                for (int x = 0; x < 192; ++x)
                    frame.setPixel(x, y,
                                   (x + y / 2) % 24 < 4 + 2 * k ? qRgb(50, 50, 50) : qRgb(200, 200, 200));
            frame.save(QStringLiteral("%1/H_%2mT.png").arg(dir).arg(k * 5));
        }
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cseries"))->trigger();
        SeriesWindow* w = app_->seriesWindow();
        SeriesModule& series = app_->series();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("系列の測定 (磁場掃引・時系列)"));
        app_->dialogs().queueAnswer(dir);
        QTest::mouseClick(find<QPushButton>(*w, "addFolder"), Qt::LeftButton);
        QCOMPARE(find<QLabel>(*w, "frames")->text(), QStringLiteral("sweep"));
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        // A list of the wrong length: refused, nothing measured.
        auto* source = find<QComboBox>(*w, "valueSource");
        source->setFocus();
        QTest::keyClick(source, Qt::Key_Down);
        QCOMPARE(series.fields().valueSource, 1);
        type(find<QLineEdit>(*w, "valueList"), QStringLiteral("1,2,abc"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY2(said.contains(QStringLiteral("値がフレームに合いません")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("値の一覧の 3 番目「abc」は数ではありません")),
                 qPrintable(said));
        QVERIFY(!series.running() && series.framesTotal() == 0);
        // The last number in each name, in mT.
        QTest::keyClick(source, Qt::Key_Down);
        QTest::keyClick(source, Qt::Key_Down);
        QCOMPARE(series.fields().valueSource, 3);
        type(find<QLineEdit>(*w, "valueUnit"), QStringLiteral("mT"));
        type(find<QLineEdit>(*w, "rectangle"), QStringLiteral("0 0 9"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QVERIFY2(said.contains(QStringLiteral("矩形「0 0 9」")), qPrintable(said));
        QVERIFY(!series.running() && series.framesTotal() == 0);
        type(find<QLineEdit>(*w, "rectangle"), QStringLiteral("0 0 160 160"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!series.running(), 60000);
        QCOMPARE(series.points().front().width, 160);
        QCOMPARE(find<QProgressBar>(*w, "progress")->value(), 6);
        // The black bands widen past half the period: the magnetisation crosses zero on the way up.
        QVERIFY2(find<QLabel>(*w, "status")->text().contains(QStringLiteral("Hc↑")),
                 qPrintable(find<QLabel>(*w, "status")->text()));
        const std::vector<SeriesPoint> points = series.points();
        QCOMPARE(points.size(), size_t{6});
        for (int k = 0; k < 6; ++k) {
            QCOMPARE(points[static_cast<size_t>(k)].value, 5.0 * (k + 1));
            QVERIFY(points[static_cast<size_t>(k)].blackWidth >
                    points[static_cast<size_t>(std::max(k - 1, 0))].blackWidth - 0.01);
        }
        auto* plot = find<SeriesPlotView>(*w, "plot");
        const QPointF at = seriesPointPosition(QRectF(plot->rect()), points, 3);
        QTest::mouseClick(plot, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(series.openedFrame(), 3);
        QVERIFY(find<QLabel>(*w, "frameSummary")->text().contains(QStringLiteral("H_20mT.png")));
        QVERIFY2(find<QLabel>(*w, "frameSummary")->text().contains(QStringLiteral("判定: ")),
                 qPrintable(find<QLabel>(*w, "frameSummary")->text()));
        QCOMPARE(series.frame().image().width(), 192);
        const QString table = QString::fromStdString(tmp_->path().string()) + "/sweep.csv";
        app_->dialogs().queueAnswer(table);
        QTest::mouseClick(find<QPushButton>(*w, "exportTable"), Qt::LeftButton);
        QFile f(table);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.startsWith(QStringLiteral("# Tovra 1.2.4")));
        QVERIFY(text.contains(QStringLiteral("# value: 値 (mT)")));
        QVERIFY(text.contains(QStringLiteral("# rectangle: 0 0 160 160")));
        QVERIFY(text.contains(QStringLiteral("# files: ") + dir + QStringLiteral("/H_5mT.png, ")));
        QCOMPARE(
            text.count(QRegularExpression(QStringLiteral("^\\d+,"), QRegularExpression::MultilineOption)), 6);
        const QString png = QString::fromStdString(tmp_->path().string()) + "/sweep.png";
        app_->dialogs().queueAnswer(png);
        QTest::mouseClick(find<QPushButton>(*w, "exportPlot"), Qt::LeftButton);
        QCOMPARE(QImage(png).size(), QSize(1200, 900));
        // Cancelled at once: what finished stays, the rest is not measured.
        for (int k = 7; k <= 60; ++k)
            QFile::copy(QStringLiteral("%1/H_30mT.png").arg(dir),
                        QStringLiteral("%1/H_%2mT.png").arg(dir).arg(k * 5));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTest::mouseClick(find<QPushButton>(*w, "cancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!series.running(), 60000);
        QVERIFY(series.cancelled());
        QVERIFY(series.framesDone() < 60);
        QCOMPARE(static_cast<int>(series.points().size()), series.framesDone());
        QVERIFY(find<QLabel>(*w, "status")->text().startsWith(QStringLiteral("中止しました")));
    }

    // Bubbles followed in the program: a lattice shifted a pixel and a half a frame, its frames in a
    // folder; a largest step that is no number refused before anything runs; the tracks, the slider
    // through the frames and the three exports.
    void trackWindowFollowsBubblesAndExports() {
        const QString dir = QString::fromStdString(tmp_->path().string()) + "/bubbles";
        QDir().mkpath(dir);
        for (int k = 0; k < 5; ++k) {
            QImage frame(200, 200, QImage::Format_Grayscale8);
            frame.fill(qRgb(200, 200, 200));
            QPainter p(&frame);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(50, 50, 50));
            for (int j = -1; j < 13; ++j)
                for (int i = -1; i < 12; ++i)
                    p.drawEllipse(QPointF(18.0 * i + (j % 2 ? 9 : 0) + 1.5 * k, 15.6 * j + 0.5 * k), 5, 5);
            p.end();
            frame.save(QStringLiteral("%1/frame_%2.png").arg(dir).arg(k));
        }
        app_->mainWindow().findChild<QAction*>(QStringLiteral("ctrack"))->trigger();
        TrackWindow* w = app_->trackWindow();
        TrackModule& tracking = app_->tracking();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("泡の追跡"));
        app_->dialogs().queueAnswer(dir);
        QTest::mouseClick(find<QPushButton>(*w, "addFolder"), Qt::LeftButton);
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        type(find<QLineEdit>(*w, "maxStep"), QStringLiteral("abc"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QVERIFY2(said.contains(QStringLiteral("最大の移動「abc」")), qPrintable(said));
        QVERIFY(!tracking.series().running() && !tracking.tracks());
        type(find<QLineEdit>(*w, "maxStep"), QStringLiteral("5"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(tracking.tracks().has_value(), 60000);
        const measure::Tracks& t = *tracking.tracks();
        QCOMPARE(t.id.size(), size_t{5});
        QCOMPARE(t.maxStep, 5.0);
        QVERIFY(std::abs(t.driftX.back() - 6) < 0.2 && std::abs(t.driftY.back() - 2) < 0.2);
        QVERIFY2(find<QLabel>(*w, "trackSummary")->text().contains(QStringLiteral("軌跡")),
                 qPrintable(find<QLabel>(*w, "trackSummary")->text()));
        auto* slider = find<QSlider>(*w, "frameSlider");
        QVERIFY(slider->isEnabled());
        QCOMPARE(slider->maximum(), 4);
        slider->setValue(1);
        QVERIFY(find<QLabel>(*w, "frameLabel")->text().startsWith(QStringLiteral("フレーム 2 / 5")));
        QCOMPARE(tracking.series().openedFrame(), 1);
        const QString base = QString::fromStdString(tmp_->path().string());
        app_->dialogs().queueAnswer(base + "/tracks.csv");
        QTest::mouseClick(find<QPushButton>(*w, "exportTracks"), Qt::LeftButton);
        QFile csv(base + "/tracks.csv");
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(csv.readLine().startsWith("track_id,frame,value,x_px,y_px,diameter_px"));
        app_->dialogs().queueAnswer(base + "/tracks.json");
        QTest::mouseClick(find<QPushButton>(*w, "exportSummary"), Qt::LeftButton);
        QFile json(base + "/tracks.json");
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QJsonObject summary = QJsonDocument::fromJson(json.readAll()).object();
        QCOMPARE(
            summary.value(QStringLiteral("provenance")).toObject().value(QStringLiteral("window")).toString(),
            QStringLiteral("泡の追跡"));
        QCOMPARE(summary.value(QStringLiteral("frame_details")).toArray().size(), 5);
        app_->dialogs().queueAnswer(base + "/tracks.png");
        QTest::mouseClick(find<QPushButton>(*w, "exportPlot"), Qt::LeftButton);
        QCOMPARE(QImage(base + "/tracks.png").size(), QSize(1200, 900));
    }

    // Walls in the program: a disc growing by 3 px a frame among marks, the frames shifted; durations
    // of the wrong count refused before anything runs; the steps, the slider and the four exports.
    void motionWindowMeasuresStepsAndExports() {
        const QString dir = QString::fromStdString(tmp_->path().string()) + "/pulses";
        QDir().mkpath(dir);
        for (int k = 0; k < 4; ++k) {
            QImage frame(240, 220, QImage::Format_Grayscale8);
            frame.fill(qRgb(200, 200, 200));
            QPainter p(&frame);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(50, 50, 50));
            const QPointF shift(1.0 * k, -0.5 * k);
            for (int i = 0; i < 10; ++i)
                p.drawEllipse(QPointF(12 + 23 * i, 12 + 7 * (i % 3)) + shift, 2.5, 2.5);
            p.drawEllipse(QPointF(80, 120) + shift, 20.0 + 3 * k, 20.0 + 3 * k);
            p.drawEllipse(QPointF(170, 140) + shift, 25.0 + 3 * k, 25.0 + 3 * k);
            p.end();
            frame.save(QStringLiteral("%1/pulse_%2.png").arg(dir).arg(k));
        }
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cmotion"))->trigger();
        MotionWindow* w = app_->motionWindow();
        MotionModule& motion = app_->motion();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("磁壁の運動"));
        app_->dialogs().queueAnswer(dir);
        QTest::mouseClick(find<QPushButton>(*w, "addFolder"), Qt::LeftButton);
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        type(find<QLineEdit>(*w, "durations"), QStringLiteral("1,1"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QVERIFY2(said.contains(QStringLiteral("パルスの時間は段ごとに一つ、3 個")), qPrintable(said));
        QVERIFY(!motion.running() && !motion.motion());
        type(find<QLineEdit>(*w, "durations"), QStringLiteral("1,1,1"));
        type(find<QLineEdit>(*w, "alignRect"), QStringLiteral("0 0 240 30"));
        type(find<QLineEdit>(*w, "rectangle"), QStringLiteral("0 40 240 220"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(motion.motion().has_value(), 60000);
        const measure::Motion& m = *motion.motion();
        QCOMPARE(m.steps.size(), size_t{3});
        for (const measure::MotionStep& s : m.steps) {
            QVERIFY2(s.displacement && std::abs(*s.displacement - 3) < 0.3,
                     qPrintable(QString::number(s.displacement.value_or(-1))));
            QVERIFY(std::abs(s.velocity.value_or(0) - *s.displacement) < 1e-9);
        }
        QVERIFY(std::abs(m.steps.back().driftX - 3) < 0.1 && std::abs(m.steps.back().driftY + 1.5) < 0.1);
        auto* slider = find<QSlider>(*w, "stepSlider");
        QCOMPARE(slider->maximum(), 2);
        slider->setValue(2);
        QVERIFY(find<QLabel>(*w, "stepLabel")->text().startsWith(QStringLiteral("段 3 → 4")));
        QVERIFY(!motion.stepPicture(2).isNull() && !motion.switchingPicture().isNull());
        const QString base = QString::fromStdString(tmp_->path().string());
        for (const auto& [button, name] :
             {std::pair{"exportTable", "m.csv"}, std::pair{"exportPlot", "m.png"},
              std::pair{"exportSummary", "m.json"}, std::pair{"exportSwitchingMap", "m.tif"}}) {
            app_->dialogs().queueAnswer(base + "/" + name);
            QTest::mouseClick(find<QPushButton>(*w, button), Qt::LeftButton);
            QVERIFY2(QFileInfo(base + "/" + name).size() > 100, name);
        }
        QCOMPARE(QImage(base + "/m.png").size(), QSize(1200, 900));
    }

    // A loop measured in the window, its frames named with their index before their field: the
    // saturated ends counted as m = -1 and +1, the coercive fields (+8 and -4 mT) in the status.
    void seriesWindowShowsTheLoop() {
        const QString dir = QString::fromStdString(tmp_->path().string()) + "/loop";
        QDir().mkpath(dir);
        std::vector<int> fields;
        for (int h = -45; h <= 45; h += 5)
            fields.push_back(h);
        for (int h = 40; h >= -45; h -= 5)
            fields.push_back(h);
        for (size_t k = 0; k < fields.size(); ++k) {
            const bool up = k < 19;
            const double m = std::tanh((fields[k] - (up ? 8.0 : -4.0)) / 15);
            // The far ends one colour all over.
            QImage frame = std::fabs(fields[k]) >= 45
                               ? QImage(192, 128, QImage::Format_Grayscale8)
                               : testing_support::loopFrame(24 * (1 - m) / 2, static_cast<int>(k));
            if (std::fabs(fields[k]) >= 45) frame.fill(m < 0 ? 50 : 200);
            frame.save(QStringLiteral("%1/H_%2_%3mT.png")
                           .arg(dir)
                           .arg(k + 1, 3, 10, QLatin1Char('0'))
                           .arg(fields[k]));
        }
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cseries"))->trigger();
        SeriesWindow* w = app_->seriesWindow();
        app_->dialogs().queueAnswer(dir);
        QTest::mouseClick(find<QPushButton>(*w, "addFolder"), Qt::LeftButton);
        auto* source = find<QComboBox>(*w, "valueSource");
        source->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(source, Qt::Key_Down);
        QCOMPARE(app_->series().fields().valueSource, 3);
        type(find<QLineEdit>(*w, "valueUnit"), QStringLiteral("mT"));
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!app_->series().running(), 60000);
        const std::vector<SeriesPoint> points = app_->series().points();
        QCOMPARE(points.size(), fields.size());
        QVERIFY(points.front().saturated() && points.front().magnetisation() == -1);
        QVERIFY(points[18].saturated() && points[18].magnetisation() == 1);
        const QString status = find<QLabel>(*w, "status")->text();
        QVERIFY2(status.contains(QStringLiteral("Hc↑ 8")) || status.contains(QStringLiteral("Hc↑ 7.9")),
                 qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("Hc↓ -4")) || status.contains(QStringLiteral("Hc↓ -3.9")),
                 qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral("保磁力")) && status.contains(QStringLiteral("交換バイアス")),
                 qPrintable(status));
        // The masks of every frame, clicked for: two planes a frame, each frame's field beside it.
        const QString masks = QString::fromStdString(tmp_->path().string()) + "/loop_masks.ome.tif";
        app_->dialogs().queueAnswer(masks);
        QTest::mouseClick(find<QPushButton>(*w, "exportMasks"), Qt::LeftButton);
        const PictureLayout layout = pictureLayout(masks);
        QCOMPARE(layout.pages, static_cast<int>(2 * fields.size()));
        QCOMPARE(layout.metadata.planes[2].values.value(QStringLiteral("値")).toDouble(), double(fields[1]));
    }

    // A link to /dev/zero named as a picture: the window stays answering while the frames are
    // listed, and the frame is refused with its reason instead of read until memory runs out.
    void seriesWindowRefusesDevicesWithoutFreezing() {
        const QString dir = QString::fromStdString(tmp_->path().string());
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir + QStringLiteral("/zero.tif")));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cseries"))->trigger();
        SeriesWindow* w = app_->seriesWindow();
        app_->dialogs().queueAnswer(dir + QStringLiteral("/zero.tif"));
        QTest::mouseClick(find<QPushButton>(*w, "addFile"), Qt::LeftButton);
        QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!app_->series().running(), 20000);
        QCOMPARE(app_->series().framesTotal(), 1);
        QVERIFY(app_->series().points().front().error.contains(QStringLiteral("device")));
    }

    // Number boxes typed into as a user types: what is no usable number is refused with a message
    // where the box is read, and the box shows the value still in use.
    void numberBoxesSayNoToTypedText() {
        const std::string stripes =
            testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon");
        app_->module().openImage(writeRaw("s.mon", QByteArray::fromStdString(stripes)),
                                 QStringLiteral("s.mon"));
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cmeasure"))->trigger();
        MeasurementWindow* w = app_->measurementWindow();
        const struct {
            const char* box;
            const char* typed;
            const char* said;
            const char* kept;
        } rows[] = {{"speckArea", "abc", "ゴミの面積上限「abc」", "10"},
                    {"speckArea", "99999999", "ゴミの面積上限「99999999」", "10"},
                    {"pixelSize", "1e400", "画素の大きさ「1e400」", ""},
                    {"pixelSize", "-1", "画素の大きさ「-1」", ""}};
        for (const auto& row : rows) {
            said.clear();
            auto* box = find<QLineEdit>(*w, row.box);
            type(box, QLatin1String(row.typed));
            QCOMPARE(box->text(), QLatin1String(row.typed));
            QTest::mouseClick(find<QPushButton>(*w, "run"), Qt::LeftButton);
            QVERIFY2(said.contains(QString::fromUtf8(row.said)), qPrintable(said));
            QCOMPARE(box->text(), QLatin1String(row.kept));
        }
        // The toolbox's threshold: 99999 would binarize everything white.
        ToolboxWindow& tool = app_->toolbox();
        auto* threshold = find<QLineEdit>(tool, "segt");
        const QByteArray before =
            QByteArray::fromStdString(testing_support::readBytes((work_ + "/0_im.tmp").toStdString()));
        for (const char* typed : {"99999", "abc", "-1"}) {
            said.clear();
            type(threshold, QLatin1String(typed));
            QTest::mouseClick(find<QPushButton>(tool, "Command6"), Qt::LeftButton);
            QVERIFY2(said.contains(QStringLiteral("しきい値「%1」").arg(QLatin1String(typed))),
                     qPrintable(said));
            QCOMPARE(threshold->text(), QStringLiteral("128"));
        }
        QCOMPARE(QByteArray::fromStdString(testing_support::readBytes((work_ + "/0_im.tmp").toStdString())),
                 before);
    }

    // Every window opens, and grows, within the screen's available area: the editor with a
    // 1024 x 1024 picture, the measurement and series windows, and the last slot's window.
    void windowsStayOnTheScreen() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        auto inside = [&](QWidget* w) {
            return area.contains(w->frameGeometry()) && w->width() <= area.width() &&
                   w->height() <= area.height();
        };
        app_->module().state().setMx(QStringLiteral("1024"));
        app_->module().state().setMy(QStringLiteral("1024"));
        app_->module().openImage(writeRaw("big.mon", QByteArray(1024 * 1024, '\x40')),
                                 QStringLiteral("big.mon"));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("chf1"))->trigger();
        EditorWindow* editor = app_->editorWindow();
        app_->editor().setMx(QStringLiteral("1024")), app_->editor().setMy(QStringLiteral("1024"));
        QTest::mouseClick(find<QPushButton>(*editor, "Command1"), Qt::LeftButton);
        QCOMPARE(app_->editor().picture().pixelWidth(), 1024);
        QVERIFY2(inside(editor), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                .arg(editor->frameGeometry().x())
                                                .arg(editor->frameGeometry().y())
                                                .arg(editor->frameGeometry().width())
                                                .arg(editor->frameGeometry().height())
                                                .arg(area.width())
                                                .arg(area.height())));
        for (const char* item : {"cmeasure", "cseries"})
            app_->mainWindow().findChild<QAction*>(QLatin1String(item))->trigger();
        QVERIFY(inside(app_->measurementWindow()));
        QVERIFY(inside(app_->seriesWindow()));
        app_->module().state().setId(QStringLiteral("7"));
        app_->module().state().setMx(QStringLiteral("256"));
        app_->module().state().setMy(QStringLiteral("256"));
        app_->module().openImage(writeRaw("s7.mon", QByteArray(256 * 256, '\x20')), QStringLiteral("s7.mon"));
        QVERIFY(inside(app_->imageWindow(7)));
    }

    // On a 1600 x 1200 screen: each Hough window whole with room for its title bar, the guide clear
    // of the main bar and the toolbox, every menu of the main bar in view, a 640 x 512 picture shown
    // whole, a too large picture's message right and helpful, the exports offered beside the picture
    // with a name, and a name typed without ".csv" given it.
    void windowsFitTheScreenAndTheirContent() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(area.size(), QSize(1600, 1200));
        MainWindow& main = app_->mainWindow();
        QVERIFY(main.menuBar()->width() >= main.menuBar()->sizeHint().width());
        main.findChild<QAction*>(QStringLiteral("chf1"))->trigger();
        main.findChild<QAction*>(QStringLiteral("chf2"))->trigger();
        for (QWidget* w :
             {static_cast<QWidget*>(app_->editorWindow()), static_cast<QWidget*>(app_->simulatorWindow())}) {
            QVERIFY(area.contains(w->frameGeometry()));
            QVERIFY2(w->height() + 32 <= area.height(),
                     qPrintable(QStringLiteral("%1 high").arg(w->height())));
        }
        main.findChild<QAction*>(QStringLiteral("he1"))->trigger();
        const QRect help = app_->helpWindow()->frameGeometry();
        QVERIFY(area.contains(help));
        QVERIFY(!help.intersects(main.frameGeometry()));
        QVERIFY(!help.intersects(app_->toolbox().frameGeometry()));
        // A picture larger than the window's first size.
        QImage picture(640, 512, QImage::Format_Grayscale8);
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 640; ++x)
                picture.setPixel(x, y, (x + y) % 20 < 8 ? qRgb(40, 40, 40) : qRgb(200, 200, 200));
        const QString path = QString::fromStdString(tmp_->path().string()) + "/a long folder name/frame.png";
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(picture.save(path));
        app_->dialogs().queueAnswer(path);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command1"), Qt::LeftButton);
        ImageWindow* w = app_->imageWindow(0);
        QVERIFY(w->width() >= 640 && w->height() >= 512 + 16);
        QCOMPARE(find<QLabel>(*w, "com2")->toolTip(), path);
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        app_->module().state().setMx(QStringLiteral("2000"));
        app_->module().state().setMy(QStringLiteral("2000"));
        app_->module().openImage(writeRaw("huge.mon", QByteArray(2000 * 2000, '\x40')),
                                 QStringLiteral("huge.mon"));
        QVERIFY2(said.contains(QStringLiteral("1048576 画素")) &&
                     said.contains(QStringLiteral("系列の測定")) &&
                     said.contains(QStringLiteral("Tovra --measure")),
                 qPrintable(said));
        // The measurement's export, beside the picture and named after it; ".csv" added.
        app_->module().state().setMx(QStringLiteral("640"));
        app_->module().state().setMy(QStringLiteral("512"));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("cmeasure"))->trigger();
        const QString typed = QString::fromStdString(tmp_->path().string()) + "/typed";
        app_->dialogs().queueAnswer(typed);
        QTest::mouseClick(find<QPushButton>(*app_->measurementWindow(), "run"), Qt::LeftButton);
        app_->module().state().setId(QStringLiteral("0"));
        QTest::mouseClick(find<QPushButton>(*app_->measurementWindow(), "export"), Qt::LeftButton);
        QCOMPARE(app_->dialogs().lastSuggested(),
                 QFileInfo(path).absolutePath() + QStringLiteral("/frame_measure.csv"));
        QVERIFY(QFile::exists(typed + QStringLiteral(".csv")));
    }

    // Without a program that opens mail (as here, offscreen) the menu item shows the address.
    void mailWithoutAMailProgramShowsTheAddress() {
        QString said;
        app_->dialogs().setMessagePlatform([&said](const QString& t) { said = t; });
        QAction* mail = app_->mainWindow().findChild<QAction*>(QStringLiteral("mmail"));
        QVERIFY(mail && mail->text() == QStringLiteral("作者にメール"));
        mail->trigger();
        QVERIFY(said.contains(QStringLiteral("tovra-support@tovra.org")));
    }

    void aboutBoxShowsTheVersion() {
        app_->mainWindow().findChild<QAction*>(QStringLiteral("he3"))->trigger();
        AboutWindow* about = app_->aboutWindow();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("Tovraのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(find<QLabel>(*about, "lblVersion")->text(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.2.4"));
        QVERIFY(!find<QLabel>(*about, "picIcon")->pixmap().isNull());
        QTest::mouseClick(find<QPushButton>(*about, "cmdOK"), Qt::LeftButton);
        QVERIFY(!about->isVisible());
    }

    void clickingTheNameLabelReloads() {
        const QString path = writeRaw("n.mon", QByteArray(256 * 256, '\x05'));
        app_->module().openImage(path, QStringLiteral("n.mon"));
        ImageWindow* w = app_->imageWindow(0);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(256 * 256, '\x09'));
        f.close();
        QLabel* label = find<QLabel>(*w, "com2");
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, label->mapTo(w, QPoint(5, 5)));
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(1, 1)), 9);
    }

    // A 16-bit PNG through 開く: its own size, its full range in the window, the filter offered.
    void openTakesSixteenBitPngs() {
        QImage deep(300, 200, QImage::Format_Grayscale16);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x)
                reinterpret_cast<quint16*>(deep.scanLine(y))[x] = x < 150 ? 20000 : 40000;
        const QString path = QString::fromStdString(tmp_->path().string()) + "/deep.png";
        QVERIFY(deep.save(path, "png"));
        app_->dialogs().queueAnswer(path);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command1"), Qt::LeftButton);
        QVERIFY(app_->dialogs().lastFilter().contains(QStringLiteral("画像 (*.png;*.tif;*.tiff)")));
        ImageWindow* w = app_->imageWindow(0);
        QVERIFY(w && w->isVisible());
        QCOMPARE(app_->module().state().info().mx, QStringLiteral("300"));
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(10, 10)), 0);
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(290, 10)), 255);
    }

    void openShowsTheImageWindow() {
        const QString path = writeRaw("a.mon", QByteArray(256 * 256, '\x40'));
        app_->dialogs().queueAnswer(path);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command1"), Qt::LeftButton);
        ImageWindow* w = app_->imageWindow(0);
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("イメージ ID 0"));
        QCOMPARE(find<QLabel>(*w, "com2")->text(), path);
        QCOMPARE(find<QComboBox>(app_->toolbox(), "idx")->itemText(0), QStringLiteral("ID 0 be"));
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(10, 10)), 0x40);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command10"), Qt::LeftButton); // invert
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(10, 10)), 0xbf);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command11"), Qt::LeftButton); // undo
        QCOMPARE(qRed(w->picture()->canvas().image().pixel(10, 10)), 0x40);
    }

    void slotListChoosesTheCurrentSlot() {
        auto* idx = find<QComboBox>(app_->toolbox(), "idx");
        idx->setFocus();
        for (int i = 0; i < 8 && idx->currentIndex() != 3; ++i) // chosen with the keyboard
            QTest::keyClick(idx, Qt::Key_Down);
        QCOMPARE(find<QLabel>(app_->info(), "id")->text(), QStringLiteral("3"));
        QCOMPARE(app_->state().info().mx, QStringLiteral("256"));
    }

    void imageWindowActivationAndClosing() {
        app_->state().setMx(QStringLiteral("4"));
        app_->state().setMy(QStringLiteral("2"));
        app_->state().setId(QStringLiteral("2"));
        app_->module().openImage(writeRaw("b.mon", QByteArray(8, '\x10')), QStringLiteral("b.mon"));
        app_->state().setId(QStringLiteral("0"));
        app_->state().setMx(QStringLiteral("99"));
        ImageWindow* w = app_->imageWindow(2);
        QVERIFY(w);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(app_->state().info().id, QStringLiteral("2"));
        QCOMPARE(find<QLineEdit>(app_->info(), "mx")->text(), QStringLiteral("4"));
        QCOMPARE(find<QLineEdit>(app_->info(), "my")->text(), QStringLiteral("2"));
        w->close();
        QVERIFY(!w->isVisible());
        QVERIFY(!app_->state().slotInUse(2));
        QCOMPARE(find<QComboBox>(app_->toolbox(), "idx")->itemText(2), QStringLiteral("ID 2 empty"));
        QCOMPARE(find<QComboBox>(app_->toolbox(), "idx")->itemText(0), QStringLiteral("ID 0 empty"));
    }

    void draggingSelectsANormalisedRectangle() {
        app_->module().openImage(writeRaw("c.mon", QByteArray(256 * 256, '\x80')), QStringLiteral("c.mon"));
        PictureView* pic = app_->imageWindow(0)->picture();
        QTest::mousePress(pic, Qt::LeftButton, {}, QPoint(120, 90));
        QTest::mouseMove(pic, QPoint(60, 40));
        QCOMPARE(find<QLabel>(app_->info(), "xy")->text(), QStringLiteral("60-40"));
        QTest::mouseRelease(pic, Qt::LeftButton, {}, QPoint(30, 20));
        auto& info = app_->info();
        QCOMPARE(find<QLineEdit>(info, "hfx1")->text(), QStringLiteral("30"));
        QCOMPARE(find<QLineEdit>(info, "hfy1")->text(), QStringLiteral("20"));
        QCOMPARE(find<QLineEdit>(info, "hfx2")->text(), QStringLiteral("120"));
        QCOMPARE(find<QLineEdit>(info, "hfy2")->text(), QStringLiteral("90"));
        QTest::mouseClick(find<QPushButton>(info, "Command16"), Qt::LeftButton);
        QCOMPARE(qRed(pic->canvas().image().pixel(30, 50)), 0);
        QTest::mouseClick(find<QPushButton>(info, "Command1"), Qt::LeftButton);
        QCOMPARE(qRed(pic->canvas().image().pixel(30, 50)), 0x80);
    }

    void informationFieldsNormalise() {
        auto* mx = find<QLineEdit>(app_->info(), "mx");
        type(mx, QStringLiteral("1e3"));
        QCOMPARE(mx->text(), QStringLiteral("1000"));
        type(find<QLineEdit>(app_->info(), "my"), QStringLiteral("0256"));
        QCOMPARE(app_->state().info().my, QStringLiteral("256"));
    }

    void mainWindowPresetsAndAutoDraw() {
        auto& main = app_->mainWindow();
        // Clicked through the window, as the pointer would: press and release both reach the label.
        QLabel* preset = find<QLabel>(main, "Label5");
        QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {},
                          preset->mapTo(&main, preset->rect().center()));
        QCOMPARE(app_->state().info().mx, QStringLiteral("640"));
        QCOMPARE(app_->state().info().my, QStringLiteral("480"));
        QCOMPARE(find<QLabel>(main, "Label3")->text(), QStringLiteral("1024×1024"));
        QTest::mouseClick(find<QCheckBox>(main, "Ch1"), Qt::LeftButton);
        QVERIFY(!app_->state().autoDraw());
        find<QAction>(main, "infoo")->trigger();
        QVERIFY(app_->info().isVisible());
    }

    void imageMenuShowsTheCurrentSlotsWindow() {
        app_->state().setId(QStringLiteral("6"));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("imo"))->trigger();
        QVERIFY(app_->imageWindow(6));
        QVERIFY(app_->imageWindow(6)->isVisible());
        QCOMPARE(app_->imageWindow(6)->windowTitle(), QStringLiteral("イメージ"));
    }

    void histogramWindowNumberBoxes() {
        auto& hw = app_->histogramWindow();
        QVERIFY(!hw.isVisible()); // exists, hidden, from the start
        app_->mainWindow().findChild<QAction*>(QStringLiteral("chist"))->trigger();
        QVERIFY(hw.isVisible());
        QCOMPARE(hw.windowTitle(), QStringLiteral("ヒストグラム"));
        auto* ht = find<QLineEdit>(hw, "ht");
        type(ht, QStringLiteral("12"));
        QCOMPARE(find<NumberBar>(hw, "VSch")->number(), 12);
        type(ht, QStringLiteral("65"));
        QCOMPARE(find<NumberBar>(hw, "VSch")->number(), 6); // "6" moved it; "65" is beyond 64
        QCOMPARE(app_->histogram().fields().ht, QStringLiteral("65"));
        clickArrow(find<NumberBar>(hw, "VScl2"), QStyle::SC_ScrollBarSubLine);
        QCOMPARE(find<QLineEdit>(hw, "lh2")->text(), QStringLiteral("1"));
        // The toolbox's histogram button shows the same window.
        hw.hide();
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command13"), Qt::LeftButton);
        QVERIFY(hw.isVisible());
    }

    void histogramButtonComputesAndDraws() {
        app_->module().openImage(writeRaw("h.mon", QByteArray(256 * 256, '\x30')), QStringLiteral("h.mon"));
        auto& hw = app_->histogramWindow();
        QTest::mouseClick(find<QRadioButton>(hw, "Op2"), Qt::LeftButton);
        QTest::mouseClick(find<QPushButton>(hw, "Command13"), Qt::LeftButton);
        QCOMPARE(find<QLineEdit>(app_->toolbox(), "segt")->text(), QStringLiteral("48"));
        QCOMPARE(find<QLineEdit>(hw, "ht")->text(), QStringLiteral("1"));
        QVERIFY(QFile::exists(work_ + "/0_hdat.csv"));
    }

    void openingAScriptRunsIt() {
        const QString data = QString::fromStdString(tmp_->path().string());
        writeRaw("a.mon", QByteArray(4, '\x10'));
        writeRaw("b.mon", QByteArray(4, '\x20'));
        const QString script =
            writeRaw("run.tvs", "2\r\n2\r\n3\r\n1\r\nr.mon\r\n80\r\n110\r\n0\r\na.mon\r\nb.mon\r\n0\r\n");
        app_->dialogs().queueAnswer(script);
        QTest::mouseClick(find<QPushButton>(app_->toolbox(), "Command1"), Qt::LeftButton);
        QFile a(data + "/a.mon"), b(data + "/b.mon");
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QCOMPARE(a.readAll(), QByteArray(4, '\xef'));
        QCOMPARE(b.readAll(), QByteArray(4, '\xdf'));
        QCOMPARE(app_->state().info().id, QStringLiteral("3"));
        QVERIFY(app_->imageWindow(3)->isVisible());
    }

    void exitDeletesWorkFiles() {
        app_->module().openImage(writeRaw("d.mon", QByteArray(256 * 256, '\x01')), QStringLiteral("d.mon"));
        QVERIFY(QFile::exists(work_ + "/0_im.tmp"));
        app_->mainWindow().findChild<QAction*>(QStringLiteral("en"))->trigger();
        QVERIFY(!QFile::exists(work_ + "/0_im.tmp"));
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
