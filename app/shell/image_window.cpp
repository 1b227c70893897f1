#include "image_window.h"

#include "widgets/screen_fit.h"

#include "core/module.h"
#include "widgets/picture_view.h"

#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <cmath>

namespace tovra {

bool ImageWindow::exiting_ = false;

namespace {

// The file-name label works as a button: it looks pressed while held, and a click reloads.
class NameLabel : public QLabel {
public:
    NameLabel(QWidget* parent, std::function<void()> click) : QLabel(parent), click_(std::move(click)) {
        setAutoFillBackground(true);
        look(false);
    }

protected:
    // The end of a long path, where the file's name is, rather than its start; the whole path is
    // in the tooltip and in text().
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawFrame(&p);
        const QRect r = contentsRect().adjusted(2, 0, -2, 0);
        p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideLeft, r.width()));
    }
    void mousePressEvent(QMouseEvent*) override { look(true); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        look(false);
        if (rect().contains(e->position().toPoint()) && click_) click_();
    }

private:
    void look(bool pressed) {
        setFrameStyle(QFrame::Panel | (pressed ? QFrame::Sunken : QFrame::Raised));
        QPalette p = palette();
        p.setColor(QPalette::Window, pressed ? QColor(160, 160, 160) : QColor(192, 192, 192));
        setPalette(p);
    }
    std::function<void()> click_;
};

} // namespace

ImageWindow::ImageWindow(Module& module, int slot, QWidget* parent)
    : QWidget(parent, Qt::Window), module_(module), slot_(slot) {
    setObjectName(QStringLiteral("iw"));
    setWindowTitle(QStringLiteral("イメージ"));
    resize(twips(4725), twips(4500));
    Module* m = &module;

    auto* draw = new QPushButton(QStringLiteral("描画"), this);
    draw->setObjectName(QStringLiteral("Com1"));
    draw->setGeometry(0, 0, twips(735), twips(255));
    connect(draw, &QPushButton::clicked, this, [m] { m->drawSlot(); });

    nameLabel_ = new NameLabel(this, [m] { m->reloadFromNameLabel(); });
    nameLabel_->setObjectName(QStringLiteral("com2"));
    nameLabel_->setGeometry(twips(720), 0, twips(3000), twips(255));

    area_ = new QScrollArea(this);
    area_->setObjectName(QStringLiteral("PicArea"));
    area_->setFrameShape(QFrame::NoFrame);
    area_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    area_->move(0, twips(240));
    if (slot_ >= 0) {
        view_ = new PictureView(*module.state().imageWindow(slot_).picture);
        view_->setObjectName(QStringLiteral("Pic"));
        view_->onMove = [m](double x, double y) {
            m->pictureMouseMove(int(std::floor(x)), int(std::floor(y)));
        };
        view_->onPress = [m](double x, double y) {
            m->pictureMousePress(int(std::floor(x)), int(std::floor(y)));
        };
        view_->onRelease = [m](double x, double y) {
            m->pictureMouseRelease(int(std::floor(x)), int(std::floor(y)));
        };
        area_->setWidget(view_);
        connect(&module.state(), &AppState::imageWindowChanged, this, [this](int s) {
            if (s == slot_) sync();
        });
        sync();
    }
}

void ImageWindow::sync() {
    if (slot_ < 0) return;
    const ImageWindowModel& model = module_.state().imageWindow(slot_);
    setWindowTitle(model.caption);
    nameLabel_->setText(model.nameLabel);
    nameLabel_->setToolTip(model.nameLabel);
    nameLabel_->resize(model.nameLabelWidth, nameLabel_->height());
    // A new picture's window shows it whole where the screen has room for it.
    const QSize picture = model.picture->image().size();
    if (picture != pictureSize_) {
        pictureSize_ = picture;
        const QSize most = largestClient(this);
        const QSize wanted(std::max(width(), picture.width() + 2),
                           std::max(height(), picture.height() + twips(240) + 2));
        resize(std::min(wanted.width(), most.width()), std::min(wanted.height(), most.height()));
    }
    if (model.placement != placement_) {
        placement_ = model.placement;
        move(model.position);
    }
    if (model.visible && !isVisible()) {
        show();
        keepOnScreen(this); // the slots' places step down and right: the last ones may lie beyond
    }
    if (!model.visible && isVisible()) hide();
}

void ImageWindow::resizeEvent(QResizeEvent*) {
    area_->resize(width(), std::max(0, height() - twips(240)));
}

void ImageWindow::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        module_.imageWindowActivated(windowTitle());
}

void ImageWindow::closeEvent(QCloseEvent* e) {
    if (!exiting_ && slot_ >= 0) module_.imageWindowClosed(slot_);
    e->accept();
}

} // namespace tovra
