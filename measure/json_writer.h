// A small writer of JSON text: strings escaped (any bytes give valid JSON), numbers to ten
// significant digits (null for one not finite), objects built field by field. Shared by the
// measurement's record and the tracks' summary.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace tovra::measure::json {

// A JSON string: quotes, backslashes and control characters escaped, and bytes that are not
// UTF-8 replaced by U+FFFD, so that any file name gives valid JSON.
inline std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\', out += static_cast<char>(c), ++i;
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex, ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c), ++i;
        } else {
            // The length of a well-formed sequence starting here, or 0.
            const size_t n = c >= 0xc2 && c <= 0xdf   ? 2
                             : c >= 0xe0 && c <= 0xef ? 3
                             : c >= 0xf0 && c <= 0xf4 ? 4
                                                      : 0;
            bool ok = n > 0 && i + n <= s.size();
            for (size_t k = 1; ok && k < n; ++k)
                ok = (static_cast<unsigned char>(s[i + k]) & 0xc0) == 0x80;
            if (ok && n == 3) { // no overlong forms, no surrogates
                const auto d = static_cast<unsigned char>(s[i + 1]);
                ok = !(c == 0xe0 && d < 0xa0) && !(c == 0xed && d >= 0xa0);
            }
            if (ok && n == 4) {
                const auto d = static_cast<unsigned char>(s[i + 1]);
                ok = !(c == 0xf0 && d < 0x90) && !(c == 0xf4 && d >= 0x90);
            }
            if (ok)
                out.append(s, i, n), i += n;
            else
                out += "\xef\xbf\xbd", ++i;
        }
    }
    return out + "\"";
}

inline std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// Fields written as "key":value, joined by commas.
class Object {
public:
    Object& raw(const char* key, const std::string& value) {
        if (!text_.empty()) text_ += ',';
        text_.append(quoted(key)).append(1, ':').append(value);
        return *this;
    }
    Object& text(const char* key, const std::string& v) { return raw(key, quoted(v)); }
    Object& num(const char* key, double v) { return raw(key, number(v)); }
    Object& whole(const char* key, long long v) { return raw(key, std::to_string(v)); }
    Object& truth(const char* key, bool v) { return raw(key, v ? "true" : "false"); }
    std::string str() const { return "{" + text_ + "}"; }

private:
    std::string text_;
};

// A JSON array of one object for each item.
template <class T, class F> std::string array(const std::vector<T>& items, F object) {
    std::string out = "[";
    for (const T& item : items) {
        if (out.size() > 1) out += ',';
        out += object(item).str();
    }
    return out + "]";
}

} // namespace tovra::measure::json
