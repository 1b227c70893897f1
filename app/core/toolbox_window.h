// The toolbox "道具箱": open and save, the slot list, the operation parameters and buttons.
#pragma once

#include <QHash>
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
    // Shows the button (Command13, Command14 or Command15) that shows another window.
    void setShowAction(const char* button, std::function<void()> show);

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
    QHash<QString, std::function<void()>> showActions_;
};

} // namespace tovra
