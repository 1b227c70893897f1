#include "measure_run.h"

#include "core/printable.h"
#include "core/regular_file.h"
#include "core/save_file.h"
#include "measure/hdf5_export.h"
#include "measure/mask_stack.h"
#include "measure/measure_files.h"
#include "measure/provenance.h"
#include "measure/series.h"
#include "measure/series_loop.h"
#include "progress_line.h"
#include "version.h"

#include <QFileInfo>
#include <QImageReader>
#include <QStringList>
#include <QThread>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

namespace tovra {

namespace {

// One frame's record as it is printed, the measurement's buffers already gone.
struct Record {
    QString line;
    QString error;
    SeriesPoint point;
    MaskPlanes masks; // where --masks asks for them
};

void say(std::FILE* err, const QString& text) {
    std::fprintf(err, "%s\n", printableUtf8(text).constData());
}

// Why an output named on the command line must not be written, or empty: it is a device, a FIFO
// or a folder, or it is (through a link or another name) one of the run's own inputs, which the
// run would replace with its results.
QString outputConflict(const Options& options, const std::vector<SeriesFrame>& frames) {
    QStringList inputs;
    for (const SeriesFrame& frame : frames)
        if (inputs.isEmpty() || inputs.back() != frame.file) inputs << frame.file;
    inputs.removeDuplicates();
    if (!options.background.isEmpty()) inputs << options.background;
    if (!options.valuesFile.isEmpty()) inputs << options.valuesFile;
    const std::pair<QString, QString> outputs[] = {{QStringLiteral("--table"), options.table},
                                                   {QStringLiteral("--plot"), options.plot},
                                                   {QStringLiteral("--loop"), options.loop},
                                                   {QStringLiteral("--masks"), options.masks},
                                                   {QStringLiteral("--hdf5"), options.hdf5}};
    for (const auto& [option, path] : outputs) {
        if (path.isEmpty()) continue;
        if (const QString why = unwritableTarget(path); !why.isEmpty())
            return QStringLiteral("%1 %2: %3; only a regular file or a new name is written")
                .arg(option, path, why);
        for (const QString& input : inputs)
            if (sameFile(path, input))
                return QStringLiteral("%1 %2 is the input %3: it would be overwritten; name another file")
                    .arg(option, path, input);
    }
    // No two outputs in one file, whether it exists yet or not.
    for (size_t i = 0; i < std::size(outputs); ++i)
        for (size_t j = i + 1; j < std::size(outputs); ++j) {
            const QString &a = outputs[i].second, &b = outputs[j].second;
            if (!a.isEmpty() && !b.isEmpty() &&
                (sameFile(a, b) || QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath()))
                return QStringLiteral("%1 and %2 name one file, %3")
                    .arg(outputs[i].first, outputs[j].first, a);
        }
    return {};
}

// Where the frames' values come from, as the provenance says it.
QString valuesSource(const Options& o) {
    if (!o.values.isEmpty()) return QStringLiteral("list %1").arg(o.values);
    if (!o.valuesFile.isEmpty())
        return o.valuesColumn.isEmpty() ? QStringLiteral("file %1").arg(o.valuesFile)
                                        : QStringLiteral("file %1, column %2").arg(o.valuesFile, o.valuesColumn);
    if (o.valuesFromName) return QStringLiteral("the files' names");
    if (!o.valuesFromMetadata.isEmpty()) return QStringLiteral("metadata %1").arg(o.valuesFromMetadata);
    return QStringLiteral("frame numbers");
}

} // namespace

int runMeasure(const Options& options, std::FILE* out, std::FILE* err) {
    // Qt refuses to decode pictures above 128 MB by default; here they take what memory holds.
    QImageReader::setAllocationLimit(0);
    // The frames, each file's pages and each folder's pictures, and their values: all checked
    // before anything is measured.
    QString why;
    std::vector<SeriesFrame> frames = seriesFrames(options.files, why);
    if (frames.empty()) {
        say(err, why);
        return 2;
    }
    const bool series = options.series();
    ValueSource source;
    source.list = options.values, source.file = options.valuesFile, source.column = options.valuesColumn;
    source.name = options.valueName, source.fromName = options.valuesFromName;
    source.metadataKey = options.valuesFromMetadata.trimmed();
    source.language = options.language == QLatin1String("ja") ? Language::Japanese : Language::English;
    // The messages of the run stay English; the table's and the plot's texts follow --language.
    ValueSource messages = source;
    messages.language = Language::English;
    if (series && !assignValues(frames, messages, why)) {
        say(err, why);
        return 2;
    }
    if (options.valuesFromName)
        for (const QString& note : signNotes(frames))
            say(err, note);
    for (const SeriesFrame& frame : frames)
        for (const QString& note : frame.notes)
            say(err, QStringLiteral("%1: %2").arg(frame.file, note));
    // A Kerr series has one background for every frame, or one a frame (the pages of one file).
    std::vector<MeasurePage> backgrounds;
    if (!options.background.isEmpty()) {
        try {
            backgrounds = readMeasurePages(options.background, options.size, why);
        } catch (const std::bad_alloc&) {
            backgrounds.clear();
            why = QStringLiteral("not enough memory to read it");
        }
        if (backgrounds.empty()) {
            say(err, QStringLiteral("%1: %2").arg(options.background, why));
            return 2;
        }
        if (backgrounds.size() != 1 && backgrounds.size() != frames.size()) {
            say(err, QStringLiteral("%1: %2 background pages for %3 frames (one, or one a frame)")
                         .arg(options.background)
                         .arg(backgrounds.size())
                         .arg(frames.size()));
            return 2;
        }
    }
    if (const QString conflict = outputConflict(options, frames); !conflict.isEmpty()) {
        say(err, conflict);
        return 2;
    }
    // Where every export came from: the command line, the settings and the inputs' digests.
    QStringList files;
    for (const SeriesFrame& frame : frames)
        files << frame.file;
    RunSettings run{QString::fromStdString(measure::describe(measure::Settings{})), options.rect, options.size,
                    options.pixelSize, valuesSource(options), valueName(source), options.valueUnit};
    const Provenance provenance = provenanceOf(options.command, {}, settingsJson(run), files, options.background,
                                               options.valuesFile);
    const QByteArray provenanceLine = provenance.line();
    std::optional<measure::Rect> rect;
    if (options.rect.size() == 4)
        rect = measure::Rect{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
    const measure::Settings settings;
    const bool csv = options.format == QLatin1String("csv");
    const auto n = static_cast<qsizetype>(frames.size());

    // A frame's record is made by whichever worker measures it and printed as soon as it and every
    // record before it are done; only records waiting for an earlier one are kept, and no worker
    // runs more than a few frames ahead, so a long series needs no more memory than a short one.
    auto recordOf = [&](qsizetype i) {
        const SeriesFrame& frame = frames[static_cast<size_t>(i)];
        const measure::Image* background =
            backgrounds.empty() ? nullptr
                                : &backgrounds[backgrounds.size() == 1 ? 0 : static_cast<size_t>(i)].image;
        double fileUm = 0;
        measure::Result r = measureFrame(frame, options.size, background, rect, settings, fileUm);
        // The pixel size given on the command line holds over the one the file states.
        measure::RecordInfo info{frame.file.toStdString(), frame.page,
                                 options.pixelSize > 0 ? options.pixelSize : fileUm, describe(settings),
                                 series ? std::optional<double>(frame.value) : std::nullopt};
        Record rec;
        rec.line = QString::fromStdString(csv ? measure::recordCsv(r, info) : measure::recordJson(r, info));
        rec.point = seriesPoint(frame, r, info.pixelSizeUm);
        if (!options.masks.isEmpty() || !options.hdf5.isEmpty()) rec.masks = maskPlanesOf(r);
        r = measure::Result{}; // its buffers gone before the record waits its turn
        if (!rec.point.error.isEmpty())
            rec.error = frame.page > 0 ? QStringLiteral("page %1: %2").arg(frame.page).arg(rec.point.error)
                                       : rec.point.error;
        return rec;
    };
    const int jobs = std::max(
        1, std::min<int>(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(), static_cast<int>(n)));
    const qsizetype window = static_cast<qsizetype>(jobs) * 2;
    std::mutex m;
    std::condition_variable ready, room;
    std::map<qsizetype, Record> done;
    qsizetype taken = 0, printed = 0;
    auto worker = [&] {
        for (;;) {
            qsizetype i;
            {
                std::unique_lock<std::mutex> lock(m);
                room.wait(lock, [&] { return taken >= n || taken < printed + window; });
                if (taken >= n) return;
                i = taken++;
            }
            Record rec;
            try {
                rec = recordOf(i);
            } catch (const std::bad_alloc&) { // not even the record's text could be made
                rec.error = QStringLiteral("not enough memory to measure it");
                rec.point.error = rec.error;
                if (!csv) rec.line = QStringLiteral("{\"error\":\"%1\"}").arg(rec.error);
            }
            {
                std::lock_guard<std::mutex> lock(m);
                done.emplace(i, std::move(rec));
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(jobs));
    for (int t = 0; t < jobs; ++t)
        threads.emplace_back(worker);

    // A closed or full standard output does not stop the run: the table and plot asked for are
    // still written, and the exit status says that the records were lost.
    bool outLost = false;
    int outError = 0;
    // The masks go into their stack in frame order, as the records are printed.
    std::unique_ptr<MaskStackWriter> masks;
    if (!options.masks.isEmpty()) {
        std::vector<MaskFrame> planes;
        for (const SeriesFrame& frame : frames)
            planes.push_back({frame.file, frame.page, series ? std::optional<double>(frame.value) : std::nullopt});
        masks = std::make_unique<MaskStackWriter>(
            options.masks, std::move(planes), valueName(source),
            options.pixelSize > 0 ? options.pixelSize : frames.front().pixelSizeUm,
            QStringLiteral("Tovra %1").arg(QStringLiteral(TOVRA_VERSION)));
    }
    bool masksFailed = false, hdf5Failed = false;
    std::unique_ptr<Hdf5Writer> hdf5;
    if (!options.hdf5.isEmpty())
        hdf5 = std::make_unique<Hdf5Writer>(options.hdf5, frames.size(),
                                            options.pixelSize > 0 ? options.pixelSize : frames.front().pixelSizeUm);
    auto print = [&](const QByteArray& line) {
        if (outLost) return;
        if (std::fprintf(out, "%s\n", line.constData()) < 0 || std::fflush(out) != 0 || std::ferror(out))
            outLost = true, outError = errno;
    };
    // The stream's first line says where it came from; every line after it is a record.
    if (csv) {
        print("# provenance: " + provenanceLine);
        print(QByteArray::fromStdString(measure::recordCsvHeader()));
    } else {
        print("{\"provenance\":" + provenanceLine + "}");
    }
    if (masks) masks->setProvenance(provenanceLine);
    int failed = 0;
    std::vector<SeriesPoint> points;
    // On a terminal, the frames done, a second and the time left, below the records and reports.
    ProgressLine progress(err, static_cast<size_t>(n), "frames");
    for (; printed < n; ++printed) {
        Record rec;
        {
            std::unique_lock<std::mutex> lock(m);
            ready.wait(lock, [&] { return done.count(printed) > 0; });
            auto it = done.find(printed);
            rec = std::move(it->second);
            done.erase(it);
        }
        room.notify_all();
        progress.clear();
        if (!rec.line.isEmpty()) print(printableUtf8(rec.line));
        if (!rec.error.isEmpty()) {
            ++failed;
            say(err, QStringLiteral("%1: %2").arg(frames[static_cast<size_t>(printed)].file, rec.error));
        }
        if (masks && !masksFailed && !masks->add(rec.masks, why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.masks, why));
            masksFailed = true, ++failed;
        }
        if (hdf5 && !hdf5Failed && !hdf5->addMasks(rec.masks, why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.hdf5, why));
            hdf5Failed = true, ++failed;
        }
        if (series) points.push_back(std::move(rec.point));
        progress.show(static_cast<size_t>(printed) + 1);
    }
    progress.clear();
    for (auto& t : threads)
        t.join();
    if (masks && !masksFailed && !masks->finish(why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.masks, why));
        ++failed;
    }
    // The series' table, loop and plot, in frame order, once every frame is done.
    const QString name = valueName(source);
    markSaturated(points);
    const Loop loop = loopOf(points);
    if (!options.loop.isEmpty() &&
        !saveWholeFile(options.loop, loopJson(loop, options.valueUnit, provenanceLine).toUtf8(), &why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.loop, why));
        ++failed;
    }
    if (hdf5 && !hdf5Failed &&
        !hdf5->finish(points, name, options.valueUnit,
                      loop.branches.empty() ? QString() : loopJson(loop, options.valueUnit), provenanceLine, why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.hdf5, why));
        ++failed;
    }
    if (!options.table.isEmpty()) {
        SeriesHeader header{QString::fromStdString(describe(settings)), name, options.valueUnit, {}, {}};
        header.loop = loopComments(loop, options.valueUnit);
        header.provenance = provenanceLine;
        if (rect)
            header.rectangle =
                QStringLiteral("%1 %2 %3 %4").arg(rect->x1).arg(rect->y1).arg(rect->x2).arg(rect->y2);
        if (!saveWholeFile(options.table, seriesTableCsv(points, header).toUtf8(), &why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.table, why));
            ++failed;
        }
    }
    if (!options.plot.isEmpty() &&
        !saveSeriesPlot(options.plot, points, plotTexts(source, options.valueUnit), why, provenanceLine)) {
        say(err, why);
        ++failed;
    }
    if (outLost) {
        say(err, QStringLiteral("standard output could not be written (%1): the records are incomplete")
                     .arg(QString::fromLocal8Bit(std::strerror(outError))));
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace tovra
