// The record of one measurement as JSON (one object on one line) and as a CSV row: one
// definition for the command line, the C interface and Python.
#include "measure.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace tovra::measure {

std::string csvQuoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s)
        out.append(c == '"' ? 2 : 1, c);
    return out + "\"";
}

namespace {

// A JSON string: quotes, backslashes and control characters escaped, and bytes that are not
// UTF-8 replaced by U+FFFD, so that any file name gives valid JSON.
std::string quoted(const std::string& s) {
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

std::string number(double v) {
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

bool hasWidths(const Result& r) {
    return r.error.empty() && r.pattern != "none";
}

} // namespace

std::string recordJson(const Result& r, const RecordInfo& info) {
    Object o;
    o.text("file", info.file);
    if (info.page > 0) o.whole("page", info.page);
    if (info.value) o.num("value", *info.value);
    if (!r.error.empty()) return o.text("error", r.error).str();
    o.whole("width", r.width)
        .whole("height", r.height)
        .text("pattern", r.pattern)
        .truth("reliable", r.reliable);
    o.raw("warnings", array(r.warnings, [](const Warning& w) {
              return Object().text("code", w.code).text("message", w.message).truth("serious", w.serious);
          }));
    // A frame without a domain pattern has no widths: what a threshold would cut from its noise is
    // no domain's.
    const bool widths = hasWidths(r);
    auto maybe = [&](const char* key, double v) { widths ? o.num(key, v) : o.raw(key, "null"); };
    maybe("black_fraction", r.blackFraction);
    maybe("black_fraction_se", r.blackFractionSe);
    maybe("black_width_px", r.blackWidthPx);
    maybe("black_width_se_px", r.blackWidthSePx);
    maybe("white_width_px", r.whiteWidthPx);
    maybe("white_width_se_px", r.whiteWidthSePx);
    maybe("period_px", r.periodPx);
    maybe("period_se_px", r.periodSePx);
    maybe("black_fraction_sys", r.blackFractionSys);
    maybe("black_width_sys_px", r.blackWidthSysPx);
    maybe("white_width_sys_px", r.whiteWidthSysPx);
    maybe("period_sys_px", r.periodSysPx);
    if (widths && r.blurPx)
        o.num("blur_px", *r.blurPx);
    else
        o.raw("blur_px", "null");
    maybe("period_fft_px", r.periodFftPx);
    maybe("periods_across", r.periodsAcross);
    o.whole("blocks", r.blocks).whole("black_domains", r.blackDomains).whole("white_domains", r.whiteDomains);
    if (r.pattern == "stripes") o.whole("walls", r.walls);
    o.num("orientation_deg", r.orientationDeg).num("anisotropy", r.anisotropy).num("threshold", r.threshold);
    if (!info.settings.empty()) o.text("settings", info.settings);
    const double um = info.pixelSizeUm;
    if (um > 0) {
        o.num("pixel_size_um", um);
        maybe("black_width_um", r.blackWidthPx * um);
        maybe("black_width_se_um", r.blackWidthSePx * um);
        maybe("white_width_um", r.whiteWidthPx * um);
        maybe("white_width_se_um", r.whiteWidthSePx * um);
        maybe("period_um", r.periodPx * um);
        maybe("period_se_um", r.periodSePx * um);
        maybe("black_width_sys_um", r.blackWidthSysPx * um);
        maybe("white_width_sys_um", r.whiteWidthSysPx * um);
        maybe("period_sys_um", r.periodSysPx * um);
    }
    if (r.bubbles) {
        const Bubbles& b = *r.bubbles;
        Object bo;
        bo.text("colour", b.black ? "black" : "white")
            .whole("count", b.count)
            .whole("count_inside", b.countInside)
            .num("density_per_px2", b.densityPerPx2)
            .num("mean_diameter_px", b.meanDiameterPx)
            .num("sd_diameter_px", b.sdDiameterPx)
            .num("mean_nearest_neighbour_px", b.meanNearestNeighbourPx)
            .num("count_se", b.countSe)
            .num("density_se_per_px2", b.densitySePerPx2)
            .num("mean_diameter_se_px", b.meanDiameterSePx)
            .num("mean_nearest_neighbour_se_px", b.meanNearestNeighbourSePx);
        if (um > 0)
            bo.num("density_per_um2", b.densityPerPx2 / (um * um))
                .num("mean_diameter_um", b.meanDiameterPx * um)
                .num("sd_diameter_um", b.sdDiameterPx * um)
                .num("mean_nearest_neighbour_um", b.meanNearestNeighbourPx * um)
                .num("density_se_per_um2", b.densitySePerPx2 / (um * um))
                .num("mean_diameter_se_um", b.meanDiameterSePx * um)
                .num("mean_nearest_neighbour_se_um", b.meanNearestNeighbourSePx * um);
        o.raw("bubbles", bo.str());
    }
    if (!r.grains.empty())
        o.raw("grains", array(r.grains, [](const Grain& g) {
                  return Object()
                      .whole("id", g.id)
                      .num("angle_deg", g.angleDeg)
                      .num("area_fraction", g.areaFraction);
              }));
    if (r.pattern == "stripes")
        o.raw("bands", array(r.bands, [](const Band& b) {
                  return Object()
                      .num("position_px", b.positionPx)
                      .num("angle_deg", b.angleDeg)
                      .num("width_px", b.widthPx)
                      .text("colour", b.black ? "black" : "white")
                      .raw("grain", b.grain > 0 ? std::to_string(b.grain) : "null");
              }));
    return o.str();
}

std::string recordCsvHeader() {
    return "file,page,value,pattern,reliable,warnings,width,height,black_fraction,black_fraction_se,black_"
           "width_px,"
           "black_width_se_px,white_width_px,white_width_se_px,period_px,period_se_px,period_fft_px,periods_"
           "across,"
           "orientation_deg,anisotropy,threshold,bands,black_domains,white_domains,bubble_count,bubble_count_"
           "inside,"
           "bubble_density_per_px2,bubble_mean_diameter_px,bubble_sd_diameter_px,bubble_mean_nearest_"
           "neighbour_px,"
           "pixel_size_um,black_width_um,black_width_se_um,white_width_um,white_width_se_um,period_um,period_"
           "se_"
           "um,black_fraction_sys,black_width_sys_px,white_width_sys_px,period_sys_px,blur_px,error";
}

std::string recordCsv(const Result& r, const RecordInfo& info) {
    std::ostringstream o;
    o << csvQuoted(info.file) << ',' << (info.page > 0 ? std::to_string(info.page) : "") << ','
      << (info.value ? number(*info.value) : "") << ',';
    if (!r.error.empty()) {
        for (int i = 0; i < 39; ++i)
            o << ',';
        o << csvQuoted(r.error);
        return o.str();
    }
    std::string codes;
    for (const Warning& w : r.warnings)
        codes.append(codes.empty() ? "" : ";").append(w.code);
    o << r.pattern << ',' << (r.reliable ? "true" : "false") << ',' << codes << ',' << r.width << ','
      << r.height;
    const bool widths = hasWidths(r);
    for (double v : {r.blackFraction, r.blackFractionSe, r.blackWidthPx, r.blackWidthSePx, r.whiteWidthPx,
                     r.whiteWidthSePx, r.periodPx, r.periodSePx, r.periodFftPx, r.periodsAcross})
        o << ',' << (widths ? number(v) : "");
    o << ',' << number(r.orientationDeg) << ',' << number(r.anisotropy) << ',' << number(r.threshold) << ','
      << r.bands.size() << ',' << r.blackDomains << ',' << r.whiteDomains;
    if (r.bubbles) {
        const Bubbles& b = *r.bubbles;
        o << ',' << b.count << ',' << b.countInside;
        for (double v : {b.densityPerPx2, b.meanDiameterPx, b.sdDiameterPx, b.meanNearestNeighbourPx})
            o << ',' << number(v);
    } else {
        o << ",,,,,,";
    }
    // The widths in micrometres where the pixel size is known, as the JSON record gives them.
    const double um = info.pixelSizeUm;
    o << ',' << (um > 0 ? number(um) : "");
    for (double v :
         {r.blackWidthPx, r.blackWidthSePx, r.whiteWidthPx, r.whiteWidthSePx, r.periodPx, r.periodSePx})
        o << ',' << (um > 0 && widths ? number(v * um) : "");
    for (double v : {r.blackFractionSys, r.blackWidthSysPx, r.whiteWidthSysPx, r.periodSysPx})
        o << ',' << (widths ? number(v) : "");
    o << ',' << (widths && r.blurPx ? number(*r.blurPx) : "");
    o << ',';
    return o.str();
}

} // namespace tovra::measure
