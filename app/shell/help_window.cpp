#include "help_window.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace tovra {

HelpWindow::HelpWindow(const QString& guide, QWidget* parent)
    : QWidget(parent, Qt::Window), guide_(guide), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("解説"));
    browser_->setObjectName(QStringLiteral("guide"));
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(820, 720);
}

void HelpWindow::showGuide() {
    const QFileInfo file(guide_);
    if (file.isFile()) {
        browser_->setSearchPaths({file.absolutePath()});
        browser_->setSource(QUrl::fromLocalFile(file.absoluteFilePath()), QTextDocument::MarkdownResource);
    } else {
        browser_->setPlainText(QStringLiteral("解説ファイルが見つかりません: %1").arg(guide_));
    }
    show();
    raise();
    activateWindow();
}

} // namespace tovra
