#include "editor_window.h"

#include "widgets/screen_fit.h"

#include "editor.h"
#include "widgets/form_layout.h"
#include "widgets/picture_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRubberBand>
#include <QScrollArea>
#include <QSignalBlocker>
#include <algorithm>

namespace tovra {

namespace {

constexpr int kPictureLeft = 328;
constexpr int kMaxArea = 900; // beyond this the picture scrolls

QString rowName(const char* array, int k) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(k);
}

} // namespace

EditorWindow::EditorWindow(HoughEditor& editor, QWidget* parent) : QWidget(parent, Qt::Window), ed_(editor) {
    setObjectName(QStringLiteral("hfed"));
    HoughEditor* e = &editor;

    auto button = [&](const char* name, const QString& caption, QRect g, auto action) {
        auto* b = new WrappingButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(g);
        connect(b, &QPushButton::clicked, this, [e, action] { (e->*action)(); });
        return b;
    };
    button("Command1", QStringLiteral("画像取得"), QRect(0, 0, 65, 33), &HoughEditor::acquireImage);
    button("Command9", QStringLiteral("　原画像　取得"), QRect(0, 32, 65, 33),
           &HoughEditor::acquireSourceImage);
    c9cc_ = button("c9cc", QString(), QRect(8, 64, 49, 25), &HoughEditor::toggleProbe);
    button("Command7", QStringLiteral(" シングル ハフ変換"), QRect(0, 104, 65, 33),
           &HoughEditor::singleSearch);
    button("Command4", QStringLiteral("ハフ変換"), QRect(0, 136, 65, 33), &HoughEditor::multiSearch);
    button("Command2", QStringLiteral("サンプル数増加"), QRect(72, 0, 65, 33), &HoughEditor::addRow);
    button("Command3", QStringLiteral("サンプル数減少"), QRect(72, 32, 65, 33), &HoughEditor::removeRow);
    button("Command8", QStringLiteral("　チェック　反転"), QRect(72, 72, 65, 33), &HoughEditor::invertChecks);
    button("Command10", QStringLiteral("全チェック"), QRect(72, 104, 65, 33), &HoughEditor::checkAll);
    button("Command11", QStringLiteral("　　NOT　　全チェック"), QRect(72, 136, 65, 33),
           &HoughEditor::uncheckAll);
    button("Command5", QStringLiteral("ソート"), QRect(72, 176, 65, 33), &HoughEditor::sortAndMeasure);
    button("Command12", QStringLiteral("領域判定"), QRect(72, 216, 65, 33), &HoughEditor::regionJudgement);
    button("Command6", QStringLiteral("出力"), QRect(72, 248, 65, 33), &HoughEditor::exportIntervals);
    // One more than the editor's own controls: the automatic measurement, in the free space under 太さ.
    auto* automatic = new WrappingButton(QStringLiteral("自動測定"), this);
    automatic->setObjectName(QStringLiteral("automatic"));
    automatic->setGeometry(0, 200, 65, 25);
    connect(automatic, &QPushButton::clicked, this, [e] {
        if (e->onShowMeasurement) e->onShowMeasurement();
    });

    auto box = [&](QWidget* owner, const char* name, QRect g, void (HoughEditor::*setter)(const QString&)) {
        return editBox(owner, name, g, [e, setter](const QString& t) { (e->*setter)(t); });
    };
    auto caption = [&](const QString& text, QRect g) {
        auto* l = new QLabel(text, this);
        l->setGeometry(g);
        l->setWordWrap(true);
        QFont small = l->font();
        small.setPixelSize(10);
        l->setFont(small);
    };
    dw_ = box(this, "dw", QRect(0, 168, 33, 25), &HoughEditor::setDw);
    caption(QStringLiteral("太さ"), QRect(40, 168, 32, 25));
    auto* panel = place<QWidget>(this, "Picture1", QRect(0, 232, 65, 97));
    panel->setAutoFillBackground(true);
    hfrate_ = box(panel, "hfrate", QRect(0, 0, 33, 25), &HoughEditor::setHfrate);
    nam_ = box(panel, "nam", QRect(0, 24, 33, 26), &HoughEditor::setNam);
    mfig_ = box(panel, "mfig", QRect(0, 48, 33, 25), &HoughEditor::setMfig);
    pif_ = box(panel, "pif", QRect(0, 72, 33, 25), &HoughEditor::setPif);
    for (const auto& [text, top] : {std::pair{QStringLiteral("％"), 0},
                                    {QStringLiteral("本数"), 24},
                                    {QStringLiteral("最大交点"), 48},
                                    {QStringLiteral("π　分割"), 72}}) {
        caption(text, QRect(40, 232 + top, 32, 25));
    }
    fintval_ = box(this, "fintval", QRect(96, 280, 25, 25), &HoughEditor::setFintval);
    vs_ =
        new NumberBar(this, "VS", QRect(120, 280, 17, 25), Qt::Vertical, 0, 64, [e](int v) { e->setVs(v); });
    ave_ = place<QCheckBox>(this, "ave", QRect(72, 304, 73, 25));
    ave_->setText(QStringLiteral("黒白平均"));
    connect(ave_, &QCheckBox::toggled, this, [e](bool on) { e->setAve(on); });
    id_ = place<QLabel>(this, "id", QRect(176, 272, 65, 25));
    id_->setAutoFillBackground(true);
    QPalette white = id_->palette();
    white.setColor(QPalette::Window, Qt::white);
    id_->setPalette(white);
    mx_ = box(this, "mx", QRect(176, 296, 33, 25), &HoughEditor::setMx);
    my_ = box(this, "my", QRect(208, 296, 33, 25), &HoughEditor::setMy);

    leader_ = new PictureView(editor.leaderStrip(), this);
    leader_->setObjectName(QStringLiteral("hfansl"));
    leader_->move(264, 0);
    leader_->onPress = [e](double, double) { e->leaderClick(); };
    leader_->onDoubleClick = [e](double, double) { e->leaderDoubleClick(); };

    area_ = new QScrollArea(this);
    area_->setFrameShape(QFrame::NoFrame);
    area_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    area_->move(kPictureLeft, 0);
    picture_ = new PictureView(editor.picture());
    picture_->setObjectName(QStringLiteral("P1(0)"));
    area_->setWidget(picture_);
    band_ = new QRubberBand(QRubberBand::Rectangle, picture_);
    // The rectangle is drawn while it is dragged, on the view only: the picture stays as it is.
    picture_->onPress = [this, e](double x, double y) {
        bandOrigin_ = QPoint(int(x), int(y));
        band_->setGeometry(QRect(bandOrigin_, QSize()));
        band_->show();
        e->picturePress(x, y);
    };
    picture_->onMove = [this, e](double x, double y) {
        if (band_->isVisible()) band_->setGeometry(QRect::span(bandOrigin_, QPoint(int(x), int(y))));
        e->pictureMove(x, y);
    };
    picture_->onRelease = [this, e](double x, double y) {
        band_->hide();
        e->pictureRelease(x, y);
    };
    probe_ = new PictureView(editor.probeStrip(), picture_);
    probe_->setObjectName(QStringLiteral("P1(2)"));
    probe_->onPress = [e](double, double) { e->toggleProbe(); };
    probe_->hide();
    auto* hidden = new PictureView(editor.sourcePicture(), this);
    hidden->setObjectName(QStringLiteral("P1(1)"));
    hidden->setFollowCanvasSize(false);
    hidden->setGeometry(432, 256, 104, 104);
    hidden->hide();

    connect(&editor, &HoughEditor::changed, this, &EditorWindow::refresh);
    connect(&editor, &HoughEditor::rowsChanged, this, &EditorWindow::syncRows);
    syncRows();
    refresh();
}

void EditorWindow::syncRows() {
    HoughEditor* e = &ed_;
    const int wanted = ed_.sampleCount() + 1;
    while (static_cast<int>(rows_.size()) > wanted) {
        RowControls r = rows_.back();
        rows_.pop_back();
        for (QWidget* w : {static_cast<QWidget*>(r.sikic), static_cast<QWidget*>(r.siki),
                           static_cast<QWidget*>(r.bow), static_cast<QWidget*>(r.intval)})
            w->deleteLater();
    }
    while (static_cast<int>(rows_.size()) < wanted) {
        const int k = static_cast<int>(rows_.size());
        const int top = HoughEditor::kRowHeight * k;
        RowControls r{};
        r.sikic = new QCheckBox(this);
        r.sikic->setObjectName(rowName("sikic", k));
        r.sikic->setGeometry(144, top, 17, 25);
        connect(r.sikic, &QCheckBox::clicked, this, [e, k](bool on) { e->sikicClicked(k, on); });
        r.siki = new QLineEdit(this);
        r.siki->setObjectName(rowName("siki", k));
        r.siki->setGeometry(160, top, 105, 25);
        connect(r.siki, &QLineEdit::textEdited, this, [e, k](const QString& t) { e->setSiki(k, t); });
        r.bow = new QCheckBox(QStringLiteral("B"), this);
        r.bow->setObjectName(rowName("bow", k));
        r.bow->setGeometry(176, top + 24, 25, 25);
        connect(r.bow, &QCheckBox::clicked, this, [e, k](bool on) { e->setBow(k, on); });
        r.intval = new QLineEdit(this);
        r.intval->setObjectName(rowName("intval", k));
        r.intval->setGeometry(208, top + 24, 57, 25);
        connect(r.intval, &QLineEdit::textEdited, this, [e, k](const QString& t) { e->setIntval(k, t); });
        for (QWidget* w : {static_cast<QWidget*>(r.sikic), static_cast<QWidget*>(r.siki),
                           static_cast<QWidget*>(r.bow), static_cast<QWidget*>(r.intval)})
            w->show();
        rows_.push_back(r);
    }
    refresh();
}

void EditorWindow::refresh() {
    const EditorFields& f = ed_.fields();
    setWindowTitle(f.caption);
    for (auto [b, t] : {std::pair{dw_, f.dw},
                        {hfrate_, f.hfrate},
                        {nam_, f.nam},
                        {mfig_, f.mfig},
                        {pif_, f.pif},
                        {fintval_, f.fintval},
                        {mx_, f.mx},
                        {my_, f.my}})
        showText(b, t);
    vs_->showNumber(f.vs);
    if (ave_->isChecked() != f.ave) {
        const QSignalBlocker block(ave_);
        ave_->setChecked(f.ave);
    }
    if (id_->text() != f.id) id_->setText(f.id);
    if (c9cc_->text() != f.c9cc) {
        c9cc_->setText(f.c9cc);
        c9cc_->update();
    }
    for (int k = 0; k < static_cast<int>(rows_.size()); ++k) {
        const EditorRow& row = ed_.row(k);
        const QSignalBlocker a(rows_[k].sikic), b(rows_[k].bow);
        rows_[k].sikic->setChecked(row.sikic);
        rows_[k].bow->setChecked(row.bow);
        showTextStart(rows_[k].siki, row.siki);
        showTextStart(rows_[k].intval, row.intval);
    }
    probe_->move(f.probeLeft, 0);
    probe_->setVisible(f.probeVisible);
    fitWindow();
}

void EditorWindow::fitWindow() {
    const QSize picture(ed_.picture().pixelWidth(), ed_.picture().pixelHeight());
    // The picture scrolls beyond 900 pixels, or beyond what the screen leaves beside the rows.
    const QSize most = largestClient(this);
    const int maxW = std::clamp(most.width() - kPictureLeft - 16, 100, kMaxArea),
              maxH = std::clamp(most.height() - 16, 100, kMaxArea);
    const QSize area(std::min(picture.width(), maxW) + (picture.width() > maxW ? 16 : 0),
                     std::min(picture.height(), maxH) + (picture.height() > maxH ? 16 : 0));
    area_->resize(area);
    leader_->move(264, 0);
    const int rowsBottom = HoughEditor::kRowHeight * static_cast<int>(rows_.size()) + 2;
    const QSize client(std::max(564, kPictureLeft + area.width()),
                       std::max({331, area.height(), rowsBottom, ed_.leaderStrip().pixelHeight()}));
    if (size() != client) setFixedSize(client);
    if (isVisible()) keepOnScreen(this);
}

} // namespace tovra
