// The verdict on a measurement's numbers: the warnings with their codes and sentences, whether
// the numbers can be used, and the frame without a domain pattern told apart.
#include "stages.h"

#include <algorithm>
#include <cmath>

namespace tovra::measure {

namespace {

struct Kind {
    const char *code, *message;
    bool serious;
};

constexpr Kind kKinds[] = {
    {"few_periods", "fewer than three periods across the rectangle: too few domains for widths", true},
    {"period_disagreement",
     "the period from the walls and the period from the spectrum disagree by more than their errors allow",
     true},
    {"preparation_dependent",
     "the widths change with the smoothing by more than their error: they may measure the noise's grain",
     true},
    {"no_spectral_peak", "no peak in the power spectrum stands out of the noise", true},
    {"low_contrast", "the contrast between black and white is too low for the noise", true},
    {"one_domain", "the pattern is one domain that touches the border only: there are no widths to measure",
     true},
    {"rectangle_elsewhere", "the rectangle measured was drawn in another window", false},
};

} // namespace

namespace detail {

void settleVerdict(Result& r) {
    r.reliable =
        r.error.empty() && r.pattern != "none" &&
        std::none_of(r.warnings.begin(), r.warnings.end(), [](const Warning& w) { return w.serious; });
}

} // namespace detail

void addWarning(Result& r, const std::string& code) {
    for (const Kind& k : kKinds)
        if (code == k.code && std::none_of(r.warnings.begin(), r.warnings.end(),
                                           [&](const Warning& w) { return w.code == code; }))
            r.warnings.push_back({k.code, k.message, k.serious});
    detail::settleVerdict(r);
}

} // namespace tovra::measure

namespace tovra::measure::detail {

void judge(Result& r, const Evidence& e) {
    auto relative = [](double se, double v) { return v > 0 ? se / v : 0; };
    const double widthSe =
        std::max(relative(r.blackWidthSePx, r.blackWidthPx), relative(r.whiteWidthSePx, r.whiteWidthPx));
    std::vector<std::string> codes;
    if (r.periodsAcross < 3) codes.push_back("few_periods");
    if (e.prominence < kProminent) codes.push_back("no_spectral_peak");
    if (e.contrastToNoise < kContrast) codes.push_back("low_contrast");
    if (e.widthChange > 3 * widthSe + kPreparation) codes.push_back("preparation_dependent");
    if (r.periodFftPx > 0 && r.pattern != "bubbles") {
        const double apart = std::fabs(r.periodFftPx / r.periodPx - 1);
        if (apart > 3 * relative(r.periodSePx, r.periodPx) + kSpectralModel)
            codes.push_back("period_disagreement");
    }
    if (e.domainsInside == 0 && r.blackDomains + r.whiteDomains <= 3) codes.push_back("one_domain");
    // Without a spectral peak or a contrast above the noise there is no domain pattern to measure.
    if (e.prominence < kProminent || e.contrastToNoise < kContrast)
        r.pattern = "none", r.bubbles.reset(), r.bands.clear(), r.grains.clear(), r.grainOf.clear();
    r.warnings.clear();
    for (const std::string& c : codes)
        addWarning(r, c);
    settleVerdict(r); // a record without warnings needs its verdict too
}

} // namespace tovra::measure::detail
