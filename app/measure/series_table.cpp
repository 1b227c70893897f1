#include "series.h"

#include "series_text.h"
#include "version.h"

#include <set>

namespace tovra {

using namespace series_text;

QString seriesTableCsv(const std::vector<SeriesPoint>& points, const SeriesHeader& header) {
    QString out;
    out += QStringLiteral("# Tovra %1, a series of %2 frames\n")
               .arg(QStringLiteral(TOVRA_VERSION))
               .arg(points.size());
    if (!header.provenance.isEmpty())
        out += QStringLiteral("# provenance: %1\n").arg(oneLine(QString::fromUtf8(header.provenance)));
    if (!header.settings.isEmpty()) out += QStringLiteral("# settings: %1\n").arg(oneLine(header.settings));
    out += QStringLiteral("# value: %1%2\n")
               .arg(oneLine(header.valueName), header.valueUnit.isEmpty()
                                                   ? QString()
                                                   : QStringLiteral(" (%1)").arg(oneLine(header.valueUnit)));
    QStringList files;
    for (const SeriesPoint& p : points)
        if (files.isEmpty() || files.back() != p.file) files << p.file;
    files.removeDuplicates();
    out += QStringLiteral("# files: %1\n").arg(oneLine(files.join(QStringLiteral(", "))));
    if (!header.rectangle.isEmpty())
        out += QStringLiteral("# rectangle: %1\n").arg(oneLine(header.rectangle));
    out += header.loop;
    std::set<std::pair<int, int>> sizes;
    for (const SeriesPoint& p : points)
        if (p.width > 0) sizes.insert({p.width, p.height});
    if (sizes.size() > 1) {
        QStringList listed;
        for (const auto& [w, h] : sizes)
            listed << QStringLiteral("%1 x %2").arg(w).arg(h);
        out += QStringLiteral("# frames of different sizes, each measured at its own: %1\n")
                   .arg(listed.join(QStringLiteral(", ")));
    }
    out += QStringLiteral("frame,file,page,value,width,height,pattern,reliable,black_fraction,"
                          "black_fraction_se,net_magnetisation,net_magnetisation_se,black_width_px,"
                          "black_width_se_px,white_width_px,white_width_se_px,period_px,period_se_px,"
                          "pixel_size_um,error,bubbles,psi6,psi6_se,fivefold,sevenfold,dislocations\n");
    for (size_t k = 0; k < points.size(); ++k) {
        const SeriesPoint& p = points[k];
        QStringList row{QString::number(k + 1),
                        QString::fromStdString(measure::csvQuoted(p.file.toStdString())),
                        p.page > 0 ? QString::number(p.page) : QString(), number(p.value)};
        row << (p.width > 0 ? QString::number(p.width) : QString())
            << (p.height > 0 ? QString::number(p.height) : QString());
        if (p.measured()) {
            row << p.pattern << (p.reliable ? QStringLiteral("true") : QStringLiteral("false"))
                << number(p.blackFraction) << number(p.blackFractionSe) << number(p.magnetisation())
                << number(2 * p.blackFractionSe) << number(p.blackWidth) << number(p.blackWidthSe)
                << number(p.whiteWidth) << number(p.whiteWidthSe) << number(p.period) << number(p.periodSe);
        } else {
            row << p.pattern << QStringLiteral("false");
            for (int i = 0; i < 10; ++i)
                row << QString();
        }
        row << (p.pixelSizeUm > 0 ? number(p.pixelSizeUm) : QString())
            << (p.error.isEmpty() ? QString()
                                  : QString::fromStdString(measure::csvQuoted(p.error.toStdString())));
        // A frame of bubbles: their count, and the lattice's order where it is known.
        row << (p.bubbles ? QString::number(*p.bubbles) : QString());
        if (p.order)
            row << number(p.order->psi6) << number(p.order->psi6Se) << QString::number(p.order->fivefold)
                << QString::number(p.order->sevenfold) << QString::number(p.order->dislocations);
        else
            row << QString() << QString() << QString() << QString() << QString();
        out += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

} // namespace tovra
