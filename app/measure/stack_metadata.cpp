#include "stack_metadata.h"

#include <QHash>
#include <QXmlStreamReader>
#include <cmath>

namespace tovra {

namespace {

// Micrometres in one of a length unit, or 0 for a unit not known.
double micrometresIn(QString unit) {
    unit = unit.trimmed();
    static const QHash<QString, double> units = {
        {QStringLiteral("m"), 1e6},         {QStringLiteral("cm"), 1e4},     {QStringLiteral("mm"), 1e3},
        {QStringLiteral("µm"), 1},          {QStringLiteral("μm"), 1},       {QStringLiteral("um"), 1},
        {QStringLiteral("micron"), 1},      {QStringLiteral("microns"), 1},  {QStringLiteral("\\u00B5m"), 1},
        {QStringLiteral("nm"), 1e-3},       {QStringLiteral("pm"), 1e-6},    {QStringLiteral("Å"), 1e-4},
        {QStringLiteral("angstrom"), 1e-4}, {QStringLiteral("inch"), 25400},
    };
    return units.value(unit, 0.0);
}

// Seconds in one of a time unit, or 0 for a unit not known.
double secondsIn(QString unit) {
    unit = unit.trimmed();
    static const QHash<QString, double> units = {
        {QStringLiteral("s"), 1},     {QStringLiteral("sec"), 1},   {QStringLiteral("ms"), 1e-3},
        {QStringLiteral("µs"), 1e-6}, {QStringLiteral("μs"), 1e-6}, {QStringLiteral("us"), 1e-6},
        {QStringLiteral("ns"), 1e-9}, {QStringLiteral("min"), 60},  {QStringLiteral("h"), 3600},
    };
    return units.value(unit, 0.0);
}

std::optional<double> finiteNumber(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// A page's index from its plane's place in the dimensions' order (the first letter varies
// fastest, after X and Y), or -1 outside the sizes.
int64_t pageIndex(const QString& order, int64_t z, int64_t c, int64_t t, int64_t sz, int64_t sc, int64_t st) {
    if (z < 0 || c < 0 || t < 0 || z >= sz || c >= sc || t >= st) return -1;
    int64_t index = 0, stride = 1;
    for (const QChar d : order.mid(2)) {
        const int64_t at = d == u'Z' ? z : d == u'C' ? c : t, size = d == u'Z' ? sz : d == u'C' ? sc : st;
        index += at * stride, stride *= size;
    }
    return index;
}

void readOme(const QByteArray& xml, int pages, StackMetadata& m) {
    QXmlStreamReader r(xml);
    struct Plane {
        int64_t z = 0, c = 0, t = 0;
        bool placed = false; // TheZ, TheC or TheT given
        PlaneMetadata meta;
        QStringList refs;
    };
    std::vector<Plane> planes;
    QHash<QString, QMap<QString, QString>> annotations;
    QString order = QStringLiteral("XYZCT"), mapId, key;
    int64_t sz = 1, sc = 1, st = 1;
    int images = 0;
    bool inFirstImage = false, sizeGiven = false;
    double pixelUm = 0;
    auto size = [](const QString& v) {
        const std::optional<double> n = finiteNumber(v);
        // A million a dimension at most, so that the planes' count and index stay whole numbers.
        return n && *n >= 1 && *n <= 1e6 ? static_cast<int64_t>(*n) : int64_t{1};
    };
    while (!r.atEnd()) {
        r.readNext();
        if (r.isEndElement() && r.name() == QLatin1String("Image")) inFirstImage = false;
        if (!r.isStartElement()) continue;
        const auto a = r.attributes();
        const QStringView name = r.name();
        if (name == QLatin1String("Image")) {
            inFirstImage = ++images == 1;
        } else if (name == QLatin1String("Pixels") && inFirstImage) {
            sizeGiven = a.hasAttribute(QLatin1String("SizeT")) || a.hasAttribute(QLatin1String("SizeZ"));
            sz = size(a.value(QLatin1String("SizeZ")).toString());
            sc = size(a.value(QLatin1String("SizeC")).toString());
            st = size(a.value(QLatin1String("SizeT")).toString());
            const QString given = a.value(QLatin1String("DimensionOrder")).toString();
            if (given.size() == 5 && given.startsWith(QLatin1String("XY"))) order = given;
            if (a.hasAttribute(QLatin1String("PhysicalSizeX"))) {
                const QString unit = a.hasAttribute(QLatin1String("PhysicalSizeXUnit"))
                                         ? a.value(QLatin1String("PhysicalSizeXUnit")).toString()
                                         : QStringLiteral("µm");
                const std::optional<double> x =
                    finiteNumber(a.value(QLatin1String("PhysicalSizeX")).toString());
                const double um = micrometresIn(unit);
                if (!(um > 0))
                    m.notes << QStringLiteral(
                                   "the OME-XML's pixel size unit \"%1\" is not known: no pixel size")
                                   .arg(unit);
                else if (!x || !(*x > 0))
                    m.notes << QStringLiteral(
                        "the OME-XML's PhysicalSizeX is no size above 0: no pixel size");
                else if (std::isfinite(*x * um))
                    pixelUm = *x * um;
                const std::optional<double> y =
                    finiteNumber(a.value(QLatin1String("PhysicalSizeY")).toString());
                const QString yUnit = a.hasAttribute(QLatin1String("PhysicalSizeYUnit"))
                                          ? a.value(QLatin1String("PhysicalSizeYUnit")).toString()
                                          : QStringLiteral("µm");
                if (pixelUm > 0 && y && micrometresIn(yUnit) > 0 &&
                    std::fabs(*y * micrometresIn(yUnit) / pixelUm - 1) > 1e-6)
                    m.notes << QStringLiteral(
                        "the pixels are not square (PhysicalSizeY differs): widths use PhysicalSizeX");
            }
        } else if (name == QLatin1String("Plane") && inFirstImage) {
            Plane p;
            for (auto [attr, at] : {std::pair{"TheZ", &p.z}, {"TheC", &p.c}, {"TheT", &p.t}})
                if (a.hasAttribute(QLatin1String(attr))) {
                    const std::optional<double> v = finiteNumber(a.value(QLatin1String(attr)).toString());
                    *at = v && *v >= 0 && *v < 1e9 ? static_cast<int64_t>(*v) : -1;
                    p.placed = true;
                }
            if (a.hasAttribute(QLatin1String("DeltaT"))) {
                const QString unit = a.hasAttribute(QLatin1String("DeltaTUnit"))
                                         ? a.value(QLatin1String("DeltaTUnit")).toString()
                                         : QStringLiteral("s");
                const std::optional<double> dt = finiteNumber(a.value(QLatin1String("DeltaT")).toString());
                if (dt && secondsIn(unit) > 0 && std::isfinite(*dt * secondsIn(unit)))
                    p.meta.deltaTS = *dt * secondsIn(unit);
                else if (secondsIn(unit) <= 0)
                    m.notes << QStringLiteral("plane %1: the time unit \"%2\" is not known")
                                   .arg(planes.size() + 1)
                                   .arg(unit);
            }
            planes.push_back(p);
        } else if (name == QLatin1String("AnnotationRef") && inFirstImage && !planes.empty()) {
            planes.back().refs << a.value(QLatin1String("ID")).toString();
        } else if (name == QLatin1String("MapAnnotation")) {
            mapId = a.value(QLatin1String("ID")).toString();
        } else if (name == QLatin1String("M") && !mapId.isEmpty()) {
            key = a.value(QLatin1String("K")).toString();
            annotations[mapId][key] = r.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        }
    }
    if (r.hasError()) {
        m.notes << QStringLiteral(
                       "the OME-XML cannot be read (%1, line %2): the pixel size is taken from the tags")
                       .arg(r.errorString())
                       .arg(r.lineNumber());
        return;
    }
    m.kind = QStringLiteral("OME");
    m.pixelSizeUm = pixelUm;
    if (images > 1)
        m.notes
            << QStringLiteral("the OME-XML describes %1 images: the first one's planes are used").arg(images);
    if (sizeGiven && sz * sc * st != pages)
        m.notes << QStringLiteral("the OME-XML counts %1 planes, the file holds %2 pages")
                       .arg(sz * sc * st)
                       .arg(pages);
    if (planes.empty()) return;
    m.planes.assign(static_cast<size_t>(std::max(pages, 0)), PlaneMetadata{});
    for (size_t k = 0; k < planes.size(); ++k) {
        Plane& p = planes[k];
        for (const QString& ref : p.refs)
            for (auto it = annotations[ref].cbegin(); it != annotations[ref].cend(); ++it)
                p.meta.values.insert(it.key(), it.value());
        const int64_t page = p.placed ? pageIndex(order, p.z, p.c, p.t, sz, sc, st) : static_cast<int64_t>(k);
        if (page < 0 || page >= pages) {
            m.notes << QStringLiteral("plane %1 lies beyond the file's %2 pages").arg(k + 1).arg(pages);
            continue;
        }
        m.planes[static_cast<size_t>(page)] = p.meta;
    }
}

void readImageJ(const QByteArray& text, int pages, double xResolution, StackMetadata& m) {
    m.kind = QStringLiteral("ImageJ");
    QHash<QString, QString> v;
    for (const QByteArray& line : text.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            v.insert(QString::fromUtf8(line.left(eq)).trimmed(),
                     QString::fromUtf8(line.mid(eq + 1)).trimmed());
    }
    if (v.contains(QStringLiteral("unit"))) {
        const QString unit = v.value(QStringLiteral("unit"));
        const double um = micrometresIn(unit);
        if (unit == QLatin1String("pixel") || unit == QLatin1String("pixels")) {
            // no physical size
        } else if (!(um > 0)) {
            m.notes << QStringLiteral("the ImageJ unit \"%1\" is not known: no pixel size").arg(unit);
        } else if (xResolution > 0 && std::isfinite(um / xResolution)) {
            m.pixelSizeUm = um / xResolution;
        }
    }
    const std::optional<double> images = finiteNumber(v.value(QStringLiteral("images")));
    // Compared as they stand: a count past any integer is no count of these pages either.
    if (images && *images != static_cast<double>(pages))
        m.notes << QStringLiteral("the ImageJ description counts %1 images, the file holds %2 pages")
                       .arg(QString::number(*images, 'g', 15))
                       .arg(pages);
    if (const std::optional<double> interval = finiteNumber(v.value(QStringLiteral("finterval")))) {
        const QString tunit = v.value(QStringLiteral("tunit"), QStringLiteral("s"));
        const double s = secondsIn(tunit == QLatin1String("sec") ? QStringLiteral("s") : tunit);
        if (!(s > 0)) {
            m.notes << QStringLiteral("the ImageJ time unit \"%1\" is not known: no times").arg(tunit);
            return;
        }
        // Hyperstacks hold the channels fastest, then the slices, then the frames.
        auto count = [&](const char* key) {
            const std::optional<double> n = finiteNumber(v.value(QLatin1String(key)));
            return n && *n >= 1 && *n < 1e9 ? static_cast<int64_t>(*n) : int64_t{1};
        };
        const int64_t inner = count("channels") * count("slices");
        m.planes.assign(static_cast<size_t>(std::max(pages, 0)), PlaneMetadata{});
        for (int64_t k = 0; k < pages; ++k) {
            const int64_t frame = k / inner; // whole channels and slices before the page
            if (const double t = static_cast<double>(frame) * *interval * s; std::isfinite(t))
                m.planes[static_cast<size_t>(k)].deltaTS = t;
        }
    }
}

} // namespace

StackMetadata stackMetadata(const QByteArray& description, int pages, double xResolution) {
    StackMetadata m;
    const QByteArray text = description.trimmed();
    if (text.startsWith("<?xml") || text.startsWith("<OME")) {
        if (text.contains("<OME") || text.contains(":OME")) readOme(text, pages, m);
    } else if (text.startsWith("ImageJ=")) {
        readImageJ(text, pages, xResolution, m);
    }
    return m;
}

} // namespace tovra
