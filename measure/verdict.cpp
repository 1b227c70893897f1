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
    {"saturated",
     "pixels are clipped at an end of the camera's range: the clipped domains' level and their walls "
     "have moved, and with them the widths",
     true},
    {"defects", "objects unlike the domains (scratches, dust) lie in the frame: they are measured as domains",
     true},
    {"uneven",
     "the frame's parts differ beyond their errors (focus falling off, or the pattern in part of the "
     "frame): one number for the whole frame describes none of them",
     true},
    {"below_resolution",
     "domains of one colour, or their necks, are narrower than three times the blur: their widths "
     "and area cannot be measured",
     true},

    {"nonlinear_response",
     "the noise inside the domains is not a linear camera's: the dark domains are noisier than the bright "
     "ones, or their noise is more skewed than the camera's gain allows; the camera's response is not "
     "linear (a gamma or a logarithm), and it moves the walls and the black fraction; linearise the "
     "frames first",
     true},

    {"blur_unknown",
     "the optics' blur could not be read off the walls (noise too strong, or no domain insides): the widths "
     "are corrected for the program's smoothing only, and the rest of the blur's effect is in the allowance",
     false},
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
    // Against the whole error of each number: its standard error and the method's allowance.
    auto relative = [](double se, double sys, double v) { return v > 0 ? std::hypot(se, sys) / v : 0; };
    const double widthSe = std::max(relative(r.blackWidthSePx, r.blackWidthSysPx, r.blackWidthPx),
                                    relative(r.whiteWidthSePx, r.whiteWidthSysPx, r.whiteWidthPx));
    std::vector<std::string> codes;
    // Bubbles scattered as in a liquid show no sharp ring in the spectrum: dozens of round domains of
    // one colour inside the frame, far above the noise and several periods across, are a pattern of
    // their own (a few specks in a background are not).
    const bool clearBubbles = r.bubbles && r.bubbles->countInside >= kManyBubbles &&
                              e.contrastToNoise >= kClearWalls && r.periodsAcross >= 3;
    const bool noPeak = e.prominence < kProminent && !clearBubbles;
    if (r.periodsAcross < 3) codes.push_back("few_periods");
    if (noPeak) codes.push_back("no_spectral_peak");
    if (e.contrastToNoise < kContrast) codes.push_back("low_contrast");
    if (e.widthChange > 3 * widthSe + kPreparation) codes.push_back("preparation_dependent");
    if (r.periodFftPx > 0 && r.pattern == "stripes") {
        const double apart = std::fabs(r.periodFftPx / r.periodPx - 1);
        if (apart > 3 * relative(r.periodSePx, r.periodSysPx, r.periodPx) + kSpectralModel)
            codes.push_back("period_disagreement");
    }
    // A maze's spectral peak is a quantity of its own: in band-pass labyrinths it lies 0 to 25 %
    // above 2 area / wall length, and a picture a few periods wide places it only roughly. Only
    // a period far outside that band (the walls of something else, or the pattern in part of the
    // frame) says that the two do not measure one pattern.
    if (r.periodFftPx > 0 && r.pattern == "maze") {
        const double ratio = r.periodFftPx / r.periodPx,
                     slack = 3 * relative(r.periodSePx, r.periodSysPx, r.periodPx);
        if (ratio < kMazeSpectrum[0] - slack || ratio > kMazeSpectrum[1] + slack)
            codes.push_back("period_disagreement");
    }
    if (e.domainsInside == 0 && r.blackDomains + r.whiteDomains <= 3) codes.push_back("one_domain");
    const bool twoLevels = e.clipping.lowAll >= kTwoLevels && e.clipping.highAll >= kTwoLevels;
    if (!twoLevels && std::max(e.clipping.low, e.clipping.high) >= kClipped) codes.push_back("saturated");
    // A two-level picture (one already binarized) holds nothing beyond its two levels but what the
    // light's division made of them.
    if (!twoLevels && e.defects >= kDefects) codes.push_back("defects");
    if (e.uneven) codes.push_back("uneven");
    if (e.belowResolution) codes.push_back("below_resolution");
    // Clipping at the white end quiets the white domains too, and clipping at the black end skews
    // the black ones; each is said by its own warning.
    if ((e.noiseRatio > kCompressed && !(e.clipping.high >= kClipped)) ||
        (e.darkSkew > kStretched && !(e.clipping.low > 0)))
        codes.push_back("nonlinear_response");

    if (!r.blurPx && r.pattern != "stripes") codes.push_back("blur_unknown");
    // Without a spectral peak or a contrast above the noise there is no domain pattern to measure.
    if (noPeak || e.contrastToNoise < kContrast)
        r.pattern = "none", r.bubbles.reset(), r.bands.clear(), r.grains.clear(), r.grainOf.clear();
    r.warnings.clear();
    for (const std::string& c : codes)
        addWarning(r, c);
    settleVerdict(r); // a record without warnings needs its verdict too
}

} // namespace tovra::measure::detail
