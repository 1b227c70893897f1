#include "widgets/picture_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace tovra {

PictureView::PictureView(Canvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    canvas_.setOnChange([this] { canvasChanged(); });
    setFixedSize(canvas_.pixelWidth(), canvas_.pixelHeight());
}

PictureView::~PictureView() {
    canvas_.setOnChange(nullptr);
}

void PictureView::canvasChanged() {
    if (follow_ && size() != QSize(canvas_.pixelWidth(), canvas_.pixelHeight()))
        setFixedSize(canvas_.pixelWidth(), canvas_.pixelHeight());
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, canvas_.image());
}

QPointF PictureView::scaled(QMouseEvent* e) const {
    const QPointF px = e->position();
    return canvas_.fromPixels(px.x(), px.y());
}

void PictureView::mouseMoveEvent(QMouseEvent* e) {
    if (onMove) onMove(scaled(e).x(), scaled(e).y());
}

void PictureView::mousePressEvent(QMouseEvent* e) {
    if (onPress) onPress(scaled(e).x(), scaled(e).y());
}

void PictureView::mouseReleaseEvent(QMouseEvent* e) {
    if (onRelease) onRelease(scaled(e).x(), scaled(e).y());
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (onDoubleClick) onDoubleClick(scaled(e).x(), scaled(e).y());
}

} // namespace tovra
