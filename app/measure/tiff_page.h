// One page of a TIFF file (classic or BigTIFF) decoded through libtiff, found by where its
// directory starts: the cost of a page is the same wherever it lies in a stack of thousands.
#pragma once

#include "measure.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace tovra {

// The page whose directory starts at byte `directory` of the TIFF file `path` (as its layout
// found it), as grey values: 8-, 16- and 32-bit grey kept as they are (16-bit as 0 .. 65535,
// floats as stored; a page stored white-is-zero turned so that black is low), anything else
// through libtiff's colour conversion to 8-bit grey. Nothing, with `error` set, when it cannot be
// decoded.
std::optional<measure::Image> readTiffDirectory(const QString& path, int64_t directory, QString& error);

} // namespace tovra
