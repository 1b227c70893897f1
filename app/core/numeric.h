// The text-to-number rules of the windows. Every field of the program is text; procedures convert
// it with these rules, and write numbers back with numberText.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace tovra {

// True when the whole text (spaces around it allowed) is one decimal number: an optional sign,
// digits with an optional decimal point, and an optional exponent ("1e3", "-12.5", " 7 ").
bool isNumeric(const QString& text);

// The number at the start of the text (spaces and tabs anywhere are skipped); 0 when there is none.
// "12abc" is 12, "abc" is 0, "1e3" is 1000.
double numericValue(const QString& text);

// Rounds to the nearest whole number, halves to even (12.5 -> 12, 13.5 -> 14).
double roundHalfEven(double v);

// A numeric text as a 16-bit signed integer, rounded halves to even; nothing when the text is not
// numeric or the value falls outside -32768..32767.
std::optional<int16_t> toInt16(const QString& text);

// The same as a 32-bit signed integer.
std::optional<int32_t> toInt32(const QString& text);

// The 16-bit value of a text, or `fallback` when it does not convert.
inline int16_t int16Or(const QString& text, int16_t fallback = 0) {
    return toInt16(text).value_or(fallback);
}

// The shortest decimal text that reads back as v: "1000", "12.5", "-3", "1e+20".
QString numberText(double v);

// A coordinate as a pointer reports it: the shortest text of its single-precision value
// ("12", "35.01132").
QString coordinateText(double v);
// A real as the Hough texts show it: up to 15 significant digits, shortest form ("-0.58",
// "8.9442719", "-750000").
QString realText(double v);

// A number box linked to a scroll bar over lo..hi, as the state holds them.
struct NumberLink {
    QString box;
    int bar = 0;
    bool operator==(const NumberLink&) const = default;
};
// After a text is typed into the box: the text is kept; a number within lo..hi (rounded, halves
// to even) moves the bar, and a bar that really moves writes its value back ("12.5" -> "12").
NumberLink typedIntoBox(const NumberLink& now, const QString& text, int lo, int hi);
// After the bar moved to `value`: the box shows the value.
NumberLink movedBar(const NumberLink& now, int value);

// The same two steps written into a box and its bar through `set(field, value)`, which tells the
// views of whoever holds them.
template <typename Set>
void typeIntoLink(QString& box, int& bar, const QString& text, int lo, int hi, Set&& set) {
    const NumberLink next = typedIntoBox({box, bar}, text, lo, hi);
    set(box, next.box);
    set(bar, next.bar);
}
template <typename Set> void moveLink(QString& box, int& bar, int value, Set&& set) {
    const NumberLink next = movedBar({box, bar}, value);
    set(box, next.box);
    set(bar, next.bar);
}

} // namespace tovra
