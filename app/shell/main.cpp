#include "application.h"
#include "core/printable.h"
#include "headless.h"
#include "measure_run.h"
#include "version.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <malloc.h>

namespace {

// Headless runs make and drop buffers of megabytes for every step of every picture. The allocator
// keeps them for the next step instead of handing them back to the system, which would clear
// their pages again each time (a quarter of a measurement's time went to that).
void keepFreedBuffers() {
    mallopt(M_MMAP_MAX, 0); // from the heap, however large, so that they can be reused
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString message;
    int exitCode = 0;
    const auto options = tovra::parseCommandLine(args, message, exitCode);
    if (!options) {
        message.replace(QStringLiteral("<executable_name>"), QStringLiteral("Tovra"));
        std::fprintf(exitCode == 0 ? stdout : stderr, "%s\n",
                     tovra::printableUtf8(message, true).constData());
        return exitCode;
    }

    if (options->measure || options->merge || options->track || options->motion ||
        !options->batchScript.isEmpty()) {
        keepFreedBuffers();
        // A reader that goes away (`| head`) makes writes fail, which the runs notice and report,
        // instead of ending the run before its files are written.
        std::signal(SIGPIPE, SIG_IGN);
    }
    if (options->measure || options->track) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "default.warning=false");
        QGuiApplication app(argc, argv);
        return tovra::runMeasure(*options, stdout, stderr);
    }
    if (options->motion) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "default.warning=false");
        QGuiApplication app(argc, argv);
        return tovra::runMotion(*options, stdout, stderr);
    }
    if (options->merge) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "default.warning=false");
        QGuiApplication app(argc, argv);
        return tovra::runMerge(*options, stdout, stderr);
    }
    if (!options->batchScript.isEmpty()) {
        // No window and no display: the offscreen platform serves the picture codecs and canvases.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_LOGGING_RULES", "default.warning=false"); // stderr carries the run's report alone
        QGuiApplication app(argc, argv);
        return tovra::runHeadless(QGuiApplication::applicationDirPath(), *options, stderr);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovra"));
    QApplication::setApplicationVersion(QStringLiteral(TOVRA_VERSION));
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setQuitOnLastWindowClosed(false);
    // The toolkit's own texts (file dialogs, progress dialog) in Japanese like the rest.
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&toolkitTexts);
    tovra::Application tovraApp(QApplication::applicationDirPath(), *options);
    tovraApp.start();
    return QApplication::exec();
}
