// Text for a terminal: control characters (escape sequences among them) written as \xNN, so that
// a file's contents quoted in a report line cannot move the cursor, recolour or retitle the
// terminal it is printed on.
#pragma once

#include <QString>
#include <string>

namespace tovra {

// With `keepLineBreaks` line feeds stay as they are (a message of several lines of our own).
inline QString printable(const QString& text, bool keepLineBreaks = false) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (keepLineBreaks && u == '\n')
            out += c;
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

inline QByteArray printableUtf8(const QString& text, bool keepLineBreaks = false) {
    return printable(text, keepLineBreaks).toUtf8();
}
inline QByteArray printableUtf8(const std::string& text) {
    return printableUtf8(QString::fromStdString(text));
}

} // namespace tovra
