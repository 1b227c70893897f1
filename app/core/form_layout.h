// Helpers shared by the windows: controls placed by their twips positions and named by their
// specified names, and text boxes that follow the state without disturbing typing.
#pragma once

#include "app_state.h"

#include <QLineEdit>
#include <QRect>
#include <QWidget>

namespace tovra {

// A rectangle given in twips, in pixels.
inline QRect twipsRect(int left, int top, int width, int height) {
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

} // namespace tovra
