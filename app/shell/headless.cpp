#include "headless.h"

#include "progress_line.h"

#include "core/batch_engine.h"
#include "core/numeric.h"
#include "core/printable.h"
#include "core/work_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>

namespace tovra {

namespace {} // namespace

int runHeadless(const QString&, const Options& options, std::FILE* err) {
    const QString scriptFile = QFileInfo(options.batchScript).absoluteFilePath();
    const ScriptReading reading = readScript(scriptFile);
    if (!reading.script) {
        std::fprintf(err, "%s\n", printableUtf8(reading.problem).constData());
        return 2;
    }
    // Without a work folder of its own a run works in a private one that it removes afterwards,
    // so it never touches the slots of a program running from the same folder. Shares of one list
    // each work in their own subfolder.
    QTemporaryDir privateFolder(QDir::temp().filePath(QStringLiteral("tovra-XXXXXX")));
    QString work =
        options.workFolder.isEmpty() ? privateFolder.path() : QDir(options.workFolder).absolutePath();
    if (options.parts > 1)
        work = QDir(work).filePath(QStringLiteral("part-%1-of-%2").arg(options.part).arg(options.parts));
    QString reason;
    if ((options.workFolder.isEmpty() && !privateFolder.isValid()) || !prepareWorkFolder(work, &reason)) {
        std::fprintf(err, "cannot use the work folder: %s\n",
                     printableUtf8(reason.isEmpty() ? privateFolder.errorString() : reason).constData());
        return 2;
    }

    const engine::Job job =
        engineJob(*reading.script, QFileInfo(scriptFile).absolutePath(), options.part, options.parts);
    engine::Settings settings;
    settings.threshold = toInt16(options.threshold).value_or(0);
    settings.contrastLow = toInt16(options.contrastLow).value_or(0);
    settings.contrastHigh = toInt16(options.contrastHigh).value_or(0);
    settings.rawOverride = options.rawOverride;
    settings.autoDraw = options.autoDraw;
    settings.workFolder = QFile::encodeName(work).toStdString();
    settings.jobs = options.jobs > 0 ? options.jobs : QThread::idealThreadCount();

    // On a terminal, a progress line with the speed and the time left.
    ProgressLine progress(err, job.files.size(), "files");
    size_t reported = 0;
    engine::Callbacks callbacks;
    callbacks.onReport = [&](const std::string& line) {
        progress.clear();
        std::fprintf(err, "%s\n", printableUtf8(line).constData());
        progress.show(++reported);
    };
    const engine::Outcome outcome = engine::run(job, settings, qtPictureReader(), callbacks);
    std::fprintf(err, "%d of %d files read, %d saves failed\n", outcome.read, outcome.files,
                 outcome.savesFailed);
    return outcome.ok() ? 0 : 1;
}

} // namespace tovra
