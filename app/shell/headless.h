// A batch script run with no window and no display.
#pragma once

#include "command_line.h"

#include <QString>
#include <cstdio>

namespace tovra {

// Runs options.batchScript with the library found in programFolder; reports to `err`.
// Returns the exit code: 0 when every listed file was read and every save succeeded, 1 when not,
// 2 when the script cannot be read.
int runHeadless(const QString& programFolder, const Options& options, std::FILE* err);

} // namespace tovra
