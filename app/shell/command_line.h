// The program's command line.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tovra {

struct Options {
    QString workFolder;  // empty: the program's own folder, or the user's data folder when installed
    QStringList files;   // opened at start, one per slot from slot 0
    QStringList command; // the arguments as given, the program by its name alone
    // Headless batch run: the script, and the toolbox settings it runs with.
    QString batchScript;
    QString threshold = QStringLiteral("128");
    QString contrastLow = QStringLiteral("0"), contrastHigh = QStringLiteral("255");
    bool rawOverride = false;
    bool autoDraw = true;
    int jobs = 0;            // files at once; 0: one per core
    int part = 1, parts = 1; // this run's share of the list: every parts-th file from the part-th
    // Measurement of the files given, without windows.
    bool measure = false;
    bool merge = false;    // the files are parts of a series' run (--measure --part K/N) to join
    std::vector<int> size; // width, height of raw images
    std::vector<int> rect; // x1, y1, x2, y2
    QString background;
    double pixelSize = 0; // micrometres per pixel; 0 for none
    QString format = QStringLiteral("json");
    // A series: where each frame's value comes from, its unit, and the table and plot of it.
    QString values, valuesFile, valuesColumn, valueUnit, table, plot, loop;
    QString valuesFromMetadata;              // a map annotation's key, or DeltaT
    QString masks;                           // the frames' binarized domains as an OME-TIFF
    QString hdf5;                            // the run's records, masks, loop and provenance as HDF5
    QString valueName;                       // what the values are called on the plot and in the table
    QString language = QStringLiteral("en"); // of the plot's and the table's texts: en or ja
    bool valuesFromName = false;
    // Bubbles followed through the frames: the largest step (0: from their spacing), the frames one
    // may be missed, and the tracks' table and the summary.
    bool track = false;
    double maxStep = 0;
    int memory = 0;
    QString tracks, summary;
    // Walls moving between frames: each step's duration (a list, or a file and its column), the
    // creep fit, the switching-field map, and where the frames are aligned.
    bool motion = false;
    QString durations, durationsFile, durationsColumn, fit, switchingMap;
    std::vector<int> alignRect; // x1, y1, x2, y2
    bool series() const {
        return !values.isEmpty() || !valuesFile.isEmpty() || valuesFromName || !table.isEmpty() ||
               !plot.isEmpty() || !loop.isEmpty() || !valuesFromMetadata.isEmpty() || !masks.isEmpty() ||
               !hdf5.isEmpty() || track || motion;
    }
};

// Reads the arguments (the program's name first). Nothing, with `message` set, when the program
// should not start: `exitCode` is then 0 for --help and 2 for a wrong command line.
std::optional<Options> parseCommandLine(const QStringList& args, QString& message, int& exitCode);

} // namespace tovra
