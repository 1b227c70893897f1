// Intensity histograms and line profiles of the current slot: computed through the library into
// numbered CSV files in the work folder, read back and drawn as curves in the histogram window's
// three pictures. The state here is what the histogram window shows; the window may be hidden
// (batch scripts compute histograms without it).
#pragma once

#include "core/canvas.h"
#include "core/module.h"

#include "core/state_object.h"

#include <QObject>
#include <QString>
#include <vector>

namespace tovra {

struct HistogramFields {
    QString ht = QStringLiteral("0");  // number of the next histogram file
    QString ht2 = QStringLiteral("0"); // number of the file that maximum cut redraws
    QString lh2 = QStringLiteral("0"); // number of the next pair of line-profile files
    int vsch = 0, vsch2 = 0, vscl2 = 0;
    bool meanMode = false;   // Op2 "平均" selected (else Op1 "最大")
    bool difference = false; // ch2 "差分"
    QString xy = QStringLiteral("0-0");
    QString hfx1 = QStringLiteral("0"), hfy1 = QStringLiteral("0");
};

class HistogramModule : public StateObject {
    Q_OBJECT
public:
    // The curve colour: dark blue.
    static constexpr QRgb kCurve = 0xFF000080;
    // The number boxes' scroll bars run from 0 to this.
    static constexpr int kBarMax = 64;

    explicit HistogramModule(Module& module);

    const HistogramFields& fields() const { return f_; }
    Canvas& hist() { return hist_; }
    Canvas& lhx() { return lhx_; }
    Canvas& lhy() { return lhy_; }

    // Number boxes and their scroll bars (0..64; the boxes themselves are not limited).
    void setHt(const QString& v) { linkNumber(f_.ht, f_.vsch, v); }
    void setHt2(const QString& v) { linkNumber(f_.ht2, f_.vsch2, v); }
    void setLh2(const QString& v) { linkNumber(f_.lh2, f_.vscl2, v); }
    void setVsch(int v) { linkBar(f_.vsch, f_.ht, v); }
    void setVsch2(int v) { linkBar(f_.vsch2, f_.ht2, v); }
    void setVscl2(int v) { linkBar(f_.vscl2, f_.lh2, v); }
    void setMeanMode(bool v) { set(f_.meanMode, v); }
    void setDifference(bool v) { set(f_.difference, v); }

    // Computes the histogram of the current slot into "<ht>_hdat.csv", advances ht, and hands the
    // peak (mode 0) or mean (mode 1) grey level to the toolbox as the threshold; 99 takes the mode
    // from the option buttons. The picture's vertical scale becomes that level.
    // Returns the library's status (kNotCalled when the slot is beyond the buffers).
    int32_t makeHistogram(int mode);
    // Draws "<number>_hdat.csv". With cut, bins at or above the picture's current vertical scale are
    // left out of the new maximum, so each cut reveals the next peak.
    void drawHistogram(const QString& number, bool cut);
    // The buttons: compute and draw, and maximum cut.
    void histogramButton();
    void maximumCutButton();

    // Row and column profiles through the information window's first corner.
    void makeLineProfiles();
    void drawLineProfiles();
    void lineProfileButton();

    // Read-outs of the three pictures, in their scales.
    void histMove(double x, double y);
    void histPress(double x, double y);
    void lhxMove(double x, double y);
    void lhxPress(double x, double y);
    void lhyMove(double x, double y);
    void lhyPress(double x, double y);

private:
    void linkNumber(QString& box, int& bar, const QString& text);
    void linkBar(int& bar, QString& box, int value);
    QStringList readLines(const QString& fileName) const;
    void readProfile(const QString& fileName, int count);

    Module& module_;
    HistogramFields f_;
    Canvas hist_, lhx_, lhy_;
    std::vector<int16_t> profile_; // shared by both profiles in turn
};

} // namespace tovra
