#include "motion_module.h"

#include "core/module.h"
#include "core/save_file.h"
#include "mask_stack.h"
#include "motion_exports.h"
#include "motion_plot.h"
#include "provenance.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPainter>
#include <cmath>

namespace tovra {

MotionModule::MotionModule(Module& module) : module_(module), series_(module) {
    series_.setWindowName(QStringLiteral("磁壁の運動"));
    connect(&series_, &SeriesModule::changed, this, [this] { emit changed(); });
}

MotionModule::~MotionModule() {
    if (worker_.joinable()) worker_.join();
}

bool MotionModule::start() {
    if (running()) return false;
    wait();
    std::optional<measure::Rect> rect, alignOn;
    ValueSource source;
    if (!series_.checkFields(rect, source)) return false;
    if (!SeriesModule::parseRectangle(alignRect_, alignOn)) {
        module_.inform(
            QStringLiteral("位置合わせの矩形「%1」は「x1 y1 x2 y2」の 4 つの整数にしてください (0 以上、"
                           "幅と高さは 16 画素以上)。空欄なら測る矩形で合わせます。")
                .arg(alignRect_));
        return false;
    }
    QString why;
    std::vector<SeriesFrame> frames = seriesFrames(series_.fields().inputs, why, Language::Japanese);
    if (frames.empty() || !assignValues(frames, source, why)) {
        module_.inform(why);
        return false;
    }
    if (frames.size() < 2) {
        module_.inform(QStringLiteral("磁壁の運動には 2 枚以上のフレームが要ります。"));
        return false;
    }
    std::optional<measure::Image> background;
    if (const QString file = series_.fields().background.trimmed(); !file.isEmpty()) {
        std::vector<MeasurePage> pages = readMeasurePages(file, rawSize(file), why);
        if (pages.empty()) {
            module_.inform(QStringLiteral("背景を読めません。\n%1").arg(why));
            return false;
        }
        background = std::move(pages.front().image);
    }
    std::vector<double> durations;
    if (!durations_.trimmed().isEmpty()) {
        const QStringList parts = durations_.split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& p : parts) {
            bool ok = false;
            const double d = p.trimmed().toDouble(&ok);
            if (!ok || !(d > 0) || !std::isfinite(d)) {
                module_.inform(
                    QStringLiteral("パルスの時間「%1」は 0 より大きい秒数にしてください。").arg(p.trimmed()));
                return false;
            }
            durations.push_back(d);
        }
        if (durations.size() != frames.size() - 1) {
            module_.inform(QStringLiteral("パルスの時間は段ごとに一つ、%1 個にしてください (%2 個あります)。")
                               .arg(frames.size() - 1)
                               .arg(durations.size()));
            return false;
        }
    }
    measure::MotionSettings settings;
    settings.keepMasks = true;
    settings.rect = rect, settings.alignOn = alignOn, settings.measure = series_.settings();
    frames_ = frames;
    motion_.reset(), fixed_.reset(), free_.reset(), error_.clear();
    done_ = false;
    std::vector<double> values;
    values.reserve(frames.size());
    for (const SeriesFrame& fr : frames)
        values.push_back(fr.value);
    worker_ = std::thread([this, frames = std::move(frames), values = std::move(values),
                           durations = std::move(durations), settings, background = std::move(background)]() {
        const measure::FrameSource read = [&frames](size_t k,
                                                    std::string& error) -> std::optional<measure::Image> {
            QString reason;
            double um = 0;
            std::optional<measure::Image> g = readFrame(frames[k], rawSize(frames[k].file), um, reason);
            if (!g) error = reason.toStdString();
            return g;
        };
        measure::Motion m = measure::measureMotion(frames.size(), read, values, durations,
                                                   background ? &*background : nullptr, settings);
        QMetaObject::invokeMethod(
            this, [this, m = std::move(m)]() mutable { finish(std::move(m)); }, Qt::QueuedConnection);
    });
    emit changed();
    return true;
}

void MotionModule::wait() {
    if (!worker_.joinable()) return;
    worker_.join();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void MotionModule::finish(measure::Motion m) {
    done_ = true;
    if (!m.error.empty()) {
        error_ = QString::fromStdString(m.error);
    } else {
        if (fitCreep_) fixed_ = measure::fitCreep(m, false), free_ = measure::fitCreep(m, true);
        motion_ = std::move(m);
    }
    emit finished();
    emit changed();
}

QString MotionModule::status() const {
    if (running()) return QStringLiteral("測定中…");
    if (!error_.isEmpty()) return error_;
    if (!motion_) return {};
    QString text = QStringLiteral("%1 段を測りました。").arg(motion_->steps.size());
    if (fixed_) {
        text +=
            fixed_->ok
                ? QStringLiteral("\nクリープ則 (μ = 1/4): a = %1 ± %2, b = %3 ± %4, χ²/自由度 %5")
                      .arg(fixed_->a, 0, 'g', 4)
                      .arg(fixed_->aSe, 0, 'g', 2)
                      .arg(fixed_->b, 0, 'g', 4)
                      .arg(fixed_->bSe, 0, 'g', 2)
                      .arg(fixed_->chi2Dof, 0, 'g', 3)
                : QStringLiteral("\nクリープ則は当てはめられません (信頼できる磁場が 3 つに足りません)。");
        if (free_ && free_->ok)
            text += QStringLiteral("\nμ も求めると μ = %1 ± %2")
                        .arg(free_->mu, 0, 'f', 3)
                        .arg(free_->muSe, 0, 'f', 3);
    }
    const measure::Distribution d = measure::distributionOf(motion_->switching);
    if (d.count > 0)
        text += QStringLiteral("\n反転磁場: 平均 %1, 標準偏差 %2, 四分位 %3〜%4 (%5 画素)")
                    .arg(d.mean, 0, 'g', 4)
                    .arg(d.sd, 0, 'g', 3)
                    .arg(d.q1, 0, 'g', 4)
                    .arg(d.q3, 0, 'g', 4)
                    .arg(d.count);
    return text;
}

QImage MotionModule::stepPicture(int k) const {
    if (!motion_ || k < 0 || static_cast<size_t>(k) >= motion_->steps.size()) return {};
    const measure::Motion& m = *motion_;
    const measure::Rect& a = m.area;
    const int w = a.x2 - a.x1, h = a.y2 - a.y1;
    QImage out(w, h, QImage::Format_RGB32);
    if (m.masks.size() < static_cast<size_t>(k) + 2) {
        out.fill(QColor(90, 90, 90));
        return out;
    }
    const auto& before = m.masks[static_cast<size_t>(k)];
    const auto& after = m.masks[static_cast<size_t>(k) + 1];
    if (before.size() != static_cast<size_t>(w) * h || after.size() != before.size()) {
        out.fill(QColor(90, 90, 90));
        return out;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            QColor c = after[i] ? QColor(70, 70, 70) : QColor(215, 215, 215);
            if (before[i] != after[i]) c = after[i] ? QColor(40, 90, 230) : QColor(250, 150, 30);
            // The walls of before (red) and after (green).
            auto edge = [&](const std::vector<uint8_t>& mask) {
                return (x + 1 < w && mask[i + 1] != mask[i]) || (y + 1 < h && mask[i + w] != mask[i]);
            };
            if (edge(before)) c = QColor(220, 30, 30);
            if (edge(after)) c = QColor(30, 180, 60);
            out.setPixel(x, y, c.rgb());
        }
    return out;
}

QImage MotionModule::switchingPicture() const {
    if (!motion_) return {};
    const measure::Motion& m = *motion_;
    const measure::Distribution d = measure::distributionOf(m.switching);
    double lo = d.mean, hi = d.mean;
    for (float v : m.switching)
        if (std::isfinite(v)) lo = std::min<double>(lo, v), hi = std::max<double>(hi, v);
    QImage out(m.width, m.height + 24, QImage::Format_RGB32);
    out.fill(Qt::white);
    // A ramp from blue through green to yellow, grey where a pixel never switched.
    auto ramp = [](double t) { return QColor::fromHsvF(std::clamp(0.66 - 0.5 * t, 0.0, 1.0), 0.85, 0.95); };
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const float v = m.switching[static_cast<size_t>(y) * m.width + x];
            out.setPixel(x, y,
                         std::isfinite(v) ? ramp(hi > lo ? (v - lo) / (hi - lo) : 0.5).rgb()
                                          : qRgb(160, 160, 160));
        }
    QPainter p(&out);
    const int scale = std::max(1, m.width / 2);
    for (int x = 0; x < scale; ++x) {
        p.setPen(ramp(static_cast<double>(x) / scale));
        p.drawLine(x, m.height + 4, x, m.height + 12);
    }
    p.setPen(Qt::black);
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    p.drawText(QPointF(0, m.height + 23), QString::number(lo, 'g', 4));
    p.drawText(QPointF(m.width / 2.0 - 30, m.height + 23), QString::number(hi, 'g', 4));
    return out;
}

QByteArray MotionModule::provenance() const {
    return series_.provenance();
}

bool MotionModule::exportTable(const QString& path, QString& why) const {
    if (!motion_) return why = QStringLiteral("まだ測っていません。"), false;
    return saveWholeFile(
        path,
        motionTableCsv(*motion_, QStringLiteral("値"), series_.fields().valueUnit, 0, provenance()).toUtf8(),
        &why);
}

bool MotionModule::exportPlot(const QString& path, QString& why) const {
    if (!motion_) return why = QStringLiteral("まだ測っていません。"), false;
    return saveMotionPlot(path, *motion_, fixed_, motionPlotTexts(true, series_.fields().valueUnit), why,
                          provenance());
}

bool MotionModule::exportSummary(const QString& path, QString& why) const {
    if (!motion_) return why = QStringLiteral("まだ測っていません。"), false;
    return saveWholeFile(path, motionSummary(*motion_, fixed_, free_, 0, provenance()), &why);
}

bool MotionModule::exportSwitchingMap(const QString& path, QString& why) const {
    if (!motion_) return why = QStringLiteral("まだ測っていません。"), false;
    return saveFloatTiff(path, motion_->width, motion_->height, motion_->switching, 0, provenance(), why);
}

} // namespace tovra
