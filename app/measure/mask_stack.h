// The frames' binarized domains as one OME-TIFF that Fiji, napari and tifffile read: 16-bit
// planes, two channels a frame (the domains, 1 black and 0 white; the bubbles or the grains
// labelled from 1, 0 elsewhere), the pixel size and each frame's value, file and numbers in the
// OME-XML. Written through libtiff into a temporary file beside the target, which takes the
// target's name only when the whole stack is written.
#pragma once

#include "measure.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace tovra {

// One frame's planes as the stack keeps them.
struct MaskPlanes {
    int width = 0, height = 0;    // 0 where the frame was not measured
    std::vector<uint8_t> black;   // width x height, 1 for black
    std::vector<uint16_t> labels; // width x height, the bubbles or the grains from 1
    double blackFraction = 0;     // the record's
    QString error;                // why the frame has no mask
};
// The planes of a measured frame: its binarization, and its bubbles (the domains of their colour,
// 4-connected, numbered in the order their first pixel is met) or its grains.
MaskPlanes maskPlanesOf(const measure::Result& r);

// What each plane's annotation says of its frame.
struct MaskFrame {
    QString file;
    int page = 0;
    std::optional<double> value;
};

class MaskStackWriter {
public:
    // A stack of `frames.size()` frames for `path`; nothing is written yet. `valueName` names the
    // frames' values in the annotations; `pixelSizeUm` 0 for none; `provenance` (Provenance::line())
    // says where the stack came from.
    MaskStackWriter(QString path, std::vector<MaskFrame> frames, QString valueName, double pixelSizeUm,
                    QByteArray provenance);
    ~MaskStackWriter();
    MaskStackWriter(const MaskStackWriter&) = delete;
    MaskStackWriter& operator=(const MaskStackWriter&) = delete;

    // The next frame's planes, in frame order. The first frame measured sets the planes' size; a
    // frame not measured, or of another size, gets planes of 65535 and says why in its
    // annotation. False, with why, where the file cannot be written.
    bool add(const MaskPlanes& planes, QString& why);
    // The OME-XML written into the first page and the temporary file renamed to the target.
    bool finish(QString& why);

private:
    struct State;
    std::unique_ptr<State> s_;
};

// One plane of 32-bit floats (w x h, rows from the top; NaN kept as NaN) as a TIFF through libtiff,
// with the pixel size in the resolution tags and `description` as the page's description, written
// beside the target and renamed into place only when whole; false with `why`.
bool saveFloatTiff(const QString& path, int w, int h, const std::vector<float>& px, double pixelSizeUm,
                   const QByteArray& description, QString& why);

} // namespace tovra
