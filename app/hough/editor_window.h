// The Hough analysis editor window "hfed": the search and row buttons on the left, the rows of
// lines with their band colours and widths, the leader strip, and the image with the probe strip.
// Positions are pixels, as the layout gives them; the window grows with the image and the rows.
#pragma once

#include <QWidget>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRubberBand;
class QScrollArea;

namespace tovra {

class HoughEditor;
class NumberBar;
class PictureView;

class EditorWindow : public QWidget {
    Q_OBJECT
public:
    explicit EditorWindow(HoughEditor& editor, QWidget* parent = nullptr);

private:
    struct RowControls {
        QCheckBox* sikic;
        QLineEdit* siki;
        QCheckBox* bow;
        QLineEdit* intval;
    };
    void refresh();
    void syncRows();
    void fitWindow();

    HoughEditor& ed_;
    std::vector<RowControls> rows_;
    QLineEdit *dw_, *hfrate_, *nam_, *mfig_, *pif_, *fintval_, *mx_, *my_;
    NumberBar* vs_;
    QCheckBox* ave_;
    QLabel* id_;
    QPushButton* c9cc_;
    PictureView *picture_, *leader_, *probe_;
    QScrollArea* area_;
    QRubberBand* band_;
    QPoint bandOrigin_;
};

} // namespace tovra
