// Windows kept on the screen: a window placed or grown past the screen's available area (the
// desktop less its panels) is moved back into it, and one larger than that area is made as
// large as the area, its content scrolling inside.
#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tovra {

// The available area of the screen the window is on (the primary one before it is placed).
inline QRect availableArea(const QWidget* w) {
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
}

// The largest client size whose frame fits the available area (the frame's own margins taken
// from the window where it has them, else a title bar's worth: just after it is shown, a window
// has no frame yet, and a window made as tall as the area ended a title bar below it).
inline QSize largestClient(const QWidget* w) {
    const QRect area = availableArea(w);
    const QRect frame = w->frameGeometry(), client = w->geometry();
    const int extraW = std::max(8, w->isVisible() ? frame.width() - client.width() : 0);
    const int extraH = std::max(32, w->isVisible() ? frame.height() - client.height() : 0);
    return {std::max(100, area.width() - extraW), std::max(100, area.height() - extraH)};
}

// Moves (and, where it is larger, shrinks) the window into the available area; a window that
// fits where it is stays there.
inline void keepOnScreen(QWidget* w) {
    const QRect area = availableArea(w);
    const QSize most = largestClient(w);
    if (w->width() > most.width() || w->height() > most.height()) {
        const QSize size(std::min(w->width(), most.width()), std::min(w->height(), most.height()));
        if (w->minimumSize() == w->maximumSize())
            w->setFixedSize(size);
        else
            w->resize(size);
    }
    const QRect frame = w->frameGeometry();
    const int x =
        std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width()));
    const int y =
        std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top()) w->move(x, y);
}

} // namespace tovra
