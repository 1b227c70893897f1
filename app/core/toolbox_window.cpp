#include "toolbox_window.h"

#include "module.h"
#include "widgets/form_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <tuple>

namespace tovra {

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                    std::function<void()> action) {
    auto* b = place<QPushButton>(parent, name, geometry);
    b->setText(caption);
    QObject::connect(b, &QPushButton::clicked, parent, std::move(action));
    return b;
}

QComboBox* slotCombo(QWidget* parent, const char* name, QRect geometry) {
    auto* c = place<QComboBox>(parent, name, geometry);
    c->setEditable(true);
    for (int i = 0; i < kSlots; ++i)
        c->addItem(QString::number(i));
    return c;
}

void setComboText(QComboBox* c, const QString& t) {
    if (c->currentText() != t) {
        const QSignalBlocker block(c);
        c->setEditText(t);
    }
}

} // namespace

ToolboxWindow::ToolboxWindow(Module& module, QWidget* parent) : QWidget(parent, Qt::Window), module_(module) {
    setObjectName(QStringLiteral("tool"));
    setWindowTitle(QStringLiteral("道具箱"));
    setFixedSize(twips(3000), twips(6450));
    AppState& st = module.state();
    Module* m = &module;

    button(this, "Command1", QStringLiteral("開く"), at(0, 0, 1335, 495), [m] { m->openButton(); });
    rawOverride_ = place<QCheckBox>(this, "Ch1", at(1680, 0, 1335, 495));
    rawOverride_->setText(QStringLiteral("強制書読"));
    connect(rawOverride_, &QCheckBox::toggled, this, [&st](bool on) { st.setRawOverride(on); });

    slotList_ = place<QComboBox>(this, "idx", at(0, 480, 1455, 300));
    slotList_->setPlaceholderText(QStringLiteral("ID"));
    connect(slotList_, &QComboBox::activated, this, [m](int line) { m->chooseSlot(line); });

    button(this, "Command2", QStringLiteral("保存100,110,120"), at(0, 720, 1455, 495),
           [m] { m->saveButton(); });
    button(this, "Command16", QStringLiteral("矩形保存"), at(1560, 720, 1455, 495),
           [m] { m->saveRectangleButton(); });
    button(this, "Command3", QStringLiteral("コントラスト130"), at(0, 1200, 1455, 495),
           [m] { m->doContrast(); });
    // The buttons that show other windows appear once those windows are given (setShowAction).
    for (const auto& [name, caption, top] :
         {std::tuple{"Command13", QStringLiteral("ヒストグラム"), 1440},
          std::tuple{"Command15", QStringLiteral("　ハフ変換解析　エディッタ"), 2040},
          std::tuple{"Command14", QStringLiteral("    ハフ変換     シミュレーター"), 2520}}) {
        auto* b = new WrappingButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(at(1560, top, 1455, 495));
        b->setVisible(false);
        connect(b, &QPushButton::clicked, this, [this, key = QString::fromLatin1(name)] {
            if (showActions_.contains(key)) showActions_[key]();
        });
    }

    auto numberBox = [&](const char* name, QRect g, void (AppState::*setter)(const QString&)) {
        return editBox(this, name, g, [&st, setter](const QString& t) { (st.*setter)(t); });
    };
    auto bar = [&](const char* name, QRect g, Qt::Orientation o, void (AppState::*setter)(int)) {
        return new NumberBar(this, name, g, o, 0, 255, [&st, setter](int v) { (st.*setter)(v); });
    };
    ct1_ = numberBox("ct1", at(0, 1680, 495, 375), &AppState::setCt1);
    vsc1_ = bar("VSc1", at(480, 1680, 255, 375), Qt::Vertical, &AppState::setVsc1);
    ct2_ = numberBox("ct2", at(720, 1680, 495, 375), &AppState::setCt2);
    vsc2_ = bar("VSc2", at(1200, 1680, 255, 375), Qt::Vertical, &AppState::setVsc2);

    button(this, "Command4", QStringLiteral("メディアン10"), at(0, 2040, 1455, 495), [m] { m->doMedian(); });
    button(this, "Command5", QStringLiteral("差分処理20,30"), at(0, 2520, 1455, 495),
           [m] { m->doDifference(); });
    for (int e = 0; e < 2; ++e) {
        const QByteArray n1 = "dpcb1(" + QByteArray::number(e) + ")",
                         n2 = "dpcb2(" + QByteArray::number(e) + ")";
        dpcb1_[e] =
            slotCombo(this, n1.constData(), e == 0 ? at(0, 3000, 735, 300) : at(1560, 4920, 735, 300));
        dpcb2_[e] =
            slotCombo(this, n2.constData(), e == 0 ? at(720, 3000, 735, 300) : at(2280, 4920, 735, 300));
        connect(dpcb1_[e], &QComboBox::currentTextChanged, this,
                [&st, e](const QString& t) { st.setDpcb(e, false, t); });
        connect(dpcb2_[e], &QComboBox::currentTextChanged, this,
                [&st, e](const QString& t) { st.setDpcb(e, true, t); });
    }
    button(this, "Command6", QStringLiteral("二値化40"), at(0, 3240, 1455, 495), [m] { m->doBinarize(); });
    button(this, "Command10", QStringLiteral("階調反転8"), at(1560, 3240, 1455, 495),
           [m] { m->doGradationInvert(); });
    segt_ = numberBox("segt", at(0, 3720, 1455, 270), &AppState::setSegt);
    button(this, "Command17", QStringLiteral("軸反転140,145"), at(1560, 3720, 1455, 495),
           [m] { m->doAxisFlip(kModeFromWindow); });
    hscseg_ = bar("HScseg", at(0, 3960, 1455, 255), Qt::Horizontal, &AppState::setHscseg);
    hscseg_->setPageStep(10);
    button(this, "Command7", QStringLiteral("オーバー値補正50"), at(0, 4200, 1455, 495),
           [m] { m->doOverValueCorrection(); });

    auto optionFrame = [&](const char* name, QRect g, const char* first, const QString& firstText,
                           const char* second, const QString& secondText, QRadioButton*& a,
                           QRadioButton*& b) {
        auto* frame = place<QFrame>(this, name, g);
        a = place<QRadioButton>(frame, first, QRect(0, 0, g.width() / 2, g.height()));
        a->setText(firstText);
        b = place<QRadioButton>(frame, second, QRect(g.width() / 2, 0, g.width() / 2, g.height()));
        b->setText(secondText);
        a->setChecked(true);
    };
    optionFrame("Picture1", at(1560, 4200, 1455, 255), "hec0", QStringLiteral("左右"), "hec1",
                QStringLiteral("上下"), hec0_, hec1_);
    connect(hec1_, &QRadioButton::toggled, this, [&st](bool on) { st.setFlipUpDown(on); });
    button(this, "Command18", QStringLiteral("画像合成"), at(1560, 4440, 1455, 495),
           [m] { m->doComposite(); });
    button(this, "Command8", QStringLiteral("エッジ60,65"), at(0, 4680, 1455, 495),
           [m] { m->doEdge(kModeFromWindow); });
    optionFrame("Picture2", at(0, 5160, 1455, 255), "ns0", QStringLiteral("二値"), "ns1",
                QStringLiteral("普通"), ns0_, ns1_);
    connect(ns1_, &QRadioButton::toggled, this, [&st](bool on) { st.setEdgeOrdinary(on); });
    button(this, "Command9", QStringLiteral("ゴミ消し7"), at(0, 5400, 1455, 495),
           [m] { m->doDustRemoval(); });
    button(this, "Command12", QStringLiteral("ALL再描画"), at(0, 6000, 1455, 495), [m] { m->redrawAll(); });
    button(this, "Command11", QStringLiteral("undo"), at(1560, 6000, 1455, 495), [m] { m->doUndo(); });

    connect(&st, &AppState::changed, this, &ToolboxWindow::refresh);
    refresh();
}

void ToolboxWindow::setShowAction(const char* button, std::function<void()> show) {
    showActions_[QString::fromLatin1(button)] = std::move(show);
    findChild<QPushButton*>(QLatin1String(button))->setVisible(true);
}

void ToolboxWindow::refresh() {
    const ToolFields& t = module_.state().tool();
    if (rawOverride_->isChecked() != t.rawOverride) rawOverride_->setChecked(t.rawOverride);
    for (int i = 0; i < t.slotList.size(); ++i) {
        if (i >= slotList_->count())
            slotList_->addItem(t.slotList[i]);
        else if (slotList_->itemText(i) != t.slotList[i])
            slotList_->setItemText(i, t.slotList[i]);
    }
    showText(ct1_, t.ct1);
    showText(ct2_, t.ct2);
    showText(segt_, t.segt);
    vsc1_->showNumber(t.vsc1);
    vsc2_->showNumber(t.vsc2);
    hscseg_->showNumber(t.hscseg);
    for (int e = 0; e < 2; ++e) {
        setComboText(dpcb1_[e], t.dpcb1[e]);
        setComboText(dpcb2_[e], t.dpcb2[e]);
    }
    if (hec1_->isChecked() != t.flipUpDown) (t.flipUpDown ? hec1_ : hec0_)->setChecked(true);
    if (ns1_->isChecked() != t.edgeOrdinary) (t.edgeOrdinary ? ns1_ : ns0_)->setChecked(true);
}

} // namespace tovra
