// The automatic domain measurement in the program: the current slot (minus a background slot,
// for Kerr frames) inside the information window's rectangle, the picture with the walls drawn
// over it, the band table, a histogram of the band widths, and the export.
#pragma once

#include "core/canvas.h"
#include "core/module.h"
#include "measure.h"

#include "core/state_object.h"

#include <QObject>
#include <QString>

namespace tovra {

struct MeasurementFields {
    bool median = true, flatField = true, otsu = true;
    QString speckArea = QStringLiteral("10");
    int backgroundSlot = -1; // none
    QString pixelSize;       // micrometres per pixel; empty for none
    QString fileNumber = QStringLiteral("0");
};

// The picture, and over it what was measured: in red each wall of stripes or the outline of
// mazes, the grains' boundaries in green and the rectangle in blue.
void drawMeasured(Canvas& picture, const measure::Image& image, const measure::Result& r);
// The blocks the errors rest on, each with its period and blur, those that stand out shaded: drawn
// where the frame is uneven.
void drawBlockMap(Canvas& picture, const std::vector<measure::BlockReading>& blocks);

class MeasurementModule : public StateObject {
    Q_OBJECT
public:
    explicit MeasurementModule(Module& module);

    const MeasurementFields& fields() const { return f_; }
    const measure::Result& result() const { return result_; }
    const QString& source() const { return source_; }
    Canvas& picture() { return picture_; }
    Canvas& histogram() { return histogram_; }

    void setMedian(bool v) { set(f_.median, v); }
    void setFlatField(bool v) { set(f_.flatField, v); }
    void setOtsu(bool v) { set(f_.otsu, v); }
    void setSpeckArea(const QString& v) { set(f_.speckArea, v); }
    void setBackgroundSlot(int v) { set(f_.backgroundSlot, v); }
    void setPixelSize(const QString& v) { set(f_.pixelSize, v); }

    // Measures the current slot inside the information window's rectangle where it holds one (the
    // record then says the rectangle came from that window), or the whole picture; the picture
    // shows it with the walls (stripes) or the domain outlines drawn in red.
    void measureCurrentSlot(bool wholePicture = false);
    // The warning's sentence as the window shows it.
    static QString warningText(const std::string& code);
    // The pixel size as a number above 0, or 0.
    double pixelSize() const;
    // The summary, the way the window shows it.
    QString summary() const;
    // Writes the record (the same columns as the command line's CSV) and the bands as CSV, with a
    // header naming the file, the rectangle, the settings and the program's version. False when it
    // cannot be written.
    bool exportCsv(const QString& path) const;
    // The domains measured (and the bubbles or grains numbered) as an OME-TIFF of one frame, as
    // `--masks` writes them; false, with `why`, where it cannot be written.
    bool exportMasks(const QString& path, QString& why) const;
    // Where the exports come from: this window, its settings and the picture's file's digest.
    QByteArray provenance() const;
    // Where the export dialog opens: beside the picture, named after it.
    QString exportSuggestion() const;

    static constexpr int kMaxSpeckArea = 1'000'000;
    static constexpr double kMaxPixelSize = 1e6;

private:
    std::optional<measure::Image> slotImage(int slot);
    bool acceptBoxes();
    void drawHistogram();

    Module& module_;
    MeasurementFields f_;
    measure::Result result_;
    measure::Settings settings_;
    QString source_;
    QString acceptedSpeckArea_ = QStringLiteral("10"), acceptedPixelSize_;
    Canvas picture_, histogram_;
};

} // namespace tovra
