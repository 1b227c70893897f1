// The window "泡の追跡": the frames chosen and measured as in 系列の測定, the largest step and the
// memory, the tracks drawn over the frame a slider picks (its lattice's five- and sevenfold
// bubbles drawn too) beside the mean squared displacement, and the exports.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QSlider;

namespace tovra {

class FileDialogs;
class SeriesSettingsPanel;
class TrackModule;

// The tracks over the frame picked, and the MSD, painted as the command line writes them.
class TrackView : public QWidget {
    Q_OBJECT
public:
    explicit TrackView(TrackModule& tracks, QWidget* parent = nullptr);
    void setFrame(int k) { frame_ = k, update(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    TrackModule& t_;
    int frame_ = -1;
};

class TrackWindow : public QWidget {
    Q_OBJECT
public:
    TrackWindow(TrackModule& tracks, FileDialogs& dialogs, QWidget* parent = nullptr);

private:
    void refresh();
    void showFrame(int k);

    TrackModule& t_;
    FileDialogs& dialogs_;
    SeriesSettingsPanel* panel_;
    QLineEdit *maxStep_, *memory_;
    QLabel *summary_, *frameLabel_;
    QSlider* slider_;
    TrackView* view_;
};

} // namespace tovra
