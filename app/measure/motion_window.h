// The window "磁壁の運動": the frames chosen as in 系列の測定, each step's pulse duration, where to
// align the frames and the creep fit; a step (a slider through them) drawn on its frames with the
// pixels switched each way in two colours and the walls of before and after, the velocity against
// the field with the fit, the switching-field map with its colour scale, and the exports.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace tovra {

class FileDialogs;
class MotionModule;
class SeriesSettingsPanel;

// The step picked, the switching-field map and the plot.
class MotionView : public QWidget {
    Q_OBJECT
public:
    explicit MotionView(MotionModule& motion, QWidget* parent = nullptr);
    void setStep(int k) { step_ = k, update(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    MotionModule& m_;
    int step_ = 0;
};

class MotionWindow : public QWidget {
    Q_OBJECT
public:
    MotionWindow(MotionModule& motion, FileDialogs& dialogs, QWidget* parent = nullptr);

private:
    void refresh();

    MotionModule& m_;
    FileDialogs& dialogs_;
    SeriesSettingsPanel* panel_;
    QLineEdit *durations_, *align_;
    QCheckBox* fit_;
    QSlider* slider_;
    QLabel* stepLabel_;
    MotionView* view_;
};

} // namespace tovra
