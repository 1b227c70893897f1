#include "numeric.h"

#include <charconv>
#include <cmath>
#include <string>

namespace tovra {

namespace {

// The longest prefix of s (from `pos`) that forms a decimal number; returns its end, or pos when
// there is none. Sets `value`.
size_t scanNumber(const std::string& s, size_t pos, double& value) {
    size_t i = pos;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t digitsStart = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i;
    size_t mantissaDigits = i - digitsStart;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const size_t fracStart = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        mantissaDigits += i - fracStart;
    }
    if (mantissaDigits == 0) return pos;
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        const size_t expStart = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
        if (j > expStart) end = j;
    }
    // from_chars takes no "+" sign; it reads ".5" and "5." as they are.
    std::string text;
    text.reserve(end - pos);
    for (size_t k = pos; k < end; ++k)
        if (s[k] != '+') text.push_back(s[k]);
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small for a real reads as 0, too large as an infinity (which no field accepts).
        const size_t e = text.find_first_of("eE");
        const bool tiny = e != std::string::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = tiny ? 0.0 : (text[0] == '-' ? -HUGE_VAL : HUGE_VAL);
    } else if (res.ec != std::errc()) {
        return pos;
    }
    return end;
}

} // namespace

bool isNumeric(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    if (s.empty()) return false;
    double v = 0;
    return scanNumber(s, 0, v) == s.size() && std::isfinite(v);
}

double numericValue(const QString& text) {
    std::string s;
    for (QChar c : text)
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '?');
    double v = 0;
    return scanNumber(s, 0, v) > 0 && std::isfinite(v) ? v : 0.0;
}

double roundHalfEven(double v) {
    return std::nearbyint(v);
}

std::optional<int16_t> toInt16(const QString& text) {
    const auto v = toInt32(text);
    if (!v || *v < -32768 || *v > 32767) return std::nullopt;
    return static_cast<int16_t>(*v);
}

std::optional<int32_t> toInt32(const QString& text) {
    if (!isNumeric(text)) return std::nullopt;
    const double r = roundHalfEven(numericValue(text));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
    return static_cast<int32_t>(r);
}

QString numberText(double v) {
    if (v == 0) return QStringLiteral("0");
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
        return QString::number(static_cast<long long>(v));
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
}

NumberLink typedIntoBox(const NumberLink& now, const QString& text, int lo, int hi) {
    NumberLink next{text, now.bar};
    if (!isNumeric(text)) return next;
    const double v = numericValue(text);
    if (!(v >= lo && v <= hi)) return next;
    const int value = static_cast<int>(roundHalfEven(v));
    if (value == now.bar) return next;
    return {QString::number(value), value};
}

NumberLink movedBar(const NumberLink& now, int value) {
    if (value == now.bar) return now;
    return {QString::number(value), value};
}

QString coordinateText(double v) {
    return QString::number(static_cast<float>(v), 'g', 7);
}

QString realText(double v) {
    if (v == 0) return QStringLiteral("0"); // no "-0"
    return QString::number(v, 'g', 15).replace(QLatin1Char('e'), QLatin1Char('E'));
}

} // namespace tovra
