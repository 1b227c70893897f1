// The domain measurement run from the command line, with no window.
#pragma once

#include "command_line.h"

#include <cstdio>

namespace tovra {

// Measures options.files; records to `out` in argument order, problems to `err`. Returns 0 when
// every file was measured, 1 when not, 2 when the background cannot be read.
int runMeasure(const Options& options, std::FILE* out, std::FILE* err);
// Joins the parts of a series measured apart (--measure --part K/N) into what one run gives; 2 for
// parts that are not of one run, 1 where an output could not be written.
int runMerge(const Options& options, std::FILE* out, std::FILE* err);
// The walls' motion between options.files' frames (--motion): a record a step to `out`; 2 where
// the frames, values or durations cannot make a motion, 1 where a step or an output failed.
int runMotion(const Options& options, std::FILE* out, std::FILE* err);

} // namespace tovra
