// The record of one measurement as JSON (one object on one line) and as a CSV row: one
// definition for the command line, the C interface and Python.
#include "measure.h"

#include "json_writer.h"

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

using json::array;
using json::number;
using json::Object;

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
        // Each bubble's centre (columns and rows from the picture's top left pixel's centre), its
        // error, its diameter, whether the border cuts it and whether it is one.
        bo.raw("items", array(b.items, [um](const Bubble& it) {
                   Object io;
                   io.num("x_px", it.x).num("y_px", it.y).num("position_se_px", it.positionSe);
                   io.num("diameter_px", it.diameter).truth("inside", it.inside).truth("single", it.single);
                   if (um > 0)
                       io.num("x_um", it.x * um).num("y_um", it.y * um).num("diameter_um", it.diameter * um);
                   return io;
               }));
        if (b.order) {
            const LatticeOrder& l = *b.order;
            auto indices = [](const std::vector<int>& v) {
                std::string out = "[";
                for (int i : v) {
                    if (out.size() > 1) out += ',';
                    out += std::to_string(i);
                }
                return out + "]";
            };
            Object lo;
            lo.whole("counted", l.counted)
                .num("psi6", l.psi6)
                .num("psi6_se", l.psi6Se)
                .whole("fivefold", static_cast<int>(l.five.size()))
                .whole("sevenfold", static_cast<int>(l.seven.size()))
                .raw("fivefold_items", indices(l.five))
                .raw("sevenfold_items", indices(l.seven))
                .raw("dislocations", array(l.dislocations,
                                           [](const LatticeOrder::Place& p) {
                                               return Object().num("x_px", p.x).num("y_px", p.y);
                                           }))
                .raw("correlation", array(l.correlation, [](const LatticeOrder::Correlation& c) {
                         return Object().num("r_px", c.r).num("g", c.g).num("g6", c.g6);
                     }));
            bo.raw("order", lo.str());
        }
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
