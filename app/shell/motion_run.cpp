// `Tovra --motion`: the frames and their values as a series takes them, each step's duration, the
// walls' motion between neighbours, and its table, plot, summary and switching-field map.
#include "measure_run.h"

#include "core/printable.h"
#include "core/regular_file.h"
#include "core/save_file.h"
#include "measure/mask_stack.h"
#include "measure/measure_files.h"
#include "measure/motion_exports.h"
#include "measure/motion_plot.h"
#include "measure/provenance.h"
#include "measure/series.h"
#include "measure/series_text.h"

#include <QFileInfo>
#include <QImageReader>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace tovra {

namespace {

// The steps' durations: a list or a file (read as the values are), or the values' differences for a
// time series given by its values alone (frames named by time), or none.
std::optional<std::vector<double>> durationsOf(const Options& o, const std::vector<SeriesFrame>& frames,
                                               QString& why) {
    std::vector<double> out;
    if (o.durations.isEmpty() && o.durationsFile.isEmpty()) {
        // A time series given by its times alone: each step lasts from one frame's time to the next's.
        static const std::pair<const char*, double> seconds[] = {
            {"s", 1}, {"ms", 1e-3}, {"us", 1e-6}, {"µs", 1e-6}, {"ns", 1e-9}, {"min", 60}, {"h", 3600}};
        for (const auto& [unit, scale] : seconds)
            if (o.valueUnit.trimmed() == QString::fromUtf8(unit)) {
                for (size_t k = 1; k < frames.size(); ++k)
                    out.push_back((frames[k].value - frames[k - 1].value) * scale);
                return out;
            }
        return out;
    }
    // One dummy frame a step, given its duration as a frame is given its value.
    std::vector<SeriesFrame> steps(frames.size() > 0 ? frames.size() - 1 : 0);
    ValueSource source;
    source.list = o.durations, source.file = o.durationsFile, source.column = o.durationsColumn;
    if (!assignValues(steps, source, why)) {
        why = QStringLiteral("--durations: %1 (one a step: the frames' count less one)").arg(why);
        return std::nullopt;
    }
    for (const SeriesFrame& s : steps)
        out.push_back(s.value);
    return out;
}

} // namespace

int runMotion(const Options& options, std::FILE* out, std::FILE* err) {
    QImageReader::setAllocationLimit(0);
    QString why;
    std::vector<SeriesFrame> frames = seriesFrames(options.files, why);
    if (frames.empty()) {
        say(err, why);
        return 2;
    }
    if (frames.size() < 2) {
        say(err, QStringLiteral("a motion needs two frames at least; %1 holds one")
                     .arg(options.files.join(QStringLiteral(", "))));
        return 2;
    }
    ValueSource source;
    source.list = options.values, source.file = options.valuesFile, source.column = options.valuesColumn;
    source.name = options.valueName, source.fromName = options.valuesFromName;
    source.metadataKey = options.valuesFromMetadata.trimmed();
    if (!assignValues(frames, source, why)) {
        say(err, why);
        return 2;
    }
    const std::optional<std::vector<double>> durations = durationsOf(options, frames, why);
    if (!durations) {
        say(err, why);
        return 2;
    }
    for (double d : *durations)
        if (!(d > 0)) {
            say(err, QStringLiteral("--durations: every duration must be a number of seconds above 0"));
            return 2;
        }
    QStringList inputs{options.background, options.valuesFile, options.durationsFile};
    for (const SeriesFrame& f : frames)
        inputs << f.file;
    if (const QString conflict = outputConflict({{QStringLiteral("--table"), options.table},
                                                 {QStringLiteral("--plot"), options.plot},
                                                 {QStringLiteral("--summary"), options.summary},
                                                 {QStringLiteral("--switching-map"), options.switchingMap}},
                                                inputs);
        !conflict.isEmpty()) {
        say(err, conflict);
        return 2;
    }
    std::optional<measure::Image> background;
    if (!options.background.isEmpty()) {
        std::vector<MeasurePage> pages = readMeasurePages(options.background, options.size, why);
        if (pages.empty()) {
            say(err, QStringLiteral("%1: %2").arg(options.background, why));
            return 2;
        }
        background = std::move(pages.front().image);
    }
    double fileUm = 0;
    const measure::FrameSource source2 = [&](size_t k, std::string& error) -> std::optional<measure::Image> {
        QString reason;
        double um = 0;
        std::optional<measure::Image> g = readFrame(frames[k], options.size, um, reason);
        if (k == 0) fileUm = um;
        if (!g) error = reason.toStdString();
        return g;
    };
    std::vector<double> values;
    values.reserve(frames.size());
    for (const SeriesFrame& f : frames)
        values.push_back(f.value);
    measure::MotionSettings settings;
    if (options.rect.size() == 4)
        settings.rect = measure::Rect{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
    if (options.alignRect.size() == 4)
        settings.alignOn = measure::Rect{options.alignRect[0], options.alignRect[1], options.alignRect[2],
                                         options.alignRect[3]};
    const measure::Motion m = measureMotion(frames.size(), source2, values, *durations,
                                            background ? &*background : nullptr, settings);
    if (!m.error.empty()) {
        say(err, QString::fromStdString(m.error));
        return 2;
    }
    const double um = options.pixelSize > 0 ? options.pixelSize : fileUm;
    QStringList files;
    for (const SeriesFrame& f : frames)
        files << f.file;
    RunSettings run{QString::fromStdString(describe(settings.measure)),
                    options.rect,
                    options.size,
                    options.pixelSize,
                    QString(),
                    valueName(source),
                    options.valueUnit,
                    options.language};
    const QByteArray provenance =
        provenanceOf(options.command, {}, settingsJson(run), files, options.background, options.valuesFile)
            .line();
    int failed = 0;
    bool lost = false;
    auto print = [&](const QByteArray& line) {
        if (!lost && (std::fprintf(out, "%s\n", line.constData()) < 0 || std::fflush(out) != 0)) lost = true;
    };
    print("{\"provenance\":" + provenance + "}");
    for (size_t k = 0; k < m.frameErrors.size(); ++k)
        if (!m.frameErrors[k].empty()) {
            say(err, QStringLiteral("%1: %2").arg(frames[k].file, QString::fromStdString(m.frameErrors[k])));
            ++failed;
        }
    for (const measure::MotionStep& s : m.steps)
        print(QByteArray::fromStdString(measure::motionStepJson(s, um)));
    // The creep law over the reliable steps with a velocity.
    std::optional<measure::CreepFit> fixed, free;
    if (options.fit == QLatin1String("creep")) {
        fixed = measure::fitCreep(m, false), free = measure::fitCreep(m, true);
        if (!fixed->ok) say(err, QStringLiteral("--fit creep: %1").arg(QString::fromStdString(fixed->error)));
        if (!free->ok)
            say(err, QStringLiteral("--fit creep, mu free: %1").arg(QString::fromStdString(free->error)));
    }
    if (!options.summary.isEmpty()) {
        if (!saveWholeFile(options.summary, motionSummary(m, fixed, free, um, provenance), &why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.summary, why));
            ++failed;
        }
    }
    if (!options.table.isEmpty() &&
        !saveWholeFile(options.table,
                       motionTableCsv(m, valueName(source), options.valueUnit, um, provenance).toUtf8(),
                       &why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.table, why));
        ++failed;
    }
    if (!options.plot.isEmpty() &&
        !saveMotionPlot(options.plot, m, fixed,
                        motionPlotTexts(options.language == QLatin1String("ja"), options.valueUnit), why,
                        provenance)) {
        say(err, why);
        ++failed;
    }
    if (!options.switchingMap.isEmpty() &&
        !saveFloatTiff(options.switchingMap, m.width, m.height, m.switching, um, provenance, why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.switchingMap, why));
        ++failed;
    }
    if (lost) {
        say(err, QStringLiteral("standard output could not be written: the records are incomplete"));
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace tovra
