#include "hdf5_export.h"

#include "core/save_file.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>
#include <hdf5.h>
#include <limits>

namespace tovra {

namespace {

// An HDF5 handle closed with its own call when it goes.
class Handle {
public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() {
        if (id_ >= 0) close_(id_);
    }
    Handle(Handle&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = -1; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&&) = delete;
    operator hid_t() const { return id_; }
    bool ok() const { return id_ >= 0; }

private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

Handle utf8String() {
    Handle t(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(t, H5T_VARIABLE);
    H5Tset_cset(t, H5T_CSET_UTF8);
    return t;
}

bool attribute(hid_t at, const char* name, const QString& value) {
    const Handle type = utf8String();
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle a(H5Acreate2(at, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    const QByteArray bytes = value.toUtf8();
    const char* text = bytes.constData();
    return a.ok() && H5Awrite(a, type, &text) >= 0;
}

bool attribute(hid_t at, const char* name, double value) {
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle a(H5Acreate2(at, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return a.ok() && H5Awrite(a, H5T_NATIVE_DOUBLE, &value) >= 0;
}

Handle group(hid_t at, const char* name, const char* nxClass) {
    Handle g(H5Gcreate2(at, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    if (g.ok()) attribute(g, "NX_class", QString::fromLatin1(nxClass));
    return g;
}

bool column(hid_t at, const char* name, const std::vector<double>& v, const QString& units) {
    const hsize_t n = v.size();
    const Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
    const Handle d(H5Dcreate2(at, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                   H5Dclose);
    return d.ok() &&
           (v.empty() || H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0) &&
           (units.isEmpty() || attribute(d, "units", units));
}

bool column(hid_t at, const char* name, const std::vector<int32_t>& v) {
    const hsize_t n = v.size();
    const Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
    const Handle d(H5Dcreate2(at, name, H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                   H5Dclose);
    return d.ok() &&
           (v.empty() || H5Dwrite(d, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0);
}

bool column(hid_t at, const char* name, const QStringList& v) {
    const Handle type = utf8String();
    const hsize_t n = static_cast<hsize_t>(v.size());
    const Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
    const Handle d(H5Dcreate2(at, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Dclose);
    std::vector<QByteArray> bytes;
    std::vector<const char*> texts;
    bytes.reserve(static_cast<size_t>(v.size()));
    texts.reserve(static_cast<size_t>(v.size()));
    for (const QString& s : v)
        bytes.push_back(s.toUtf8());
    for (const QByteArray& b : bytes)
        texts.push_back(b.constData());
    return d.ok() && (texts.empty() || H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, texts.data()) >= 0);
}

bool text(hid_t at, const char* name, const QString& value) {
    const Handle type = utf8String();
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle d(H5Dcreate2(at, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Dclose);
    const QByteArray bytes = value.toUtf8();
    const char* t = bytes.constData();
    return d.ok() && H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, &t) >= 0;
}

// A stack of frames x height x width, chunked a frame at a time and compressed, its fill value
// where no frame is written.
template <typename T>
hid_t stack(hid_t at, const char* name, hid_t type, size_t frames, int height, int width, T fill) {
    const hsize_t dims[3] = {frames, static_cast<hsize_t>(height), static_cast<hsize_t>(width)};
    const hsize_t chunk[3] = {1, static_cast<hsize_t>(height), static_cast<hsize_t>(width)};
    const Handle space(H5Screate_simple(3, dims, nullptr), H5Sclose);
    const Handle plist(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(plist, 3, chunk);
    H5Pset_deflate(plist, 4);
    H5Pset_fill_value(plist, type, &fill);
    return H5Dcreate2(at, name, type, space, H5P_DEFAULT, plist, H5P_DEFAULT);
}

template <typename T>
bool writeFrame(hid_t d, hid_t memType, size_t frame, int height, int width, const T* values) {
    const Handle file(H5Dget_space(d), H5Sclose);
    const hsize_t start[3] = {frame, 0, 0},
                  count[3] = {1, static_cast<hsize_t>(height), static_cast<hsize_t>(width)};
    H5Sselect_hyperslab(file, H5S_SELECT_SET, start, nullptr, count, nullptr);
    const Handle memory(H5Screate_simple(3, count, nullptr), H5Sclose);
    return H5Dwrite(d, memType, memory, file, H5P_DEFAULT, values) >= 0;
}

} // namespace

struct Hdf5Writer::State {
    QString path;
    size_t frames = 0, added = 0;
    double pixelSizeUm = 0;
    QTemporaryFile temp;
    hid_t file = -1, entry = -1, masks = -1, domains = -1, labels = -1;
    int width = 0, height = 0;
    bool failed = false;
    QString error;
    ~State() {
        for (hid_t d : {domains, labels})
            if (d >= 0) H5Dclose(d);
        if (masks >= 0) H5Gclose(masks);
        if (entry >= 0) H5Gclose(entry);
        if (file >= 0) H5Fclose(file);
    }
    bool open() {
        if (file >= 0) return true;
        if (failed) return false;
        // Errors are reported through the results, not printed by the library.
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
        besideTarget(temp, path);
        if (!temp.open()) return fail(QStringLiteral("no temporary file can be made beside it"));
        temp.close(); // HDF5 opens it by its name
        file = H5Fcreate(QFile::encodeName(temp.fileName()).constData(), H5F_ACC_TRUNC, H5P_DEFAULT,
                         H5P_DEFAULT);
        if (file < 0) return fail(QStringLiteral("HDF5 cannot create it"));
        entry = H5Gcreate2(file, "entry", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        if (entry < 0) return fail(QStringLiteral("HDF5 cannot create /entry"));
        attribute(entry, "NX_class", QStringLiteral("NXentry"));
        attribute(entry, "default", QStringLiteral("frames"));
        return true;
    }
    bool fail(const QString& why) {
        failed = true, error = why;
        return false;
    }
};

Hdf5Writer::Hdf5Writer(QString path, size_t frames, double pixelSizeUm) : s_(std::make_unique<State>()) {
    s_->path = std::move(path), s_->frames = frames, s_->pixelSizeUm = pixelSizeUm;
}

Hdf5Writer::~Hdf5Writer() = default;

bool Hdf5Writer::addMasks(const MaskPlanes& planes, QString& why) {
    State& s = *s_;
    const size_t frame = s.added++;
    if (!s.open()) {
        why = s.error;
        return false;
    }
    if (planes.width == 0) return true; // its frames keep the fill values
    if (s.masks < 0) {
        s.width = planes.width, s.height = planes.height;
        s.masks = H5Gcreate2(s.entry, "masks", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        if (s.masks < 0) {
            why = QStringLiteral("HDF5 cannot create /entry/masks");
            return s.fail(why);
        }
        attribute(s.masks, "NX_class", QStringLiteral("NXdata"));
        attribute(s.masks, "signal", QStringLiteral("domains"));
        if (s.pixelSizeUm > 0) attribute(s.masks, "pixel_size_um", s.pixelSizeUm);
        s.domains = stack<uint8_t>(s.masks, "domains", H5T_STD_U8LE, s.frames, s.height, s.width, 255);
        s.labels = stack<uint16_t>(s.masks, "labels", H5T_STD_U16LE, s.frames, s.height, s.width, 65535);
        if (s.domains < 0 || s.labels < 0) {
            why = QStringLiteral("HDF5 cannot create the masks");
            return s.fail(why);
        }
        attribute(s.domains, "description", QStringLiteral("1 black, 0 white, 255 not measured"));
        attribute(s.labels, "description",
                  QStringLiteral("bubbles or grains numbered from 1, 0 none, 65535 not measured"));
    }
    const size_t n = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
    if (planes.width != s.width || planes.height != s.height || planes.black.size() != n) return true;
    if (!writeFrame(s.domains, H5T_NATIVE_UINT8, frame, s.height, s.width, planes.black.data()) ||
        (planes.labels.size() == n &&
         !writeFrame(s.labels, H5T_NATIVE_UINT16, frame, s.height, s.width, planes.labels.data()))) {
        why = QStringLiteral("HDF5 cannot write frame %1's masks").arg(frame + 1);
        return s.fail(why);
    }
    return true;
}

bool Hdf5Writer::finish(const std::vector<SeriesPoint>& points, const QString& valueName,
                        const QString& valueUnit, const QString& loopJson, const QByteArray& provenance,
                        QString& why) {
    State& s = *s_;
    if (!s.open()) {
        why = s.error;
        return false;
    }
    if (s.failed) {
        why = s.error;
        return false;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<int32_t> frame, page, width, height, reliable;
    std::vector<double> value, pixel, fraction, fractionSe, m, mSe, black, blackSe, white, whiteSe, period,
        periodSe;
    QStringList file, pattern, error, warnings;
    for (size_t k = 0; k < points.size(); ++k) {
        const SeriesPoint& p = points[k];
        const bool widths = p.measured() && !p.saturated();
        frame.push_back(static_cast<int32_t>(k + 1)), page.push_back(p.page);
        width.push_back(p.width), height.push_back(p.height), reliable.push_back(p.reliable ? 1 : 0);
        value.push_back(p.value), pixel.push_back(p.pixelSizeUm > 0 ? p.pixelSizeUm : nan);
        const bool any = p.measured() || p.saturated();
        fraction.push_back(any ? p.blackFraction : nan), fractionSe.push_back(any ? p.blackFractionSe : nan);
        m.push_back(any ? p.magnetisation() : nan), mSe.push_back(any ? 2 * p.blackFractionSe : nan);
        black.push_back(widths ? p.blackWidth : nan), blackSe.push_back(widths ? p.blackWidthSe : nan);
        white.push_back(widths ? p.whiteWidth : nan), whiteSe.push_back(widths ? p.whiteWidthSe : nan);
        period.push_back(widths ? p.period : nan), periodSe.push_back(widths ? p.periodSe : nan);
        file << p.file, pattern << p.pattern, error << p.error, warnings << p.warnings.join(QLatin1Char(' '));
    }
    const Handle frames = group(s.entry, "frames", "NXdata");
    bool ok = frames.ok() && attribute(frames, "signal", QStringLiteral("black_fraction")) &&
              attribute(frames, "axes", QStringLiteral("value")) &&
              attribute(frames, "value_name", valueName);
    ok = ok && column(frames, "frame", frame) && column(frames, "file", file) &&
         column(frames, "page", page) && column(frames, "value", value, valueUnit) &&
         column(frames, "width", width) && column(frames, "height", height) &&
         column(frames, "pattern", pattern) && column(frames, "reliable", reliable) &&
         column(frames, "black_fraction", fraction, QStringLiteral("1")) &&
         column(frames, "black_fraction_se", fractionSe, QStringLiteral("1")) &&
         column(frames, "net_magnetisation", m, QStringLiteral("1")) &&
         column(frames, "net_magnetisation_se", mSe, QStringLiteral("1")) &&
         column(frames, "black_width_px", black, QStringLiteral("px")) &&
         column(frames, "black_width_se_px", blackSe, QStringLiteral("px")) &&
         column(frames, "white_width_px", white, QStringLiteral("px")) &&
         column(frames, "white_width_se_px", whiteSe, QStringLiteral("px")) &&
         column(frames, "period_px", period, QStringLiteral("px")) &&
         column(frames, "period_se_px", periodSe, QStringLiteral("px")) &&
         column(frames, "pixel_size_um", pixel, QStringLiteral("µm")) && column(frames, "error", error) &&
         column(frames, "warnings", warnings);
    if (ok && !loopJson.isEmpty()) {
        const Handle loop = group(s.entry, "loop", "NXcollection");
        ok = loop.ok() && text(loop, "json", loopJson.trimmed()) && attribute(loop, "units", valueUnit);
    }
    if (ok) {
        const Handle p = group(s.entry, "provenance", "NXnote");
        ok = p.ok() && attribute(p, "type", QStringLiteral("application/json")) &&
             text(p, "data", QString::fromUtf8(provenance));
    }
    for (hid_t* d : {&s.domains, &s.labels})
        if (*d >= 0) H5Dclose(*d), *d = -1;
    if (s.masks >= 0) H5Gclose(s.masks), s.masks = -1;
    H5Gclose(s.entry), s.entry = -1;
    const bool closed = H5Fclose(s.file) >= 0;
    s.file = -1;
    if (!ok || !closed) {
        why = QStringLiteral("HDF5 cannot write the frames' table");
        return false;
    }
    if (!putInPlace(s.temp, s.path)) {
        why = QStringLiteral("it cannot take its name");
        return false;
    }
    return true;
}

} // namespace tovra
