// The histogram window "ヒストグラム": the intensity histogram picture, the row and column profile
// pictures, their buttons, number boxes and read-outs.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tovra {

class NumberBar;
class HistogramModule;

class HistogramWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistogramWindow(HistogramModule& histogram, QWidget* parent = nullptr);

private:
    void refresh();

    HistogramModule& h_;
    QLineEdit *ht_, *ht2_, *lh2_, *hfx1_, *hfy1_;
    NumberBar *vsch_, *vsch2_, *vscl2_;
    QRadioButton *op1_, *op2_;
    QCheckBox* ch2_;
    QLabel* xy_;
};

} // namespace tovra
