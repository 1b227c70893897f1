#include "histogram.h"

#include "core/busy_cursor.h"
#include "core/numeric.h"

#include <QDir>
#include <QFile>
#include <cmath>

namespace tovra {

namespace {
constexpr int kLevels = 256;
const QColor kCurveColour = QColor::fromRgb(HistogramModule::kCurve);
} // namespace

HistogramModule::HistogramModule(Module& module)
    : module_(module), hist_(twips(5175), twips(3735)), lhx_(twips(5175), twips(1335)),
      lhy_(twips(1335), twips(5175)), profile_(1024, 0) {}

void HistogramModule::linkNumber(QString& box, int& bar, const QString& text) {
    typeIntoLink(box, bar, text, 0, kBarMax, [this](auto& field, const auto& v) { set(field, v); });
}

void HistogramModule::linkBar(int& bar, QString& box, int value) {
    moveLink(box, bar, value, [this](auto& field, const auto& v) { set(field, v); });
}

// ---- Intensity histogram ---------------------------------------------------------------------

int32_t HistogramModule::makeHistogram(int mode) {
    if (mode == kModeFromWindow) mode = f_.meanMode ? 1 : 0;
    const int id = module_.currentId();
    BusyCursor busy;
    const int number = int16Or(f_.ht);
    int32_t result = 0;
    int32_t status = kNotCalled;
    if (module_.slotFitsBuffer(id)) {
        PixelBuffer buf;
        status = module_.quarn().Hist(mode, &result, number, id, buf.data());
    }
    setHt(QString::number(number + 1)); // a whole number: the file drawn is the file written
    module_.state().setSegt(QString::number(result));
    hist_.setScaleHeight(numericValue(module_.state().tool().segt));
    emit changed();
    return status;
}

QStringList HistogramModule::readLines(const QString& fileName) const {
    QFile file(QDir(module_.quarn().workFolder()).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines;
    // Bounded: nothing here needs more lines than an image has rows or columns.
    while (!file.atEnd() && lines.size() < 1 << 16) {
        QByteArray line = file.readLine(256);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        lines << QString::fromLatin1(line);
    }
    return lines;
}

void HistogramModule::drawHistogram(const QString& number, bool cut) {
    hist_.clear();
    const QStringList lines = readLines(number + QStringLiteral("_hdat.csv"));
    double count[kLevels] = {};
    // Counts can exceed 32767 (every binarized image of 256 x 256 or more): the largest is kept
    // wide, so such bins scale the picture like any other.
    double largest = 0;
    const double scale = hist_.scaleHeight();
    for (int k = 0; k < kLevels; ++k) {
        count[k] = k < lines.size() ? numericValue(lines[k]) : 0;
        const bool below = !cut || static_cast<float>(count[k]) < scale;
        if (below && count[k] > largest) largest = count[k];
    }
    hist_.setScaleHeight(largest); // fails for 0: the previous scale stays
    hist_.setScaleWidth(kLevels);
    for (int i = 1; i < kLevels; ++i)
        hist_.line(i, largest - count[i - 1], i + 1, largest - count[i], kCurveColour);
}

void HistogramModule::histogramButton() {
    makeHistogram(kModeFromWindow);
    drawHistogram(numberText(numericValue(f_.ht) - 1), false);
}

void HistogramModule::maximumCutButton() {
    const auto n = toInt16(f_.ht2); // "12.5" names the file 12 that a histogram of 12.5 wrote
    drawHistogram(n ? QString::number(*n) : f_.ht2, true);
}

// ---- Line profiles ---------------------------------------------------------------------------

void HistogramModule::makeLineProfiles() {
    const int id = module_.currentId();
    BusyCursor busy;
    const int number = int16Or(f_.lh2);
    const int x = int16Or(module_.state().info().hfx1);
    const int y = int16Or(module_.state().info().hfy1);
    if (module_.slotFitsBuffer(id)) {
        PixelBuffer buf;
        module_.quarn().Lhist(x, y, number, f_.difference ? 1 : 0, id, buf.data());
    }
    setLh2(QString::number(number + 1));
}

void HistogramModule::readProfile(const QString& fileName, int count) {
    if (count > static_cast<int>(profile_.size())) profile_.resize(static_cast<size_t>(count), 0);
    const QStringList lines = readLines(fileName);
    // A line that is missing or not a 16-bit number leaves its entry as it was.
    for (int k = 0; k < count && k < lines.size(); ++k)
        if (auto v = toInt16(lines[k])) profile_[static_cast<size_t>(k)] = *v;
}

void HistogramModule::drawLineProfiles() {
    const int w = module_.currentWidth();
    const int h = module_.currentHeight();
    BusyCursor busy;
    lhy_.clear();
    lhx_.clear();
    const QString m = numberText(numericValue(f_.lh2) - 1);

    readProfile(m + QStringLiteral("_ylhdat.csv"), h);
    lhy_.setScaleHeight(h);
    lhy_.setScaleWidth(kLevels);
    const double right = lhy_.scaleWidth();
    for (int i = 1; i < h; ++i)
        lhy_.line(right - profile_[i - 1], i, right - profile_[i], i + 1, kCurveColour);

    readProfile(m + QStringLiteral("_xlhdat.csv"), w);
    lhx_.setScaleHeight(kLevels);
    lhx_.setScaleWidth(w);
    for (int i = 1; i < w; ++i)
        lhx_.line(i, profile_[i - 1], i + 1, profile_[i], kCurveColour);
}

void HistogramModule::lineProfileButton() {
    makeLineProfiles();
    drawLineProfiles();
}

// ---- Read-outs -------------------------------------------------------------------------------

namespace {
QString floorText(double v) {
    return std::isfinite(v) ? numberText(std::floor(v)) : QStringLiteral("0");
}
QString pair(double a, double b) {
    return floorText(a) + QLatin1Char('-') + floorText(b);
}
} // namespace

void HistogramModule::histMove(double x, double y) {
    set(f_.xy, pair(hist_.scaleHeight() - y, x));
}
void HistogramModule::histPress(double x, double y) {
    set(f_.hfx1, floorText(hist_.scaleHeight() - y));
    set(f_.hfy1, floorText(x));
}
void HistogramModule::lhxMove(double x, double y) {
    set(f_.xy, pair(x, y));
}
void HistogramModule::lhxPress(double x, double y) {
    set(f_.hfx1, floorText(x));
    set(f_.hfy1, floorText(y));
}
void HistogramModule::lhyMove(double x, double y) {
    set(f_.xy, pair(y, lhy_.scaleWidth() - x));
}
void HistogramModule::lhyPress(double x, double y) {
    set(f_.hfx1, floorText(y));
    set(f_.hfy1, floorText(lhy_.scaleWidth() - x));
}

} // namespace tovra
