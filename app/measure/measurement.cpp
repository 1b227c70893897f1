#include "measurement.h"

#include "measure_files.h"

#include "core/busy_cursor.h"
#include "core/numeric.h"
#include "core/regular_file.h"
#include "core/save_file.h"
#include "mask_stack.h"
#include "provenance.h"
#include "version.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace tovra {

MeasurementModule::MeasurementModule(Module& module)
    : module_(module), picture_(256, 256), histogram_(300, 120) {}

double MeasurementModule::pixelSize() const {
    bool ok = false;
    const double v = acceptedPixelSize_.trimmed().toDouble(&ok);
    return ok && v > 0 && std::isfinite(v) ? v : 0;
}

// The two number boxes, read where they are used: a text that is no usable number (one that
// would turn speck removal off, or a pixel size that would be ignored) is refused with a message
// and the box goes back to the last value that was used.
bool MeasurementModule::acceptBoxes() {
    bool ok = false;
    const int speck = f_.speckArea.trimmed().toInt(&ok);
    if (!ok || speck < 0 || speck > kMaxSpeckArea) {
        module_.inform(
            QStringLiteral("ゴミの面積上限「%1」は 0 から %2 までの整数にしてください。%3 のままにします。")
                .arg(f_.speckArea)
                .arg(kMaxSpeckArea)
                .arg(acceptedSpeckArea_));
        set(f_.speckArea, acceptedSpeckArea_);
        return false;
    }
    const QString size = f_.pixelSize.trimmed();
    const double um = size.toDouble(&ok);
    if (!size.isEmpty() && !(ok && std::isfinite(um) && um > 0 && um <= kMaxPixelSize)) {
        module_.inform(
            QStringLiteral(
                "画素の大きさ「%1」は 0 より大きく %2 µm までの数にしてください（空欄なら画素で表します）。"
                "「%3」のままにします。")
                .arg(f_.pixelSize)
                .arg(kMaxPixelSize)
                .arg(acceptedPixelSize_));
        set(f_.pixelSize, acceptedPixelSize_);
        return false;
    }
    acceptedSpeckArea_ = QString::number(speck);
    acceptedPixelSize_ = size;
    return true;
}

void drawMeasured(Canvas& picture, const measure::Image& image, const measure::Result& r) {
    picture.resize(image.width, image.height);
    // Shown in grey levels: a picture beyond 0..255 (16 bits, floats) by its full range.
    std::vector<double> grey(image.px.begin(), image.px.end());
    if (!grey.empty()) {
        const auto [lo, hi] = std::minmax_element(grey.begin(), grey.end());
        if (*lo < 0 || *hi > 255) {
            const double from = *lo, scale = *hi > *lo ? 255 / (*hi - *lo) : 0;
            for (double& v : grey)
                v = (v - from) * scale;
        }
    }
    picture.drawGrey(grey.data(), image.width, image.height);
    if (r.error.empty()) {
        const measure::Rect& a = r.area;
        const int w = a.x2 - a.x1;
        std::vector<QPointF> outline;
        for (int y = 0; y < a.y2 - a.y1; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t here = r.black[static_cast<size_t>(y) * w + x];
                const bool edge =
                    (x + 1 < w && r.black[static_cast<size_t>(y) * w + x + 1] != here) ||
                    (y + 1 < a.y2 - a.y1 && r.black[static_cast<size_t>(y + 1) * w + x] != here);
                if (edge) outline.emplace_back(a.x1 + x, a.y1 + y);
            }
        picture.plotPoints(outline, QColor(255, 0, 0));
        // Stripes in grains: each grain's boundary in green.
        if (!r.grainOf.empty()) {
            std::vector<QPointF> bounds;
            const auto& grain = r.grainOf;
            for (int y = 0; y < a.y2 - a.y1; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint8_t here = grain[static_cast<size_t>(y) * w + x];
                    if ((x + 1 < w && grain[static_cast<size_t>(y) * w + x + 1] != here) ||
                        (y + 1 < a.y2 - a.y1 && grain[static_cast<size_t>(y + 1) * w + x] != here))
                        bounds.emplace_back(a.x1 + x, a.y1 + y);
                }
            picture.plotPoints(bounds, QColor(0, 200, 0));
        }
        if (std::any_of(r.warnings.begin(), r.warnings.end(),
                        [](const auto& warning) { return warning.code == "uneven"; }))
            drawBlockMap(picture, r.blockMap);
        // A lattice of bubbles: those with five neighbours in magenta, seven in green.
        if (r.bubbles && r.bubbles->order) {
            const auto& items = r.bubbles->items;
            for (const auto& [list, colour] : {std::pair{&r.bubbles->order->five, QColor(255, 40, 220)},
                                               std::pair{&r.bubbles->order->seven, QColor(40, 220, 60)}})
                for (int i : *list) {
                    const measure::Bubble& b = items[static_cast<size_t>(i)];
                    const double half = std::max(2.0, b.diameter / 2 + 1);
                    picture.box(b.x - half, b.y - half, b.x + half, b.y + half, colour);
                }
        }
        picture.box(a.x1, a.y1, a.x2 - 1, a.y2 - 1, QColor(0, 160, 255));
    }
}

void drawBlockMap(Canvas& picture, const std::vector<measure::BlockReading>& blocks) {
    // Where the frame's parts differ: each block outlined, with its own period and blur; those that
    // stand out of the others shaded.
    const int text = std::clamp(picture.pixelHeight() / 40, 8, 14);
    for (const measure::BlockReading& b : blocks) {
        const measure::Rect& q = b.rect;
        if (b.odd) picture.fillBox(q.x1, q.y1, q.x2 - 1, q.y2 - 1, QColor(255, 140, 0, 80));
        picture.box(q.x1, q.y1, q.x2 - 1, q.y2 - 1, QColor(255, 210, 0));
        const QString period = b.periodPx > 0 ? QStringLiteral("周期 %1").arg(b.periodPx, 0, 'f', 1)
                                              : QStringLiteral("磁壁なし");
        const QString blur = b.blurPx ? QStringLiteral("\nぼけ %1").arg(*b.blurPx, 0, 'f', 2) : QString();
        // On a dark ground, so that the figures read on any grey.
        picture.fillBox(q.x1 + 1, q.y1 + 1, q.x1 + 1 + text * 5.5,
                        q.y1 + 1 + text * (blur.isEmpty() ? 1.3 : 2.6), QColor(0, 0, 0, 150));
        picture.text(q.x1 + 2, q.y1 + 1, period + blur, b.odd ? QColor(255, 150, 60) : QColor(255, 235, 120),
                     text);
    }
}

std::optional<measure::Image> MeasurementModule::slotImage(int slot) {
    // A slot opened from a 16-bit picture and not changed since is measured at the file's depth.
    if (const auto file = module_.fullDepthSource(slot)) {
        QString why;
        if (auto deep = readMeasureImage(*file, {}, why)) return deep;
    }
    int32_t w = 0, h = 0;
    if (module_.quarn().Xyretid(slot, &w, &h) != kStatusOk || w <= 0 || h <= 0 ||
        static_cast<int64_t>(w) * h > kBufferCapacity)
        return std::nullopt;
    PixelBuffer buf;
    if (module_.quarn().Toutim(slot, buf.data()) != kStatusOk) return std::nullopt;
    measure::Image img{w, h, std::vector<float>(buf.data(), buf.data() + static_cast<int64_t>(w) * h)};
    return img;
}

void MeasurementModule::measureCurrentSlot(bool wholePicture) {
    BusyCursor busy;
    if (!acceptBoxes()) return;
    const int id = module_.currentId();
    settings_ = measure::Settings{f_.median, f_.flatField, f_.otsu, acceptedSpeckArea_.toInt()};
    const auto image = slotImage(id);
    source_ = id >= 0 && id < kSlots ? module_.state().imageWindow(id).nameLabel : QString();
    if (!image) {
        result_ = measure::Result{};
        result_.error = "the current slot holds no image";
        emit changed();
        return;
    }
    std::optional<measure::Image> background;
    if (f_.backgroundSlot >= 0) background = slotImage(f_.backgroundSlot);
    // The information window's rectangle, when it holds one.
    const InfoFields& info = module_.state().info();
    const int x1 = int16Or(info.hfx1), y1 = int16Or(info.hfy1), x2 = int16Or(info.hfx2),
              y2 = int16Or(info.hfy2);
    std::optional<measure::Rect> rect;
    if (!wholePicture && x2 > x1 && y2 > y1) rect = measure::Rect{x1, y1, x2, y2};
    result_ = measure::measure(*image, background ? &*background : nullptr, rect, settings_);
    if (f_.backgroundSlot >= 0 && !background) result_.error = "the background slot holds no image";
    if (rect && result_.error.empty()) measure::addWarning(result_, "rectangle_elsewhere");

    drawMeasured(picture_, *image, result_);
    drawHistogram();
    emit changed();
}

void MeasurementModule::drawHistogram() {
    // Band widths in half-pixel bins, black bands dark, white bands light.
    histogram_.clear();
    if (result_.bands.empty()) return;
    double top = 0;
    for (const auto& b : result_.bands)
        top = std::max(top, b.widthPx);
    const int bins = std::max(1, static_cast<int>(std::ceil(top / 0.5)) + 1);
    std::vector<int> black(static_cast<size_t>(bins), 0), white(static_cast<size_t>(bins), 0);
    for (const auto& b : result_.bands)
        ++(b.black ? black : white)[static_cast<size_t>(b.widthPx / 0.5)];
    const int most = std::max(*std::max_element(black.begin(), black.end()),
                              *std::max_element(white.begin(), white.end()));
    histogram_.setScaleWidth(bins);
    histogram_.setScaleHeight(most + 1);
    for (int i = 0; i < bins; ++i) {
        if (black[static_cast<size_t>(i)])
            histogram_.fillBox(i, most + 1, i + 0.45, most + 1 - black[static_cast<size_t>(i)],
                               QColor(40, 40, 40));
        if (white[static_cast<size_t>(i)])
            histogram_.fillBox(i + 0.5, most + 1, i + 0.95, most + 1 - white[static_cast<size_t>(i)],
                               QColor(170, 170, 170));
    }
}

QString MeasurementModule::warningText(const std::string& code) {
    static const std::pair<const char*, const char*> texts[] = {
        {"few_periods", "矩形の中の周期が 3 つに足りません。幅を出すには磁区が少なすぎます。"},
        {"period_disagreement",
         "磁壁から求めた周期とスペクトルの周期が、誤差で説明できないほど食い違っています。"},
        {"preparation_dependent",
         "平滑化の強さで幅が誤差以上に変わります。ノイズの粒を測っているおそれがあります。"},
        {"no_spectral_peak", "パワースペクトルに、ノイズから抜け出たピークがありません。"},
        {"low_contrast", "黒と白のコントラストがノイズに対して低すぎます。"},
        {"one_domain", "模様は縁に接する一つの磁区だけで、測る幅がありません。"},
        {"rectangle_elsewhere",
         "情報ウィンドウの矩形の中を測りました。画像全体は「画像全体を測定」で測れます。"},
        {"saturated",
         "画素がカメラの範囲の端で切れています。切れた磁区の濃さと磁壁の位置が動き、幅も動いています。"},
        {"defects", "磁区とは違うもの (傷、ごみ) が写っています。それも磁区として測られています。"},
        {"uneven",
         "画像の場所ごとの幅、周期、磁壁の鋭さが誤差を超えて違います (ピントのずれ、模様が画像の一部だけ)。"
         "画像全体で一つの数値は、どの場所も表していません。"},
        {"below_resolution",
         "一方の色の磁区またはそのくびれがぼけの 3 倍より細く、その幅と面積は測れません。"},
        {"nonlinear_response",
         "磁区の内側のノイズが線形なカメラのものではありません。暗い磁区のノイズが明るい磁区より大きいか、"
         "カメラのゲインで説明できないほど偏っています。カメラの応答が線形ではなく (ガンマや対数)、"
         "磁壁の位置と黒の割合が動いています。先に画像を線形にしてください。"},
        {"blur_unknown",
         "磁壁の濃淡の形から光学系のぼけを読み取れませんでした (ノイズが強いか、磁区の内側がありません)。"
         "幅はプログラム自身の平滑化の分だけを補正し、残りは系統誤差に含めています。"},
    };
    for (const auto& [c, text] : texts)
        if (code == c) return QString::fromUtf8(text);
    return QString::fromStdString(code);
}

QString MeasurementModule::summary() const {
    if (!result_.error.empty())
        return QStringLiteral("測定できません: %1").arg(QString::fromStdString(result_.error));
    const double um = pixelSize();
    auto length = [&](double px, double se) {
        return um > 0 ? QStringLiteral("%1 ± %2 px (%3 ± %4 µm)")
                            .arg(px, 0, 'f', 3)
                            .arg(se, 0, 'f', 3)
                            .arg(px * um, 0, 'f', 4)
                            .arg(se * um, 0, 'f', 4)
                      : QStringLiteral("%1 ± %2 px").arg(px, 0, 'f', 3).arg(se, 0, 'f', 3);
    };
    const measure::Result& r = result_;
    const std::pair<const char*, const char*> kinds[] = {
        {"stripes", "ストライプ"}, {"maze", "迷路"}, {"bubbles", "バブル"}, {"none", "磁区模様なし"}};
    QString kind = QString::fromStdString(r.pattern);
    for (const auto& [code, name] : kinds)
        if (r.pattern == code) kind = QString::fromUtf8(name);
    const measure::Rect& a = r.area;
    QString text = QStringLiteral("模様: %1\n判定: %2\n測定範囲: (%3, %4) – (%5, %6)\n")
                       .arg(kind, r.reliable ? QStringLiteral("使える数値です")
                                             : QStringLiteral("この数値は使わないでください"))
                       .arg(a.x1)
                       .arg(a.y1)
                       .arg(a.x2)
                       .arg(a.y2);
    if (r.pattern != "none")
        text +=
            QStringLiteral("黒の面積比: %1 ± %2\n黒の幅: %3\n白の幅: %4\n周期: %5\n周期 (スペクトル): %6\n"
                           "周期の数 (短い辺): %7  ブロック: %8\n")
                .arg(r.blackFraction, 0, 'f', 4)
                .arg(r.blackFractionSe, 0, 'f', 4)
                .arg(length(r.blackWidthPx, r.blackWidthSePx), length(r.whiteWidthPx, r.whiteWidthSePx),
                     length(r.periodPx, r.periodSePx))
                .arg(um > 0 ? QStringLiteral("%1 px (%2 µm)")
                                  .arg(r.periodFftPx, 0, 'f', 3)
                                  .arg(r.periodFftPx * um, 0, 'f', 4)
                            : QStringLiteral("%1 px").arg(r.periodFftPx, 0, 'f', 3))
                .arg(r.periodsAcross, 0, 'f', 1)
                .arg(r.blocks);
    for (const measure::Grain& g : r.grains)
        text += QStringLiteral("粒 %1: 向き %2°, 面積比 %3\n")
                    .arg(g.id)
                    .arg(g.angleDeg, 0, 'f', 2)
                    .arg(g.areaFraction, 0, 'f', 3);
    text += QStringLiteral("磁区の数: 黒 %1, 白 %2\n向き: %3°  異方性: %4\n帯の数: %5\n")
                .arg(r.blackDomains)
                .arg(r.whiteDomains)
                .arg(r.orientationDeg, 0, 'f', 2)
                .arg(r.anisotropy, 0, 'f', 2)
                .arg(r.bands.size());
    if (r.bubbles) {
        const measure::Bubbles& b = *r.bubbles;
        text +=
            QStringLiteral("バブル: %1 個 (縁に接しないもの %2 個), 密度 %3 /px²\n"
                           "相当直径: %4 (ばらつき %5 px)\n最近接距離: %6\n")
                .arg(b.count)
                .arg(b.countInside)
                .arg(b.densityPerPx2, 0, 'g', 4)
                .arg(QStringLiteral("%1 px").arg(b.meanDiameterPx, 0, 'f', 3) +
                     (um > 0 ? QStringLiteral(" (%1 µm)").arg(b.meanDiameterPx * um, 0, 'f', 4) : QString()))
                .arg(b.sdDiameterPx, 0, 'f', 3)
                .arg(QStringLiteral("%1 px").arg(b.meanNearestNeighbourPx, 0, 'f', 3));
    }
    for (const measure::Warning& w : r.warnings)
        text += QStringLiteral("注意: %1\n").arg(warningText(w.code));
    // The settings as the window names them (the records keep the English text of describe()).
    auto onOff = [](bool on) { return on ? QStringLiteral("あり") : QStringLiteral("なし"); };
    return text + QStringLiteral("設定: メディアン %1, 照明むら補正 %2, %3, %4 画素未満のゴミを除去")
                      .arg(onOff(settings_.median), onOff(settings_.flatField),
                           settings_.otsu ? QStringLiteral("二つのクラスの平均の中間で二値化")
                                          : QStringLiteral("平均濃度で二値化"))
                      .arg(settings_.speckArea);
}

QString MeasurementModule::exportSuggestion() const {
    const QFileInfo picture(source_);
    if (source_.isEmpty() || !picture.absoluteDir().exists()) return {};
    return picture.absoluteDir().filePath(picture.completeBaseName() + QStringLiteral("_measure.csv"));
}

QByteArray MeasurementModule::provenance() const {
    std::vector<int> rect;
    const measure::Rect& a = result_.area;
    if (result_.error.empty()) rect = {a.x1, a.y1, a.x2, a.y2};
    const RunSettings run{QString::fromStdString(measure::describe(settings_)),
                          rect,
                          {},
                          pixelSize(),
                          {},
                          {},
                          {},
                          QStringLiteral("ja")};
    const QStringList files = QFileInfo(source_).isFile() ? QStringList{source_} : QStringList{};
    return provenanceOf({}, QStringLiteral("磁区幅の自動測定"), settingsJson(run), files, {}, {}).line();
}

bool MeasurementModule::exportMasks(const QString& path, QString& why) const {
    if (!result_.error.empty()) {
        why = QStringLiteral("測定結果がありません。");
        return false;
    }
    if (const QString refused = unwritableTarget(path); !refused.isEmpty()) {
        why = refused;
        return false;
    }
    MaskStackWriter masks(path, {MaskFrame{source_, 0, std::nullopt}}, QStringLiteral("value"), pixelSize(),
                          provenance());
    return masks.add(maskPlanesOf(result_), why) && masks.finish(why);
}

bool MeasurementModule::exportCsv(const QString& path) const {
    if (!result_.error.empty()) return false;
    const measure::Rect& a = result_.area;
    QString text =
        QStringLiteral(
            "# Tovra %1\r\n# provenance: %8\r\n# file: %2\r\n# rectangle: %3 %4 %5 %6\r\n# settings: %7\r\n")
            .arg(QStringLiteral(TOVRA_VERSION), source_)
            .arg(a.x1)
            .arg(a.y1)
            .arg(a.x2)
            .arg(a.y2)
            .arg(QString::fromStdString(measure::describe(settings_)))
            .arg(QString::fromUtf8(provenance()));
    const double um = pixelSize();
    // The record in the command line's columns, so that both kinds of file read alike.
    const measure::RecordInfo info{source_.toStdString(), 0, um, "", std::nullopt};
    text += QString::fromStdString(measure::recordCsvHeader()) + QStringLiteral("\r\n") +
            QString::fromStdString(measure::recordCsv(result_, info)) + QStringLiteral("\r\n");
    if (!result_.bands.empty()) {
        text += um > 0 ? QStringLiteral("position_px,angle_deg,width_px,width_um,colour,grain\r\n")
                       : QStringLiteral("position_px,angle_deg,width_px,colour,grain\r\n");
        for (const auto& b : result_.bands) {
            text += QStringLiteral("%1,%2,%3,")
                        .arg(b.positionPx, 0, 'g', 10)
                        .arg(b.angleDeg, 0, 'g', 10)
                        .arg(b.widthPx, 0, 'g', 10);
            if (um > 0) text += QStringLiteral("%1,").arg(b.widthPx * um, 0, 'g', 10);
            text += (b.black ? QStringLiteral("black,") : QStringLiteral("white,")) +
                    (b.grain > 0 ? QString::number(b.grain) : QString()) + QStringLiteral("\r\n");
        }
    }
    return saveWholeFile(path, text.toUtf8());
}

} // namespace tovra
