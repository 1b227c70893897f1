#include "simulator_window.h"

#include "simulator.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tovra {

SimulatorWindow::SimulatorWindow(HoughSimulator& simulator, QWidget* parent)
    : QWidget(parent, Qt::Window), sim_(simulator) {
    setObjectName(QStringLiteral("hf"));
    setWindowTitle(QStringLiteral("ハフ変換シミュレータ"));
    setFixedSize(730, 304);
    HoughSimulator* s = &simulator;

    auto picture = [&](const char* name, Canvas& canvas, QRect g) {
        return placePicture(this, name, canvas, g);
    };
    PictureView* p1 = picture("P1", simulator.image(), QRect(16, 16, 265, 265));
    p1->onPress = [s](double x, double y) { s->imagePress(x, y); };
    p1->onMove = [s](double x, double y) { s->imageMove(x, y); };
    p1->onRelease = [s](double x, double y) { s->imageRelease(x, y); };
    PictureView* p2 = picture("P2", simulator.hough(), QRect(320, 16, 393, 265));
    p2->onPress = [s](double t, double v) { s->houghPress(t, v); };
    p2->onMove = [s](double t, double v) { s->houghMove(t, v); };

    auto button = [&](const char* name, const QString& caption, QRect g, void (HoughSimulator::*action)()) {
        auto* b = place<QPushButton>(this, name, g);
        b->setText(caption);
        connect(b, &QPushButton::clicked, this, [s, action] { (s->*action)(); });
    };
    button("Command1", QStringLiteral("画像取得"), QRect(16, 280, 73, 25), &HoughSimulator::acquireImage);
    auto* transform = place<QPushButton>(this, "Command3", QRect(88, 280, 89, 25));
    transform->setText(QStringLiteral("オートハフ変換"));
    connect(transform, &QPushButton::clicked, this, [s] { s->autoTransform(); });
    ch_ = place<QCheckBox>(this, "Ch", QRect(184, 288, 17, 17));
    connect(ch_, &QCheckBox::toggled, this, [s](bool on) { s->setSelecting(on); });
    button("Command2", QStringLiteral("CLS"), QRect(208, 280, 73, 25), &HoughSimulator::clearImage);
    place<QLabel>(this, "Label1", QRect(336, 288, 65, 17))->setText(QStringLiteral("π分割STEP"));
    text1_ = editBox(this, "Text1", QRect(408, 280, 49, 25), [s](const QString& t) { s->setStep(t); });
    button("Command5", QStringLiteral("ALL CLS"), QRect(456, 280, 73, 25), &HoughSimulator::clearAll);
    button("Command4", QStringLiteral("CLS"), QRect(640, 280, 73, 25), &HoughSimulator::clearHough);

    // The scales' labels: rho from -750 at the top to 750 at the bottom, theta up to pi.
    struct Caption {
        const char* text;
        QRect at;
        Qt::Alignment align;
    };
    for (const Caption& c :
         {Caption{"-750", {283, 10, 34, 14}, Qt::AlignRight},
          Caption{"0", {283, 141, 34, 14}, Qt::AlignRight},
          Caption{"750", {283, 268, 34, 12}, Qt::AlignRight}, Caption{"π", {714, 141, 16, 14}, Qt::AlignLeft},
          Caption{"0", {2, 2, 12, 14}, Qt::AlignRight}, Caption{"X→", {24, 0, 40, 14}, Qt::AlignLeft},
          Caption{"Y↓", {0, 24, 16, 30}, Qt::AlignLeft | Qt::AlignTop}}) {
        auto* l = new QLabel(QString::fromUtf8(c.text), this);
        l->setGeometry(c.at);
        l->setAlignment(c.align);
        l->setWordWrap(true);
    }

    connect(&simulator, &HoughSimulator::changed, this, &SimulatorWindow::refresh);
    refresh();
}

void SimulatorWindow::refresh() {
    showText(text1_, sim_.step());
    if (ch_->isChecked() != sim_.selecting()) ch_->setChecked(sim_.selecting());
}

} // namespace tovra
