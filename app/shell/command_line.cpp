#include "command_line.h"

#include "core/numeric.h"
#include "version.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cmath>

namespace tovra {

std::optional<Options> parseCommandLine(const QStringList& args, QString& message, int& exitCode) {
    // Options of several values ("--contrast LOW HIGH"): the parser takes one, so they are joined.
    const std::pair<const char*, int> multi[] = {
        {"--contrast", 2}, {"--size", 2}, {"--rect", 4}, {"--align-rect", 4}};
    QStringList joined;
    for (qsizetype i = 0; i < args.size(); ++i) {
        bool done = false;
        for (const auto& [name, count] : multi)
            if (args[i] == QLatin1String(name) && i + count < args.size()) {
                joined << QStringLiteral("%1=%2").arg(QLatin1String(name),
                                                      args.mid(i + 1, count).join(QLatin1Char(',')));
                i += count;
                done = true;
                break;
            }
        if (!done) joined << args[i];
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tovra measures micrographs of magnetic domains.\n\n"
        "Without --batch, the program starts with its windows and opens the FILEs given, one per\n"
        "slot from slot 0 (raw images are read as 256 x 256).\n\n"
        "With --batch, it runs a batch script with no window and no display, prints one line per\n"
        "listed file to standard error, and exits 0 only when every file was read, every operation\n"
        "succeeded and every save was written (1 otherwise, 2 when the script or the work folder\n"
        "cannot be used; nothing runs then).\n\n"
        "Without --workdir a batch run works in a private temporary folder that it removes at the\n"
        "end, histogram files (codes 90 and 95) included. With --workdir DIR the histogram files\n"
        "NN_hdat.csv stay in DIR (in DIR/part-K-of-N with --part K/N).\n\n"
        "Files run side by side (--jobs) with the same results and report lines, in list order, as\n"
        "one after another. They run in order when the script carries something from one file to\n"
        "the next: a threshold that codes 90/95 set and code 40 uses before they set it again in\n"
        "the next file, a picture in the list (or as the reference) that sets the size of later\n"
        "files, or two files whose results go to the same name or over another's source."));
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and exit."));
    parser.addOption(version);
    const QCommandLineOption workdir(
        QStringLiteral("workdir"),
        QStringLiteral(
            "Keep the work files in DIR instead of the program's folder (the windows) or a "
            "private temporary folder (--batch). Runs at the same time need folders of their own."),
        QStringLiteral("DIR"));
    const QCommandLineOption batch(QStringLiteral("batch"),
                                   QStringLiteral("Run the batch script SCRIPT headless."),
                                   QStringLiteral("SCRIPT"));
    const QCommandLineOption threshold(QStringLiteral("threshold"),
                                       QStringLiteral("Binarization threshold for code 40 (default 128)."),
                                       QStringLiteral("N"));
    const QCommandLineOption contrast(QStringLiteral("contrast"),
                                      QStringLiteral("Contrast window for code 130 (default 0 255)."),
                                      QStringLiteral("LOW HIGH"));
    const QCommandLineOption raw(
        QStringLiteral("raw-override"),
        QStringLiteral("Read and write every file as a raw image, whatever its name."));
    const QCommandLineOption noDraw(
        QStringLiteral("no-auto-draw"),
        QStringLiteral("Do not redraw after each step (code 100 still draws before saving)."));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
                                  QStringLiteral("Files processed at once (default: one per core)."),
                                  QStringLiteral("N"));
    const QCommandLineOption part(
        QStringLiteral("part"),
        QStringLiteral("Process only share K of N of the file list (files K, K+N, K+2N, ..., K from 1), "
                       "for array jobs on a cluster: with --batch it works in DIR/part-K-of-N; with "
                       "--measure it writes its share's records for --merge."),
        QStringLiteral("K/N"));
    const QCommandLineOption mergeOption(
        QStringLiteral("merge"),
        QStringLiteral("Join the parts of a series measured apart (each the standard output of --measure "
                       "--part K/N, the FILEs here) into what one run gives: the records on standard output, "
                       "and the --table, --plot, --loop and --hdf5 asked for."));
    const QCommandLineOption measureOption(
        QStringLiteral("measure"),
        QStringLiteral(
            "Measure the domains of the FILEs (raw with --size, CSV, BMP, PNG, TIFF, JPEG, GIF; 8 or "
            "16 bits; a folder for its pictures in natural order): one record per frame (every page of "
            "a multi-page TIFF) on standard output, in argument order."));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Width and height of raw images."),
                                  QStringLiteral("W H"));
    const QCommandLineOption background(
        QStringLiteral("background"),
        QStringLiteral("A background image (Kerr): measured is the difference relative to it. A "
                       "multi-page TIFF with a page for each frame gives each frame its own."),
        QStringLiteral("FILE"));
    const QCommandLineOption rect(QStringLiteral("rect"),
                                  QStringLiteral("Measure only columns X1..X2-1 and rows Y1..Y2-1."),
                                  QStringLiteral("X1 Y1 X2 Y2"));
    const QCommandLineOption pixelSize(QStringLiteral("pixel-size"),
                                       QStringLiteral("Micrometres per pixel: widths in micrometres too."),
                                       QStringLiteral("VALUE"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral(
            "json (one JSON object per line after a first line of provenance, the default) or csv."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption values(
        QStringLiteral("values"),
        QStringLiteral("A series: the value of each frame (a field, a time), V1,V2,... in frame order."),
        QStringLiteral("LIST"));
    const QCommandLineOption valuesFile(
        QStringLiteral("values-file"),
        QStringLiteral("A series: the frames' values from FILE, one number a line (or the CSV column "
                       "named by --values-column)."),
        QStringLiteral("FILE"));
    const QCommandLineOption valuesColumn(
        QStringLiteral("values-column"), QStringLiteral("The column of --values-file that holds the values."),
        QStringLiteral("NAME"));
    const QCommandLineOption valuesFromName(
        QStringLiteral("values-from-name"),
        QStringLiteral("A series: each frame's value is the last number in its file's name."));
    const QCommandLineOption valuesFromMetadata(
        QStringLiteral("values-from-metadata"),
        QStringLiteral("A series: each frame's value from its OME-TIFF's or ImageJ TIFF's metadata: the map "
                       "annotation KEY of its plane, or DeltaT for the planes' times (an ImageJ stack's "
                       "frame interval)."),
        QStringLiteral("KEY"));
    const QCommandLineOption masks(
        QStringLiteral("masks"),
        QStringLiteral("Write every frame's binarized domains (0 white, 1 black; the bubbles or the grains "
                       "labelled in a second channel) to FILE.ome.tif, with the pixel size and each "
                       "frame's value."),
        QStringLiteral("FILE"));
    const QCommandLineOption hdf5(
        QStringLiteral("hdf5"),
        QStringLiteral("Write the run to FILE.h5: the frames' records, their masks, the loop and the "
                       "provenance, for h5py and HDF5 viewers."),
        QStringLiteral("FILE"));
    const QCommandLineOption valueUnit(QStringLiteral("value-unit"),
                                       QStringLiteral("The unit of the series' values (mT, s, K)."),
                                       QStringLiteral("UNIT"));
    const QCommandLineOption table(
        QStringLiteral("table"),
        QStringLiteral("A series: write its table (a row a frame, in frame order) to FILE.csv."),
        QStringLiteral("FILE"));
    const QCommandLineOption plot(
        QStringLiteral("plot"),
        QStringLiteral("A series: plot the widths and the net magnetisation against the value to "
                       "FILE.png or FILE.svg."),
        QStringLiteral("FILE"));
    const QCommandLineOption loop(
        QStringLiteral("loop"),
        QStringLiteral("A series: write the loop's parameters (each branch's coercive field, remanence and "
                       "saturation; the coercivity and the exchange bias, with their standard errors) to "
                       "FILE.json."),
        QStringLiteral("FILE"));
    const QCommandLineOption valueNameOption(
        QStringLiteral("value-name"),
        QStringLiteral("A series: what the values are, for the plot's axis and the table (\"μ0H\" gives "
                       "\"μ0H (mT)\" with --value-unit mT)."),
        QStringLiteral("NAME"));
    const QCommandLineOption language(
        QStringLiteral("language"),
        QStringLiteral("A series: the plot's and the table's texts in en (English) or ja (Japanese)."),
        QStringLiteral("en|ja"), QStringLiteral("en"));
    const QCommandLineOption trackOption(
        QStringLiteral("track"),
        QStringLiteral(
            "Measure the FILEs (frames, as --measure takes them) and follow their bubbles from frame "
            "to frame: the records on standard output, the --tracks, --summary, --plot and --table "
            "asked for."));
    const QCommandLineOption maxStep(
        QStringLiteral("max-step"),
        QStringLiteral("--track: the furthest a bubble moves from one frame to the next, in pixels (default: "
                       "half the median distance between nearest neighbours)."),
        QStringLiteral("PX"));
    const QCommandLineOption memory(
        QStringLiteral("memory"),
        QStringLiteral("--track: frames a bubble may be missed and its track go on (default 0)."),
        QStringLiteral("K"));
    const QCommandLineOption tracks(
        QStringLiteral("tracks"),
        QStringLiteral("--track: write the tracks (track_id, frame, value, x_px, y_px, diameter_px; a row a "
                       "bubble and frame) to FILE.csv."),
        QStringLiteral("FILE"));
    const QCommandLineOption summary(
        QStringLiteral("summary"),
        QStringLiteral("--track: write the counts, the drift, the MSD, the diffusion coefficient, the pinned "
                       "share and each frame's lattice order to FILE.json."),
        QStringLiteral("FILE"));
    const QCommandLineOption motionOption(
        QStringLiteral("motion"),
        QStringLiteral(
            "Measure how the walls move between the FILEs' frames (aligned to the first): a record a "
            "step on standard output (the switched areas, the displacement and with durations the "
            "velocity, each with its error), and the --table, --plot, --summary, --fit and "
            "--switching-map asked for."));
    const QCommandLineOption durations(
        QStringLiteral("durations"),
        QStringLiteral("--motion: each step's duration in seconds (the pulse that took frame k to k + 1), "
                       "D1,D2,... one fewer than the frames."),
        QStringLiteral("LIST"));
    const QCommandLineOption durationsFile(
        QStringLiteral("durations-file"),
        QStringLiteral(
            "--motion: the steps' durations from FILE, one number a line (or the CSV column named by "
            "--durations-column)."),
        QStringLiteral("FILE"));
    const QCommandLineOption durationsColumn(
        QStringLiteral("durations-column"), QStringLiteral("The column of --durations-file that holds them."),
        QStringLiteral("NAME"));
    const QCommandLineOption fitOption(
        QStringLiteral("fit"),
        QStringLiteral(
            "--motion: fit the velocities against the field by the creep law, ln v = a - b H^-mu, mu "
            "fixed at 1/4 and free (creep)."),
        QStringLiteral("creep"));
    const QCommandLineOption switchingMap(
        QStringLiteral("switching-map"),
        QStringLiteral(
            "--motion: write each pixel's last switching value to FILE.tif (32-bit float, NaN where it "
            "never switched)."),
        QStringLiteral("FILE"));
    const QCommandLineOption alignRect(
        QStringLiteral("align-rect"),
        QStringLiteral(
            "--motion: align the frames on columns X1..X2-1 and rows Y1..Y2-1 (marks, the sample's "
            "edge) rather than on what --rect measures."),
        QStringLiteral("X1 Y1 X2 Y2"));
    parser.addOptions({trackOption, maxStep, memory, tracks, summary, motionOption, durations, durationsFile,
                       durationsColumn, fitOption, switchingMap, alignRect});
    parser.addOptions(
        {workdir, batch,           threshold,    contrast,           raw,       noDraw,    jobs,
         part,    measureOption,   size,         background,         rect,      pixelSize, format,
         values,  valuesFile,      valuesColumn, valuesFromName,     valueUnit, table,     plot,
         loop,    valueNameOption, language,     valuesFromMetadata, masks,     hdf5,      mergeOption});
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Images to open at start."),
                                 QStringLiteral("[FILE...]"));
    exitCode = 2;
    if (!parser.parse(joined)) {
        message = parser.errorText() + QStringLiteral("\n\n") + parser.helpText();
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        message = parser.helpText();
        exitCode = 0;
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        message = QStringLiteral("Tovra " TOVRA_VERSION);
        exitCode = 0;
        return std::nullopt;
    }
    Options o;
    o.command = args;
    if (!o.command.isEmpty()) o.command.front() = QFileInfo(o.command.front()).fileName();
    o.workFolder = parser.value(workdir);
    o.files = parser.positionalArguments();
    o.batchScript = parser.value(batch);
    o.rawOverride = parser.isSet(raw);
    o.autoDraw = !parser.isSet(noDraw);
    if (parser.isSet(threshold)) {
        o.threshold = parser.value(threshold);
        const auto t = toInt16(o.threshold);
        if (!t || *t < 0 || *t > 255) { // beyond the grey levels the picture comes out one colour
            message =
                QStringLiteral("--threshold needs a whole number from 0 to 255, not \"%1\"").arg(o.threshold);
            return std::nullopt;
        }
    }
    if (parser.isSet(contrast)) {
        const QStringList v = parser.value(contrast).split(QLatin1Char(','));
        if (v.size() != 2 || !toInt16(v[0]) || !toInt16(v[1])) {
            message = QStringLiteral("--contrast needs two whole numbers, LOW and HIGH");
            return std::nullopt;
        }
        o.contrastLow = v[0];
        o.contrastHigh = v[1];
    }
    if (parser.isSet(jobs)) {
        bool ok = false;
        o.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || o.jobs < 1 || o.jobs > 1024) {
            message = QStringLiteral("--jobs needs a whole number from 1 to 1024, not \"%1\"")
                          .arg(parser.value(jobs));
            return std::nullopt;
        }
    }
    if (parser.isSet(part)) {
        const QStringList kn = parser.value(part).split(QLatin1Char('/'));
        bool okK = false, okN = false;
        if (kn.size() == 2) {
            o.part = kn[0].toInt(&okK);
            o.parts = kn[1].toInt(&okN);
        }
        if (!okK || !okN || o.parts < 1 || o.part < 1 || o.part > o.parts) {
            message = QStringLiteral("--part needs K/N with whole numbers 1 <= K <= N, not \"%1\"")
                          .arg(parser.value(part));
            return std::nullopt;
        }
    }
    o.measure = parser.isSet(measureOption);
    o.merge = parser.isSet(mergeOption);
    if (o.measure && o.merge) {
        message = QStringLiteral("--measure and --merge go separately: measure the parts, then merge them");
        return std::nullopt;
    }
    o.track = parser.isSet(trackOption);
    o.motion = parser.isSet(motionOption);
    if (o.motion && (o.measure || o.merge || o.track || o.parts > 1)) {
        message = QStringLiteral(
            "--motion measures its frames itself: it goes without --measure, --merge, --track and --part");
        return std::nullopt;
    }
    if (!o.motion &&
        (parser.isSet(durations) || parser.isSet(durationsFile) || parser.isSet(durationsColumn) ||
         parser.isSet(fitOption) || parser.isSet(switchingMap) || parser.isSet(alignRect))) {
        message =
            QStringLiteral("--durations, --durations-file, --durations-column, --fit, --switching-map and "
                           "--align-rect go with --motion");
        return std::nullopt;
    }
    if (o.motion) {
        o.durations = parser.value(durations), o.durationsFile = parser.value(durationsFile);
        o.durationsColumn = parser.value(durationsColumn), o.fit = parser.value(fitOption);
        o.switchingMap = parser.value(switchingMap), o.summary = parser.value(summary);
        if (parser.isSet(durations) && parser.isSet(durationsFile)) {
            message = QStringLiteral("--durations and --durations-file go one at a time");
            return std::nullopt;
        }
        if (parser.isSet(durationsColumn) && !parser.isSet(durationsFile)) {
            message = QStringLiteral("--durations-column goes with --durations-file");
            return std::nullopt;
        }
        if (parser.isSet(fitOption) && o.fit != QLatin1String("creep")) {
            message = QStringLiteral("--fit takes creep, not \"%1\"").arg(o.fit);
            return std::nullopt;
        }
        if (parser.isSet(switchingMap) &&
            !o.switchingMap.endsWith(QLatin1String(".tif"), Qt::CaseInsensitive) &&
            !o.switchingMap.endsWith(QLatin1String(".tiff"), Qt::CaseInsensitive)) {
            message = QStringLiteral("--switching-map writes FILE.tif, not \"%1\"").arg(o.switchingMap);
            return std::nullopt;
        }
        if (parser.isSet(alignRect)) {
            const QStringList v = parser.value(alignRect).split(QLatin1Char(','));
            bool ok = v.size() == 4;
            for (const QString& t : v) {
                bool good = false;
                o.alignRect.push_back(t.toInt(&good));
                ok = ok && good;
            }
            if (!ok || o.alignRect[2] - o.alignRect[0] < 8 || o.alignRect[3] - o.alignRect[1] < 8) {
                message =
                    QStringLiteral("--align-rect needs four whole numbers X1 Y1 X2 Y2, at least 8 apart");
                return std::nullopt;
            }
        }
        if (parser.isSet(masks) || parser.isSet(hdf5) || parser.isSet(loop) || parser.isSet(format) ||
            parser.isSet(maxStep) || parser.isSet(memory) || parser.isSet(tracks)) {
            message = QStringLiteral(
                "--motion writes JSON records, --table, --plot, --summary and --switching-map");
            return std::nullopt;
        }
    }
    if (o.track && (o.measure || o.merge || o.parts > 1)) {
        message = QStringLiteral(
            "--track measures its frames itself: it goes without --measure, --merge and --part");
        return std::nullopt;
    }
    if (!o.track && (parser.isSet(maxStep) || parser.isSet(memory) || parser.isSet(tracks) ||
                     (parser.isSet(summary) && !o.motion))) {
        message = QStringLiteral(
            "--max-step, --memory and --tracks go with --track, --summary with --track or --motion");
        return std::nullopt;
    }
    if (o.track) {
        if (parser.isSet(maxStep)) {
            bool ok = false;
            o.maxStep = parser.value(maxStep).toDouble(&ok);
            if (!ok || !(o.maxStep > 0) || !(o.maxStep <= 1e6)) {
                message =
                    QStringLiteral(
                        "--max-step needs a number of pixels above 0 (and at most a million), not \"%1\"")
                        .arg(parser.value(maxStep));
                return std::nullopt;
            }
        }
        if (parser.isSet(memory)) {
            bool ok = false;
            o.memory = parser.value(memory).toInt(&ok);
            if (!ok || o.memory < 0 || o.memory > 1000) {
                message = QStringLiteral("--memory needs a whole number of frames from 0 to 1000, not \"%1\"")
                              .arg(parser.value(memory));
                return std::nullopt;
            }
        }
        o.tracks = parser.value(tracks), o.summary = parser.value(summary);
        if (parser.isSet(masks) || parser.isSet(hdf5) || parser.isSet(loop) || parser.isSet(format)) {
            message = QStringLiteral("--track writes JSON records, --tracks, --summary, --plot and --table");
            return std::nullopt;
        }
    }
    if (o.measure || o.merge || o.track || o.motion) {
        auto whole = [&](const QCommandLineOption& opt, int count, std::vector<int>& out) {
            if (!parser.isSet(opt)) return true;
            const QStringList v = parser.value(opt).split(QLatin1Char(','));
            out.clear();
            bool ok = v.size() == count;
            for (const QString& t : v) {
                bool good = false;
                out.push_back(t.toInt(&good));
                ok = ok && good;
            }
            if (!ok)
                message = QStringLiteral("--%1 needs %2 whole numbers").arg(opt.names().first()).arg(count);
            return ok;
        };
        if (!whole(size, 2, o.size) || !whole(rect, 4, o.rect)) return std::nullopt;
        if (!o.size.empty() && (o.size[0] < 1 || o.size[1] < 1)) {
            message = QStringLiteral("--size needs a width and a height from 1");
            return std::nullopt;
        }
        o.background = parser.value(background);
        if (parser.isSet(pixelSize)) {
            bool ok = false;
            o.pixelSize = parser.value(pixelSize).toDouble(&ok);
            if (!ok || !(o.pixelSize > 0) || !std::isfinite(o.pixelSize)) {
                message = QStringLiteral("--pixel-size needs a number above 0");
                return std::nullopt;
            }
        }
        o.format = parser.isSet(format) ? parser.value(format) : QStringLiteral("json");
        if (o.format != QLatin1String("json") && o.format != QLatin1String("csv")) {
            message = QStringLiteral("--format is json or csv");
            return std::nullopt;
        }
        o.values = parser.value(values), o.valuesFile = parser.value(valuesFile);
        o.valuesColumn = parser.value(valuesColumn), o.valuesFromName = parser.isSet(valuesFromName);
        o.valueUnit = parser.value(valueUnit), o.table = parser.value(table), o.plot = parser.value(plot);
        o.loop = parser.value(loop);
        o.valuesFromMetadata = parser.value(valuesFromMetadata), o.masks = parser.value(masks);
        o.hdf5 = parser.value(hdf5);
        if (parser.isSet(valuesFromMetadata) && o.valuesFromMetadata.trimmed().isEmpty()) {
            message = QStringLiteral("--values-from-metadata needs a key (or DeltaT)");
            return std::nullopt;
        }
        if (parser.isSet(masks) && !o.masks.endsWith(QLatin1String(".tif"), Qt::CaseInsensitive) &&
            !o.masks.endsWith(QLatin1String(".tiff"), Qt::CaseInsensitive)) {
            message = QStringLiteral("--masks writes FILE.ome.tif, not \"%1\"").arg(o.masks);
            return std::nullopt;
        }
        o.valueName = parser.value(valueNameOption), o.language = parser.value(language);
        if (o.language != QLatin1String("en") && o.language != QLatin1String("ja")) {
            message = QStringLiteral("--language is en or ja, not \"%1\"").arg(o.language);
            return std::nullopt;
        }
        if (int(parser.isSet(values)) + int(parser.isSet(valuesFile)) + int(o.valuesFromName) +
                int(parser.isSet(valuesFromMetadata)) >
            1) {
            message = QStringLiteral(
                "--values, --values-file, --values-from-name and --values-from-metadata go one at a time");
            return std::nullopt;
        }
        if (parser.isSet(values) && o.values.isEmpty()) {
            message = QStringLiteral("--values needs a list of numbers");
            return std::nullopt;
        }
        if (parser.isSet(valuesColumn) && o.valuesFile.isEmpty()) {
            message = QStringLiteral("--values-column goes with --values-file");
            return std::nullopt;
        }
        const QString plotSuffix = QFileInfo(o.plot).suffix().toLower();
        if (parser.isSet(plot) && plotSuffix != QLatin1String("png") && plotSuffix != QLatin1String("svg") &&
            plotSuffix != QLatin1String("pdf")) {
            message = QStringLiteral("--plot writes FILE.png, FILE.svg or FILE.pdf, not \"%1\"").arg(o.plot);
            return std::nullopt;
        }
        if (o.files.isEmpty()) {
            message = o.merge    ? QStringLiteral("--merge needs the parts' records")
                      : o.track  ? QStringLiteral("--track needs the frames' image files")
                      : o.motion ? QStringLiteral("--motion needs the frames' image files")
                                 : QStringLiteral("--measure needs at least one image file");
            return std::nullopt;
        }
        // A part writes its records alone; the merge makes the rest from the parts.
        if (o.measure && o.parts > 1 &&
            (!o.table.isEmpty() || !o.plot.isEmpty() || !o.loop.isEmpty() || !o.hdf5.isEmpty() ||
             o.format != QLatin1String("json"))) {
            message =
                QStringLiteral("with --part a run writes its share's records (JSON) to standard output and "
                               "its masks (--masks); --merge joins the parts into the table, plot, loop, "
                               "masks and HDF5");
            return std::nullopt;
        }
        if (o.merge &&
            (parser.isSet(size) || parser.isSet(rect) || parser.isSet(background) ||
             parser.isSet(pixelSize) || parser.isSet(format) || parser.isSet(values) ||
             parser.isSet(valuesFile) || parser.isSet(valuesColumn) || parser.isSet(valuesFromName) ||
             parser.isSet(valuesFromMetadata) || parser.isSet(valueUnit) || parser.isSet(valueNameOption) ||
             parser.isSet(language) || parser.isSet(part) || parser.isSet(jobs))) {
            message =
                QStringLiteral("--merge takes the parts' settings from the parts: only --table, --plot, "
                               "--loop, --masks and --hdf5 go with it");
            return std::nullopt;
        }
        if (!o.batchScript.isEmpty()) {
            message = QStringLiteral("--measure, --track and --batch go separately");
            return std::nullopt;
        }
    } else if (parser.isSet(size) || parser.isSet(rect) || parser.isSet(background) ||
               parser.isSet(pixelSize) || parser.isSet(format) || parser.isSet(values) ||
               parser.isSet(valuesFile) || parser.isSet(valuesColumn) || parser.isSet(valuesFromName) ||
               parser.isSet(valueUnit) || parser.isSet(table) || parser.isSet(plot) || parser.isSet(loop) ||
               parser.isSet(valueNameOption) || parser.isSet(language) || parser.isSet(valuesFromMetadata) ||
               parser.isSet(masks) || parser.isSet(hdf5)) {
        message =
            QStringLiteral("--size, --rect, --background, --pixel-size, --format and the series' "
                           "options go with --measure (--table, --plot, --loop and --hdf5 with --merge too)");
        return std::nullopt;
    }
    if ((parser.isSet(jobs) || parser.isSet(part)) && o.batchScript.isEmpty() && !o.measure && !o.track &&
        !o.motion) {
        message = QStringLiteral("--jobs and --part go with --batch or --measure (--jobs with --track too)");
        return std::nullopt;
    }
    if (!o.batchScript.isEmpty() && !o.files.isEmpty()) {
        message = QStringLiteral("--batch takes no image files; list them in the script");
        return std::nullopt;
    }
    return o;
}

} // namespace tovra
