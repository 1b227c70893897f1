// The user's guide, shown in a window of the program: it needs no desktop opener and works
// wherever the program runs.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace tovra {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // `guide` is the guide's Markdown file; its pictures are found beside it.
    explicit HelpWindow(const QString& guide, QWidget* parent = nullptr);
    // Reloads the guide and shows the window in front.
    void showGuide();
    QTextBrowser& browser() { return *browser_; }

private:
    QString guide_;
    QTextBrowser* browser_;
};

} // namespace tovra
