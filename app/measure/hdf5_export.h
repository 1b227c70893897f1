// One HDF5 file a run, in the NXdata style that h5py and HDF5 viewers read: /entry/frames (the
// records as columns, a row a frame, units as attributes), /entry/masks (the domains and the
// bubbles or grains as chunked, compressed stacks), /entry/loop where a loop ran, and
// /entry/provenance. Written through Debian's libhdf5 into a temporary file beside the target,
// which takes the target's name only when the whole file is written.
#pragma once

#include "mask_stack.h"
#include "series.h"

#include <QString>
#include <memory>

namespace tovra {

class Hdf5Writer {
public:
    Hdf5Writer(QString path, size_t frames, double pixelSizeUm);
    ~Hdf5Writer();
    Hdf5Writer(const Hdf5Writer&) = delete;
    Hdf5Writer& operator=(const Hdf5Writer&) = delete;

    // The next frame's masks, in frame order; the first measured frame sets their size, and a
    // frame not measured or of another size is filled with 255 (domains) and 65535 (labels).
    bool addMasks(const MaskPlanes& planes, QString& why);
    // The frames' table, the loop (its JSON, or empty) and the provenance, then the file's name.
    bool finish(const std::vector<SeriesPoint>& points, const QString& valueName, const QString& valueUnit,
                const QString& loopJson, const QByteArray& provenance, QString& why);

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace tovra
