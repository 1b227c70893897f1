// The Hough simulator window "ハフ変換シミュレータ": the image, its Hough space, and the buttons
// that acquire, transform and clear them. Positions here are pixels, as the layout gives them.
#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace tovra {

class HoughSimulator;

class SimulatorWindow : public QWidget {
    Q_OBJECT
public:
    explicit SimulatorWindow(HoughSimulator& simulator, QWidget* parent = nullptr);

private:
    void refresh();

    HoughSimulator& sim_;
    QLineEdit* text1_;
    QCheckBox* ch_;
};

} // namespace tovra
