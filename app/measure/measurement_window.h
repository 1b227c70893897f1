// The window "磁区幅の自動測定": settings, the picture with what was measured drawn over it, the
// summary, the band table, the histogram of band widths and the export.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace tovra {

class FileDialogs;
class MeasurementModule;

class MeasurementWindow : public QWidget {
    Q_OBJECT
public:
    MeasurementWindow(MeasurementModule& measurement, FileDialogs& dialogs, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void refresh();
    // The summary as tall as its wrapped lines: the layout would otherwise cut its last lines.
    void fitSummary();

    MeasurementModule& m_;
    FileDialogs& dialogs_;
    QCheckBox *median_, *flatField_, *otsu_;
    QLineEdit *speck_, *pixelSize_;
    QComboBox* background_;
    QLabel* summary_;
    QTableWidget* bands_;
};

} // namespace tovra
