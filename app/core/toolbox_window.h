// The toolbox "道具箱": open and save, the slot list, the operation parameters and buttons.
#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace tovra {

class NumberBar;
class Module;

class ToolboxWindow : public QWidget {
    Q_OBJECT
public:
    explicit ToolboxWindow(Module& module, QWidget* parent = nullptr);
    // The histogram button shows this window (set by whoever owns the histogram window).
    void setHistogramAction(std::function<void()> show);

private:
    void refresh();

    Module& module_;
    QCheckBox* rawOverride_;
    QComboBox* slotList_;
    QLineEdit *ct1_, *ct2_, *segt_;
    NumberBar *vsc1_, *vsc2_, *hscseg_;
    QComboBox* dpcb1_[2];
    QComboBox* dpcb2_[2];
    QRadioButton *hec0_, *hec1_, *ns0_, *ns1_;
    std::function<void()> showHistogram_;
};

} // namespace tovra
