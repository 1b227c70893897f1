#include "histogram_window.h"

#include "histogram.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>

namespace tovra {

HistogramWindow::HistogramWindow(HistogramModule& histogram, QWidget* parent)
    : QWidget(parent, Qt::Window), h_(histogram) {
    setObjectName(QStringLiteral("histwin"));
    setWindowTitle(QStringLiteral("ヒストグラム"));
    setFixedSize(twips(8055), twips(5175));
    HistogramModule* h = &histogram;

    auto picture = [&](const char* name, Canvas& canvas, QRect g) {
        return placePicture(this, name, canvas, g);
    };
    PictureView* hist = picture("hist", histogram.hist(), at(0, 0, 5175, 3735));
    hist->onMove = [h](double x, double y) { h->histMove(x, y); };
    hist->onPress = [h](double x, double y) { h->histPress(x, y); };
    PictureView* lhx = picture("lhx", histogram.lhx(), at(0, 3840, 5175, 1335));
    lhx->onMove = [h](double x, double y) { h->lhxMove(x, y); };
    lhx->onPress = [h](double x, double y) { h->lhxPress(x, y); };
    PictureView* lhy = picture("lhy", histogram.lhy(), at(5280, 0, 1335, 5175));
    lhy->onMove = [h](double x, double y) { h->lhyMove(x, y); };
    lhy->onPress = [h](double x, double y) { h->lhyPress(x, y); };

    auto button = [&](const char* name, const QString& caption, QRect g, void (HistogramModule::*action)()) {
        auto* b = place<QPushButton>(this, name, g);
        b->setText(caption);
        connect(b, &QPushButton::clicked, this, [h, action] { (h->*action)(); });
    };
    button("Command13", QStringLiteral("ヒストグラム90,95"), at(6600, 0, 1455, 495),
           &HistogramModule::histogramButton);
    button("Command18", QStringLiteral("最大値カット"), at(6600, 960, 1455, 495),
           &HistogramModule::maximumCutButton);
    button("Command14", QStringLiteral("ラインヒスト"), at(6600, 2040, 1455, 495),
           &HistogramModule::lineProfileButton);

    auto* frame = place<QFrame>(this, "sthr", at(6600, 480, 855, 495));
    op1_ = place<QRadioButton>(frame, "Op1", at(0, 0, 855, 255));
    op1_->setText(QStringLiteral("最大"));
    op1_->setChecked(true);
    op2_ = place<QRadioButton>(frame, "Op2", at(0, 240, 735, 255));
    op2_->setText(QStringLiteral("平均"));
    connect(op2_, &QRadioButton::toggled, this, [h](bool on) { h->setMeanMode(on); });

    auto number = [&](const char* box, const char* barName, int top,
                      void (HistogramModule::*setText)(const QString&), void (HistogramModule::*setBar)(int),
                      NumberBar*& bar) {
        auto* e =
            editBox(this, box, at(7440, top, 375, 375), [h, setText](const QString& t) { (h->*setText)(t); });
        bar = new NumberBar(this, barName, at(7800, top, 255, 375), Qt::Vertical, 0, HistogramModule::kBarMax,
                            [h, setBar](int v) { (h->*setBar)(v); });
        return e;
    };
    ht_ = number("ht", "VSch", 480, &HistogramModule::setHt, &HistogramModule::setVsch, vsch_);
    ht2_ = number("ht2", "VSch2", 1440, &HistogramModule::setHt2, &HistogramModule::setVsch2, vsch2_);
    lh2_ = number("lh2", "VScl2", 2520, &HistogramModule::setLh2, &HistogramModule::setVscl2, vscl2_);

    ch2_ = place<QCheckBox>(this, "ch2", at(6720, 2520, 735, 375));
    ch2_->setText(QStringLiteral("差分"));
    connect(ch2_, &QCheckBox::toggled, this, [h](bool on) { h->setDifference(on); });

    place<QLabel>(this, "Label1", at(6600, 4200, 1455, 255))->setText(QStringLiteral("任意　-　階調"));
    xy_ = place<QLabel>(this, "xy", at(6600, 4440, 1455, 375));
    xy_->setAutoFillBackground(true);
    QPalette p = xy_->palette();
    p.setColor(QPalette::Window, Qt::white);
    xy_->setPalette(p);
    hfx1_ = place<QLineEdit>(this, "hfx1", at(6600, 4920, 735, 270));
    hfy1_ = place<QLineEdit>(this, "hfy1", at(7320, 4920, 735, 270));

    connect(&histogram, &HistogramModule::changed, this, &HistogramWindow::refresh);
    refresh();
}

void HistogramWindow::refresh() {
    const HistogramFields& f = h_.fields();
    showText(ht_, f.ht);
    showText(ht2_, f.ht2);
    showText(lh2_, f.lh2);
    showText(hfx1_, f.hfx1);
    showText(hfy1_, f.hfy1);
    if (xy_->text() != f.xy) xy_->setText(f.xy);
    for (auto [bar, v] : {std::pair{vsch_, f.vsch}, {vsch2_, f.vsch2}, {vscl2_, f.vscl2}})
        bar->showNumber(v);
    if (op2_->isChecked() != f.meanMode) (f.meanMode ? op2_ : op1_)->setChecked(true);
    if (ch2_->isChecked() != f.difference) ch2_->setChecked(f.difference);
}

} // namespace tovra
