// What the windows show and the procedures read: the information window's fields, the toolbox's
// parameters and switches, the auto-draw box, the slot list and the image windows. Fields hold the
// texts the user sees; the procedures convert them with the rules of numeric.h. Windows are views
// of this state: they show it and write what the user types back into it.
#pragma once

#include "canvas.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>

namespace tovra {

constexpr int kSlots = 8;
constexpr int64_t kBufferCapacity = 1048577;
// Screen positions and sizes of the windows are given in twips, 15 to a pixel.
constexpr int twips(int t) {
    return t / 15;
}

// The information window.
struct InfoFields {
    QString id = QStringLiteral("0");
    QString mx = QStringLiteral("256");
    QString my = QStringLiteral("256");
    QString xy = QStringLiteral("0-0");
    QString hfx1 = QStringLiteral("0"), hfy1 = QStringLiteral("0"), hfx2 = QStringLiteral("0"),
            hfy2 = QStringLiteral("0");
};

// The toolbox.
struct ToolFields {
    QString ct1 = QStringLiteral("0"), ct2 = QStringLiteral("255"), segt = QStringLiteral("128");
    int vsc1 = 0, vsc2 = 255, hscseg = 128;
    bool rawOverride = false; // Ch1 "強制書読"
    std::array<QString, 2> dpcb1{QStringLiteral("0"), QStringLiteral("0")};
    std::array<QString, 2> dpcb2{QStringLiteral("1"), QStringLiteral("1")};
    bool edgeOrdinary = false; // ns1 selected (else ns0)
    bool flipUpDown = false;   // hec1 selected (else hec0)
    QStringList slotList;      // idx lines
};

// One image window, whether or not it is on screen. Closing the window resets it to this state.
struct ImageWindowModel {
    bool visible = false;
    QString caption = QStringLiteral("イメージ");
    QString nameLabel; // com2
    int nameLabelWidth = twips(3000);
    QPoint position;   // where the window was last placed by the program
    int placement = 0; // counts placements, so views know when to move
    std::unique_ptr<Canvas> picture = std::make_unique<Canvas>(twips(735), twips(615)); // Pic
};

class AppState : public QObject {
    Q_OBJECT
public:
    AppState();

    const InfoFields& info() const { return info_; }
    const ToolFields& tool() const { return tool_; }
    bool autoDraw() const { return autoDraw_; }

    // Information window. Width and height normalise numeric texts ("0256" -> "256").
    void setId(const QString& v) { set(info_.id, v); }
    void setMx(const QString& v);
    void setMy(const QString& v);
    void setXy(const QString& v) { set(info_.xy, v); }
    void setHfx1(const QString& v) { set(info_.hfx1, v); }
    void setHfy1(const QString& v) { set(info_.hfy1, v); }
    void setHfx2(const QString& v) { set(info_.hfx2, v); }
    void setHfy2(const QString& v) { set(info_.hfy2, v); }
    void setAutoDraw(bool v) { set(autoDraw_, v); }

    // Toolbox. A number box moves its scroll bar when its text is a number within 0..255; a scroll
    // bar writes its value into its box.
    void setCt1(const QString& v);
    void setCt2(const QString& v);
    void setSegt(const QString& v);
    void setVsc1(int v);
    void setVsc2(int v);
    void setHscseg(int v);
    void setRawOverride(bool v) { set(tool_.rawOverride, v); }
    void setDifferenceSources(const QString& a, const QString& b);
    void setCompositionSources(const QString& a, const QString& b);
    void setDpcb(int element, bool second, const QString& v);
    void setEdgeOrdinary(bool v) { set(tool_.edgeOrdinary, v); }
    void setFlipUpDown(bool v) { set(tool_.flipUpDown, v); }
    void setSlotListLine(int slot, const QString& line);
    void resetSlotList();

    bool slotInUse(int slot) const { return slot >= 0 && slot < kSlots && slotInUse_[slot]; }
    void setSlotInUse(int slot, bool v);

    // The image windows, created on first use. The default window is the hidden one that new
    // windows are placed from.
    ImageWindowModel& imageWindow(int slot);
    bool hasImageWindow(int slot) const { return slot >= 0 && slot < kSlots && windows_[slot] != nullptr; }
    QPoint defaultWindowPosition() const { return defaultPosition_; }
    void setDefaultWindowPosition(QPoint p) { defaultPosition_ = p; }
    // Views call this after they change an image window's model.
    void imageWindowUpdated(int slot) { emit imageWindowChanged(slot); }

signals:
    void changed();
    void imageWindowCreated(int slot);
    void imageWindowChanged(int slot);

private:
    template <typename T> void set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        emit changed();
    }
    void linkBox(QString& box, int& bar, const QString& text);
    void moveBar(QString& box, int& bar, int value);

    InfoFields info_;
    ToolFields tool_;
    bool autoDraw_ = true;
    std::array<bool, kSlots> slotInUse_{};
    std::array<std::unique_ptr<ImageWindowModel>, kSlots> windows_;
    QPoint defaultPosition_{twips(3400), twips(1200)};
};

} // namespace tovra
