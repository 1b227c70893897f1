#include "motion_exports.h"

#include "series_text.h"

#include <QStringList>

namespace tovra {

QString motionTableCsv(const measure::Motion& m, const QString& valueName, const QString& valueUnit,
                       double pixelSizeUm, const QByteArray& provenance) {
    using series_text::number;
    using series_text::oneLine;
    QString out = QStringLiteral("# provenance: %1\n").arg(oneLine(QString::fromUtf8(provenance)));
    out += QStringLiteral("# value: %1%2\n")
               .arg(oneLine(valueName),
                    valueUnit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(oneLine(valueUnit)));
    out +=
        QStringLiteral("from,to,value,duration_s,to_white_px,to_black_px,nucleated_px,wall_length_px,"
                       "displacement_px,displacement_se_px,velocity_px_per_s,velocity_se_px_per_s,drift_x_px,"
                       "drift_y_px,reliable,warnings");
    const bool um = pixelSizeUm > 0;
    if (um) out += QStringLiteral(",displacement_um,velocity_m_per_s");
    out += QLatin1Char('\n');
    auto maybe = [](const std::optional<double>& v, double scale = 1) {
        return v ? number(*v * scale) : QString();
    };
    for (const measure::MotionStep& s : m.steps) {
        QStringList codes;
        for (const measure::Warning& w : s.warnings)
            codes << QString::fromStdString(w.code);
        QStringList row{QString::number(s.from),
                        QString::number(s.to),
                        number(s.value),
                        maybe(s.duration),
                        number(s.toWhite),
                        number(s.toBlack),
                        number(s.nucleated),
                        maybe(s.wallLength),
                        maybe(s.displacement),
                        maybe(s.displacementSe),
                        maybe(s.velocity),
                        maybe(s.velocitySe),
                        number(s.driftX),
                        number(s.driftY),
                        s.reliable ? QStringLiteral("true") : QStringLiteral("false"),
                        codes.join(QLatin1Char(';'))};
        if (um) row << maybe(s.displacement, pixelSizeUm) << maybe(s.velocity, pixelSizeUm * 1e-6);
        out += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

QByteArray motionSummary(const measure::Motion& m, const std::optional<measure::CreepFit>& fixed,
                         const std::optional<measure::CreepFit>& free, double pixelSizeUm,
                         const QByteArray& provenance) {
    const std::string summary = measure::motionSummaryJson(m, fixed, free, pixelSizeUm);
    return "{\"provenance\":" + provenance + "," + QByteArray::fromStdString(summary.substr(1)) + "\n";
}

} // namespace tovra
