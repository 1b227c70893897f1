// The Hough analysis editor: the line search over a rectangle of the working slot 16 (strongest
// line first, each further search below the votes of the last), the rows that list the lines,
// and the spacing, band colours and interval files made from them. Everything the window "hfed"
// shows lives here as state, so each procedure runs without a display.
#pragma once

#include "core/canvas.h"
#include "core/module.h"

#include "core/state_object.h"
#include <QImage>

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tovra {

// y = slope * x + intercept, with its equation text and whether it is selected.
struct LineRecord {
    double slope = 0;
    double intercept = 0;
    QString text;
    int16_t flag = 0;
};

// Decimal rounding as the line texts and widths use it: n - 1 decimals, half up on the n-th digit
// (digits beyond it ignored); floor-based, so negative values round as the steps say. n outside
// 0..8 returns x.
double roundToDigit(double x, int n);
// `text` in Shift-JIS, each character it cannot hold written as "?" and listed in `replaced`.
QByteArray shiftJis(const QString& text, QStringList& replaced);
// The palette index of line k: 1..6 for lines 0..5, 8..11 for lines 6..9, 0 otherwise.
int lineColorIndex(int k);

// One row of the list: the line's check box and equation, the band's colour box and width.
struct EditorRow {
    bool sikic = true;
    QString siki;
    bool bow = false;
    QString intval;
};

struct EditorFields {
    QString caption = QStringLiteral("ハフ変換解析エディッタ");
    QString dw = QStringLiteral("1");
    QString hfrate = QStringLiteral("100");
    QString nam = QStringLiteral("1");
    QString mfig = QStringLiteral("3000");
    QString pif = QStringLiteral("1");
    QString fintval = QStringLiteral("0");
    int vs = 0;
    bool ave = true;
    QString id;
    QString mx = QStringLiteral("256"), my = QStringLiteral("256");
    QString c9cc;
    bool probeVisible = false;
    int probeLeft = 0;
};

class HoughEditor : public StateObject {
    Q_OBJECT
public:
    static constexpr int kRecords = 11;   // records 0..10; 10 is scratch for exchanges
    static constexpr int kMaxSamples = 9; // sample rows 1..9
    static constexpr int kRowHeight = 48;
    static constexpr double kPi = 3.14159265358979;
    static constexpr double kMinStep = 0.12; // 180 / step must fit the accumulator's 1500 columns
    static constexpr int kAccumulator = 2'700'001;

    explicit HoughEditor(Module& module);

    const EditorFields& fields() const { return f_; }
    const EditorRow& row(int k) const { return rows_.at(static_cast<size_t>(k)); }
    const LineRecord& record(int k) const { return lines_.at(static_cast<size_t>(k)); }
    int sampleCount() const { return n_; }
    // The line table as lines typed in would set it (the searches write it themselves).
    void setRecord(int k, const LineRecord& r) {
        if (k >= 0 && k < kRecords) lines_[static_cast<size_t>(k)] = r;
    }
    // How many times the library was asked for a line.
    int searchCount() const { return searches_; }
    Canvas& picture() { return p1_; } // P1(0)
    Canvas& leaderStrip() { return hfansl_; }
    Canvas& probeStrip() { return probe_; }     // P1(2)
    Canvas& sourcePicture() { return source_; } // P1(1), never shown

    // Text boxes as the user types into them.
    void setDw(const QString& v) { set(f_.dw, v); }
    void setHfrate(const QString& v) { set(f_.hfrate, v); }
    void setNam(const QString& v) { set(f_.nam, v); }
    void setMfig(const QString& v) { set(f_.mfig, v); }
    void setPif(const QString& v) { set(f_.pif, v); }
    void setMx(const QString& v) { set(f_.mx, v); }
    void setMy(const QString& v) { set(f_.my, v); }
    void setAve(bool v) { set(f_.ave, v); }
    void setFintval(const QString& v);
    void setVs(int v);
    void setSiki(int k, const QString& v);
    void setIntval(int k, const QString& v);
    void setBow(int k, bool v);

    // ---- Image ----
    void acquireImage();       // Command1
    void acquireSourceImage(); // Command9
    void toggleProbe();        // c9cc, and a click on the probe strip
    void picturePress(double x, double y);
    void pictureMove(double x, double y);
    void pictureRelease(double x, double y);

    // ---- Line search ----
    // One Hcc call for line k; the library's status (kNotCalled when the call was refused).
    int32_t houghSearch(int k);
    void singleSearch(); // Command7
    void multiSearch();  // Command4
    void drawLine(double slope, double intercept, int k);
    void showLineRow(int k);
    void leaderClick();       // clears the leader strip
    void leaderDoubleClick(); // redraws every line on the clean acquired picture

    // ---- Rows ----
    void addRow();    // Command2
    void removeRow(); // Command3
    void sikicClicked(int k, bool ticked);
    void checkAll();     // Command10
    void uncheckAll();   // Command11
    void invertChecks(); // Command8

    // The automatic measurement, reached from the editor's own button.
    std::function<void()> onShowMeasurement;

    // ---- Spacing and export ----
    void sortAndMeasure();  // Command5
    void regionJudgement(); // Command12
    void exportIntervals(); // Command6
    // Where the interval file of the current number goes.
    QString intervalFile() const;

signals:
    void rowsChanged(); // rows added or removed

private:
    void load();
    void clearRecord(int k, int16_t flag);
    void drawSlotImage(Canvas& target);
    void leaderStroke(int k);
    void fitLeaderStrip();
    // Copies slot `id`'s work files into slot 16's, replacing them only when both copies are whole.
    bool copyIntoWorkingSlot(int id);
    void dropCandidate(int k);
    void recount();
    void setChecks(bool (*next)(bool));
    // The information window's rectangle, rounded to whole pixels.
    std::array<int32_t, 4> selectedRectangle() const;
    // Whether a search can run (a usable step, a rectangle it can serve); says why when not.
    bool searchable();
    void setLineWidths(int width);
    // The step as a number the accumulator can hold, or nothing (and a message).
    std::optional<double> usableStep();
    // Why the rectangle cannot be searched, or nothing when it can.
    std::optional<QString> rectangleRefusal(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

    Module& module_;
    EditorFields f_;
    std::array<LineRecord, kRecords> lines_{};
    std::array<EditorRow, kMaxSamples + 1> rows_{};
    int n_ = 0;
    Canvas p1_, hfansl_, probe_, source_;
    QImage acquired_; // the picture as acquired: the restore point for redraws
    std::vector<double> accumulator_;
    int searches_ = 0;
};

} // namespace tovra
