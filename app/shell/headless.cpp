#include "headless.h"

#include "core/batch_engine.h"
#include "core/numeric.h"
#include "core/printable.h"
#include "core/work_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <unistd.h>

namespace tovra {

namespace {

QString timeText(double seconds) {
    const qint64 s = std::llround(seconds);
    return s >= 3600 ? QStringLiteral("%1:%2:%3")
                           .arg(s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

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
    const bool terminal = ::isatty(::fileno(err));
    QElapsedTimer clock;
    clock.start();
    size_t reported = 0;
    engine::Callbacks callbacks;
    callbacks.onReport = [&](const std::string& line) {
        ++reported;
        if (terminal) std::fprintf(err, "\r\033[K");
        std::fprintf(err, "%s\n", printableUtf8(line).constData());
        if (terminal && reported < job.files.size()) {
            const double seconds = static_cast<double>(clock.elapsed()) / 1000;
            const double rate = seconds > 0 ? static_cast<double>(reported) / seconds : 0;
            const double left = rate > 0 ? static_cast<double>(job.files.size() - reported) / rate : 0;
            std::fprintf(err, "[%zu/%zu] %.1f files/s, %s left", reported, job.files.size(), rate,
                         qPrintable(timeText(left)));
            std::fflush(err);
        }
    };
    const engine::Outcome outcome = engine::run(job, settings, qtPictureReader(), callbacks);
    std::fprintf(err, "%d of %d files read, %d saves failed\n", outcome.read, outcome.files,
                 outcome.savesFailed);
    return outcome.ok() ? 0 : 1;
}

} // namespace tovra
