// Shows a canvas at one screen pixel per picture pixel and reports the mouse over it in the
// canvas's scale.
#pragma once

#include "core/canvas.h"

#include <QWidget>
#include <functional>

namespace tovra {

class PictureView : public QWidget {
    Q_OBJECT
public:
    PictureView(Canvas& canvas, QWidget* parent = nullptr);
    ~PictureView() override;
    Canvas& canvas() { return canvas_; }
    // Follows the canvas's size (for pictures that grow with their image).
    void setFollowCanvasSize(bool follow) { follow_ = follow; }

    // Mouse position in the canvas's scale.
    std::function<void(double x, double y)> onMove, onPress, onRelease, onDoubleClick;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void canvasChanged();
    QPointF scaled(QMouseEvent* e) const;

    Canvas& canvas_;
    bool follow_ = true;
};

// A picture of fixed place and size in `parent`, named as the layout names it.
inline PictureView* placePicture(QWidget* parent, const char* name, Canvas& canvas, QRect geometry) {
    auto* v = new PictureView(canvas, parent);
    v->setObjectName(QLatin1String(name));
    v->setFollowCanvasSize(false);
    v->setGeometry(geometry);
    return v;
}

} // namespace tovra
