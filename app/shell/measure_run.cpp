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
#include "measure/tiff_page.h"
#include "measure/track_plot.h"
#include "progress_line.h"

#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
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
    MaskPlanes masks;                         // where --masks asks for them
    std::vector<measure::TrackPoint> bubbles; // where --track follows them
};

} // namespace

void say(std::FILE* err, const QString& text) {
    std::fprintf(err, "%s\n", printableUtf8(text).constData());
}

QString outputConflict(const std::vector<std::pair<QString, QString>>& outputs, QStringList inputs) {
    inputs.removeAll(QString());
    inputs.removeDuplicates();
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
    for (size_t i = 0; i < outputs.size(); ++i)
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            const QString &a = outputs[i].second, &b = outputs[j].second;
            if (!a.isEmpty() && !b.isEmpty() &&
                (sameFile(a, b) || QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath()))
                return QStringLiteral("%1 and %2 name one file, %3")
                    .arg(outputs[i].first, outputs[j].first, a);
        }
    return {};
}

namespace {

// The outputs of a measurement or a tracking against its inputs (frames, background, values file).
QString measureOutputConflict(const Options& options, const std::vector<SeriesFrame>& frames) {
    QStringList inputs{options.background, options.valuesFile};
    for (const SeriesFrame& frame : frames)
        if (inputs.isEmpty() || inputs.back() != frame.file) inputs << frame.file;
    return outputConflict({{QStringLiteral("--table"), options.table},
                           {QStringLiteral("--plot"), options.plot},
                           {QStringLiteral("--loop"), options.loop},
                           {QStringLiteral("--masks"), options.masks},
                           {QStringLiteral("--hdf5"), options.hdf5},
                           {QStringLiteral("--tracks"), options.tracks},
                           {QStringLiteral("--summary"), options.summary}},
                          inputs);
}

// The series' loop, HDF5 rows, table and plot, in frame order, once every frame is done: how many
// could not be written, each said.
int writeSeriesOutputs(const Options& options, std::vector<SeriesPoint>& points, const ValueSource& source,
                       const QString& settingsText, const QString& rectangle,
                       const QByteArray& provenanceLine, Hdf5Writer* hdf5, std::FILE* err) {
    int failed = 0;
    QString why;
    const QString name = valueName(source);
    markSaturated(points);
    const Loop loop = loopOf(points);
    if (!options.loop.isEmpty() &&
        !saveWholeFile(options.loop, loopJson(loop, options.valueUnit, provenanceLine).toUtf8(), &why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.loop, why));
        ++failed;
    }
    if (hdf5 && !hdf5->finish(points, name, options.valueUnit,
                              loop.branches.empty() ? QString() : loopJson(loop, options.valueUnit),
                              provenanceLine, why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.hdf5, why));
        ++failed;
    }
    if (!options.table.isEmpty()) {
        SeriesHeader header{settingsText, name, options.valueUnit, rectangle, {}};
        header.loop = loopComments(loop, options.valueUnit);
        header.provenance = provenanceLine;
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
    return failed;
}

// A tracking's outputs once every frame is measured: the frames must have one size; the tracks, the
// summary and the plot asked for. How many could not be written, or -1 where the frames cannot be
// tracked (said).
int writeTrackOutputs(const Options& options, const std::vector<SeriesPoint>& points,
                      const std::vector<std::vector<measure::TrackPoint>>& bubbles, bool valuesGiven,
                      const QByteArray& provenanceLine, std::FILE* err) {
    const SeriesPoint* first = nullptr;
    for (const SeriesPoint& p : points) {
        if (p.width <= 0) continue;
        if (!first) first = &p;
        if (p.width != first->width || p.height != first->height) {
            say(err, QStringLiteral("%1 is %2 x %3, %4 is %5 x %6: a track needs frames of one size")
                         .arg(p.file)
                         .arg(p.width)
                         .arg(p.height)
                         .arg(first->file)
                         .arg(first->width)
                         .arg(first->height));
            return -1;
        }
    }
    std::vector<double> values;
    if (valuesGiven)
        for (const SeriesPoint& p : points)
            values.push_back(p.value);
    const measure::Tracks t = measure::linkTracks(bubbles, values, {options.maxStep, options.memory});
    if (!t.error.empty()) {
        say(err, QString::fromStdString(t.error));
        return -1;
    }
    const double um = options.pixelSize > 0 ? options.pixelSize : (first ? first->pixelSizeUm : 0);
    int failed = 0;
    QString why;
    if (!options.tracks.isEmpty() &&
        !saveWholeFile(options.tracks, QByteArray::fromStdString(measure::tracksCsv(bubbles, t, values, um)),
                       &why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.tracks, why));
        ++failed;
    }
    if (!options.summary.isEmpty()) {
        const std::string summary =
            measure::tracksSummaryJson(t, values, um, trackFrameDetails(points).toStdString());
        const QByteArray text =
            "{\"provenance\":" + provenanceLine + "," + QByteArray::fromStdString(summary.substr(1)) + "\n";
        if (!saveWholeFile(options.summary, text, &why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.summary, why));
            ++failed;
        }
    }
    if (!options.plot.isEmpty()) {
        TrackPlotData data{first ? first->width : 0, first ? first->height : 0, &bubbles, &t, -1};
        if (!saveTrackPlot(options.plot, data,
                           trackPlotTexts(options.language == QLatin1String("ja"),
                                          valuesGiven ? options.valueUnit : QString()),
                           why, provenanceLine)) {
            say(err, why);
            ++failed;
        }
    }
    return failed;
}

// Where the frames' values come from, as the provenance says it.
QString valuesSource(const Options& o) {
    if (!o.values.isEmpty()) return QStringLiteral("list %1").arg(o.values);
    if (!o.valuesFile.isEmpty())
        return o.valuesColumn.isEmpty()
                   ? QStringLiteral("file %1").arg(o.valuesFile)
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
    // A part is always one of a series, its frames' values those of the whole.
    const bool series = options.series() || options.parts > 1;
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
    if (const QString conflict = measureOutputConflict(options, frames); !conflict.isEmpty()) {
        say(err, conflict);
        return 2;
    }
    // A part of a series (an array job's share): frames K, K + N, K + 2N, ... of the whole list,
    // their values those of the whole series.
    const size_t total = frames.size();
    if (options.parts > 1) {
        std::vector<SeriesFrame> share;
        for (size_t i = static_cast<size_t>(options.part) - 1; i < frames.size();
             i += static_cast<size_t>(options.parts))
            share.push_back(std::move(frames[i]));
        frames = std::move(share);
        if (frames.empty()) {
            say(err, QStringLiteral("--part %1/%2: the series has only %3 frames")
                         .arg(options.part)
                         .arg(options.parts)
                         .arg(total));
            return 2;
        }
    }
    // Where every export came from: the command line, the settings and the inputs' digests.
    QStringList files;
    for (const SeriesFrame& frame : frames)
        files << frame.file;
    const measure::Settings settings;
    const QString settingsText = QString::fromStdString(describe(settings));
    RunSettings run{settingsText,          options.rect,      options.size,      options.pixelSize,
                    valuesSource(options), valueName(source), options.valueUnit, options.language};
    Provenance provenance =
        provenanceOf(options.command, {}, settingsJson(run), files, options.background, options.valuesFile);
    if (options.parts > 1)
        provenance.part = QJsonObject{{QStringLiteral("k"), options.part},
                                      {QStringLiteral("n"), options.parts},
                                      {QStringLiteral("frames"), static_cast<double>(total)}};
    // A part's masks, for the merge to join: where they are, wherever the merge runs.
    if (options.parts > 1 && !options.masks.isEmpty())
        provenance.part[QStringLiteral("masks")] = QFileInfo(options.masks).absoluteFilePath();
    const QByteArray provenanceLine = provenance.line();
    std::optional<measure::Rect> rect;
    if (options.rect.size() == 4)
        rect = measure::Rect{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
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
        // A part hands the merge its point to the last digit, after the record's own fields.
        if (options.parts > 1 && rec.line.endsWith(QLatin1Char('}')))
            rec.line = rec.line.left(rec.line.size() - 1) + QStringLiteral(",\"part_point\":") +
                       QString::fromUtf8(pointJson(rec.point)) + QLatin1Char('}');
        if (!options.masks.isEmpty() || !options.hdf5.isEmpty()) rec.masks = maskPlanesOf(r);
        if (options.track) rec.bubbles = trackPoints(r);
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
    // The masks go into their stack in frame order, as the records are printed, with the pixel
    // size given or the first frame's.
    const double maskUm = options.pixelSize > 0 ? options.pixelSize : frames.front().pixelSizeUm;
    std::unique_ptr<MaskStackWriter> masks;
    if (!options.masks.isEmpty()) {
        std::vector<MaskFrame> planes;
        planes.reserve(frames.size());
        for (const SeriesFrame& frame : frames)
            planes.push_back(
                {frame.file, frame.page, series ? std::optional<double>(frame.value) : std::nullopt});
        masks = std::make_unique<MaskStackWriter>(options.masks, std::move(planes), valueName(source), maskUm,
                                                  provenanceLine);
    }
    bool masksFailed = false, hdf5Failed = false;
    std::unique_ptr<Hdf5Writer> hdf5;
    if (!options.hdf5.isEmpty()) hdf5 = std::make_unique<Hdf5Writer>(options.hdf5, frames.size(), maskUm);
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
    int failed = 0;
    std::vector<SeriesPoint> points;
    std::vector<std::vector<measure::TrackPoint>> bubbles; // --track: each frame's
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
        if (options.track) bubbles.push_back(std::move(rec.bubbles));
        progress.show(static_cast<size_t>(printed) + 1);
    }
    progress.clear();
    for (auto& t : threads)
        t.join();
    if (masks && !masksFailed && !masks->finish(why)) {
        say(err, QStringLiteral("%1 cannot be written: %2").arg(options.masks, why));
        ++failed;
    }
    QString rectangle;
    if (rect)
        rectangle = QStringLiteral("%1 %2 %3 %4").arg(rect->x1).arg(rect->y1).arg(rect->x2).arg(rect->y2);
    if (options.track) {
        // The plot a tracking draws is its own; the table is the series'.
        const int written =
            writeTrackOutputs(options, points, bubbles,
                              !valuesSource(options).startsWith(QLatin1String("frame")), provenanceLine, err);
        if (written < 0) return 2;
        failed += written;
        Options seriesOnly = options;
        seriesOnly.plot.clear();
        failed += writeSeriesOutputs(seriesOnly, points, source, settingsText, rectangle, provenanceLine,
                                     nullptr, err);
    } else if (series) {
        failed += writeSeriesOutputs(options, points, source, settingsText, rectangle, provenanceLine,
                                     hdf5Failed ? nullptr : hdf5.get(), err);
    }
    if (outLost) {
        say(err, QStringLiteral("standard output could not be written (%1): the records are incomplete")
                     .arg(QString::fromLocal8Bit(std::strerror(outError))));
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

namespace {

// One part's stream as the merge reads it.
struct Part {
    QString file;
    QJsonObject provenance;
    int k = 0, n = 0;
    qint64 frames = 0;
    QString masks; // the part's masks (--masks), or empty
    PictureLayout masksLayout;
    std::vector<std::pair<QByteArray, SeriesPoint>> records; // the record's line, its point
};

// A part's stream: its first line the provenance with the part's place, then a record a line, each
// with its point to the last digit. Empty `why` when it is one.
Part readPart(const QString& path, QString& why) {
    Part part;
    part.file = path;
    const std::optional<QByteArray> bytes = readRegularFile(path, why);
    if (!bytes) return part;
    const QList<QByteArray> lines = bytes->split('\n');
    const QJsonObject first = QJsonDocument::fromJson(lines.value(0)).object();
    part.provenance = first.value(QStringLiteral("provenance")).toObject();
    const QJsonObject place = part.provenance.value(QStringLiteral("part")).toObject();
    part.k = place.value(QStringLiteral("k")).toInt(), part.n = place.value(QStringLiteral("n")).toInt();
    part.frames = static_cast<qint64>(place.value(QStringLiteral("frames")).toDouble());
    part.masks = place.value(QStringLiteral("masks")).toString();
    if (part.n < 2 || part.k < 1 || part.k > part.n || part.frames < 1) {
        why = QStringLiteral("is not the records of a part (Tovra --measure --part K/N)");
        return part;
    }
    static const QByteArray marker = ",\"part_point\":";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.trimmed().isEmpty()) continue;
        const qsizetype at = line.lastIndexOf(marker);
        const std::optional<SeriesPoint> point =
            at > 0 && line.endsWith('}')
                ? pointFromJson(line.mid(at + marker.size(), line.size() - at - marker.size() - 1))
                : std::nullopt;
        if (!point) {
            why = QStringLiteral("line %1 is not a part's record").arg(i + 1);
            return part;
        }
        part.records.emplace_back(line.left(at) + '}', *point);
    }
    const qint64 share = (part.frames - part.k) / part.n + 1;
    if (static_cast<qint64>(part.records.size()) != share) {
        why = QStringLiteral("holds %1 records of the %2 its share has: the part did not finish")
                  .arg(part.records.size())
                  .arg(share);
        return part;
    }
    if (!part.masks.isEmpty()) {
        part.masksLayout = pictureLayout(part.masks);
        if (!part.masksLayout.error.isEmpty() || part.masksLayout.pages != 2 * share ||
            part.masksLayout.metadata.kind != QLatin1String("OME"))
            why = QStringLiteral("names its masks %1, which are not the part's").arg(part.masks);
    }
    return part;
}

// Frame j of a part's masks, as the part wrote it.
MaskPlanes partMasks(const Part& part, size_t j, double blackFraction) {
    MaskPlanes planes;
    planes.blackFraction = blackFraction;
    const size_t domains = 2 * j, labels = 2 * j + 1;
    const std::vector<PlaneMetadata>& meta = part.masksLayout.metadata.planes;
    if (domains < meta.size() && meta[domains].values.contains(QStringLiteral("error"))) {
        planes.error = meta[domains].values.value(QStringLiteral("error"));
        return planes;
    }
    QString why;
    const std::optional<measure::Image> a =
        readTiffDirectory(part.masks, part.masksLayout.directories[domains], why);
    const std::optional<measure::Image> b =
        readTiffDirectory(part.masks, part.masksLayout.directories[labels], why);
    if (!a || !b || a->px.size() != b->px.size()) {
        planes.error = QStringLiteral("its mask cannot be read: %1").arg(why);
        return planes;
    }
    planes.width = a->width, planes.height = a->height;
    for (float v : a->px)
        planes.black.push_back(static_cast<uint8_t>(v));
    for (float v : b->px)
        planes.labels.push_back(static_cast<uint16_t>(v));
    return planes;
}

// The part's command as the whole run's: without what only the part has (--part K/N, its masks'
// file, its jobs), which may differ from part to part.
QJsonArray wholeCommand(const QJsonArray& command) {
    static const QStringList ownOptions = {QStringLiteral("--part"), QStringLiteral("--masks"),
                                           QStringLiteral("--jobs")};
    QJsonArray whole;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QString a = command[i].toString();
        if (ownOptions.contains(a)) {
            ++i;
            continue;
        }
        if (std::none_of(ownOptions.begin(), ownOptions.end(),
                         [&](const QString& o) { return a.startsWith(o + QLatin1Char('=')); }))
            whole.append(a);
    }
    return whole;
}

} // namespace

int runMerge(const Options& options, std::FILE* out, std::FILE* err) {
    std::vector<Part> parts;
    for (const QString& file : options.files) {
        QString why;
        parts.push_back(readPart(file, why));
        if (!why.isEmpty()) {
            say(err, QStringLiteral("%1 %2").arg(file, why));
            return 2;
        }
    }
    // Parts of one run: the same version, settings, count of parts and frames, each part once.
    const Part& first = parts.front();
    const QJsonObject settings = first.provenance.value(QStringLiteral("settings")).toObject();
    std::vector<const Part*> byK(static_cast<size_t>(first.n) + 1, nullptr);
    for (const Part& p : parts) {
        auto differs = [&](const QString& what) {
            say(err, QStringLiteral("%1 and %2 are parts of different runs: %3 differs")
                         .arg(first.file, p.file, what));
            return 2;
        };
        if (p.n != first.n) return differs(QStringLiteral("the count of parts"));
        if (p.frames != first.frames) return differs(QStringLiteral("the count of frames"));
        if (p.provenance.value(QStringLiteral("version")) !=
            first.provenance.value(QStringLiteral("version")))
            return differs(QStringLiteral("the program's version"));
        const QJsonObject s = p.provenance.value(QStringLiteral("settings")).toObject();
        for (const QString& key : settings.keys() + s.keys())
            if (s.value(key) != settings.value(key))
                return differs(QStringLiteral("the setting %1").arg(key));
        if (wholeCommand(p.provenance.value(QStringLiteral("command")).toArray()) !=
            wholeCommand(first.provenance.value(QStringLiteral("command")).toArray()))
            return differs(QStringLiteral("the command line"));
        if (byK[static_cast<size_t>(p.k)]) {
            say(err, QStringLiteral("%1 and %2 are both part %3/%4")
                         .arg(byK[static_cast<size_t>(p.k)]->file, p.file)
                         .arg(p.k)
                         .arg(p.n));
            return 2;
        }
        byK[static_cast<size_t>(p.k)] = &p;
    }
    for (int k = 1; k <= first.n; ++k)
        if (!byK[static_cast<size_t>(k)]) {
            say(err, QStringLiteral("part %1/%2 is missing").arg(k).arg(first.n));
            return 2;
        }
    if (!options.masks.isEmpty() &&
        std::any_of(parts.begin(), parts.end(), [](const Part& p) { return p.masks.isEmpty(); })) {
        say(err, QStringLiteral("--masks: not every part wrote its masks (--masks with --part)"));
        return 2;
    }
    // The frames in their order again, and the inputs as the whole run lists them: the frames' files
    // in frame order, then the background and the values file.
    std::vector<std::pair<QByteArray, SeriesPoint>> records;
    std::map<QString, QJsonObject> digests;
    std::vector<QJsonObject> others;
    for (qint64 i = 0; i < first.frames; ++i) {
        const Part& p = *byK[static_cast<size_t>(i % first.n) + 1];
        records.push_back(p.records[static_cast<size_t>(i / first.n)]);
    }
    for (const Part& p : parts)
        for (const auto& v : p.provenance.value(QStringLiteral("inputs")).toArray()) {
            const QJsonObject input = v.toObject();
            if (input.value(QStringLiteral("role")).toString() == QLatin1String("frame"))
                digests[input.value(QStringLiteral("file")).toString()] = input;
            else if (&p == &first)
                others.push_back(input);
        }
    QJsonArray inputs;
    QSet<QString> listed;
    for (const auto& [line, point] : records)
        if (!listed.contains(point.file)) listed.insert(point.file), inputs.append(digests[point.file]);
    for (const QJsonObject& o : others)
        inputs.append(o);
    QJsonObject provenance = first.provenance;
    provenance.remove(QStringLiteral("part"));
    provenance[QStringLiteral("command")] =
        wholeCommand(first.provenance.value(QStringLiteral("command")).toArray());
    provenance[QStringLiteral("inputs")] = inputs;
    provenance[QStringLiteral("time")] = provenanceTime();
    const QByteArray provenanceLine = QJsonDocument(provenance).toJson(QJsonDocument::Compact);

    bool outLost = std::fprintf(out, "{\"provenance\":%s}\n", provenanceLine.constData()) < 0;
    std::vector<SeriesPoint> points;
    int failed = 0;
    for (auto& [line, point] : records) {
        outLost = outLost || std::fprintf(out, "%s\n", line.constData()) < 0;
        if (!point.error.isEmpty()) ++failed;
        points.push_back(std::move(point));
    }
    outLost = outLost || std::fflush(out) != 0 || std::ferror(out);
    // The series' outputs as the whole run makes them, from the settings it had.
    ValueSource source;
    source.name = settings.value(QStringLiteral("value_name")).toString();
    source.language = settings.value(QStringLiteral("language")).toString() == QLatin1String("ja")
                          ? Language::Japanese
                          : Language::English;
    Options o = options;
    o.valueUnit = settings.value(QStringLiteral("value_unit")).toString();
    QString rectangle;
    const QJsonArray rect = settings.value(QStringLiteral("rect")).toArray();
    if (rect.size() == 4)
        rectangle = QStringLiteral("%1 %2 %3 %4")
                        .arg(rect[0].toInt())
                        .arg(rect[1].toInt())
                        .arg(rect[2].toInt())
                        .arg(rect[3].toInt());
    // The masks, where every part wrote its own: joined in frame order into the stack and the HDF5.
    const bool haveMasks =
        std::all_of(parts.begin(), parts.end(), [](const Part& p) { return !p.masks.isEmpty(); });
    const double maskUm = haveMasks ? first.masksLayout.metadata.pixelSizeUm : 0.0;
    std::unique_ptr<Hdf5Writer> hdf5;
    if (!options.hdf5.isEmpty()) hdf5 = std::make_unique<Hdf5Writer>(options.hdf5, points.size(), maskUm);
    std::unique_ptr<MaskStackWriter> masks;
    if (!options.masks.isEmpty()) {
        std::vector<MaskFrame> described;
        described.reserve(points.size());
        for (const SeriesPoint& p : points)
            described.push_back({p.file, p.page, p.value});
        masks = std::make_unique<MaskStackWriter>(options.masks, std::move(described), valueName(source),
                                                  maskUm, provenanceLine);
    }
    if (haveMasks && (masks || hdf5)) {
        QString why;
        for (size_t i = 0; i < points.size(); ++i) {
            const Part& p = *byK[i % static_cast<size_t>(first.n) + 1];
            const MaskPlanes planes = partMasks(p, i / static_cast<size_t>(first.n), points[i].blackFraction);
            if (masks && !masks->add(planes, why)) {
                say(err, QStringLiteral("%1 cannot be written: %2").arg(options.masks, why));
                masks.reset(), ++failed;
            }
            if (hdf5 && !hdf5->addMasks(planes, why)) {
                say(err, QStringLiteral("%1 cannot be written: %2").arg(options.hdf5, why));
                hdf5.reset(), ++failed;
            }
        }
        if (masks && !masks->finish(why)) {
            say(err, QStringLiteral("%1 cannot be written: %2").arg(options.masks, why));
            ++failed;
        }
    } else if (hdf5) {
        say(err, QStringLiteral("%1: the parts wrote no masks (--masks with --part), so it holds none")
                     .arg(options.hdf5));
    }
    failed += writeSeriesOutputs(o, points, source, settings.value(QStringLiteral("measurement")).toString(),
                                 rectangle, provenanceLine, hdf5.get(), err);
    if (outLost) {
        say(err, QStringLiteral("standard output could not be written: the records are incomplete"));
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace tovra
