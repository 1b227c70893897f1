#include "series_module.h"

#include "core/busy_cursor.h"
#include "core/module.h"
#include "core/regular_file.h"
#include "core/save_file.h"
#include "mask_stack.h"
#include "measurement.h"
#include "provenance.h"
#include "series_loop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <cmath>

namespace tovra {

std::vector<int> rawSize(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("mon") && suffix != QLatin1String("raw")) return {};
    const qint64 bytes = QFileInfo(path).size();
    for (const qint64 pixels : {bytes, bytes / 2}) {
        const auto side = static_cast<qint64>(std::llround(std::sqrt(static_cast<double>(pixels))));
        if (side > 0 && side * side == pixels && side <= 1 << 20)
            return {static_cast<int>(side), static_cast<int>(side)};
    }
    return {};
}

SeriesModule::SeriesModule(Module& module) : module_(module) {}

SeriesModule::~SeriesModule() {
    stop_ = true;
    if (preparer_.joinable()) preparer_.join();
    for (std::thread& t : workers_)
        t.join();
}

void SeriesModule::addInputs(const QStringList& paths) {
    QStringList inputs = f_.inputs;
    inputs << paths;
    set(f_.inputs, inputs);
}

void SeriesModule::clearInputs() {
    set(f_.inputs, QStringList{});
}

measure::Settings SeriesModule::settings() const {
    return measure::Settings{f_.median, f_.flatField, f_.otsu, f_.speckArea.trimmed().toInt()};
}

ValueSource SeriesModule::source() const {
    ValueSource source;
    source.language = Language::Japanese;
    if (f_.valueSource == 1) source.list = f_.valueList.trimmed();
    if (f_.valueSource == 2) source.file = f_.valueFile.trimmed(), source.column = f_.valueColumn.trimmed();
    source.fromName = f_.valueSource == 3;
    return source;
}

PlotTexts SeriesModule::plotTexts() const {
    return tovra::plotTexts(source(), f_.valueUnit.trimmed());
}

bool SeriesModule::parseRectangle(const QString& text, std::optional<measure::Rect>& rect) {
    rect.reset();
    const QStringList corners = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (corners.isEmpty()) return true;
    int v[4] = {0, 0, 0, 0};
    bool whole = corners.size() == 4;
    for (qsizetype i = 0; i < corners.size() && whole; ++i)
        v[i] = corners[i].toInt(&whole);
    if (!whole || v[2] - v[0] < 16 || v[3] - v[1] < 16 || v[0] < 0 || v[1] < 0) return false;
    rect = measure::Rect{v[0], v[1], v[2], v[3]};
    return true;
}

bool SeriesModule::checkFields(std::optional<measure::Rect>& rect, ValueSource& source) const {
    bool ok = false;
    const int speck = f_.speckArea.trimmed().toInt(&ok);
    if (!ok || speck < 0 || speck > MeasurementModule::kMaxSpeckArea) {
        module_.inform(QStringLiteral("ゴミの面積上限「%1」は 0 から %2 までの整数にしてください。")
                           .arg(f_.speckArea)
                           .arg(MeasurementModule::kMaxSpeckArea));
        return false;
    }
    if (!parseRectangle(f_.rectangle, rect)) {
        module_.inform(QStringLiteral("矩形「%1」は「x1 y1 x2 y2」の 4 つの整数にしてください (0 以上、"
                                      "幅と高さは 16 画素以上)。空欄なら画像全体を測ります。")
                           .arg(f_.rectangle));
        return false;
    }
    if (f_.inputs.isEmpty()) {
        module_.inform(
            QStringLiteral("測るフレームを「ファイルを追加」か「フォルダを追加」で選んでください。"));
        return false;
    }
    source = this->source();
    if ((f_.valueSource == 1 && source.list.isEmpty()) || (f_.valueSource == 2 && source.file.isEmpty())) {
        module_.inform(f_.valueSource == 1 ? QStringLiteral("値の一覧を「1,2,3」のように入れてください。")
                                           : QStringLiteral("値のファイルを選んでください。"));
        return false;
    }
    return true;
}

bool SeriesModule::start(int jobs) {
    if (running()) return false;
    std::optional<measure::Rect> rect;
    ValueSource source;
    if (!checkFields(rect, source)) return false;
    // The frames, their values and the background are found off the interface thread: a folder
    // of thousands of pictures, or a stack of thousands of pages, takes a while to list.
    stop_ = false, cancelled_ = false;
    preparing_ = true;
    const QStringList inputs = f_.inputs;
    const QString background = f_.background.trimmed();
    const measure::Settings settings = this->settings();
    preparer_ = std::thread([this, inputs, source, background, settings, rect, jobs] {
        auto prepared = std::make_shared<Prepared>();
        Prepared& p = *prepared;
        QString why;
        p.frames = seriesFrames(inputs, why, Language::Japanese);
        if (p.frames.empty()) {
            p.error = QStringLiteral("フレームを読めません。\n%1").arg(why);
        } else if (!assignValues(p.frames, source, why)) {
            p.error = QStringLiteral("値がフレームに合いません。何も測っていません。\n%1").arg(why);
        } else if (!background.isEmpty()) {
            p.backgrounds = readMeasurePages(background, rawSize(background), why);
            if (p.backgrounds.empty())
                p.error = QStringLiteral("背景を読めません。\n%1").arg(why);
            else if (p.backgrounds.size() != 1 && p.backgrounds.size() != p.frames.size())
                p.error = QStringLiteral("背景のページは %1 枚、フレームは %2 枚です。背景は 1 枚か、"
                                         "フレームごとに 1 枚にしてください。")
                              .arg(p.backgrounds.size())
                              .arg(p.frames.size());
        }
        p.settings = settings, p.rect = rect, p.jobs = jobs;
        QMetaObject::invokeMethod(
            this, [this, prepared] { launch(std::move(*prepared)); }, Qt::QueuedConnection);
    });
    emit changed();
    return true;
}

void SeriesModule::launch(Prepared prepared) {
    if (preparer_.joinable()) preparer_.join();
    preparing_ = false;
    if (stop_ || !prepared.error.isEmpty()) {
        if (!prepared.error.isEmpty()) module_.inform(prepared.error);
        emit finished();
        emit changed();
        return;
    }
    frames_ = std::move(prepared.frames);
    backgrounds_ = std::move(prepared.backgrounds);
    results_.assign(frames_.size(), std::nullopt);
    bubbles_.assign(frames_.size(), {});
    running_ = prepared.settings;
    rect_ = prepared.rect;
    done_ = 0, cancelled_ = false, opened_ = -1;
    stop_ = false, next_ = 0;
    const int threads = std::max(1, std::min(prepared.jobs > 0 ? prepared.jobs : QThread::idealThreadCount(),
                                             static_cast<int>(frames_.size())));
    working_ = threads;
    for (int t = 0; t < threads; ++t)
        workers_.emplace_back([this] {
            for (;;) {
                const size_t k = next_++;
                if (stop_ || k >= frames_.size()) break;
                const measure::Image* bg =
                    backgrounds_.empty() ? nullptr : &backgrounds_[backgrounds_.size() == 1 ? 0 : k].image;
                double um = 0;
                const measure::Result r =
                    measureFrame(frames_[k], rawSize(frames_[k].file), bg, rect_, running_, um);
                const SeriesPoint point = seriesPoint(frames_[k], r, um);
                QMetaObject::invokeMethod(
                    this,
                    [this, k, point, bubbles = trackPoints(r)]() mutable {
                        frameFinished(static_cast<int>(k), point, std::move(bubbles));
                    },
                    Qt::QueuedConnection);
            }
            if (--working_ == 0)
                QMetaObject::invokeMethod(
                    this, [this] { wait(); }, Qt::QueuedConnection);
        });
    emit changed();
}

void SeriesModule::frameFinished(int k, const SeriesPoint& point, std::vector<measure::TrackPoint> bubbles) {
    if (k < 0 || static_cast<size_t>(k) >= results_.size()) return;
    results_[static_cast<size_t>(k)] = point;
    bubbles_[static_cast<size_t>(k)] = std::move(bubbles);
    ++done_;
    emit frameDone(k);
    emit changed();
}

void SeriesModule::cancel() {
    if (!running()) return;
    if (preparing_) { // the frames being listed are not measured
        stop_ = true;
        cancelled_ = true;
        emit changed();
        return;
    }
    stop_ = true;
    cancelled_ = true;
    emit changed();
}

void SeriesModule::wait() {
    if (preparer_.joinable()) { // the frames listed, then measured
        preparer_.join();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    if (workers_.empty()) return;
    for (std::thread& t : workers_)
        t.join();
    workers_.clear();
    // The points the workers sent before they stopped.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    emit finished();
    emit changed();
}

std::vector<SeriesPoint> SeriesModule::points() const {
    std::vector<SeriesPoint> out;
    for (const auto& p : results_)
        if (p) out.push_back(*p);
    markSaturated(out);
    return out;
}

std::vector<std::vector<measure::TrackPoint>> SeriesModule::bubbles() const {
    std::vector<std::vector<measure::TrackPoint>> out;
    for (size_t k = 0; k < results_.size(); ++k)
        if (results_[k]) out.push_back(bubbles_[k]);
    return out;
}

void SeriesModule::openFrame(int k) {
    const std::vector<SeriesPoint> done = points();
    if (k < 0 || static_cast<size_t>(k) >= done.size()) return;
    // The k-th point is the k-th frame done in series order.
    size_t index = 0;
    for (size_t i = 0, seen = 0; i < results_.size(); ++i)
        if (results_[i] && seen++ == static_cast<size_t>(k)) index = i;
    const SeriesFrame& frame = frames_[index];
    double um = 0;
    QString why;
    const auto image = readFrame(frame, rawSize(frame.file), um, why);
    opened_ = k;
    if (!image) {
        frameSummary_ = QStringLiteral("%1: %2").arg(QFileInfo(frame.file).fileName(), why);
        emit changed();
        return;
    }
    const measure::Image* bg =
        backgrounds_.empty() ? nullptr : &backgrounds_[backgrounds_.size() == 1 ? 0 : index].image;
    const measure::Result r = measure::measure(*image, bg, rect_, running_);
    drawMeasured(frameCanvas_, *image, r);
    const SeriesPoint& p = done[static_cast<size_t>(k)];
    frameSummary_ = QStringLiteral("%1%2  値 %3\n黒 %4 ± %5 px, 白 %6 ± %7 px, 周期 %8 ± %9 px%10")
                        .arg(QFileInfo(frame.file).fileName(),
                             frame.page > 0 ? QStringLiteral(" (%1 ページ)").arg(frame.page) : QString())
                        .arg(p.value)
                        .arg(p.blackWidth, 0, 'f', 2)
                        .arg(p.blackWidthSe, 0, 'f', 2)
                        .arg(p.whiteWidth, 0, 'f', 2)
                        .arg(p.whiteWidthSe, 0, 'f', 2)
                        .arg(p.period, 0, 'f', 2)
                        .arg(p.periodSe, 0, 'f', 2)
                        .arg(QString());
    // The frame's pattern, verdict and warnings, as the measurement window names them.
    QStringList notes;
    for (const measure::Warning& w : r.warnings)
        notes << MeasurementModule::warningText(w.code);
    frameSummary_ += QStringLiteral("\n模様: %1  判定: %2")
                         .arg(p.pattern, p.reliable ? QStringLiteral("使える数値です")
                                                    : QStringLiteral("この数値は使わないでください"));
    if (!notes.isEmpty())
        frameSummary_ += QStringLiteral("\n注意: ") + notes.join(QStringLiteral("\n注意: "));
    emit changed();
}

QByteArray SeriesModule::provenance() const {
    // The window's settings as the command line would give them, the inputs as measured.
    static const char* sources[] = {"frame numbers", "list", "file", "the files' names"};
    QString values = QString::fromLatin1(sources[std::clamp(f_.valueSource, 0, 3)]);
    if (f_.valueSource == 1) values += QLatin1Char(' ') + f_.valueList;
    if (f_.valueSource == 2)
        values += QLatin1Char(' ') + f_.valueFile +
                  (f_.valueColumn.isEmpty() ? QString() : QStringLiteral(", column ") + f_.valueColumn);
    std::vector<int> rect;
    if (rect_) rect = {rect_->x1, rect_->y1, rect_->x2, rect_->y2};
    const RunSettings run{QString::fromStdString(measure::describe(running_)),
                          rect,
                          {},
                          0,
                          values,
                          valueName(source()),
                          f_.valueUnit.trimmed(),
                          QStringLiteral("ja")};
    QStringList files;
    for (const SeriesPoint& p : points())
        files << p.file;
    return provenanceOf({}, windowName_, settingsJson(run), files, f_.background,
                        f_.valueSource == 2 ? f_.valueFile : QString())
        .line();
}

bool SeriesModule::exportMasks(const QString& path, QString& why) const {
    if (running() || frames_.empty()) {
        why =
            running() ? QStringLiteral("測定の途中です。") : QStringLiteral("測定したフレームがありません。");
        return false;
    }
    if (const QString refused = unwritableTarget(path); !refused.isEmpty()) {
        why = refused;
        return false;
    }
    BusyCursor busy;
    std::vector<MaskFrame> described;
    for (const SeriesFrame& frame : frames_)
        described.push_back({frame.file, frame.page, frame.value});
    MaskStackWriter masks(path, std::move(described), valueName(source()), frames_.front().pixelSizeUm,
                          provenance());
    for (size_t k = 0; k < frames_.size(); ++k) {
        MaskPlanes planes;
        if (results_[k]) {
            const measure::Image* bg =
                backgrounds_.empty() ? nullptr : &backgrounds_[backgrounds_.size() == 1 ? 0 : k].image;
            double um = 0;
            planes =
                maskPlanesOf(measureFrame(frames_[k], rawSize(frames_[k].file), bg, rect_, running_, um));
        } else {
            planes.error = QStringLiteral("not measured");
        }
        if (!masks.add(planes, why)) return false;
    }
    return masks.finish(why);
}

bool SeriesModule::exportTable(const QString& path) const {
    SeriesHeader header{QString::fromStdString(measure::describe(running_)),
                        valueName(source()),
                        f_.valueUnit.trimmed(),
                        {},
                        {}};
    header.loop = loopComments(loopOf(points()), f_.valueUnit.trimmed());
    header.provenance = provenance();
    if (rect_)
        header.rectangle =
            QStringLiteral("%1 %2 %3 %4").arg(rect_->x1).arg(rect_->y1).arg(rect_->x2).arg(rect_->y2);
    return saveWholeFile(path, seriesTableCsv(points(), header).toUtf8());
}

QString SeriesModule::loopSummary() const {
    const Loop loop = loopOf(points());
    const QString unit =
        f_.valueUnit.trimmed().isEmpty() ? QString() : QLatin1Char(' ') + f_.valueUnit.trimmed();
    auto pm = [&](double v, double se) {
        return QStringLiteral("%1 ± %2%3").arg(v, 0, 'g', 5).arg(se, 0, 'g', 2).arg(unit);
    };
    QStringList parts;
    for (const LoopBranch& b : loop.branches)
        if (b.coercive)
            parts << QStringLiteral("Hc%1 %2").arg(
                b.up ? QStringLiteral("↑") : QStringLiteral("↓"),
                pm(*b.coercive, std::hypot(b.coerciveSe.value_or(0), b.coerciveSys.value_or(0))));
    if (loop.coercivity)
        parts << QStringLiteral("保磁力 %1")
                     .arg(pm(*loop.coercivity, std::hypot(*loop.coercivitySe, loop.loopSys.value_or(0))))
              << QStringLiteral("交換バイアス %1")
                     .arg(pm(*loop.exchangeBias, std::hypot(*loop.exchangeBiasSe, loop.loopSys.value_or(0))));
    return parts.join(QStringLiteral("、"));
}

QString SeriesModule::exportSuggestion(const QString& suffix) const {
    if (f_.inputs.isEmpty()) return {};
    const QFileInfo first(f_.inputs.front());
    const QString name =
        (first.isDir() ? first.fileName() : first.completeBaseName()) + QStringLiteral("_series");
    return first.absoluteDir().filePath(name + suffix);
}

bool SeriesModule::exportPlot(const QString& path) const {
    QString why;
    return saveSeriesPlot(path, points(), plotTexts(), why, provenance());
}

} // namespace tovra
