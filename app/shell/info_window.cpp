#include "info_window.h"

#include "core/module.h"
#include "widgets/form_layout.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tovra {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect g, bool white = false) {
    auto* l = place<QLabel>(parent, name, g);
    l->setText(text);
    if (white) {
        l->setAutoFillBackground(true);
        QPalette p = l->palette();
        p.setColor(QPalette::Window, Qt::white);
        l->setPalette(p);
    }
    return l;
}

} // namespace

InfoWindow::InfoWindow(Module& module, QWidget* parent) : QWidget(parent, Qt::Window), module_(module) {
    setObjectName(QStringLiteral("info"));
    setWindowTitle(QStringLiteral("情報"));
    setFixedSize(twips(2055), twips(2025));
    AppState& st = module.state();

    label(this, "Label1", QStringLiteral("カレントＩＤ"), at(0, 120, 975, 375));
    id_ = label(this, "id", QString(), at(1080, 0, 975, 375), true);
    QFont big = id_->font();
    big.setPointSizeF(14.25);
    big.setBold(true);
    id_->setFont(big);
    label(this, "Label2", QStringLiteral("mx"), at(0, 480, 375, 255));
    label(this, "Label3", QStringLiteral("my"), at(1080, 480, 495, 255));
    label(this, "Label4(0)", QStringLiteral("x-y"), at(0, 840, 375, 375));
    xy_ = label(this, "xy", QString(), at(360, 840, 1695, 375), true);
    label(this, "Label4(1)", QStringLiteral("選択x-y"), at(0, 1320, 375, 375))->setWordWrap(true);

    auto box = [&](const char* name, QRect g, void (AppState::*setter)(const QString&)) {
        return editBox(this, name, g, [&st, setter](const QString& t) { (st.*setter)(t); });
    };
    mx_ = box("mx", at(360, 480, 615, 375), &AppState::setMx);
    my_ = box("my", at(1440, 480, 615, 375), &AppState::setMy);
    hfx1_ = box("hfx1", at(360, 1320, 735, 270), &AppState::setHfx1);
    hfy1_ = box("hfy1", at(1320, 1320, 735, 270), &AppState::setHfy1);
    hfx2_ = box("hfx2", at(360, 1560, 735, 270), &AppState::setHfx2);
    hfy2_ = box("hfy2", at(1320, 1560, 735, 270), &AppState::setHfy2);

    Module* m = &module;
    auto* show = place<QPushButton>(this, "Command16", at(120, 1800, 1215, 255));
    show->setText(QStringLiteral("選択矩形表示"));
    connect(show, &QPushButton::clicked, this, [m] { m->drawSelectedRectangle(); });
    auto* erase = place<QPushButton>(this, "Command1", at(1320, 1800, 735, 255));
    erase->setText(QStringLiteral("矩形消"));
    connect(erase, &QPushButton::clicked, this, [m] { m->drawSlot(); });

    connect(&st, &AppState::changed, this, &InfoWindow::refresh);
    refresh();
}

void InfoWindow::refresh() {
    const InfoFields& f = module_.state().info();
    if (id_->text() != f.id) id_->setText(f.id);
    if (xy_->text() != f.xy) xy_->setText(f.xy);
    showText(mx_, f.mx);
    showText(my_, f.my);
    showText(hfx1_, f.hfx1);
    showText(hfy1_, f.hfy1);
    showText(hfx2_, f.hfx2);
    showText(hfy2_, f.hfy2);
}

} // namespace tovra
