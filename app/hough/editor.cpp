#include "editor.h"

#include "core/busy_cursor.h"
#include "core/numeric.h"
#include "core/save_file.h"
#include "line_trace.h"
#include "palette.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <cmath>
#include <cstdio>

namespace tovra {

namespace {

constexpr int kWorkingSlot = 16;
constexpr int kProbeWidth = 30;
const QColor kStripGrey(212, 208, 200);

// A typed coordinate as a whole number: clamped far beyond any picture first, so that a text like
// "1e10" cannot overflow the conversion; a text that is not a number is 0, as before.
int32_t coordinate(const QString& text) {
    const double v = numericValue(text);
    if (std::isnan(v)) return 0;
    return static_cast<int32_t>(roundHalfEven(std::clamp(v, -1e9, 1e9)));
}

// Whether a record holds a line a search found (or one typed in): a cleared record has no text.
bool found(const LineRecord& r) {
    return !r.text.isEmpty();
}

QColor lineColour(int k) {
    return paletteColour(lineColorIndex(k));
}

} // namespace

double roundToDigit(double x, int n) {
    if (n < 0 || n > 8) return x;
    const double t = std::floor(x * std::pow(10.0, n));
    const QString text = realText(t);
    const QChar last = text.isEmpty() ? QLatin1Char('0') : text.back();
    const int d = last.isDigit() ? last.digitValue() : 0;
    const double r = d < 5 ? 0 : 10;
    return (std::floor(x * std::pow(10.0, n - 1)) * 10 + r) / std::pow(10.0, n);
}

int lineColorIndex(int k) {
    if (k >= 0 && k <= 5) return k + 1;
    if (k >= 6 && k <= 9) return k + 2;
    return 0;
}

HoughEditor::HoughEditor(Module& module)
    : module_(module), p1_(201, 185), hfansl_(65, 49), probe_(kProbeWidth, 185), source_(104, 104) {
    hfansl_.setBackground(kStripGrey);
    hfansl_.clear();
    probe_.setBackground(kStripGrey);
    probe_.clear();
    load();
}

void HoughEditor::load() {
    for (int k = 1; k <= 3; ++k) {
        rows_[k] = EditorRow{rows_[0].sikic, QString(), rows_[0].bow, QString()};
        clearRecord(k, 1);
    }
    f_.mfig = QStringLiteral("3000");
    lines_[0].flag = 1;
    n_ = 3;
    f_.nam = QStringLiteral("3");
    hfansl_.resize(hfansl_.pixelWidth(), (n_ + 1) * kRowHeight);
}

void HoughEditor::clearRecord(int k, int16_t flag) {
    if (k < 0 || k >= kRecords) return;
    lines_[k] = LineRecord{0, 0, QString(), flag};
}

void HoughEditor::setFintval(const QString& v) {
    typeIntoLink(f_.fintval, f_.vs, v, 0, 64, [this](auto& field, const auto& x) { set(field, x); });
}

void HoughEditor::setVs(int v) {
    moveLink(f_.fintval, f_.vs, v, [this](auto& field, const auto& x) { set(field, x); });
}

void HoughEditor::setSiki(int k, const QString& v) {
    if (k >= 0 && k <= n_) set(rows_[k].siki, v);
}
void HoughEditor::setIntval(int k, const QString& v) {
    if (k >= 0 && k <= n_) set(rows_[k].intval, v);
}
void HoughEditor::setBow(int k, bool v) {
    if (k >= 0 && k <= n_) set(rows_[k].bow, v);
}

void HoughEditor::setLineWidths(int width) {
    p1_.setLineWidth(width);
    hfansl_.setLineWidth(width);
    probe_.setLineWidth(width);
}

void HoughEditor::fitLeaderStrip() {
    const int rows = (n_ + 1) * kRowHeight;
    const double image = numericValue(f_.my);
    const int height = image > rows && image <= 32767 ? static_cast<int>(image) : rows;
    hfansl_.resize(hfansl_.pixelWidth(), height);
}

void HoughEditor::recount() {
    int selected = 0;
    for (int k = 1; k <= n_; ++k)
        selected += lines_[k].flag == 1;
    set(f_.nam, QString::number(selected));
}

// ---- Image -----------------------------------------------------------------------------------

void HoughEditor::drawSlotImage(Canvas& target) {
    // The size of the slot the picture comes from, not what the editor last acquired.
    const InfoFields& info = module_.state().info();
    const int w = int16Or(info.mx), h = int16Or(info.my);
    BusyCursor busy;
    target.setPixelScale();
    if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > kBufferCapacity) return;
    target.resize(w, h);
    const int id = module_.currentId();
    PixelBuffer buf;
    buf.zero(static_cast<int64_t>(w) * h);
    if (module_.slotFitsBuffer(id)) module_.quarn().Toutim(id, buf.data());
    target.drawGrey(buf.data(), w, h);
}

void HoughEditor::acquireImage() {
    BusyCursor busy;
    // The searches read their own copy of the image, whatever later happens to the slot. Both
    // work files are copied beside slot 16's first and only then put in place, so a failed copy
    // leaves slot 16 whole (its pixels and its size together), the editor as it was, and says so.
    const int id = module_.currentId();
    if (!copyIntoWorkingSlot(id)) {
        module_.inform(QStringLiteral("画像を作業スロット %1 に写せませんでした。前の画像のままです。")
                           .arg(kWorkingSlot));
        return;
    }
    setLineWidths(1);
    const InfoFields& info = module_.state().info();
    f_.id = QString::number(kWorkingSlot);
    f_.mx = info.mx;
    f_.my = info.my;
    fitLeaderStrip();
    drawSlotImage(p1_);
    if (id >= 0 && id < kSlots) f_.caption = module_.state().imageWindow(id).nameLabel;
    acquired_ = p1_.image().copy();
    emit changed();
}

bool HoughEditor::copyIntoWorkingSlot(int id) {
    const QDir work(module_.quarn().workFolder());
    const QStringList suffixes{QStringLiteral("_im.tmp"), QStringLiteral("_inf.tmp")};
    QStringList copies;
    auto discard = [&] {
        for (const QString& c : copies)
            QFile::remove(c);
        return false;
    };
    for (const QString& suffix : suffixes) {
        const QString from = work.filePath(QString::number(id) + suffix);
        const QString copy = work.filePath(QString::number(kWorkingSlot) + suffix + QStringLiteral(".new"));
        QFile::remove(copy);
        if (!QFileInfo(from).isFile() || !QFile::copy(from, copy) ||
            QFileInfo(copy).size() != QFileInfo(from).size())
            return discard();
        copies << copy;
    }
    for (qsizetype i = 0; i < suffixes.size(); ++i) {
        const QString to = work.filePath(QString::number(kWorkingSlot) + suffixes[i]);
        if (std::rename(QFile::encodeName(copies[i]).constData(), QFile::encodeName(to).constData()) != 0)
            return discard();
    }
    return true;
}

void HoughEditor::acquireSourceImage() {
    drawSlotImage(source_);
    set(f_.c9cc, QStringLiteral("表示"));
}

void HoughEditor::toggleProbe() {
    setLineWidths(1);
    const int left = std::clamp(coordinate(module_.state().info().hfx1), -32768, 32767);
    const double my = numericValue(module_.state().info().my);
    const int height = my > 0 && my <= 32767 ? static_cast<int>(my) : probe_.pixelHeight();
    probe_.resize(kProbeWidth, height);
    probe_.clear();
    // The 30-pixel column of the source image at the selection's left edge.
    const QRect column = QRect(left, 0, kProbeWidth, height).intersected(source_.image().rect());
    if (!column.isEmpty()) {
        QImage strip(kProbeWidth, height, QImage::Format_RGB32);
        strip.fill(kStripGrey);
        const QImage part = source_.image().copy(column);
        for (int y = 0; y < part.height(); ++y)
            for (int x = 0; x < part.width(); ++x)
                strip.setPixel(column.x() - left + x, y, part.pixel(x, y));
        probe_.drawImage(strip);
    }
    f_.probeLeft = left;
    f_.probeVisible = !f_.probeVisible;
    f_.c9cc = f_.probeVisible ? QStringLiteral("非表示") : QStringLiteral("表示");
    emit changed();
}

void HoughEditor::picturePress(double x, double y) {
    module_.selectionStart(x, y);
}

void HoughEditor::pictureMove(double x, double y) {
    module_.selectionMove(x, y);
}

void HoughEditor::pictureRelease(double x, double y) {
    module_.selectionEnd(x, y);
}

// ---- Line search -----------------------------------------------------------------------------

std::optional<double> HoughEditor::usableStep() {
    const double step = numericValue(f_.pif);
    if (isNumeric(f_.pif) && step >= kMinStep && step <= 180) return step;
    module_.inform(
        QStringLiteral("π　分割（角度の刻み）は 0.12 から 180 までの数にしてください（今は「%1」）。")
            .arg(f_.pif));
    return std::nullopt;
}

std::optional<QString> HoughEditor::rectangleRefusal(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const int16_t slot = int16Or(f_.id);
    int32_t w = 0, h = 0;
    if (module_.quarn().Xyretid(slot, &w, &h) == kStatusOk) {
        if (static_cast<int64_t>(w) * h > kBufferCapacity)
            return QStringLiteral("画像が大きすぎます（%1 × %2）。ハフ変換できるのは %3 画素までです。")
                .arg(w)
                .arg(h)
                .arg(kBufferCapacity);
        // Pixels outside the image do not vote.
        x1 = std::clamp(x1, 0, w), x2 = std::clamp(x2, 0, w);
        y1 = std::clamp(y1, 0, h), y2 = std::clamp(y2, 0, h);
    }
    if (x2 <= x1 || y2 <= y1)
        return QStringLiteral("矩形が空です。画像の上をドラッグして矩形を選んでください。");
    if (std::hypot(x2 - 1.0, y2 - 1.0) >= 750)
        return QStringLiteral(
            "矩形が画像の原点から 750 画素以上離れています。ハフ変換の距離は 750 画素までです。");
    return std::nullopt;
}

int32_t HoughEditor::houghSearch(int k) {
    if (k < 0 || k >= kRecords) return kNotCalled;
    const auto [x1, y1, x2, y2] = selectedRectangle();
    const int16_t slot = int16Or(f_.id);
    const double step = numericValue(f_.pif);
    int32_t bound = toInt32(f_.mfig).value_or(0);
    // The kernel would loop without end or mix its rows: never called with such a step.
    if (!(step >= kMinStep && step <= 180) || rectangleRefusal(x1, y1, x2, y2)) return kNotCalled;
    if (!module_.slotFitsBuffer(slot)) return kNotCalled;
    BusyCursor busy;
    if (accumulator_.empty()) accumulator_.resize(kAccumulator);
    PixelBuffer buf;
    double slope = 0, intercept = 0;
    ++searches_;
    const int32_t status = module_.quarn().Hcc(x1, y1, x2, y2, &bound, step, &slope, &intercept, slot,
                                               buf.data(), accumulator_.data());
    if (status != kStatusOk) return status;
    f_.mfig = QString::number(bound);
    lines_[k] =
        LineRecord{slope, intercept,
                   QStringLiteral("Y = ") + realText(roundToDigit(slope, 3)) + QStringLiteral(" * X ") +
                       QStringLiteral(" + ") + realText(roundToDigit(intercept, 3)),
                   1};
    emit changed();
    return status;
}

std::array<int32_t, 4> HoughEditor::selectedRectangle() const {
    const InfoFields& info = module_.state().info();
    return {coordinate(info.hfx1), coordinate(info.hfy1), coordinate(info.hfx2), coordinate(info.hfy2)};
}

bool HoughEditor::searchable() {
    if (!usableStep()) return false;
    const auto [x1, y1, x2, y2] = selectedRectangle();
    if (auto refused = rectangleRefusal(x1, y1, x2, y2)) {
        module_.inform(*refused);
        return false;
    }
    return true;
}

void HoughEditor::singleSearch() {
    if (!searchable()) return;
    BusyCursor busy;
    setLineWidths(int16Or(f_.dw));
    houghSearch(0);
    drawLine(lines_[0].slope, lines_[0].intercept, 0);
    leaderStroke(0);
    showLineRow(0);
}

void HoughEditor::multiSearch() {
    if (!searchable()) return;
    BusyCursor busy;
    const int rate = int16Or(f_.hfrate);
    setLineWidths(int16Or(f_.dw));
    int i = 1, j = 0;
    const int count = n_;
    for (int k = 1; k <= count; ++k) {
        if (lines_[k].flag != 1) continue;
        for (;;) {
            // A search that fails, or finds nothing below the bound, would fail for ever.
            const int32_t status = houghSearch(k);
            if (status != kStatusOk || toInt32(f_.mfig).value_or(0) == 0) {
                dropCandidate(k);
                module_.inform(
                    status != kStatusOk
                        ? QStringLiteral(
                              "直線を探せませんでした（状態 %1）。見つかった直線は残してあります。")
                              .arg(status)
                        : QStringLiteral(
                              "矩形の中にこれ以上の直線はありません。見つかった直線は残してあります。"));
                return;
            }
            const double theta = std::atan(lines_[k].slope) * 180 / kPi;
            const double theta0 = std::atan(lines_[0].slope) * 180 / kPi;
            if (theta0 - rate * 0.18 < theta && theta < theta0 + rate * 0.18) {
                drawLine(lines_[k].slope, lines_[k].intercept, k);
                leaderStroke(k);
                showLineRow(k);
                j = 0;
                i = 1;
                break;
            }
            if (j > 10 * i) {
                ++i;
                if (module_.dialogs().ask(QStringLiteral("直線が見つかりません処理を打ち切りますか？")) ==
                    FileDialogs::Reply::Yes) {
                    dropCandidate(k);
                    return;
                }
            }
            ++j;
        }
    }
}

// The row being searched when the search ends without a line: the last candidate was rejected
// and must not stay as if found (ticked, it would be drawn and measured by the next sort).
void HoughEditor::dropCandidate(int k) {
    if (k < 1 || k > n_) return;
    clearRecord(k, 0);
    rows_[k].sikic = false;
    rows_[k].siki.clear();
    recount();
    emit changed();
}

void HoughEditor::drawLine(double slope, double intercept, int k) {
    p1_.plotPoints(traceLine(numericValue(f_.mx) - 1, [&](double x) { return slope * x + intercept; }),
                   lineColour(k));
}

void HoughEditor::leaderStroke(int k) {
    if (k < 0 || k >= kRecords) return;
    hfansl_.line(0, kRowHeight * k + 12, hfansl_.pixelWidth(), lines_[k].intercept, lineColour(k));
}

void HoughEditor::showLineRow(int k) {
    if (k < 0 || k > n_) return;
    rows_[k].siki = lines_[k].text;
    rows_[k].sikic = lines_[k].flag != 0;
    emit changed();
}

void HoughEditor::leaderClick() {
    hfansl_.clear();
}

void HoughEditor::leaderDoubleClick() {
    setLineWidths(int16Or(f_.dw));
    hfansl_.clear();
    if (!acquired_.isNull()) {
        p1_.resize(acquired_.width(), acquired_.height());
        p1_.drawImage(acquired_);
    }
    for (int k = 0; k <= n_; ++k) {
        leaderStroke(k);
        drawLine(lines_[k].slope, lines_[k].intercept, k);
    }
}

// ---- Rows ------------------------------------------------------------------------------------

void HoughEditor::addRow() {
    if (n_ == kMaxSamples) return;
    ++n_;
    rows_[n_] = EditorRow{rows_[0].sikic, QString(), rows_[0].bow, QString()};
    clearRecord(n_, 1);
    fitLeaderStrip();
    recount();
    emit rowsChanged();
    emit changed();
}

void HoughEditor::removeRow() {
    if (n_ == 0) return;
    rows_[n_] = EditorRow{};
    clearRecord(n_, 0);
    --n_;
    fitLeaderStrip();
    recount();
    emit rowsChanged();
    emit changed();
}

void HoughEditor::sikicClicked(int k, bool ticked) {
    if (k < 0 || k > n_) return;
    rows_[k].sikic = ticked;
    lines_[k].flag = ticked ? 1 : 0;
    recount();
    emit changed();
}

// The selection group: each row's two boxes set from what they were, the record's flag from its
// check box.
void HoughEditor::setChecks(bool (*next)(bool)) {
    for (int k = 0; k <= n_; ++k) {
        rows_[k].sikic = next(rows_[k].sikic);
        rows_[k].bow = next(rows_[k].bow);
        lines_[k].flag = rows_[k].sikic ? 1 : 0;
    }
    recount();
    emit changed();
}

void HoughEditor::checkAll() {
    setChecks([](bool) { return true; });
}

void HoughEditor::uncheckAll() {
    setChecks([](bool) { return false; });
}

void HoughEditor::invertChecks() {
    setChecks([](bool was) { return !was; });
}

// ---- Spacing and export ----------------------------------------------------------------------

void HoughEditor::sortAndMeasure() {
    const int width = int16Or(f_.dw);
    p1_.setLineWidth(width);
    probe_.setLineWidth(width);
    // Unselected lines drop out; the later ones move up, one row removed per dropped line.
    const int end = n_;
    for (int k = 0; k <= end; ++k) {
        if (lines_[k].flag != 0) continue;
        if (k == n_) {
            removeRow();
            k = 0; // the scan starts again (from 1, as the loop steps on)
        } else if (k + 1 < kRecords) {
            lines_[k] = lines_[k + 1];
            lines_[k + 1] = lines_[10];
        }
    }
    // One ordering pass by intercept: a line moves down any number of rows, up at most one.
    for (int k = 0; k < n_; ++k) {
        if (lines_[k].intercept > lines_[k + 1].intercept) {
            lines_[10] = lines_[k];
            lines_[k] = lines_[k + 1];
            lines_[k + 1] = lines_[10];
        }
    }
    leaderDoubleClick();
    for (int k = 0; k <= n_; ++k)
        showLineRow(k);
    clearRecord(10, 0);
    // The perpendicular distance from line k's point at x = 128 to line k + 1. A pair with a line
    // that was never found (a row left unsearched), one that cannot be constructed (a slope of 0;
    // parallel to the perpendicular) or no width the picture could hold leaves its width empty.
    const double diagonal = std::hypot(numericValue(f_.mx), numericValue(f_.my));
    for (int k = 0; k < n_; ++k) {
        const double a = lines_[k].slope, b = lines_[k].intercept;
        const double a2 = lines_[k + 1].slope, b2 = lines_[k + 1].intercept;
        QString text;
        if (a != 0 && found(lines_[k]) && found(lines_[k + 1])) {
            const double m = -1 / a;
            const double py = a * 128 + b;
            const double q = py - m * 128;
            if (a2 - m != 0) {
                const double xi = (q - b2) / (a2 - m);
                const double yi = m * xi + q;
                const double d = std::sqrt((xi - 128) * (xi - 128) + (yi - py) * (yi - py));
                if (std::isfinite(d) && d <= diagonal) text = realText(roundToDigit(d, 8));
            }
        }
        rows_[k].intval = text;
    }
    emit changed();
}

void HoughEditor::regionJudgement() {
    const double middle = f_.probeLeft + 15;
    for (int k = 0; k < n_; ++k) {
        const double y1 = middle * lines_[k].slope + lines_[k].intercept;
        const double y2 = middle * lines_[k + 1].slope + lines_[k + 1].intercept;
        const double ym = std::floor(y1 + std::fabs(y2 - y1) / 2);
        if (!(ym >= -32768 && ym <= 32767)) continue;
        const int64_t colour = probe_.pointColor(15, ym);
        if (colour < 0) continue; // outside the strip: unknown, not white
        const int v = static_cast<int>(colour & 0xFF);
        if (v == 0) rows_[k].bow = true;
        if (v == 255) rows_[k].bow = false;
    }
    emit changed();
}

QString HoughEditor::intervalFile() const {
    return QDir(module_.quarn().workFolder()).filePath(f_.fintval + QStringLiteral("_intval.csv"));
}

void HoughEditor::exportIntervals() {
    // Lines as a spreadsheet reads them: quoted texts, numbers with a period, CR LF. The file
    // is Shift-JIS throughout, as the interval files of the systems it comes from are.
    QString caption = f_.caption;
    caption.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    QStringList lines{QLatin1Char('"') + caption + QLatin1Char('"')};
    auto number = [](const QString& t) -> std::optional<double> {
        if (!isNumeric(t)) return std::nullopt;
        return numericValue(t);
    };
    if (!f_.ave) {
        for (int k = 0; k < n_; ++k)
            if (const auto w = number(rows_[k].intval))
                lines << QStringLiteral("%1,%2").arg(rows_[k].bow ? 1 : 0).arg(realText(*w));
    } else {
        // An average over the bands that have a width; a class without any has none to give.
        double sum[2] = {0, 0};
        int count[2] = {0, 0};
        for (int k = 0; k < n_; ++k)
            if (const auto w = number(rows_[k].intval)) {
                sum[rows_[k].bow] += *w;
                ++count[rows_[k].bow];
            }
        auto average = [&](int c) { return count[c] > 0 ? realText(sum[c] / count[c]) : QString(); };
        lines << QStringLiteral("\"白\",") + average(0) << QStringLiteral("\"黒\",") + average(1);
    }
    // Characters Shift-JIS cannot hold (ü, µ) become a visible "?" and the user is told, instead
    // of the encoder's silent substitute bytes.
    QStringList replaced;
    const QByteArray bytes = shiftJis(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"), replaced);
    // The file with the new lines is written whole beside the old one and put in its place, so a
    // full disk leaves the old file as it was, never half a block appended.
    QByteArray content;
    QFile old(intervalFile());
    if (old.exists() &&
        (!old.open(QIODevice::ReadOnly) || (content = old.readAll(), old.error() != QFile::NoError))) {
        module_.inform(QStringLiteral("間隔ファイルを読めないので書き足せません。\n%1").arg(intervalFile()));
        return;
    }
    old.close();
    content += bytes;
    if (!saveWholeFile(intervalFile(), content)) {
        module_.inform(
            QStringLiteral("間隔ファイルに書き込めません（ディスクの空きなど）。ファイルは前のままです。\n%1")
                .arg(intervalFile()));
        return;
    }
    if (!replaced.isEmpty())
        module_.inform(
            QStringLiteral("間隔ファイル（Shift-JIS）に書けない文字 %1 を「?」に置き換えました。\n%2")
                .arg(replaced.join(QLatin1Char(' ')), intervalFile()));
}

QByteArray shiftJis(const QString& text, QStringList& replaced) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString c = text.mid(i, n);
        QStringEncoder sjis("Shift_JIS");
        const QByteArray b = sjis.encode(c);
        if (sjis.hasError()) {
            out += '?';
            if (!replaced.contains(c)) replaced << c;
        } else {
            out += b;
        }
        i += n;
    }
    return out;
}

} // namespace tovra
