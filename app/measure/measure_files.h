// Images for the domain measurement, read from any file kind the measurement takes: raw (with a
// size; 8 bits, or 16 bits little-endian when the file holds two bytes a pixel), CSV, and the
// pictures Qt decodes (BMP, PNG, TIFF, JPEG, GIF; 16-bit grey kept as it is).
#pragma once

#include "measure.h"

#include <QString>
#include <optional>
#include <vector>

namespace tovra {

// The image, or nothing with `error` set.
std::optional<measure::Image> readMeasureImage(const QString& path, const std::vector<int>& size,
                                               QString& error);

} // namespace tovra
