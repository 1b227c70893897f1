// Where an export came from: the program and its version, the command line (or the window and
// its settings), every setting that changes a number, each input file with its size and SHA-256,
// and the time. Two runs with the same inputs and settings give the same provenance but for its
// time. Every table, record stream, plot, mask stack and HDF5 file carries it.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace tovra {

struct InputFile {
    QString role; // "frame", "background", "values"
    QString file;
    qint64 bytes = -1;
    QString sha256; // empty where the file cannot be read
};
// A file's size and SHA-256, read in pieces.
InputFile inputFile(const QString& role, const QString& path);

struct Provenance {
    QStringList command;  // the program's arguments, or empty for a window
    QString window;       // the window that made it, or empty for the command line
    QJsonObject settings; // every setting that changes a number
    std::vector<InputFile> inputs;
    QString time;     // ISO 8601, UTC, to the second
    QJsonObject part; // a part of a series (--part K/N): {"k", "n", "frames"}; empty for a whole run

    QJsonObject json() const;
    // On one line, for a table's comment, a record stream's first line and the plots' metadata.
    QByteArray line() const;
};

// The settings that change a run's numbers, as the provenance lists them: the measurement's
// (describe()), the rectangle (empty for the whole pictures), the pixel size given (0: as the files
// state), a raw picture's size, where the values come from and what they are.
struct RunSettings {
    QString measurement;
    std::vector<int> rect, size;
    double pixelSizeUm = 0;
    QString values, valueName, valueUnit;
    QString language = QStringLiteral("en"); // of the table's and the plot's texts
};
QJsonObject settingsJson(const RunSettings& s);

// Now, as a provenance gives its time: ISO 8601, UTC, to the second.
QString provenanceTime();

// The provenance of a run over `files` (each hashed once), the background's and the values
// file's beside them where given, at the time now.
Provenance provenanceOf(const QStringList& command, const QString& window, const QJsonObject& settings,
                        const QStringList& files, const QString& background, const QString& valuesFile);

} // namespace tovra
