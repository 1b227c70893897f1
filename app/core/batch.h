// Batch scripts (".tvs"): a header (width, height, working slot, reference slot, reference
// image), a list of operation codes and a list of image files, each list closed by a line whose
// value is 0. Every file is opened into the working slot, every operation applied to it in turn,
// and the results saved next to it under the same base name.
#pragma once

#include "module.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace tovra {

struct Script {
    QString width, height, slot; // written into the information window as they stand
    int16_t referenceSlot = 0;
    QString referenceName;
    std::vector<int16_t> operations;
    QStringList files;
};

// Reads a script's text. Lines may end in CR LF or LF. A list that the text ends before its closing
// line ends there; an operation line that is not a number is skipped; blank lines in the file list
// are skipped. Nothing when the five header lines are not all there.
std::optional<Script> parseScript(const QByteArray& text);

// A name from a script as a path: "\" or "/" separate folders; a relative name is taken from the
// script's folder.
QString scriptPath(const QString& scriptFolder, const QString& name);

class BatchRunner {
public:
    struct Outcome {
        int files = 0;       // listed
        int read = 0;        // opened into the working slot
        int savesFailed = 0; // saves that did not write their file
        bool scriptRead = false;
        bool ok() const { return scriptRead && read == files && savesFailed == 0; }
    };

    explicit BatchRunner(Module& module) : module_(module) {}

    // Computes an intensity histogram (codes 90 and 95); set by whoever owns histograms.
    std::function<void(int mode)> makeHistogram;
    // Told before each file (index from 1) and after it, with one line on what happened.
    std::function<void(int index, int count, const QString& file)> onFile;
    std::function<void(const QString& line)> onReport;

    Outcome run(const QString& scriptFile);

private:
    bool runOperation(int16_t code, const Script& script, const QString& folder, const QString& base,
                      QStringList& saved, Outcome& outcome);

    Module& module_;
};

} // namespace tovra
