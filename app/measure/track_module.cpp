#include "track_module.h"

#include "core/module.h"
#include "core/save_file.h"

#include <cmath>

namespace tovra {

TrackModule::TrackModule(Module& module) : module_(&module), series_(module) {
    series_.setWindowName(QStringLiteral("泡の追跡"));
    // The frames linked once the last is measured (or the run is cancelled: what is done).
    connect(&series_, &SeriesModule::finished, this, [this] { link(); });
    connect(&series_, &SeriesModule::changed, this, [this] { emit changed(); });
}

bool TrackModule::start(int jobs) {
    if (series_.running()) return false;
    bool ok = true;
    double step = 0;
    if (!maxStep_.trimmed().isEmpty()) step = maxStep_.trimmed().toDouble(&ok);
    if (!ok || !(step >= 0) || !(step <= 1e6)) {
        module_->inform(
            QStringLiteral(
                "最大の移動「%1」は 0 より大きい画素数にしてください (空欄なら泡の間隔から決めます)。")
                .arg(maxStep_));
        return false;
    }
    const int memory = memory_.trimmed().toInt(&ok);
    if (!ok || memory < 0 || memory > 1000) {
        module_->inform(
            QStringLiteral("見失ってよいフレーム数「%1」は 0 から 1000 までの整数にしてください。")
                .arg(memory_));
        return false;
    }
    step_ = step, memoryFrames_ = memory;
    tracks_.reset(), bubbles_.clear(), points_.clear(), error_.clear();
    return series_.start(jobs);
}

std::vector<double> TrackModule::values() const {
    std::vector<double> out;
    if (series_.fields().valueSource == 0) return out; // the frame numbers
    for (const SeriesPoint& p : points_)
        out.push_back(p.value);
    return out;
}

void TrackModule::link() {
    points_ = series_.points();
    bubbles_ = series_.bubbles();
    tracks_.reset(), error_.clear();
    for (const SeriesPoint& p : points_)
        if (p.width > 0 && (p.width != points_.front().width || p.height != points_.front().height)) {
            error_ = QStringLiteral("%1 の大きさ (%2 x %3) "
                                    "が最初のフレームと違います。追跡には同じ大きさのフレームが要ります。")
                         .arg(p.file)
                         .arg(p.width)
                         .arg(p.height);
            emit changed();
            return;
        }
    measure::Tracks t = measure::linkTracks(bubbles_, values(), {step_, memoryFrames_});
    if (!t.error.empty())
        error_ = QString::fromStdString(t.error);
    else
        tracks_ = std::move(t);
    emit changed();
}

TrackPlotData TrackModule::plotData(int upTo) const {
    TrackPlotData d;
    if (!points_.empty()) d.width = points_.front().width, d.height = points_.front().height;
    d.frames = &bubbles_;
    d.tracks = tracks_ ? &*tracks_ : nullptr;
    d.upTo = upTo;
    return d;
}

TrackPlotTexts TrackModule::plotTexts() const {
    return trackPlotTexts(true, values().empty() ? QString() : series_.fields().valueUnit.trimmed());
}

QString TrackModule::summaryText() const {
    if (!error_.isEmpty()) return error_;
    if (!tracks_) return {};
    const measure::Tracks& t = *tracks_;
    QString text = QStringLiteral("軌跡 %1 本 (途中から %2、途中まで %3)、最大の移動 %4 px")
                       .arg(t.tracks)
                       .arg(t.started)
                       .arg(t.ended)
                       .arg(t.maxStep, 0, 'g', 3);
    if (t.diffusion)
        text += QStringLiteral("\n拡散係数 D = %1 ± %2 %3")
                    .arg(*t.diffusion, 0, 'g', 4)
                    .arg(t.diffusionSe.value_or(0), 0, 'g', 2)
                    .arg(plotTexts().perLag);
    else
        text += QStringLiteral("\n拡散係数は求められません (値の間隔が一定でないか、軌跡が足りません)。");
    if (t.pinnedFraction)
        text += QStringLiteral("\n動かない泡 %1 % (%2 / %3)")
                    .arg(100 * *t.pinnedFraction, 0, 'f', 1)
                    .arg(t.pinned)
                    .arg(t.judged);
    return text;
}

bool TrackModule::exportTracks(const QString& path, QString& why) const {
    if (!tracks_) return why = QStringLiteral("まだ追跡していません。"), false;
    const double um = points_.empty() ? 0 : points_.front().pixelSizeUm;
    return saveWholeFile(
        path, QByteArray::fromStdString(measure::tracksCsv(bubbles_, *tracks_, values(), um)), &why);
}

bool TrackModule::exportSummary(const QString& path, QString& why) const {
    if (!tracks_) return why = QStringLiteral("まだ追跡していません。"), false;
    const double um = points_.empty() ? 0 : points_.front().pixelSizeUm;
    const std::string summary =
        measure::tracksSummaryJson(*tracks_, values(), um, trackFrameDetails(points_).toStdString());
    const QByteArray text =
        "{\"provenance\":" + series_.provenance() + "," + QByteArray::fromStdString(summary.substr(1)) + "\n";
    return saveWholeFile(path, text, &why);
}

bool TrackModule::exportPlot(const QString& path, QString& why) const {
    if (!tracks_) return why = QStringLiteral("まだ追跡していません。"), false;
    return saveTrackPlot(path, plotData(-1), plotTexts(), why, series_.provenance());
}

} // namespace tovra
