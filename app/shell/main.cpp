#include "application.h"

#include <QApplication>
#include <QFont>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovra"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.4"));
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setQuitOnLastWindowClosed(false);

    QString error;
    const auto options = tovra::parseCommandLine(QApplication::arguments(), error);
    if (!options) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return error.contains(QLatin1String("Usage")) ? 0 : 2;
    }
    tovra::Application tovraApp(QApplication::applicationDirPath(), *options);
    tovraApp.start();
    return QApplication::exec();
}
