// The window "系列の測定": the frames of a field sweep or a time series and where their values
// come from, the settings, a progress bar that can be cancelled, the two plots drawn as frames
// finish (a click on a point opens that frame with its measurement), and the exports.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tovra {

class FileDialogs;
class SeriesModule;

// The plots of a series, painted as the command line writes them; a click on a point opens it.
class SeriesPlotView : public QWidget {
    Q_OBJECT
public:
    explicit SeriesPlotView(SeriesModule& series, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    SeriesModule& s_;
};

class SeriesWindow : public QWidget {
    Q_OBJECT
public:
    SeriesWindow(SeriesModule& series, FileDialogs& dialogs, QWidget* parent = nullptr);

private:
    void refresh();

    SeriesModule& s_;
    FileDialogs& dialogs_;
    QLabel *frames_, *status_, *frameSummary_;
    QComboBox* source_;
    QLineEdit *list_, *file_, *column_, *unit_, *background_, *speck_, *rect_;
    QCheckBox *median_, *flatField_, *otsu_;
    QPushButton *run_, *cancel_;
    QProgressBar* progress_;
    SeriesPlotView* plot_;
};

} // namespace tovra
