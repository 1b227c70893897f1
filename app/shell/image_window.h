// An image window "イメージ": the picture of one slot, its file-name label and the draw button.
// The mouse over the picture selects the rectangle of the information window.
#pragma once

#include <QSize>
#include <QWidget>

class QLabel;
class QScrollArea;

namespace tovra {

class Module;
class PictureView;

class ImageWindow : public QWidget {
    Q_OBJECT
public:
    // slot -1 is the default window, which only serves as the origin for placing the others.
    ImageWindow(Module& module, int slot, QWidget* parent = nullptr);
    int slot() const { return slot_; }
    PictureView* picture() const { return view_; }
    // At the program's end windows close without their own clean-up.
    static void setClosingForExit(bool v) { exiting_ = v; }

    void sync();

protected:
    void changeEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    Module& module_;
    int slot_;
    int placement_ = 0;
    QSize pictureSize_;
    QLabel* nameLabel_;
    QScrollArea* area_;
    PictureView* view_ = nullptr;
    static bool exiting_;
};

} // namespace tovra
