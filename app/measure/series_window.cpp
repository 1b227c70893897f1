#include "series_window.h"

#include "core/dialogs.h"
#include "series_module.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tovra {

SeriesPlotView::SeriesPlotView(SeriesModule& series, QWidget* parent) : QWidget(parent), s_(series) {
    setMinimumSize(360, 280);
    setCursor(Qt::PointingHandCursor);
}

void SeriesPlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSeriesPlot(painter, QRectF(rect()), s_.points(), s_.plotTexts());
}

void SeriesPlotView::mousePressEvent(QMouseEvent* e) {
    const int k = seriesPointAt(QRectF(rect()), s_.points(), e->position());
    if (k >= 0) s_.openFrame(k);
}

SeriesSettingsPanel::SeriesSettingsPanel(SeriesModule& series, FileDialogs& dialogs, QWidget* parent,
                                         std::function<void()> run)
    : QWidget(parent), s_(series), dialogs_(dialogs) {
    if (!run) run = [s = &series] { s->start(); };
    SeriesModule* s = &series;
    QWidget* settings = this;
    auto* form = form_ = new QFormLayout(settings);

    frames_ = new QLabel(settings);
    frames_->setObjectName(QStringLiteral("frames"));
    frames_->setWordWrap(true);
    auto* addFile = new QPushButton(QStringLiteral("ファイルを追加"), settings);
    addFile->setObjectName(QStringLiteral("addFile"));
    auto* addFolder = new QPushButton(QStringLiteral("フォルダを追加"), settings);
    addFolder->setObjectName(QStringLiteral("addFolder"));
    auto* clear = new QPushButton(QStringLiteral("消去"), settings);
    clear->setObjectName(QStringLiteral("clearFrames"));
    auto* frameButtons = new QHBoxLayout;
    frameButtons->addWidget(addFile), frameButtons->addWidget(addFolder), frameButtons->addWidget(clear);
    form->addRow(QStringLiteral("フレーム"), frames_);
    form->addRow(frameButtons);
    source_ = new QComboBox(settings);
    source_->setObjectName(QStringLiteral("valueSource"));
    source_->addItems({QStringLiteral("フレーム番号"), QStringLiteral("値の一覧"),
                       QStringLiteral("値のファイル"), QStringLiteral("ファイル名の最後の数")});
    list_ = new QLineEdit(settings);
    list_->setObjectName(QStringLiteral("valueList"));
    list_->setPlaceholderText(QStringLiteral("-20,-10,0,10,20"));
    file_ = new QLineEdit(settings);
    file_->setObjectName(QStringLiteral("valueFile"));
    auto* chooseFile = new QPushButton(QStringLiteral("選ぶ"), settings);
    chooseFile->setObjectName(QStringLiteral("chooseValueFile"));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file_), fileRow->addWidget(chooseFile);
    column_ = new QLineEdit(settings);
    column_->setObjectName(QStringLiteral("valueColumn"));
    unit_ = new QLineEdit(settings);
    unit_->setObjectName(QStringLiteral("valueUnit"));
    unit_->setPlaceholderText(QStringLiteral("mT"));
    form->addRow(QStringLiteral("値"), source_);
    form->addRow(QStringLiteral("値の一覧"), list_);
    form->addRow(QStringLiteral("値のファイル"), fileRow);
    form->addRow(QStringLiteral("CSV の列の名前"), column_);
    form->addRow(QStringLiteral("値の単位"), unit_);

    background_ = new QLineEdit(settings);
    background_->setObjectName(QStringLiteral("background"));
    auto* chooseBackground = new QPushButton(QStringLiteral("選ぶ"), settings);
    chooseBackground->setObjectName(QStringLiteral("chooseBackground"));
    auto* backgroundRow = new QHBoxLayout;
    backgroundRow->addWidget(background_), backgroundRow->addWidget(chooseBackground);
    form->addRow(QStringLiteral("背景 (Kerr)"), backgroundRow);
    median_ = new QCheckBox(QStringLiteral("メディアン (ノイズ除去)"), settings);
    flatField_ = new QCheckBox(QStringLiteral("照明むら補正"), settings);
    otsu_ = new QCheckBox(QStringLiteral("二つのクラスの平均の中間で二値化"), settings);
    speck_ = new QLineEdit(settings);
    speck_->setObjectName(QStringLiteral("speckArea"));
    form->addRow(median_);
    form->addRow(flatField_);
    form->addRow(otsu_);
    form->addRow(QStringLiteral("ゴミの面積上限 (画素)"), speck_);
    rect_ = new QLineEdit(settings);
    rect_->setObjectName(QStringLiteral("rectangle"));
    rect_->setPlaceholderText(QStringLiteral("x1 y1 x2 y2 (空欄: 画像全体)"));
    form->addRow(QStringLiteral("矩形"), rect_);

    run_ = new QPushButton(QStringLiteral("測定"), settings);
    run_->setObjectName(QStringLiteral("run"));
    cancel_ = new QPushButton(QStringLiteral("中止"), settings);
    cancel_->setObjectName(QStringLiteral("cancel"));
    form->addRow(run_, cancel_);
    progress_ = new QProgressBar(settings);
    progress_->setObjectName(QStringLiteral("progress"));
    form->addRow(progress_);
    status_ = new QLabel(settings);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    form->addRow(status_);

    const QString pictures = seriesPictureFilter(QStringLiteral("画像"));
    connect(addFile, &QPushButton::clicked, this, [this, s, pictures] {
        if (auto path = dialogs_.openFileName(pictures)) s->addInputs({*path});
    });
    connect(addFolder, &QPushButton::clicked, this, [this, s] {
        if (auto path = dialogs_.folderName()) s->addInputs({*path});
    });
    connect(clear, &QPushButton::clicked, this, [s] { s->clearInputs(); });
    connect(source_, &QComboBox::activated, this, [s](int i) { s->setValueSource(i); });
    connect(list_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setValueList(t); });
    connect(file_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setValueFile(t); });
    connect(chooseFile, &QPushButton::clicked, this, [this, s] {
        if (auto path = dialogs_.openFileName(QStringLiteral("値 (*.txt *.csv)|*.txt;*.csv")))
            s->setValueFile(*path), s->setValueSource(2);
    });
    connect(column_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setValueColumn(t); });
    connect(unit_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setValueUnit(t); });
    connect(background_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setBackground(t); });
    connect(chooseBackground, &QPushButton::clicked, this, [this, s, pictures] {
        if (auto path = dialogs_.openFileName(pictures)) s->setBackground(*path);
    });
    connect(median_, &QCheckBox::toggled, this, [s](bool v) { s->setMedian(v); });
    connect(flatField_, &QCheckBox::toggled, this, [s](bool v) { s->setFlatField(v); });
    connect(otsu_, &QCheckBox::toggled, this, [s](bool v) { s->setOtsu(v); });
    connect(speck_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setSpeckArea(t); });
    connect(rect_, &QLineEdit::textEdited, this, [s](const QString& t) { s->setRectangle(t); });
    connect(run_, &QPushButton::clicked, this, [run] { run(); });
    connect(cancel_, &QPushButton::clicked, this, [s] { s->cancel(); });
}

void SeriesSettingsPanel::refresh(const QString& status) {
    const SeriesFields& f = s_.fields();
    QStringList names;
    for (const QString& input : f.inputs)
        names << QFileInfo(input).fileName();
    frames_->setText(f.inputs.isEmpty() ? QStringLiteral("なし") : names.join(QStringLiteral(", ")));
    if (source_->currentIndex() != f.valueSource) source_->setCurrentIndex(f.valueSource);
    showText(list_, f.valueList);
    showText(file_, f.valueFile);
    showText(column_, f.valueColumn);
    showText(unit_, f.valueUnit);
    showText(background_, f.background);
    showText(speck_, f.speckArea);
    showText(rect_, f.rectangle);
    for (auto [box, on] : {std::pair{median_, f.median}, {flatField_, f.flatField}, {otsu_, f.otsu}}) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    run_->setEnabled(!s_.running());
    cancel_->setEnabled(s_.running());
    progress_->setMaximum(std::max(1, s_.framesTotal()));
    progress_->setValue(s_.framesDone());
    status_->setText(status);
}

void exportThrough(FileDialogs& dialogs, const QString& filter, const QString& suggestion,
                   const ExportWriter& write) {
    if (auto path = dialogs.exportFileName(filter, suggestion)) {
        QString why;
        if (!write(*path, why)) dialogs.inform(QStringLiteral("書き出せません。\n%1\n%2").arg(*path, why));
    }
}

QWidget* scrolling(QWidget* panel, QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setWidget(panel);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setMinimumWidth(panel->sizeHint().width() + 20);
    return area;
}

QString seriesStatus(const SeriesModule& s) {
    return s.preparing() ? QStringLiteral("フレームを調べています…")
           : s.running() ? QStringLiteral("測定中: %1 / %2 フレーム").arg(s.framesDone()).arg(s.framesTotal())
           : s.framesTotal() == 0 ? QString()
           : s.cancelled() ? QStringLiteral("中止しました: %1 / %2 フレームを測りました。")
                                 .arg(s.framesDone())
                                 .arg(s.framesTotal())
                           : QStringLiteral("%1 フレームを測りました。").arg(s.framesDone());
}

SeriesWindow::SeriesWindow(SeriesModule& series, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), s_(series), dialogs_(dialogs) {
    setObjectName(QStringLiteral("series"));
    setWindowTitle(QStringLiteral("系列の測定 (磁場掃引・時系列)"));
    SeriesModule* s = &series;
    auto* grid = new QGridLayout(this);
    panel_ = new SeriesSettingsPanel(series, dialogs, this);
    QWidget* settings = panel_;
    QFormLayout* form = panel_->form();
    auto* saveTable = new QPushButton(QStringLiteral("表を出力"), settings);
    saveTable->setObjectName(QStringLiteral("exportTable"));
    auto* savePlot = new QPushButton(QStringLiteral("図を出力"), settings);
    savePlot->setObjectName(QStringLiteral("exportPlot"));
    form->addRow(saveTable, savePlot);
    auto* saveMasks = new QPushButton(QStringLiteral("マスクを出力"), settings);
    saveMasks->setObjectName(QStringLiteral("exportMasks"));
    form->addRow(saveMasks);
    grid->addWidget(scrolling(panel_, this), 0, 0, 2, 1);

    plot_ = new SeriesPlotView(series, this);
    plot_->setObjectName(QStringLiteral("plot"));
    grid->addWidget(plot_, 0, 1);
    auto* area = new QScrollArea(this);
    auto* frame = new PictureView(series.frame());
    frame->setObjectName(QStringLiteral("frame"));
    area->setWidget(frame);
    area->setMinimumHeight(120);
    frameSummary_ = new QLabel(this);
    frameSummary_->setObjectName(QStringLiteral("frameSummary"));
    frameSummary_->setText(QStringLiteral("図の点をクリックすると、そのフレームと測定が表示されます。"));
    auto* below = new QVBoxLayout;
    below->addWidget(frameSummary_);
    below->addWidget(area, 1);
    grid->addLayout(below, 1, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 3), grid->setRowStretch(1, 2);

    connect(saveTable, &QPushButton::clicked, this, [this, s] {
        if (auto path = dialogs_.exportFileName(QStringLiteral("csvファイル (*.csv)|*.csv"),
                                                s->exportSuggestion(QStringLiteral(".csv"))))
            if (!s->exportTable(*path)) dialogs_.inform(QStringLiteral("書き出せません。\n%1").arg(*path));
    });
    connect(savePlot, &QPushButton::clicked, this, [this, s] {
        if (auto path = dialogs_.exportFileName(
                QStringLiteral("PNG 画像 (*.png)|*.png|SVG 図 (*.svg)|*.svg|PDF 図 (*.pdf)|*.pdf"),
                s->exportSuggestion(QStringLiteral(".png"))))
            if (!s->exportPlot(*path))
                dialogs_.inform(
                    QStringLiteral("書き出せません (名前の終わりは .png、.svg か .pdf)。\n%1").arg(*path));
    });
    connect(saveMasks, &QPushButton::clicked, this, [this, s] {
        exportThrough(dialogs_, QStringLiteral("OME-TIFF (*.ome.tif)|*.ome.tif"),
                      s->exportSuggestion(QStringLiteral("_masks.ome.tif")),
                      [s](const QString& path, QString& why) { return s->exportMasks(path, why); });
    });
    connect(&series, &SeriesModule::changed, this, &SeriesWindow::refresh);
    refresh();
    resize(1040, 720);
}

void SeriesWindow::refresh() {
    panel_->refresh(seriesStatus(s_) +
                    (s_.running() || s_.cancelled() || s_.loopSummary().isEmpty() || s_.framesTotal() == 0
                         ? QString()
                         : QStringLiteral("\n") + s_.loopSummary()));
    if (s_.openedFrame() >= 0) frameSummary_->setText(s_.frameSummary());
    plot_->update();
}

} // namespace tovra
