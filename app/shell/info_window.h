// The information window "情報": the current slot, width and height, the pointer position and the
// selection rectangle, with the buttons that draw and erase the rectangle.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

namespace tovra {

class Module;

class InfoWindow : public QWidget {
    Q_OBJECT
public:
    explicit InfoWindow(Module& module, QWidget* parent = nullptr);

private:
    void refresh();

    Module& module_;
    QLabel *id_, *xy_;
    QLineEdit *mx_, *my_, *hfx1_, *hfy1_, *hfx2_, *hfy2_;
};

} // namespace tovra
