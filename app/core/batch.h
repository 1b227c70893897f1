// Batch scripts (".tvs"): a header (width, height, working slot, reference slot, reference
// image), a list of operation codes and a list of image files, each list closed by a line whose
// value is 0. Every file is opened into the working slot, every operation applied to it in turn,
// and the results saved next to it under the same base name.
#pragma once

#include "batch_codes.h"
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
    QString referenceSlot;
    QString referenceName;
    std::vector<int16_t> operations;
    QStringList files;

    bool usesReference() const;
};

// Why a script is refused before anything runs: the header line (1..5) and the reason, in English
// for the command line and in Japanese for the program's message.
struct ScriptRefusal {
    int line = 0;
    QString reason;
    QString reasonJa;
};

// Reads a script's text, UTF-8 or, where that is not valid, Shift-JIS. Lines may end in CR LF or
// LF. A list that the text ends before its closing line ends there; an operation line that is not
// a number is skipped; blank lines in the file list are skipped. Nothing when the five header
// lines are not all there.
std::optional<Script> parseScript(const QByteArray& text);

// A header that cannot be run: a size that is not a whole number from 1 (or too large for the
// buffers), slots outside 0..7 or the same twice, a reference image that is missing or a script
// while the operations use it.
std::optional<ScriptRefusal> checkHeader(const Script& script);

// A script read from its file: the script, or why it cannot run (the line to report, and the
// refusal when the header is at fault).
struct ScriptReading {
    std::optional<Script> script;
    QString problem;
    std::optional<ScriptRefusal> refusal;
};
ScriptReading readScript(const QString& scriptFile);

// A name from a script as a path: "\" or "/" separate folders; a relative name is taken from the
// script's folder.
QString scriptPath(const QString& scriptFolder, const QString& name);

// Where the results of a listed file go: its path without the extension of its name.
QString outputBase(const QString& path);

class BatchRunner {
public:
    struct Outcome {
        int files = 0;       // listed
        int read = 0;        // opened into the working slot
        int failed = 0;      // read, but an operation or the reference image failed
        int savesFailed = 0; // saves that did not write their file
        bool scriptRead = false;
        std::optional<ScriptRefusal> refusal; // why the script did not run, when it was read
        bool ok() const { return scriptRead && read == files && failed == 0 && savesFailed == 0; }
    };

    explicit BatchRunner(Module& module) : module_(module) {}

    // Computes an intensity histogram (codes 90 and 95) and returns the library's status; set by
    // whoever owns histograms.
    std::function<int32_t(int mode)> makeHistogram;
    // Told before each file (index from 1) and after it, with one line on what happened.
    std::function<void(int index, int count, const QString& file)> onFile;
    std::function<void(const QString& line)> onReport;

    Outcome run(const QString& scriptFile);

private:
    struct FileRun;
    void runFile(const Script& script, const QString& folder, const QString& name, Outcome& outcome);
    // False when the file must stop: the reference image cannot be read or an operation failed.
    bool runOperation(int16_t code, const Script& script, const QString& folder, FileRun& file,
                      Outcome& outcome);
    void report(const QString& line) {
        if (onReport) onReport(line);
    }

    Module& module_;
};

} // namespace tovra
