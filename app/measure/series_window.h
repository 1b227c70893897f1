// The window "系列の測定": the frames of a field sweep or a time series and where their values
// come from, the settings, a progress bar that can be cancelled, the two plots drawn as frames
// finish (a click on a point opens that frame with its measurement), and the exports.
#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
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

// What the windows of a series share: the frames and where their values come from, the Kerr
// background, the preparation, the rectangle, 測定 and 中止 and the progress; rows after these go
// into `form()`.
class SeriesSettingsPanel : public QWidget {
    Q_OBJECT
public:
    // `run` is what 測定 does (the series' start where not given).
    SeriesSettingsPanel(SeriesModule& series, FileDialogs& dialogs, QWidget* parent = nullptr,
                        std::function<void()> run = {});
    QFormLayout* form() { return form_; }
    QPushButton* runButton() { return run_; }
    // Shows the module's fields and progress; `status` is the line below the progress.
    void refresh(const QString& status);

private:
    SeriesModule& s_;
    FileDialogs& dialogs_;
    QFormLayout* form_;
    QLabel *frames_, *status_;
    QComboBox* source_;
    QLineEdit *list_, *file_, *column_, *unit_, *background_, *speck_, *rect_;
    QCheckBox *median_, *flatField_, *otsu_;
    QPushButton *run_, *cancel_;
    QProgressBar* progress_;
};

// Asks for a file to export to (the dialog's `filter`, starting at `suggestion`) and writes it with
// `write`, which says why it cannot; the user is told then.
using ExportWriter = std::function<bool(const QString& path, QString& why)>;
void exportThrough(FileDialogs& dialogs, const QString& filter, const QString& suggestion,
                   const ExportWriter& write);

// The panel in a scroll area (the settings scroll where the screen is lower than they are tall).
QWidget* scrolling(QWidget* panel, QWidget* parent);
// The status line of a series' measurement: listing, measuring, cancelled or done.
QString seriesStatus(const SeriesModule& s);

class SeriesWindow : public QWidget {
    Q_OBJECT
public:
    SeriesWindow(SeriesModule& series, FileDialogs& dialogs, QWidget* parent = nullptr);

private:
    void refresh();

    SeriesModule& s_;
    FileDialogs& dialogs_;
    SeriesSettingsPanel* panel_;
    QLabel* frameSummary_;
    SeriesPlotView* plot_;
};

} // namespace tovra
