// A series in the program: the frames and where their values come from, measured on every core
// off the interface thread, a point a frame as each finishes, cancellable (what is done stays);
// a frame opened with its measurement drawn over it; the table and the plots exported.
#pragma once

#include "core/canvas.h"
#include "core/state_object.h"
#include "measure_files.h"
#include "series.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tovra {

class Module;

struct SeriesFields {
    QStringList inputs;  // files and folders, in order
    int valueSource = 0; // 0 frame numbers, 1 the list, 2 a file, 3 the last number in each name
    QString valueList;   // "1,2,3"
    QString valueFile;   // one number a line, or a CSV with `valueColumn`
    QString valueColumn;
    QString valueUnit;
    QString background; // a Kerr background file (one page, or one a frame)
    bool median = true, flatField = true, otsu = true;
    QString speckArea = QStringLiteral("10");
    QString rectangle; // "X1 Y1 X2 Y2" (columns X1..X2-1, rows Y1..Y2-1); empty for the whole frames
};

// A raw frame's size, which the program takes as square: 8 bits a pixel, or 16 where the file holds
// twice a square's bytes. Nothing for any other file (its own header says).
std::vector<int> rawSize(const QString& path);

class SeriesModule : public StateObject {
    Q_OBJECT
public:
    explicit SeriesModule(Module& module);
    ~SeriesModule() override;

    const SeriesFields& fields() const { return f_; }
    void addInputs(const QStringList& paths);
    void clearInputs();
    void setValueSource(int v) { set(f_.valueSource, v); }
    void setValueList(const QString& v) { set(f_.valueList, v); }
    void setValueFile(const QString& v) { set(f_.valueFile, v); }
    void setValueColumn(const QString& v) { set(f_.valueColumn, v); }
    void setValueUnit(const QString& v) { set(f_.valueUnit, v); }
    void setBackground(const QString& v) { set(f_.background, v); }
    void setMedian(bool v) { set(f_.median, v); }
    void setFlatField(bool v) { set(f_.flatField, v); }
    void setOtsu(bool v) { set(f_.otsu, v); }
    void setSpeckArea(const QString& v) { set(f_.speckArea, v); }
    void setRectangle(const QString& v) { set(f_.rectangle, v); }

    // Checks the fields as start() does (a message names what is wrong): the speck area, the
    // rectangle, that there are frames and values; gives the rectangle and where the values come from.
    bool checkFields(std::optional<measure::Rect>& rect, ValueSource& source) const;
    // "X1 Y1 X2 Y2" (0 or more, 16 pixels wide and high at least), or nothing for empty text; false
    // where the text is neither.
    static bool parseRectangle(const QString& text, std::optional<measure::Rect>& rect);
    // The measurement's settings as the fields give them.
    measure::Settings settings() const;
    // Checks the settings (a message names what is wrong, and nothing starts), lists the frames
    // with their values off the interface thread (a message, and nothing measured, when they do
    // not fit), then measures every frame on `jobs` threads (0: one a core). Returns at once.
    bool start(int jobs = 0);
    // Stops taking frames; those being measured finish, and everything done stays.
    void cancel();
    bool running() const { return preparing_ || !workers_.empty(); }
    bool preparing() const { return preparing_; }
    // Blocks until every worker has stopped (the points they finished are in).
    void wait();
    int framesTotal() const { return static_cast<int>(frames_.size()); }
    int framesDone() const { return done_; }
    bool cancelled() const { return cancelled_; }

    // The frames measured so far, in series order.
    std::vector<SeriesPoint> points() const;
    // Their bubbles, as points() gives the frames (none for a frame without).
    std::vector<std::vector<measure::TrackPoint>> bubbles() const;
    // What the exports' provenance names as the window they came from.
    void setWindowName(const QString& name) { windowName_ = name; }
    PlotTexts plotTexts() const;
    // Measures frame k again and draws it, with what was measured over it, into `frame()`.
    void openFrame(int k);
    int openedFrame() const { return opened_; }
    Canvas& frame() { return frameCanvas_; }
    QString frameSummary() const { return frameSummary_; }

    // The table (a header naming the files, the settings and the program's version) and the plot.
    bool exportTable(const QString& path) const;
    // Where the exports come from: this window, its settings and the frames' digests.
    QByteArray provenance() const;
    bool exportPlot(const QString& path) const;
    // Every frame measured again and its domains written into an OME-TIFF, as `--masks` writes
    // them (a frame not measured gets planes that say so); false, with `why`, where it cannot be.
    bool exportMasks(const QString& path, QString& why) const;
    // The loop's parameters as the window shows them: each branch's coercive field, the coercivity
    // and the exchange bias; empty where no branch crosses zero.
    QString loopSummary() const;
    // Where the export dialogs open: beside the first frames, named after their folder or file,
    // with `suffix`.
    QString exportSuggestion(const QString& suffix) const;

signals:
    // A frame finished: `changed` follows too, after every field the views show.
    void frameDone(int k);
    void finished();

private:
    // What the frames' listing found, off the interface thread: the frames with their values and
    // backgrounds, or the message that says why nothing runs.
    struct Prepared {
        std::vector<SeriesFrame> frames;
        std::vector<MeasurePage> backgrounds;
        QString error;
        measure::Settings settings;
        std::optional<measure::Rect> rect;
        int jobs = 0;
    };
    void launch(Prepared prepared);
    void frameFinished(int k, const SeriesPoint& point, std::vector<measure::TrackPoint> bubbles);
    // Where the values come from, as the fields say, for messages in Japanese.
    ValueSource source() const;

    Module& module_;
    SeriesFields f_;
    std::vector<SeriesFrame> frames_;
    std::vector<MeasurePage> backgrounds_;
    std::vector<std::optional<SeriesPoint>> results_;
    std::vector<std::vector<measure::TrackPoint>> bubbles_;
    QString windowName_ = QStringLiteral("系列の測定");
    measure::Settings running_;
    std::optional<measure::Rect> rect_;
    int done_ = 0;
    bool cancelled_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> next_{0};
    std::vector<std::thread> workers_;
    std::thread preparer_;
    bool preparing_ = false;
    std::atomic<int> working_{0};
    int opened_ = -1;
    Canvas frameCanvas_;
    QString frameSummary_;
};

} // namespace tovra
