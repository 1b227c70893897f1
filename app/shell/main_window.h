// The main window "Tovra": the menu bar, the auto-draw box and the four image-size buttons.
// Closing it ends the program.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <functional>

class QCheckBox;
class QMenu;

namespace tovra {

class Module;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> exit, showImage, showInfo, showToolbox, openHelp, mailAuthor, showAbout;
    };
    MainWindow(Module& module, Actions actions, QWidget* parent = nullptr);
    // Adds a menu item before "ヘルプ" (for windows that arrive with their own parts).
    QAction* addWindowItem(const char* name, const QString& caption, std::function<void()> action);
    // Adds a menu before "ヘルプ", and items to it.
    QMenu* addWindowMenu(const char* name, const QString& caption);
    QAction* addMenuItem(QMenu* menu, const char* name, const QString& caption, std::function<void()> action);
    // Shows where the work, histogram, profile and interval files go.
    void setWorkFolder(const QString& folder);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void refresh();
    void fitMenus();

    Module& module_;
    Actions actions_;
    QCheckBox* autoDraw_;
    QMenu* help_;
};

} // namespace tovra
