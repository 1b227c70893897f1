#include "series.h"

#include "core/numeric.h"
#include "core/regular_file.h"
#include "measure_files.h"
#include "series_text.h"
#include "tiff_page.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <new>

using namespace tovra::series_text;

namespace tovra {

namespace {

const QStringList kPictureSuffixes = {QStringLiteral("mon"),  QStringLiteral("raw"), QStringLiteral("csv"),
                                      QStringLiteral("bmp"),  QStringLiteral("png"), QStringLiteral("tif"),
                                      QStringLiteral("tiff"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("gif")};

// A whole text that is one finite decimal number.
std::optional<double> numberOf(const QString& text) {
    if (!isNumeric(text)) return std::nullopt;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The fields of a CSV line: separated by commas, each perhaps in double quotes (doubled inside).
QStringList csvFields(const QString& line) {
    QStringList out;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            out << field.trimmed(), field.clear();
        } else {
            field += c;
        }
    }
    out << field.trimmed();
    return out;
}

bool countMatches(qsizetype given, const std::vector<SeriesFrame>& frames, const QString& what,
                  Language language, QString& error) {
    if (given == static_cast<qsizetype>(frames.size())) return true;
    error = pick(language, QStringLiteral("%1 gives %2 values for %3 frames"),
                 QStringLiteral("%1 の値は %2 個、フレームは %3 枚です"))
                .arg(what)
                .arg(given)
                .arg(frames.size());
    return false;
}

// At most the start of a text from a file, for a message that quotes it.
QString quoted(const QString& text) {
    constexpr qsizetype kShown = 60;
    return text.size() <= kShown ? text : text.left(kShown) + QStringLiteral("…");
}

bool valuesFromFile(std::vector<SeriesFrame>& frames, const ValueSource& source, QString& error) {
    QString why;
    const std::optional<QByteArray> bytes = readRegularFile(source.file, why);
    if (!bytes) {
        error = pick(source.language, QStringLiteral("%1: %2"), QStringLiteral("%1 を読めません (%2)"))
                    .arg(source.file, why);
        return false;
    }
    const QStringList lines = QString::fromUtf8(*bytes).split(QLatin1Char('\n'));
    std::vector<double> values;
    qsizetype column = -1;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        QString text = line;
        if (!source.column.isEmpty()) {
            const QStringList fields = csvFields(line);
            if (column < 0) { // the header row
                column = fields.indexOf(source.column);
                if (column < 0) {
                    error = pick(source.language, QStringLiteral("%1 has no column \"%2\" (its columns: %3)"),
                                 QStringLiteral("%1 に列「%2」がありません (列: %3)"))
                                .arg(source.file, source.column, quoted(fields.join(QStringLiteral(", "))));
                    return false;
                }
                if (fields.count(source.column) > 1) {
                    error = pick(source.language,
                                 QStringLiteral("%1 has %2 columns named \"%3\": which holds the values?"),
                                 QStringLiteral(
                                     "%1 には「%3」という列が %2 つあります。どちらが値か決められません"))
                                .arg(source.file)
                                .arg(fields.count(source.column))
                                .arg(quoted(source.column));
                    return false;
                }
                continue;
            }
            if (column >= fields.size()) {
                error = pick(source.language, QStringLiteral("%1 line %2 has no field in column \"%3\""),
                             QStringLiteral("%1 の %2 行目に列「%3」の欄がありません"))
                            .arg(source.file)
                            .arg(n + 1)
                            .arg(source.column);
                return false;
            }
            text = fields[column];
        }
        const auto v = numberOf(text);
        if (!v) {
            error = pick(source.language, QStringLiteral("%1 line %2: \"%3\" is not a number"),
                         QStringLiteral("%1 の %2 行目「%3」は数ではありません"))
                        .arg(source.file)
                        .arg(n + 1)
                        .arg(quoted(text));
            return false;
        }
        values.push_back(*v);
    }
    if (!source.column.isEmpty() && column < 0) {
        error = pick(source.language, QStringLiteral("%1 has no header row naming column \"%2\""),
                     QStringLiteral("%1 に列「%2」を名指すヘッダ行がありません"))
                    .arg(source.file, source.column);
        return false;
    }
    if (!countMatches(static_cast<qsizetype>(values.size()), frames, source.file, source.language, error))
        return false;
    for (size_t k = 0; k < frames.size(); ++k)
        frames[k].value = values[k];
    return true;
}

} // namespace

namespace {

// The minus signs names are written with: the hyphen-minus, the minus sign (U+2212, which many
// programs write) and the full-width one.
bool isMinus(QChar c) {
    return c == QLatin1Char('-') || c == QChar(0x2212) || c == QChar(0xFF0D);
}

// The numbers in a name, each with where it starts and ends and its value: digits with a decimal
// part and an exponent ("h_1e5" is 100000), and a minus sign before them where none or a letter
// stands before it ("B_-20mT" and "H-10mT" are -20 and -10; after a digit, as in "10-20", it
// separates). `signedAfterLetter` tells which took the sign from a minus after a letter.
struct NameNumber {
    qsizetype from, to;
    double value;
    bool signedAfterLetter;
};
std::vector<NameNumber> numbersIn(const QString& name) {
    static const QRegularExpression numberPattern(QStringLiteral("\\d+(?:\\.\\d+)?(?:[eE][-+]?\\d+)?"));
    std::vector<NameNumber> out;
    for (auto it = numberPattern.globalMatch(name); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        NameNumber n{m.capturedStart(), m.capturedEnd(), m.captured().toDouble(), false};
        if (n.from > 0 && isMinus(name[n.from - 1]) && (n.from == 1 || !name[n.from - 2].isDigit())) {
            n.signedAfterLetter = n.from > 1 && name[n.from - 2].isLetter();
            n.value = -n.value, n.from -= 1;
        }
        out.push_back(n);
    }
    return out;
}

} // namespace

bool naturallyBefore(const QString& a, const QString& b) {
    // Text compared without regard to case, numbers by their values (signs included, so that a
    // folder of H_-50mT … H_50mT comes in the order of its fields); where the two are the same,
    // the names as they are.
    const std::vector<NameNumber> na = numbersIn(a), nb = numbersIn(b);
    qsizetype i = 0, j = 0;
    size_t ka = 0, kb = 0;
    while (i < a.size() && j < b.size()) {
        const bool numberA = ka < na.size() && na[ka].from == i, numberB = kb < nb.size() && nb[kb].from == j;
        if (numberA && numberB) {
            const double x = na[ka].value, y = nb[kb].value;
            if (x != y && std::isfinite(x) && std::isfinite(y)) return x < y;
            const qsizetype la = na[ka].to - na[ka].from, lb = nb[kb].to - nb[kb].from;
            if (la != lb) return la < lb; // "07" after "7"
            i = na[ka++].to, j = nb[kb++].to;
            continue;
        }
        if (numberA != numberB) return numberA; // a number before text
        const QChar x = a[i].toLower(), y = b[j].toLower();
        if (x != y) return x < y;
        ++i, ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;
}

QString seriesPictureFilter(const QString& description) {
    QStringList shown;
    for (const QString& suffix : kPictureSuffixes)
        shown << QStringLiteral("*.") + suffix;
    return QStringLiteral("%1 (%2)|%3")
        .arg(description, shown.join(QLatin1Char(' ')), shown.join(QLatin1Char(';')));
}

std::vector<SeriesFrame> seriesFrames(const QStringList& arguments, QString& error, Language language) {
    std::vector<SeriesFrame> frames;
    for (const QString& argument : arguments) {
        QStringList files{argument};
        if (QFileInfo(argument).isDir()) {
            files.clear();
            const QDir dir(argument);
            // Every picture's name, also one that cannot be read (a file without permission, a
            // broken link, a FIFO): it keeps its row, with the reason, so that the frame numbers
            // after it stay those of the folder.
            for (const QString& name : dir.entryList(QDir::Files | QDir::System))
                if (kPictureSuffixes.contains(QFileInfo(name).suffix().toLower()))
                    files << dir.filePath(name);
            if (files.isEmpty()) {
                error = pick(language, QStringLiteral("%1: the folder holds no picture"),
                             QStringLiteral("フォルダ %1 に画像がありません"))
                            .arg(argument);
                return {};
            }
            std::sort(files.begin(), files.end(), naturallyBefore);
        }
        for (const QString& file : files) {
            const PictureLayout layout = pictureLayout(file);
            const std::vector<PlaneMetadata>& planes = layout.metadata.planes;
            auto planeOf = [&](int index) {
                return static_cast<size_t>(index) < planes.size()
                           ? std::optional<PlaneMetadata>(planes[static_cast<size_t>(index)])
                           : std::nullopt;
            };
            if (!layout.error.isEmpty() || layout.pages <= 1) {
                frames.push_back({file, 0, 0, layout.pixelSizeUm.empty() ? 0.0 : layout.pixelSizeUm[0],
                                  layout.error, 0, QFileInfo(argument).isDir(), planeOf(0),
                                  layout.metadata.notes});
                continue;
            }
            for (int page = 1; page <= layout.pages; ++page)
                frames.push_back({file,
                                  page,
                                  layout.directories[static_cast<size_t>(page) - 1],
                                  layout.pixelSizeUm[static_cast<size_t>(page) - 1],
                                  {},
                                  0,
                                  QFileInfo(argument).isDir(),
                                  planeOf(page - 1),
                                  page == 1 ? layout.metadata.notes : QStringList()});
        }
    }
    return frames;
}

std::optional<double> lastNumberInName(const QString& path, bool* signedAfterLetter) {
    const std::vector<NameNumber> numbers = numbersIn(QFileInfo(path).completeBaseName());
    if (numbers.empty() || !std::isfinite(numbers.back().value))
        return std::nullopt; // an exponent past any double
    if (signedAfterLetter) *signedAfterLetter = numbers.back().signedAfterLetter;
    return numbers.back().value;
}

namespace {

// Each frame's value from what its file's OME or ImageJ description says of its page.
bool valuesFromMetadata(std::vector<SeriesFrame>& frames, const ValueSource& source, QString& error) {
    const QString& key = source.metadataKey;
    const bool time = key == QLatin1String("DeltaT") || key == QLatin1String("time");
    for (SeriesFrame& frame : frames) {
        const QString page =
            frame.page > 0 ? QStringLiteral("page %1").arg(frame.page) : QStringLiteral("its picture");
        if (!frame.plane) {
            error = pick(source.language,
                         QStringLiteral("--values-from-metadata: %1, %2: no OME or ImageJ metadata"),
                         QStringLiteral("%1 の %2 にはメタデータ (OME、ImageJ) がありません"))
                        .arg(frame.file, page);
            return false;
        }
        std::optional<double> v;
        QString text;
        if (time) {
            v = frame.plane->deltaTS;
        } else if (frame.plane->values.contains(key)) {
            text = frame.plane->values.value(key);
            v = numberOf(text);
        }
        if (!v) {
            error =
                text.isEmpty()
                    ? pick(source.language,
                           QStringLiteral("--values-from-metadata: %1, %2 has no value \"%3\""),
                           QStringLiteral("%1 の %2 には「%3」の値がありません"))
                          .arg(frame.file, page, key)
                    : pick(source.language,
                           QStringLiteral("--values-from-metadata: %1, %2: \"%3\" is \"%4\", not a number"),
                           QStringLiteral("%1 の %2 の「%3」は「%4」で、数ではありません"))
                          .arg(frame.file, page, key, quoted(text));
            return false;
        }
        frame.value = *v;
    }
    return true;
}

} // namespace

bool assignValues(std::vector<SeriesFrame>& frames, const ValueSource& source, QString& error) {
    if (!source.list.isEmpty()) {
        const QStringList texts = source.list.split(QLatin1Char(','));
        for (qsizetype k = 0; k < texts.size(); ++k)
            if (!numberOf(texts[k])) {
                error = pick(source.language, QStringLiteral("--values: \"%1\" (value %2) is not a number"),
                             QStringLiteral("値の一覧の %2 番目「%1」は数ではありません"))
                            .arg(quoted(texts[k]))
                            .arg(k + 1);
                return false;
            }
        const QString list = pick(source.language, QStringLiteral("--values"), QStringLiteral("値の一覧"));
        if (!countMatches(texts.size(), frames, list, source.language, error)) return false;
        for (size_t k = 0; k < frames.size(); ++k)
            frames[k].value = *numberOf(texts[static_cast<qsizetype>(k)]);
        return true;
    }
    if (!source.file.isEmpty()) return valuesFromFile(frames, source, error);
    if (!source.metadataKey.isEmpty()) return valuesFromMetadata(frames, source, error);
    for (size_t k = 0; k < frames.size(); ++k) {
        if (!source.fromName) {
            frames[k].value = static_cast<double>(k + 1);
            continue;
        }
        const auto v = lastNumberInName(frames[k].file);
        if (!v) {
            error =
                pick(source.language, QStringLiteral("--values-from-name: \"%1\" has no number in its name"),
                     QStringLiteral("ファイル名「%1」に数がありません"))
                    .arg(QFileInfo(frames[k].file).fileName());
            return false;
        }
        frames[k].value = *v;
    }
    // A loop named by its field alone: its frames come in the order of their names, one field's
    // two frames side by side, and no order of the names can give the loop's.
    // Names with a number before the value (a frame's index) are ordered by that number.
    std::map<double, size_t> seen;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (!frames[k].named || numbersIn(QFileInfo(frames[k].file).completeBaseName()).size() > 1) continue;
        const auto [at, fresh] = seen.emplace(frames[k].value, k);
        if (fresh) continue;
        error =
            pick(source.language,
                 QStringLiteral(
                     "--values-from-name: %1 and %2 both give %3, and a folder's pictures come in the "
                     "order of their names: a loop named by its field alone cannot be ordered. Put "
                     "each frame's index before its value (H_001_-5mT.png, H_002_0mT.png, …)"),
                 QStringLiteral(
                     "ファイル名「%1」と「%2」はどちらも %3 です。フォルダの画像は名前の順に並ぶので、"
                     "磁場の値だけの名前ではループの順がわかりません。値の前にフレームの番号を付けてください "
                     "(H_001_-5mT.png、H_002_0mT.png、…)"))
                .arg(QFileInfo(frames[at->second].file).fileName(), QFileInfo(frames[k].file).fileName())
                .arg(frames[k].value);
        return false;
    }
    return true;
}

void markSaturated(std::vector<SeriesPoint>& points) {
    std::vector<double> blacks, whites;
    for (const SeriesPoint& p : points)
        if (p.measured() && p.blackLevel && p.whiteLevel)
            blacks.push_back(*p.blackLevel), whites.push_back(*p.whiteLevel);
    if (blacks.empty()) return;
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double dark = median(blacks), light = median(whites), contrast = std::fabs(light - dark);
    if (!(contrast > 0)) return;
    for (SeriesPoint& p : points) {
        const bool wallless = p.pattern == QLatin1String("none") ||
                              p.error.startsWith(QStringLiteral("no domains")) ||
                              p.error == QLatin1String("the image is uniform");
        if (!wallless || !p.level) continue;
        // Within a quarter of the contrast of one colour's level: that colour, all over.
        const double toDark = std::fabs(*p.level - dark), toLight = std::fabs(*p.level - light);
        if (std::min(toDark, toLight) > contrast / 4) continue;
        p.pattern = QStringLiteral("saturated"), p.error.clear(), p.reliable = true, p.warnings.clear();
        p.blackFraction = toDark < toLight ? 1 : 0, p.blackFractionSe = 0;
        p.blackWidth = p.whiteWidth = p.period = std::nan("");
        p.blackWidthSe = p.whiteWidthSe = p.periodSe = std::nan("");
    }
}

QStringList signNotes(const std::vector<SeriesFrame>& frames) {
    QStringList notes;
    for (const SeriesFrame& f : frames) {
        bool afterLetter = false;
        const auto v = lastNumberInName(f.file, &afterLetter);
        if (v && afterLetter)
            notes << QStringLiteral(
                         "%1: read as %2 (a minus after a letter is the number's sign; a name such "
                         "as H_%3mT gives +%3)")
                         .arg(QFileInfo(f.file).fileName())
                         .arg(*v)
                         .arg(-*v);
    }
    notes.removeDuplicates();
    return notes;
}

std::optional<measure::Image> readFrame(const SeriesFrame& frame, const std::vector<int>& size,
                                        double& pixelSizeUm, QString& error) {
    pixelSizeUm = frame.pixelSizeUm;
    if (!frame.error.isEmpty()) {
        error = frame.error;
        return std::nullopt;
    }
    if (frame.page > 0) {
        std::optional<measure::Image> img = readTiffDirectory(frame.file, frame.directory, error);
        if (!img) error = QStringLiteral("page %1 cannot be decoded: %2").arg(frame.page).arg(error);
        return img;
    }
    std::vector<MeasurePage> pages = readMeasurePages(frame.file, size, error, false);
    if (pages.empty()) return std::nullopt;
    pixelSizeUm = pages.front().pixelSizeUm;
    return std::move(pages.front().image);
}

measure::Result measureFrame(const SeriesFrame& frame, const std::vector<int>& size,
                             const measure::Image* background, std::optional<measure::Rect> rect,
                             const measure::Settings& settings, double& pixelSizeUm) {
    measure::Result r;
    try {
        QString why;
        std::optional<measure::Image> image = readFrame(frame, size, pixelSizeUm, why);
        if (!image) {
            r.error = why.toStdString();
            return r;
        }
        return measure::measure(std::move(*image), background, rect, settings);
    } catch (const std::bad_alloc&) {
        r = measure::Result{};
        r.error = "not enough memory to measure it";
    }
    return r;
}

SeriesPoint seriesPoint(const SeriesFrame& frame, const measure::Result& r, double pixelSizeUm) {
    SeriesPoint p;
    p.file = frame.file, p.page = frame.page, p.value = frame.value;
    p.width = r.width, p.height = r.height;
    p.pattern = QString::fromStdString(r.pattern);
    p.error = QString::fromStdString(r.error);
    p.level = r.level, p.blackLevel = r.blackLevel, p.whiteLevel = r.whiteLevel;
    for (const measure::Warning& w : r.warnings)
        p.warnings << QString::fromStdString(w.code);
    p.reliable = r.reliable && r.error.empty();
    p.blackFraction = r.blackFraction, p.blackFractionSe = r.blackFractionSe;
    p.blackWidth = r.blackWidthPx, p.blackWidthSe = r.blackWidthSePx;
    p.whiteWidth = r.whiteWidthPx, p.whiteWidthSe = r.whiteWidthSePx;
    p.period = r.periodPx, p.periodSe = r.periodSePx;
    p.pixelSizeUm = pixelSizeUm;
    if (r.bubbles) {
        p.bubbles = static_cast<int>(r.bubbles->items.size());
        if (const auto& o = r.bubbles->order)
            p.order = SeriesPoint::Order{o->psi6, o->psi6Se, static_cast<int>(o->five.size()),
                                         static_cast<int>(o->seven.size()),
                                         static_cast<int>(o->dislocations.size())};
    }
    return p;
}

QByteArray trackFrameDetails(const std::vector<SeriesPoint>& points) {
    QJsonArray out;
    for (size_t k = 0; k < points.size(); ++k) {
        const SeriesPoint& p = points[k];
        QJsonObject o{{QStringLiteral("frame"), static_cast<double>(k + 1)},
                      {QStringLiteral("file"), p.file},
                      {QStringLiteral("bubbles"), p.bubbles.value_or(0)}};
        if (p.page > 0) o[QStringLiteral("page")] = p.page;
        if (p.order) {
            o[QStringLiteral("psi6")] = p.order->psi6, o[QStringLiteral("psi6_se")] = p.order->psi6Se;
            o[QStringLiteral("fivefold")] = p.order->fivefold,
            o[QStringLiteral("sevenfold")] = p.order->sevenfold;
            o[QStringLiteral("dislocations")] = p.order->dislocations;
        }
        if (!p.error.isEmpty())
            o[QStringLiteral("note")] = p.error;
        else if (!p.bubbles)
            o[QStringLiteral("note")] = QStringLiteral("no bubbles (the pattern is %1)").arg(p.pattern);
        out.append(o);
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

std::vector<measure::TrackPoint> trackPoints(const measure::Result& r) {
    std::vector<measure::TrackPoint> out;
    if (r.bubbles)
        for (const measure::Bubble& b : r.bubbles->items)
            out.push_back({b.x, b.y, b.positionSe, b.diameter, b.inside && b.single});
    return out;
}

namespace {

QString exact(double v) {
    return std::isfinite(v) ? QString::number(v, 'g', 17) : QStringLiteral("null");
}

} // namespace

QByteArray pointJson(const SeriesPoint& p) {
    QJsonObject o;
    o[QStringLiteral("file")] = p.file;
    o[QStringLiteral("page")] = p.page;
    o[QStringLiteral("width")] = p.width, o[QStringLiteral("height")] = p.height;
    o[QStringLiteral("pattern")] = p.pattern, o[QStringLiteral("error")] = p.error;
    o[QStringLiteral("warnings")] = QJsonArray::fromStringList(p.warnings);
    o[QStringLiteral("reliable")] = p.reliable;
    // The numbers as text, 17 digits: a double's every bit, whatever the JSON library does.
    const std::pair<const char*, double> numbers[] = {{"value", p.value},
                                                      {"black_fraction", p.blackFraction},
                                                      {"black_fraction_se", p.blackFractionSe},
                                                      {"black_width", p.blackWidth},
                                                      {"black_width_se", p.blackWidthSe},
                                                      {"white_width", p.whiteWidth},
                                                      {"white_width_se", p.whiteWidthSe},
                                                      {"period", p.period},
                                                      {"period_se", p.periodSe},
                                                      {"pixel_size_um", p.pixelSizeUm}};
    for (const auto& [key, v] : numbers)
        o[QLatin1String(key)] = exact(v);
    for (const auto& [key, v] :
         {std::pair{"level", p.level}, {"black_level", p.blackLevel}, {"white_level", p.whiteLevel}})
        if (v) o[QLatin1String(key)] = exact(*v);
    if (p.bubbles) o[QStringLiteral("bubbles")] = *p.bubbles;
    if (p.order)
        o[QStringLiteral("order")] = QJsonObject{{QStringLiteral("psi6"), exact(p.order->psi6)},
                                                 {QStringLiteral("psi6_se"), exact(p.order->psi6Se)},
                                                 {QStringLiteral("fivefold"), p.order->fivefold},
                                                 {QStringLiteral("sevenfold"), p.order->sevenfold},
                                                 {QStringLiteral("dislocations"), p.order->dislocations}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<SeriesPoint> pointFromJson(const QByteArray& json) {
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(json, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) return std::nullopt;
    const QJsonObject o = d.object();
    SeriesPoint p;
    bool ok = o.value(QStringLiteral("file")).isString() && o.value(QStringLiteral("reliable")).isBool();
    auto whole = [&](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        ok = ok && v.isDouble() && std::fabs(v.toDouble()) < 1e9;
        return v.toInt();
    };
    auto real = [&](const char* key) {
        const QString text = o.value(QLatin1String(key)).toString();
        if (text == QLatin1String("null")) return std::numeric_limits<double>::quiet_NaN();
        bool good = false;
        const double v = text.toDouble(&good);
        ok = ok && good;
        return v;
    };
    p.file = o.value(QStringLiteral("file")).toString();
    p.page = whole("page"), p.width = whole("width"), p.height = whole("height");
    p.pattern = o.value(QStringLiteral("pattern")).toString(),
    p.error = o.value(QStringLiteral("error")).toString();
    for (const auto& w : o.value(QStringLiteral("warnings")).toArray())
        p.warnings << w.toString();
    p.reliable = o.value(QStringLiteral("reliable")).toBool();
    p.value = real("value"), p.blackFraction = real("black_fraction"),
    p.blackFractionSe = real("black_fraction_se");
    p.blackWidth = real("black_width"), p.blackWidthSe = real("black_width_se");
    p.whiteWidth = real("white_width"), p.whiteWidthSe = real("white_width_se");
    p.period = real("period"), p.periodSe = real("period_se"), p.pixelSizeUm = real("pixel_size_um");
    for (auto [key, at] :
         {std::pair{"level", &p.level}, {"black_level", &p.blackLevel}, {"white_level", &p.whiteLevel}})
        if (o.contains(QLatin1String(key))) *at = real(key);
    if (o.contains(QStringLiteral("bubbles"))) p.bubbles = whole("bubbles");
    if (o.value(QStringLiteral("order")).isObject()) {
        const QJsonObject order = o.value(QStringLiteral("order")).toObject();
        auto orderWhole = [&](const char* key) {
            const QJsonValue v = order.value(QLatin1String(key));
            ok = ok && v.isDouble() && std::fabs(v.toDouble()) < 1e9;
            return v.toInt();
        };
        auto orderReal = [&](const char* key) {
            bool good = false;
            const double v = order.value(QLatin1String(key)).toString().toDouble(&good);
            ok = ok && good;
            return v;
        };
        p.order = SeriesPoint::Order{orderReal("psi6"), orderReal("psi6_se"), orderWhole("fivefold"),
                                     orderWhole("sevenfold"), orderWhole("dislocations")};
    }
    if (!ok) return std::nullopt;
    return p;
}

} // namespace tovra
