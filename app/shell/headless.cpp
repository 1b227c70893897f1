#include "headless.h"

#include "core/batch.h"
#include "core/work_folder.h"
#include "histogram/histogram.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <unistd.h>

namespace tovra {

int runHeadless(const QString& programFolder, const Options& options, std::FILE* err) {
    // Without a work folder of its own a run works in a private one that it removes afterwards,
    // so it never touches the slots of a program running from the same folder.
    QTemporaryDir privateFolder(QDir::temp().filePath(QStringLiteral("tovra-XXXXXX")));
    const QString work =
        options.workFolder.isEmpty() ? privateFolder.path() : QDir(options.workFolder).absolutePath();
    QString reason;
    if ((options.workFolder.isEmpty() && !privateFolder.isValid()) || !prepareWorkFolder(work, &reason)) {
        std::fprintf(err, "cannot use the work folder: %s\n",
                     qPrintable(reason.isEmpty() ? privateFolder.errorString() : reason));
        return 2;
    }
    AppState state;
    QuarnBinder quarn(QDir(programFolder).filePath(QStringLiteral("Quarn")), work);
    FileDialogs dialogs;
    Module module(state, quarn, dialogs);
    HistogramModule histogram(module);
    module.toolboxLoad();
    state.setSegt(options.threshold);
    state.setCt1(options.contrastLow);
    state.setCt2(options.contrastHigh);
    state.setRawOverride(options.rawOverride);
    state.setAutoDraw(options.autoDraw);

    BatchRunner runner(module);
    runner.makeHistogram = [&histogram](int mode) { return histogram.makeHistogram(mode); };
    const bool terminal = ::isatty(::fileno(err));
    runner.onFile = [&](int i, int n, const QString& file) {
        if (terminal) std::fprintf(err, "\r\033[K[%d/%d] %s", i, n, qPrintable(file));
    };
    runner.onReport = [&](const QString& line) {
        if (terminal) std::fprintf(err, "\r\033[K");
        std::fprintf(err, "%s\n", qPrintable(line));
    };
    const QString script = QFileInfo(options.batchScript).absoluteFilePath();
    const BatchRunner::Outcome outcome = runner.run(script);
    module.deleteWorkFiles(); // as the program does when it ends
    if (!outcome.scriptRead) return 2;
    std::fprintf(err, "%d of %d files read, %d saves failed\n", outcome.read, outcome.files,
                 outcome.savesFailed);
    return outcome.ok() ? 0 : 1;
}

} // namespace tovra
