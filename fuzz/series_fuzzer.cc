// A series' texts and plot over any bytes: the value list, a values file with its column, the
// numbers in file names and their natural order, the command line's parser, and the table and
// the plot of points with any values (from -1e308 to 1e308, NaN widths, equal values). Nothing
// may read or write outside a buffer; values that are accepted are finite, one a frame; the
// order is a strict one; the table's comment lines stay comments. A part's records handed to the
// merge, and a point's exact form, are read from any bytes too: a point read back writes itself
// again the same.
#include "fuzz_input.h"
#include "measure/series.h"
#include "shell/command_line.h"
#include "shell/measure_run.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace tovra;

namespace {

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "series_fuzzer";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

QString textOf(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

double valueOf(FuzzInput& in) {
    switch (in.range(0, 5)) {
    case 0:
        return std::ldexp(static_cast<double>(in.range(-1000, 1000)), in.range(-1074, 1023));
    case 1:
        return in.range(0, 1) ? 1e308 : -1e308;
    case 2:
        return 1e16 + in.range(0, 4);
    case 3:
        return std::numeric_limits<double>::quiet_NaN();
    default:
        return in.range(-100, 100) / 4.0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    application();
    FuzzInput in(data, size);
    const int mode = in.range(0, 6);
    const int frames = in.range(1, 12);
    std::vector<SeriesFrame> series(static_cast<size_t>(frames));
    QString error;
    if (mode == 0) { // a value list
        ValueSource source;
        source.list = textOf(in.data(), in.size());
        if (assignValues(series, source, error))
            for (const SeriesFrame& f : series)
                if (!std::isfinite(f.value)) std::abort();
    } else if (mode == 1) { // a values file, its column named by the first line of the input
        static QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("values.csv"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return 0;
        const size_t cut = std::min<size_t>(in.size(), in.range(0, 16));
        f.write(reinterpret_cast<const char*>(in.data()) + cut, static_cast<qint64>(in.size() - cut));
        f.close();
        ValueSource source;
        source.file = path;
        source.column = textOf(in.data(), cut).trimmed();
        if (assignValues(series, source, error))
            for (const SeriesFrame& frame : series)
                if (!std::isfinite(frame.value)) std::abort();
    } else if (mode == 2) { // names: their numbers and their order
        const size_t half = in.size() / 2;
        const QString a = textOf(in.data(), half), b = textOf(in.data() + half, in.size() - half);
        for (const QString& name : {a, b})
            if (const auto v = lastNumberInName(name); v && !std::isfinite(*v)) std::abort();
        if (naturallyBefore(a, b) && naturallyBefore(b, a)) std::abort();
        if (naturallyBefore(a, a)) std::abort();
    } else if (mode == 3) { // the command line, arguments separated by NUL bytes
        QStringList args{QStringLiteral("Tovra")};
        for (const QByteArray& arg :
             QByteArray(reinterpret_cast<const char*>(in.data()), static_cast<qsizetype>(in.size()))
                 .split('\0'))
            args << QString::fromUtf8(arg);
        QString message;
        int code = 0;
        (void)parseCommandLine(args, message, code);
    } else if (mode == 5) { // a point's exact form
        const QByteArray bytes(reinterpret_cast<const char*>(in.data()), static_cast<qsizetype>(in.size()));
        if (const std::optional<SeriesPoint> p = pointFromJson(bytes)) {
            const std::optional<SeriesPoint> again = pointFromJson(pointJson(*p));
            if (!again || pointJson(*again) != pointJson(*p)) std::abort();
        }
    } else if (mode == 6) { // parts to merge: the input as two parts' streams
        static QTemporaryDir dir;
        const size_t half = in.size() / 2;
        QStringList parts;
        for (int k = 0; k < 2; ++k) {
            const QString path = dir.filePath(QStringLiteral("part%1.out").arg(k));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly)) return 0;
            f.write(reinterpret_cast<const char*>(in.data()) + (k ? half : 0),
                    static_cast<qint64>(k ? in.size() - half : half));
            parts << path;
        }
        Options options;
        options.merge = true, options.files = parts;
        std::FILE* null = std::fopen("/dev/null", "w");
        if (!null) return 0;
        (void)runMerge(options, null, null);
        std::fclose(null);
    } else { // the table and the plot
        std::vector<SeriesPoint> points(static_cast<size_t>(frames));
        for (SeriesPoint& p : points) {
            p.value = valueOf(in);
            if (!std::isfinite(p.value)) p.value = 0;
            p.pattern = in.range(0, 3) ? QStringLiteral("maze") : QStringLiteral("none");
            p.reliable = in.range(0, 1);
            p.blackFraction = in.range(0, 1000) / 1000.0, p.blackFractionSe = std::fabs(valueOf(in));
            p.blackWidth = std::fabs(valueOf(in)), p.blackWidthSe = std::fabs(valueOf(in));
            p.whiteWidth = std::fabs(valueOf(in)), p.whiteWidthSe = std::fabs(valueOf(in));
            p.period = std::fabs(valueOf(in)), p.periodSe = std::fabs(valueOf(in));
            p.file = textOf(in.data(), std::min<size_t>(in.size(), 12));
        }
        SeriesHeader header;
        header.valueUnit = textOf(in.data(), std::min<size_t>(in.size(), 20));
        const QStringList lines = seriesTableCsv(points, header).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("frame,"))) break;
            if (!line.startsWith(QLatin1Char('#'))) std::abort();
        }
        ValueSource source;
        QImage image(320, 240, QImage::Format_RGB32);
        QPainter painter(&image);
        paintSeriesPlot(painter, QRectF(0, 0, 320, 240), points, plotTexts(source, header.valueUnit));
        (void)seriesPointAt(QRectF(0, 0, 320, 240), points, QPointF(in.range(0, 320), in.range(0, 240)));
    }
    return 0;
}
