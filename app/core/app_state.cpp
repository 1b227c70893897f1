#include "app_state.h"

#include "numeric.h"

namespace tovra {

AppState::AppState() {
    resetSlotList();
}

namespace {
QString normalised(const QString& text) {
    return isNumeric(text) ? numberText(numericValue(text)) : text;
}
} // namespace

void AppState::setMx(const QString& v) {
    set(info_.mx, normalised(v));
}
void AppState::setMy(const QString& v) {
    set(info_.my, normalised(v));
}

void AppState::linkBox(QString& box, int& bar, const QString& text) {
    typeIntoLink(box, bar, text, 0, 255, [this](auto& field, const auto& v) { set(field, v); });
}

void AppState::moveBar(QString& box, int& bar, int value) {
    moveLink(box, bar, value, [this](auto& field, const auto& v) { set(field, v); });
}

void AppState::setCt1(const QString& v) {
    linkBox(tool_.ct1, tool_.vsc1, v);
}
void AppState::setCt2(const QString& v) {
    linkBox(tool_.ct2, tool_.vsc2, v);
}
void AppState::setSegt(const QString& v) {
    linkBox(tool_.segt, tool_.hscseg, v);
}

void AppState::setVsc1(int v) {
    moveBar(tool_.ct1, tool_.vsc1, v);
}
void AppState::setVsc2(int v) {
    moveBar(tool_.ct2, tool_.vsc2, v);
}
void AppState::setHscseg(int v) {
    moveBar(tool_.segt, tool_.hscseg, v);
}

void AppState::setDifferenceSources(const QString& a, const QString& b) {
    setDpcb(0, false, a);
    setDpcb(0, true, b);
}

void AppState::setCompositionSources(const QString& a, const QString& b) {
    setDpcb(1, false, a);
    setDpcb(1, true, b);
}

void AppState::setDpcb(int element, bool second, const QString& v) {
    if (element < 0 || element > 1) return;
    set(second ? tool_.dpcb2[element] : tool_.dpcb1[element], v);
}

void AppState::setSlotListLine(int slot, const QString& line) {
    if (slot < 0 || slot >= tool_.slotList.size()) return;
    if (tool_.slotList[slot] == line) return;
    tool_.slotList[slot] = line;
    emit changed();
}

void AppState::resetSlotList() {
    QStringList lines;
    for (int i = 0; i < kSlots; ++i)
        lines << QStringLiteral("ID %1 empty").arg(i);
    set(tool_.slotList, lines);
}

void AppState::setSlotInUse(int slot, bool v) {
    if (slot < 0 || slot >= kSlots) return;
    set(slotInUse_[slot], v);
}

ImageWindowModel& AppState::imageWindow(int slot) {
    Q_ASSERT(slot >= 0 && slot < kSlots);
    if (!windows_[slot]) {
        windows_[slot] = std::make_unique<ImageWindowModel>();
        emit imageWindowCreated(slot);
    }
    return *windows_[slot];
}

} // namespace tovra
