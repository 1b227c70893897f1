#include "track_window.h"

#include "core/dialogs.h"
#include "series_window.h"
#include "track_module.h"
#include "widgets/form_layout.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace tovra {

TrackView::TrackView(TrackModule& tracks, QWidget* parent) : QWidget(parent), t_(tracks) {
    setMinimumSize(480, 320);
}

void TrackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    TrackPlotData plot = t_.plotData(frame_);
    const SeriesModule& s = t_.series();
    if (frame_ >= 0 && s.openedFrame() == frame_) plot.frame = &const_cast<SeriesModule&>(s).frame().image();
    paintTrackPlot(painter, QRectF(rect()), plot, t_.plotTexts());
}

TrackWindow::TrackWindow(TrackModule& tracks, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), t_(tracks), dialogs_(dialogs) {
    setObjectName(QStringLiteral("tracking"));
    setWindowTitle(QStringLiteral("泡の追跡"));
    TrackModule* t = &tracks;
    auto* grid = new QGridLayout(this);
    panel_ = new SeriesSettingsPanel(tracks.series(), dialogs, this, [t] { t->start(); });
    QFormLayout* form = panel_->form();
    // The tracking's own settings go above 測定, after the measurement's.
    const int at = form->rowCount() - 3;
    maxStep_ = new QLineEdit(panel_);
    maxStep_->setObjectName(QStringLiteral("maxStep"));
    maxStep_->setPlaceholderText(QStringLiteral("空欄: 泡の間隔の半分"));
    memory_ = new QLineEdit(panel_);
    memory_->setObjectName(QStringLiteral("memory"));
    form->insertRow(at, QStringLiteral("最大の移動 (画素)"), maxStep_);
    form->insertRow(at + 1, QStringLiteral("見失ってよいフレーム数"), memory_);
    summary_ = new QLabel(panel_);
    summary_->setObjectName(QStringLiteral("trackSummary"));
    summary_->setWordWrap(true);
    form->addRow(summary_);
    auto* saveTracks = new QPushButton(QStringLiteral("軌跡を出力"), panel_);
    saveTracks->setObjectName(QStringLiteral("exportTracks"));
    auto* saveSummary = new QPushButton(QStringLiteral("要約を出力"), panel_);
    saveSummary->setObjectName(QStringLiteral("exportSummary"));
    auto* savePlot = new QPushButton(QStringLiteral("図を出力"), panel_);
    savePlot->setObjectName(QStringLiteral("exportPlot"));
    form->addRow(saveTracks, saveSummary);
    form->addRow(savePlot);
    grid->addWidget(scrolling(panel_, this), 0, 0, 2, 1);

    view_ = new TrackView(tracks, this);
    view_->setObjectName(QStringLiteral("trackView"));
    grid->addWidget(view_, 0, 1);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("frameSlider"));
    frameLabel_ = new QLabel(this);
    frameLabel_->setObjectName(QStringLiteral("frameLabel"));
    frameLabel_->setWordWrap(true);
    auto* below = new QVBoxLayout;
    below->addWidget(slider_);
    below->addWidget(frameLabel_);
    grid->addLayout(below, 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    connect(maxStep_, &QLineEdit::textEdited, this, [t](const QString& v) { t->setMaxStep(v); });
    connect(memory_, &QLineEdit::textEdited, this, [t](const QString& v) { t->setMemory(v); });
    connect(slider_, &QSlider::valueChanged, this, &TrackWindow::showFrame);
    auto exporter = [this](const QString& filter, const QString& suffix, const ExportWriter& write) {
        exportThrough(dialogs_, filter, t_.series().exportSuggestion(suffix), write);
    };
    connect(saveTracks, &QPushButton::clicked, this, [exporter, t] {
        exporter(QStringLiteral("csvファイル (*.csv)|*.csv"), QStringLiteral("_tracks.csv"),
                 [t](const QString& p, QString& why) { return t->exportTracks(p, why); });
    });
    connect(saveSummary, &QPushButton::clicked, this, [exporter, t] {
        exporter(QStringLiteral("JSON (*.json)|*.json"), QStringLiteral("_tracks.json"),
                 [t](const QString& p, QString& why) { return t->exportSummary(p, why); });
    });
    connect(savePlot, &QPushButton::clicked, this, [exporter, t] {
        exporter(QStringLiteral("PNG 画像 (*.png)|*.png|SVG 図 (*.svg)|*.svg|PDF 図 (*.pdf)|*.pdf"),
                 QStringLiteral("_tracks.png"),
                 [t](const QString& p, QString& why) { return t->exportPlot(p, why); });
    });
    connect(&tracks, &TrackModule::changed, this, &TrackWindow::refresh);
    refresh();
    resize(1200, 760);
}

void TrackWindow::showFrame(int k) {
    const int frames = static_cast<int>(t_.bubbles().size());
    if (k < 0 || k >= frames) return;
    if (t_.series().openedFrame() != k) t_.series().openFrame(k);
    view_->setFrame(k);
    frameLabel_->setText(QStringLiteral("フレーム %1 / %2 (ここまでの軌跡)\n%3")
                             .arg(k + 1)
                             .arg(frames)
                             .arg(t_.series().frameSummary()));
}

void TrackWindow::refresh() {
    panel_->refresh(seriesStatus(t_.series()));
    showText(maxStep_, t_.maxStep());
    showText(memory_, t_.memory());
    summary_->setText(t_.summaryText());
    const int frames = static_cast<int>(t_.bubbles().size());
    slider_->setEnabled(frames > 0 && t_.tracks().has_value());
    if (slider_->maximum() != std::max(0, frames - 1)) {
        slider_->setMaximum(std::max(0, frames - 1));
        slider_->setValue(std::max(0, frames - 1));
    }
    if (frames == 0)
        frameLabel_->setText(QStringLiteral(
            "測定が終わると、軌跡と各フレームの格子の欠陥 (5 配位は紫、7 配位は緑) が表示されます。"));
    view_->update();
}

} // namespace tovra
