// A series of frames measured as one experiment: a field sweep or a time series. The frames in
// order (files, every page of a multi-page TIFF, a folder's pictures in natural order), one value
// each (a field, a time, a temperature) from a list, a file, the file names or the frame
// numbers, and what the series gives: a table of a row a frame and a plot of the widths and the
// net magnetisation against the value. Used by `--measure` and the series window alike.
#pragma once

#include "measure.h"
#include "stack_metadata.h"
#include "track.h"

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class QPainter;

namespace tovra {

struct SeriesFrame {
    QString file;
    int page = 0;           // of a multi-page TIFF, from 1; 0 for a file's only picture
    int64_t directory = 0;  // where the page's TIFF directory starts, for a page of a multi-page TIFF
    double pixelSizeUm = 0; // that the file states for the page
    QString error;          // why the file cannot be read whole; the frame is then not measured
    double value = 0;
    bool named = false;                 // its place came from its name: one of a folder's pictures
    std::optional<PlaneMetadata> plane; // what an OME or ImageJ description says of the page
    QStringList notes;                  // on the file's first frame: what of its metadata could not be used
};

// The language of the messages: English on the command line, Japanese in the program.
enum class Language { English, Japanese };

// The frames of `arguments` in order: a folder stands for its pictures in natural order
// (frame_2 before frame_10), a multi-page TIFF for its pages. Nothing, with `error` naming the
// argument, when a folder holds no picture.
std::vector<SeriesFrame> seriesFrames(const QStringList& arguments, QString& error,
                                      Language language = Language::English);

// Natural order: numbers compared by their values, read as lastNumberInName reads them ("frame_2"
// before "frame_10", "H_-50mT" before "H_-5mT" before "H_5mT"), the rest as text without regard
// to case.
bool naturallyBefore(const QString& a, const QString& b);

// The file dialog's filter ("description|patterns") for the picture files a series takes, the
// ones a folder contributes.
QString seriesPictureFilter(const QString& description);

// Where the values come from: a list ("1,2,3"), a file (one number a line, or the CSV column
// named `column`), the last number in each file's name, or else the frame numbers from 1.
struct ValueSource {
    QString list, file, column;
    QString name; // what the values are called (--value-name), over what the source says
    bool fromName = false;
    QString metadataKey = {};              // --values-from-metadata: a map annotation's key, or DeltaT
    Language language = Language::English; // of the messages
};
// Gives every frame its value; false, with `error` saying which value or line is wrong, when the
// values are not one number for each frame.
// Values from the names that repeat among frames ordered by their names alone are refused: a loop
// named by its field only cannot be put in order.
bool assignValues(std::vector<SeriesFrame>& frames, const ValueSource& source, QString& error);
// For values from the names: how each name whose value took its sign from a minus after a letter
// ("H-10mT") was read, a line each.
QStringList signNotes(const std::vector<SeriesFrame>& frames);
// The last number in a file's name without its suffix ("H_-2.5mT_010" is 10, "B_-20mT" is -20,
// "h_1e5" is 100000). A minus sign (-, U+2212 or the full-width one) before the digits is the
// number's sign where nothing or a letter stands before it ("H-10mT" is -10: `signedAfterLetter`
// is then set, for a note on how the name was read), not after a digit ("10-20" is 20).
std::optional<double> lastNumberInName(const QString& path, bool* signedAfterLetter = nullptr);

// A frame's picture: the page of its TIFF, or the file's only picture (raw ones of `size`), with
// the pixel size the file states. Nothing, with `error` set, when it cannot be read.
std::optional<measure::Image> readFrame(const SeriesFrame& frame, const std::vector<int>& size,
                                        double& pixelSizeUm, QString& error);
// A frame measured: read, then measured against `background` where given. Running out of memory
// is that frame's error.
measure::Result measureFrame(const SeriesFrame& frame, const std::vector<int>& size,
                             const measure::Image* background, std::optional<measure::Rect> rect,
                             const measure::Settings& settings, double& pixelSizeUm);

// What a series keeps of each frame's measurement.
struct SeriesPoint {
    QString file;
    int page = 0;
    double value = 0;
    int width = 0, height = 0;
    QString pattern, error;
    QStringList warnings; // the codes of the frame's warnings
    bool reliable = false;
    double blackFraction = 0, blackFractionSe = 0;
    double blackWidth = 0, blackWidthSe = 0, whiteWidth = 0, whiteWidthSe = 0, period = 0, periodSe = 0;
    double pixelSizeUm = 0;
    std::optional<double> level, blackLevel, whiteLevel; // as the measurement gives them
    // A frame of bubbles: how many, and its lattice's order where the measurement gives it.
    std::optional<int> bubbles;
    struct Order {
        double psi6 = 0, psi6Se = 0;
        int fivefold = 0, sevenfold = 0, dislocations = 0;
    };
    std::optional<Order> order;
    bool measured() const { return error.isEmpty() && pattern != QLatin1String("none"); }
    // A frame of one colour: no widths, its black fraction 1 or 0.
    bool saturated() const { return pattern == QLatin1String("saturated"); }
    // 1 - 2 x the black fraction: +1 all white, -1 all black.
    double magnetisation() const { return 1 - 2 * blackFraction; }
};
SeriesPoint seriesPoint(const SeriesFrame& frame, const measure::Result& r, double pixelSizeUm);
// Each frame of a tracking as its summary lists it: its bubbles and its lattice's order, or why it
// has none; a JSON array.
QByteArray trackFrameDetails(const std::vector<SeriesPoint>& points);
// The bubbles of a frame as the tracking takes them (none where the frame has no bubbles).
std::vector<measure::TrackPoint> trackPoints(const measure::Result& r);
// A point as one JSON object, its numbers to 17 digits (what a part of a series hands to the
// merge, so that the joined series is the one run's to the last digit), and back: nothing where
// the object is not one.
QByteArray pointJson(const SeriesPoint& p);
std::optional<SeriesPoint> pointFromJson(const QByteArray& json);
// Frames of one colour in a series: a frame without walls (pattern none, or all one colour) whose
// level lies near the black or the white domains' level of the series' other frames (their
// medians) is saturated, black fraction 1 or 0, reliable; one at neither level stays as it is.
void markSaturated(std::vector<SeriesPoint>& points);

// The table: comment lines (program and version, settings, value, the frames' files and sizes
// where they differ), a header row and a row a frame.
struct SeriesHeader {
    QString settings, valueName = QStringLiteral("value"), valueUnit;
    QString rectangle;          // "X1 Y1 X2 Y2", or empty for the whole pictures
    QString loop;               // the loop's comment lines (loopComments), or empty
    QByteArray provenance = {}; // Provenance::line(), or empty
};
QString seriesTableCsv(const std::vector<SeriesPoint>& points, const SeriesHeader& header);

// The plot's texts, so that the program draws it in Japanese and the command line in English.
struct PlotTexts {
    QString value, widths, magnetisation, black, white, period, unreliable, up, down;
};
// What the values are called, in the source's language: the CSV column's name, the frame number
// where no source gives them, else "value".
QString valueName(const ValueSource& source);
// The plot's texts in the source's language, the value named with its unit.
PlotTexts plotTexts(const ValueSource& source, const QString& valueUnit);
// Two panels in `area`: the black and white widths and the period with their standard errors,
// and the net magnetisation with its own, against the value. Lines join the reliable frames in
// series order (a loop where the values go up and down); unreliable frames are hollow.
void paintSeriesPlot(QPainter& painter, const QRectF& area, const std::vector<SeriesPoint>& points,
                     const PlotTexts& texts);
// The frame whose mark lies within a few pixels of `at` in a plot painted in `area`; -1 for none.
int seriesPointAt(const QRectF& area, const std::vector<SeriesPoint>& points, QPointF at);
// Where frame k's black width is marked in a plot painted in `area`.
QPointF seriesPointPosition(const QRectF& area, const std::vector<SeriesPoint>& points, int k);
// The plot as PNG (1200 x 900), SVG or PDF (vector, 12 x 9 inches), by the name's suffix; false with `error`
// set when it cannot be written.
// The provenance (Provenance::line()) goes into the file's metadata: a PNG's text, an SVG's
// description, a PDF's attached provenance.json.
bool saveSeriesPlot(const QString& path, const std::vector<SeriesPoint>& points, const PlotTexts& texts,
                    QString& error, const QByteArray& provenance = {});

} // namespace tovra
