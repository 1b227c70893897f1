#include "measurement_window.h"

#include "core/dialogs.h"
#include "measurement.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTableWidget>

namespace tovra {

MeasurementWindow::MeasurementWindow(MeasurementModule& measurement, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), m_(measurement), dialogs_(dialogs) {
    setObjectName(QStringLiteral("measure"));
    setWindowTitle(QStringLiteral("磁区幅の自動測定"));
    MeasurementModule* m = &measurement;
    auto* grid = new QGridLayout(this);

    auto* settings = new QWidget(this);
    auto* form = new QFormLayout(settings);
    median_ = new QCheckBox(QStringLiteral("メディアン (ノイズ除去)"), settings);
    median_->setObjectName(QStringLiteral("median"));
    flatField_ = new QCheckBox(QStringLiteral("照明むら補正"), settings);
    flatField_->setObjectName(QStringLiteral("flatField"));
    otsu_ = new QCheckBox(QStringLiteral("二つのクラスの平均の中間で二値化"), settings);
    otsu_->setObjectName(QStringLiteral("otsu"));
    speck_ = new QLineEdit(settings);
    speck_->setObjectName(QStringLiteral("speckArea"));
    background_ = new QComboBox(settings);
    background_->setObjectName(QStringLiteral("backgroundSlot"));
    background_->addItem(QStringLiteral("なし"));
    for (int s = 0; s < kSlots; ++s)
        background_->addItem(QString::number(s));
    pixelSize_ = new QLineEdit(settings);
    pixelSize_->setObjectName(QStringLiteral("pixelSize"));
    form->addRow(median_);
    form->addRow(flatField_);
    form->addRow(otsu_);
    form->addRow(QStringLiteral("ゴミの面積上限 (画素)"), speck_);
    form->addRow(QStringLiteral("背景スロット (Kerr)"), background_);
    form->addRow(QStringLiteral("画素の大きさ (µm)"), pixelSize_);
    auto* run = new QPushButton(QStringLiteral("測定"), settings);
    run->setObjectName(QStringLiteral("run"));
    auto* save = new QPushButton(QStringLiteral("出力"), settings);
    save->setObjectName(QStringLiteral("export"));
    form->addRow(run, save);
    auto* saveMasks = new QPushButton(QStringLiteral("マスクを出力"), settings);
    saveMasks->setObjectName(QStringLiteral("exportMasks"));
    form->addRow(saveMasks);
    auto* whole = new QPushButton(QStringLiteral("画像全体を測定"), settings);
    whole->setObjectName(QStringLiteral("measureWhole"));
    form->addRow(whole);
    summary_ = new QLabel(settings);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);
    form->addRow(summary_);
    // The settings and the summary scroll where the window is lower than they are tall.
    auto* settingsArea = new QScrollArea(this);
    settingsArea->setWidget(settings);
    settingsArea->setWidgetResizable(true);
    settingsArea->setFrameShape(QFrame::NoFrame);
    settingsArea->setMinimumWidth(settings->sizeHint().width() + 20);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    grid->addWidget(settingsArea, 0, 0, 4, 1); // the whole height for the settings and the summary

    auto* area = new QScrollArea(this);
    auto* picture = new PictureView(measurement.picture());
    picture->setObjectName(QStringLiteral("picture"));
    area->setWidget(picture);
    area->setMinimumSize(280, 280);
    grid->addWidget(area, 0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 3); // the picture before the band table
    grid->setRowStretch(1, 1);

    bands_ = new QTableWidget(0, 6, this);
    bands_->setObjectName(QStringLiteral("bands"));
    bands_->setHorizontalHeaderLabels({QStringLiteral("位置 (px)"), QStringLiteral("角度 (°)"),
                                       QStringLiteral("幅 (px)"), QStringLiteral("幅 (µm)"),
                                       QStringLiteral("色"), QStringLiteral("粒")});
    bands_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    bands_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->addWidget(bands_, 1, 1);
    auto* histogram = new PictureView(measurement.histogram());
    histogram->setObjectName(QStringLiteral("histogram"));
    histogram->setFollowCanvasSize(false);
    histogram->setFixedSize(300, 120);
    grid->addWidget(new QLabel(QStringLiteral("帯の幅の分布 (0.5 px ごと, 濃: 黒, 淡: 白)"), this), 2, 1);
    grid->addWidget(histogram, 3, 1);

    connect(median_, &QCheckBox::toggled, this, [m](bool v) { m->setMedian(v); });
    connect(flatField_, &QCheckBox::toggled, this, [m](bool v) { m->setFlatField(v); });
    connect(otsu_, &QCheckBox::toggled, this, [m](bool v) { m->setOtsu(v); });
    connect(speck_, &QLineEdit::textEdited, this, [m](const QString& t) { m->setSpeckArea(t); });
    connect(pixelSize_, &QLineEdit::textEdited, this, [m](const QString& t) { m->setPixelSize(t); });
    connect(background_, &QComboBox::activated, this, [m](int i) { m->setBackgroundSlot(i - 1); });
    connect(run, &QPushButton::clicked, this, [m] { m->measureCurrentSlot(); });
    connect(whole, &QPushButton::clicked, this, [m] { m->measureCurrentSlot(true); });
    connect(save, &QPushButton::clicked, this, [this] {
        if (auto path =
                dialogs_.exportFileName(QStringLiteral("csvファイル (*.csv)|*.csv"), m_.exportSuggestion()))
            if (!m_.exportCsv(*path)) dialogs_.inform(QStringLiteral("書き出せません。\n%1").arg(*path));
    });
    connect(saveMasks, &QPushButton::clicked, this, [this] {
        if (auto path = dialogs_.exportFileName(
                QStringLiteral("OME-TIFF (*.ome.tif)|*.ome.tif"),
                m_.exportSuggestion().replace(QStringLiteral(".csv"), QStringLiteral("_masks.ome.tif")))) {
            QString why;
            if (!m_.exportMasks(*path, why))
                dialogs_.inform(QStringLiteral("書き出せません。\n%1\n%2").arg(*path, why));
        }
    });
    connect(&measurement, &MeasurementModule::changed, this, &MeasurementWindow::refresh);
    refresh();
    resize(900, 680);
}

void MeasurementWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    fitSummary();
}

void MeasurementWindow::fitSummary() {
    const int width = summary_->width();
    if (width > 0) summary_->setMinimumHeight(summary_->heightForWidth(width));
}

void MeasurementWindow::refresh() {
    const MeasurementFields& f = m_.fields();
    for (auto [box, on] : {std::pair{median_, f.median}, {flatField_, f.flatField}, {otsu_, f.otsu}}) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    showText(speck_, f.speckArea);
    showText(pixelSize_, f.pixelSize);
    if (background_->currentIndex() != f.backgroundSlot + 1)
        background_->setCurrentIndex(f.backgroundSlot + 1);
    summary_->setText(m_.summary());
    fitSummary();
    const auto& bands = m_.result().bands;
    const double um = m_.pixelSize();
    bands_->setRowCount(static_cast<int>(bands.size()));
    for (int i = 0; i < static_cast<int>(bands.size()); ++i) {
        const measure::Band& b = bands[static_cast<size_t>(i)];
        const QString cells[6] = {QString::number(b.positionPx, 'f', 3),
                                  QString::number(b.angleDeg, 'f', 2),
                                  QString::number(b.widthPx, 'f', 3),
                                  um > 0 ? QString::number(b.widthPx * um, 'f', 4) : QString(),
                                  b.black ? QStringLiteral("黒") : QStringLiteral("白"),
                                  b.grain > 0 ? QString::number(b.grain) : QString()};
        for (int c = 0; c < 6; ++c)
            bands_->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
}

} // namespace tovra
