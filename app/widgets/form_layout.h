// Helpers shared by the windows: controls placed by their twips positions and named by their
// control names, and text boxes that follow the state without disturbing typing.
#pragma once

#include "core/app_state.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QWidget>
#include <functional>

namespace tovra {

// A control's place, given in twips as the window layouts are, in pixels.
inline QRect at(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

// A new control of type W in parent, with its object name and geometry.
template <typename W> W* place(QWidget* parent, const char* name, QRect geometry) {
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

// A text box whose typing (not the program's own changes) goes to `edited`.
template <typename Edited>
QLineEdit* editBox(QWidget* parent, const char* name, QRect geometry, Edited edited) {
    auto* box = place<QLineEdit>(parent, name, geometry);
    QObject::connect(box, &QLineEdit::textEdited, parent, std::move(edited));
    return box;
}

// Sets a box's text only when it differs, so the cursor stays where the user is typing.
inline void showText(QLineEdit* box, const QString& text) {
    if (box->text() != text) box->setText(text);
}

// The same for a box that may be too narrow for its text: it shows the text's start ("Y = ...",
// the leading digits of a width), never its end.
inline void showTextStart(QLineEdit* box, const QString& text) {
    if (box->text() == text) return;
    box->setText(text);
    box->setCursorPosition(0);
}

// A scroll bar over lo..hi that steps a number box. A vertical bar has its largest value at the
// top, so its up arrow, the Up key and the wheel turned away raise the number; `moved` hears the
// user's moves in numbers, never the program's own.
class NumberBar : public QScrollBar {
public:
    NumberBar(QWidget* parent, const char* name, QRect geometry, Qt::Orientation orientation, int lo, int hi,
              std::function<void(int)> moved)
        : QScrollBar(orientation, parent), lo_(lo), hi_(hi), moved_(std::move(moved)) {
        setObjectName(QLatin1String(name));
        setGeometry(geometry);
        setRange(lo, hi);
        connect(this, &QScrollBar::valueChanged, this, [this](int v) {
            if (!showing_ && moved_) moved_(fromBar(v));
        });
    }
    // The number the bar stands at.
    int number() const { return fromBar(value()); }
    void showNumber(int n) {
        showing_ = true;
        setValue(fromBar(n)); // the mapping is its own inverse
        showing_ = false;
    }

private:
    // The bar's own values grow downward; a vertical bar's numbers grow upward.
    int fromBar(int v) const { return orientation() == Qt::Vertical ? lo_ + hi_ - v : v; }

    int lo_, hi_;
    std::function<void(int)> moved_;
    bool showing_ = false;
};

// A push button whose caption wraps onto more lines where it is wider than the button, as the
// captions of the taller toolbox buttons do; text() stays the caption as given.
class WrappingButton : public QPushButton {
public:
    WrappingButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        p.drawText(rect().adjusted(3, 2, -3, -2), Qt::AlignCenter | Qt::TextWordWrap, text().simplified());
    }
};

} // namespace tovra
