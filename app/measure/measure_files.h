// Images for the domain measurement, read from any file kind the measurement takes: raw (with a
// size; 8 bits, or 16 bits little-endian when the file holds two bytes a pixel), CSV, and the
// pictures Qt decodes (BMP, PNG, TIFF with every page, JPEG, GIF; 16-bit grey kept as it is).
#pragma once

#include "measure.h"
#include "stack_metadata.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovra {

// One page of a picture file: its grey values, its page number in a multi-page TIFF (from 1; 0
// for a file of one page) and the pixel size the file states (micrometres; 0 for none).
struct MeasurePage {
    measure::Image image;
    int page = 0;
    double pixelSizeUm = 0;
};
// Every page (the first only unless `allPages`), or nothing with `error` set.
std::vector<MeasurePage> readMeasurePages(const QString& path, const std::vector<int>& size, QString& error,
                                          bool allPages = true);
// A picture file's pages for a series, from one look at the file: how many, the pixel size each
// states (micrometres; 0 for none), or why the file cannot be read whole. Any file other than a
// TIFF of several pages has one page.
// An OME-TIFF's or ImageJ TIFF's pixel size holds over the resolution tags; the rest of what its
// description says is in `metadata`, with notes on what could not be used.
struct PictureLayout {
    int pages = 1;
    std::vector<double> pixelSizeUm;
    std::vector<int64_t> directories; // of a TIFF's pages, where each starts (readTiffDirectory)
    QString error;
    StackMetadata metadata;
};
PictureLayout pictureLayout(const QString& path);
// The first page's image, or nothing with `error` set.
std::optional<measure::Image> readMeasureImage(const QString& path, const std::vector<int>& size,
                                               QString& error);

} // namespace tovra
