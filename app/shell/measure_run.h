// The domain measurement run from the command line, with no window.
#pragma once

#include "command_line.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <utility>
#include <vector>

namespace tovra {

// Measures options.files; records to `out` in argument order, problems to `err`. Returns 0 when
// every file was measured, 1 when not, 2 when the background cannot be read.
int runMeasure(const Options& options, std::FILE* out, std::FILE* err);
// Joins the parts of a series measured apart (--measure --part K/N) into what one run gives; 2 for
// parts that are not of one run, 1 where an output could not be written.
int runMerge(const Options& options, std::FILE* out, std::FILE* err);
// What the runs share: a problem said on `err`, its bytes printable; and why an output named on the
// command line (option, path) must not be written, or empty: a device, a FIFO or a folder, one of
// the run's `inputs` (through a link or another name), which it would replace with its results, or
// the file another output names.
void say(std::FILE* err, const QString& text);
QString outputConflict(const std::vector<std::pair<QString, QString>>& outputs, QStringList inputs);
// The walls' motion between options.files' frames (--motion): a record a step to `out`; 2 where
// the frames, values or durations cannot make a motion, 1 where a step or an output failed.
int runMotion(const Options& options, std::FILE* out, std::FILE* err);

} // namespace tovra
