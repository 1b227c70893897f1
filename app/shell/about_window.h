// The about box "frmAbout": title, version, description and comments, and the system
// information a bug report needs.
#pragma once

#include <QDialog>
#include <functional>

namespace tovra {

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    // `systemInformation` gives the text the system-information button shows.
    AboutWindow(std::function<QString()> systemInformation, QWidget* parent = nullptr);
    static QString title();
    static QString versionText();

    // The system-information button: a dialog with the text to copy, or the notice that there is
    // none.
    void showSystemInformation();

private:
    std::function<QString()> systemInformation_;
};

} // namespace tovra
