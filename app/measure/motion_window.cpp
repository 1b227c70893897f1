#include "motion_window.h"

#include "core/dialogs.h"
#include "motion_module.h"
#include "motion_plot.h"
#include "series_window.h"
#include "widgets/form_layout.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace tovra {

namespace {

// The steps' warnings as the window says them.
QString warningText(const std::string& code) {
    if (code == "drift_uncertain")
        return QStringLiteral("最初のフレームとの相関にはっきりした山がなく、位置を合わせずに使いました "
                              "(印や試料の縁など変わらない所で合わせてください)。");
    if (code == "overlapping_steps")
        return QStringLiteral(
            "磁壁が狭いほうの磁区の幅より遠くまで動きました。前後の磁壁はもう対にならず、変位は下限です。");
    if (code == "no_walls") return QStringLiteral("前のフレームに磁壁がなく、変位はありません。");
    if (code == "no_pattern")
        return QStringLiteral(
            "ノイズと区別できる磁区の模様のないフレームがあり、明るさで一色とみなしました。");
    if (code == "frame_not_measured")
        return QStringLiteral("読めないか測れないフレームがあり、この段は測れません。");
    return QString::fromStdString(code);
}

} // namespace

MotionView::MotionView(MotionModule& motion, QWidget* parent) : QWidget(parent), m_(motion) {
    setMinimumSize(560, 420);
}

void MotionView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const auto& motion = m_.motion();
    if (!motion) return;
    // Left: the step over the map; right: the plot.
    const QRectF left(0, 0, width() * 0.4, height()), right(width() * 0.4, 0, width() * 0.6, height());
    auto fitted = [](const QImage& image, const QRectF& room) {
        if (image.isNull()) return QRectF();
        const double s = std::min(room.width() / image.width(), room.height() / image.height());
        return QRectF(room.left() + (room.width() - image.width() * s) / 2, room.top(), image.width() * s,
                      image.height() * s);
    };
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QImage step = m_.stepPicture(step_), map = m_.switchingPicture();
    const QRectF top(left.left() + 6, left.top() + 20, left.width() - 12, left.height() / 2 - 30);
    const QRectF bottom(left.left() + 6, left.height() / 2 + 16, left.width() - 12, left.height() / 2 - 22);
    painter.drawText(QPointF(top.left(), top.top() - 6),
                     QStringLiteral("段 %1 → %2 (青: 黒へ, 橙: 白へ, 赤: 前の磁壁, 緑: 後の磁壁)")
                         .arg(step_ + 1)
                         .arg(step_ + 2));
    if (!step.isNull()) painter.drawImage(fitted(step, top), step);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(bottom.left(), bottom.top() - 6), QStringLiteral("最後に反転した磁場"));
    if (!map.isNull()) painter.drawImage(fitted(map, bottom), map);
    paintMotionPlot(painter, right, *motion, m_.creepFixed(),
                    motionPlotTexts(true, m_.series().fields().valueUnit));
}

MotionWindow::MotionWindow(MotionModule& motion, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), m_(motion), dialogs_(dialogs) {
    setObjectName(QStringLiteral("motion"));
    setWindowTitle(QStringLiteral("磁壁の運動"));
    MotionModule* m = &motion;
    auto* grid = new QGridLayout(this);
    panel_ = new SeriesSettingsPanel(motion.series(), dialogs, this, [m] { m->start(); });
    QFormLayout* form = panel_->form();
    const int at = form->rowCount() - 3;
    durations_ = new QLineEdit(panel_);
    durations_->setObjectName(QStringLiteral("durations"));
    durations_->setPlaceholderText(QStringLiteral("0.01,0.01,0.02 (空欄: 変位だけ)"));
    align_ = new QLineEdit(panel_);
    align_->setObjectName(QStringLiteral("alignRect"));
    align_->setPlaceholderText(QStringLiteral("x1 y1 x2 y2 (空欄: 測る矩形)"));
    fit_ = new QCheckBox(QStringLiteral("クリープ則で当てはめる"), panel_);
    fit_->setObjectName(QStringLiteral("fitCreep"));
    form->insertRow(at, QStringLiteral("パルスの時間 (秒)"), durations_);
    form->insertRow(at + 1, QStringLiteral("位置合わせの矩形"), align_);
    form->insertRow(at + 2, fit_);
    auto* saveTable = new QPushButton(QStringLiteral("表を出力"), panel_);
    saveTable->setObjectName(QStringLiteral("exportTable"));
    auto* savePlot = new QPushButton(QStringLiteral("図を出力"), panel_);
    savePlot->setObjectName(QStringLiteral("exportPlot"));
    auto* saveSummary = new QPushButton(QStringLiteral("要約を出力"), panel_);
    saveSummary->setObjectName(QStringLiteral("exportSummary"));
    auto* saveMap = new QPushButton(QStringLiteral("反転磁場の地図を出力"), panel_);
    saveMap->setObjectName(QStringLiteral("exportSwitchingMap"));
    form->addRow(saveTable, savePlot);
    form->addRow(saveSummary, saveMap);
    grid->addWidget(scrolling(panel_, this), 0, 0, 2, 1);
    view_ = new MotionView(motion, this);
    view_->setObjectName(QStringLiteral("motionView"));
    grid->addWidget(view_, 0, 1);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("stepSlider"));
    stepLabel_ = new QLabel(this);
    stepLabel_->setObjectName(QStringLiteral("stepLabel"));
    stepLabel_->setWordWrap(true);
    auto* below = new QVBoxLayout;
    below->addWidget(slider_);
    below->addWidget(stepLabel_);
    grid->addLayout(below, 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    connect(durations_, &QLineEdit::textEdited, this, [m](const QString& v) { m->setDurations(v); });
    connect(align_, &QLineEdit::textEdited, this, [m](const QString& v) { m->setAlignRect(v); });
    connect(fit_, &QCheckBox::toggled, this, [m](bool v) { m->setFitCreep(v); });
    connect(slider_, &QSlider::valueChanged, this, [this](int k) {
        view_->setStep(k);
        refresh();
    });
    auto exporter = [this](const QString& filter, const QString& suffix, const ExportWriter& write) {
        exportThrough(dialogs_, filter, m_.series().exportSuggestion(suffix), write);
    };
    connect(saveTable, &QPushButton::clicked, this, [exporter, m] {
        exporter(QStringLiteral("csvファイル (*.csv)|*.csv"), QStringLiteral("_motion.csv"),
                 [m](const QString& p, QString& why) { return m->exportTable(p, why); });
    });
    connect(savePlot, &QPushButton::clicked, this, [exporter, m] {
        exporter(QStringLiteral("PNG 画像 (*.png)|*.png|SVG 図 (*.svg)|*.svg|PDF 図 (*.pdf)|*.pdf"),
                 QStringLiteral("_motion.png"),
                 [m](const QString& p, QString& why) { return m->exportPlot(p, why); });
    });
    connect(saveSummary, &QPushButton::clicked, this, [exporter, m] {
        exporter(QStringLiteral("JSON (*.json)|*.json"), QStringLiteral("_motion.json"),
                 [m](const QString& p, QString& why) { return m->exportSummary(p, why); });
    });
    connect(saveMap, &QPushButton::clicked, this, [exporter, m] {
        exporter(QStringLiteral("TIFF (*.tif)|*.tif"), QStringLiteral("_switching.tif"),
                 [m](const QString& p, QString& why) { return m->exportSwitchingMap(p, why); });
    });
    connect(&motion, &MotionModule::changed, this, &MotionWindow::refresh);
    refresh();
    resize(1240, 760);
}

void MotionWindow::refresh() {
    panel_->refresh(m_.status());
    // The frames are measured in one pass of the motion: the bar shows it done or not.
    if (auto* bar = panel_->findChild<QProgressBar*>(QStringLiteral("progress"))) {
        bar->setMaximum(1);
        bar->setValue(m_.motion() ? 1 : 0);
    }
    panel_->runButton()->setEnabled(!m_.running());
    showText(durations_, m_.durations());
    showText(align_, m_.alignRect());
    {
        const QSignalBlocker block(fit_);
        fit_->setChecked(m_.fitCreep());
    }
    const auto& motion = m_.motion();
    const int steps = motion ? static_cast<int>(motion->steps.size()) : 0;
    slider_->setEnabled(steps > 0);
    if (slider_->maximum() != std::max(0, steps - 1)) {
        const QSignalBlocker block(slider_);
        slider_->setMaximum(std::max(0, steps - 1));
    }
    const int k = slider_->value();
    if (motion && k < steps) {
        const measure::MotionStep& s = motion->steps[static_cast<size_t>(k)];
        QString text = QStringLiteral("段 %1 → %2  値 %3").arg(s.from).arg(s.to).arg(s.value);
        if (s.displacement)
            text += QStringLiteral("  変位 %1 ± %2 px")
                        .arg(*s.displacement, 0, 'f', 2)
                        .arg(s.displacementSe.value_or(0), 0, 'f', 2);
        if (s.velocity)
            text += QStringLiteral("  速度 %1 ± %2 px/s")
                        .arg(*s.velocity, 0, 'g', 4)
                        .arg(s.velocitySe.value_or(0), 0, 'g', 2);
        text += QStringLiteral("  ドリフト %1, %2 px").arg(s.driftX, 0, 'f', 2).arg(s.driftY, 0, 'f', 2);
        for (const measure::Warning& w : s.warnings)
            text += QStringLiteral("\n注意: ") + warningText(w.code);
        stepLabel_->setText(text);
    } else {
        stepLabel_->setText(QStringLiteral("測定が終わると、段ごとの反転 (青は黒へ、橙は白へ) "
                                           "と前後の磁壁、速度と磁場の図、反転磁場の地図が表示されます。"));
    }
    view_->update();
}

} // namespace tovra
