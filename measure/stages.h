// The stages of the measurement, one file each, for the measurement itself and its tests: the
// preparation, the threshold, the stereology, the spectrum and the stripes.
#pragma once

#include "measure.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The loops over whole pictures, compiled twice: for processors with AVX2 (four numbers per
// step instead of two) and for any x86-64; the loader picks one when the library is loaded.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TOVRA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TOVRA_WIDE_VECTORS
#endif

namespace tovra::measure::detail {

// GCC 12 takes a call of a function with target_clones for one that cannot throw: running out of
// memory inside one would end the program past every handler (a worker's record with it). Such
// functions are called through a pointer the compiler cannot see through, and unwind as any.
template <auto F> inline decltype(F) volatile unwinding = F;

constexpr double kPi = 3.14159265358979323846;

// Marks of 0 or 1 a byte, most of them 0, scanned eight at a time: f(i) for each marked byte i of
// marks[0, n), n a multiple of 8, in increasing order.
static_assert(std::endian::native == std::endian::little, "a word's lowest bits are its first byte");
template <class F> void forEachMarked(const uint8_t* marks, size_t n, F f) {
    for (size_t x0 = 0; x0 < n; x0 += 8) {
        uint64_t word;
        std::memcpy(&word, marks + x0, sizeof word);
        for (; word != 0; word &= word - 1) // each marked byte holds the one bit
            f(x0 + static_cast<size_t>(__builtin_ctzll(word)) / 8);
    }
}

// Mirrored index: -1 is 0, -2 is 1, n is n - 1 (for a radius below n).
inline int mirror(int i, int n) {
    if (i < 0) i = -i - 1;
    if (i >= n) i = 2 * n - i - 1;
    return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

// Preparation.
Image crop(const Image& in, const Rect& r);
void median(Image& g);
std::pair<double, double> valueRange(const float* v, size_t n);
inline std::pair<double, double> valueRange(const std::vector<float>& v) {
    return valueRange(v.data(), v.size());
}
// Each row copied with `radius` mirrored values on either side.
void padRow(const float* row, int w, int radius, std::vector<float>& padded);
std::vector<float> blurWide(const Image& g, double sigma);
// The blur, and valueRange of it found while it is made.
std::vector<float> blurAndRange(const Image& g, double sigma, std::pair<double, double>& range);
// Blurs up to this sigma convolve with the sampled Gaussian; wider ones repeat a box mean.
constexpr double kWidestSampledGaussian = 3;
// The blur of sigma at most kWidestSampledGaussian made row by row, each row handed to the sink in
// order (y, values). The rows are made in `whole` (the blurred picture's place) where given, else
// in two rows taken in turn: the row before stays as it was while the next is handed on.
using RowSink = std::function<void(int, const float*)>;
void blurRowsWide(const Image& g, double sigma, const RowSink& sink, float* whole);
void flatFieldWide(Image& target, const Image& source, double sigma);
double noiseLevel(const Image& g);
void removeImpulsesWide(Image& g, double noise);
struct Magnitude {
    bool finite = true; // every value of the picture
    double most = 0;    // the largest magnitude inside the rectangle
};
Magnitude magnitudeOf(const Image& in, const Rect& r);
double workingScale(double most);
void cropScaled(const Image& in, const Rect& r, double scale, Image& out, Image* copy);

// Threshold.
// `range` is valueRange(g.px).
double interiorIsodataWide(const Image& g, std::pair<double, double> range);
std::optional<double> plateauLevel(const Image& g, const std::vector<uint8_t>& black);
// The plateaus' mean levels themselves: the white domains' and the black domains'.
std::optional<std::pair<double, double>> plateauLevels(const Image& g, const std::vector<uint8_t>& black);

// The jackknife's standard error of an estimate from `n` blocks: `estimate(k)` is the estimate
// with block k left out.
template <class F> double jackknife(int n, F estimate) {
    if (n < 2) return 0;
    std::vector<double> v(static_cast<size_t>(n));
    double mean = 0;
    for (int k = 0; k < n; ++k)
        mean += v[static_cast<size_t>(k)] = estimate(k);
    mean /= n;
    double spread = 0;
    for (double x : v)
        spread += (x - mean) * (x - mean);
    return std::sqrt(spread * (n - 1) / n);
}

// Connected regions.
struct Regions {
    struct Run {
        int32_t begin, end;
        int64_t parent, size;
        bool black;
    };
    std::vector<Run> runs;
    std::vector<size_t> rowStart; // each row's first run, and the number of runs at the end
    int64_t root(int64_t i);
};
Regions regionsOf(const std::vector<uint8_t>& black, int w, int h);
struct Region {
    bool black = false, touchesBorder = false;
    double area = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0; // sums over its pixels
};
std::vector<Region> regionStats(Regions& regions, int w, int h);

// Domains of each colour, all and those not touching the border, and bubbles where they are.
struct Domains {
    int black = 0, white = 0, blackInside = 0, whiteInside = 0;
    std::optional<Bubbles> bubbles;
    // Each bubble's centre, and for those inside their diameter and nearest neighbour (-1 else);
    // its region (an index of regionStats) and its diameter as seen, cut by the border or not.
    struct Item {
        double x = 0, y = 0, diameter = -1, nearest = -1;
        int32_t region = -1;
        double seen = 0, elongation = 1;
    };
    std::vector<Item> items;
    std::vector<int32_t>
        labels; // where there are bubbles: each pixel's region, until the centres are refined
};
Domains domainsOf(const std::vector<uint8_t>& black, int w, int h, bool blackRarer, double sigma);
// Each pixel's region, numbered as regionStats numbers them.
std::vector<int32_t> regionLabels(Regions& regions, int w, int h);
// The bubbles' centres to a part of a pixel: the centre of mass of their contrast in `smooth` (the
// picture as binarized) over a disc around each, `levels` the white and the black plateaus; `noise`
// the pixels' noise, for each centre's standard error. Fills the bubbles' items.
// Where the plateaus are not known the centres stay those of the binarization.
void refineCentres(const Image& smooth, Domains& d, std::optional<std::pair<double, double>> levels,
                   double noise);

// Stereology, block by block: the picture cut into `across` x `down` blocks of about equal size.
struct Blocks {
    int across = 1, down = 1;
    std::vector<int> column, row; // each pixel column's and row's block
    int count() const { return across * down; }
};
// Blocks at least three periods on a side where the picture holds that many, 2 x 2 at least
// and 8 x 8 at most.
Blocks blocksOf(int w, int h, double period);
// The jackknife over blocks whose estimates also follow a plane across the frame (light falling
// off from one side, focus changing): that trend is the frame's own and comes again in a repeat
// through the same optics, so the error is the blocks' scatter about it. The pseudo-values are
// fitted by a plane in the blocks' columns and rows (orthogonal on the full grid of blocks), and
// their residuals, with the plane's degrees of freedom taken off, give the standard error.
template <class F> double jackknifeAboutPlane(const Blocks& blocks, F estimate) {
    const int n = blocks.count();
    const int slopes = (blocks.across > 1) + (blocks.down > 1);
    if (n - 1 - slopes < 3) return jackknife(n, estimate);
    std::vector<double> p(static_cast<size_t>(n));
    double mean = 0;
    for (int k = 0; k < n; ++k)
        mean += p[static_cast<size_t>(k)] = estimate(k);
    mean /= n;
    // Each pseudo-value n theta - (n - 1) v_k, less their mean, is -(n - 1) (v_k - mean).
    for (double& x : p)
        x = -(n - 1) * (x - mean);
    const double cMid = (blocks.across - 1) / 2.0, rMid = (blocks.down - 1) / 2.0;
    auto at = [&](int k) { return std::pair{k % blocks.across - cMid, k / blocks.across - rMid}; };
    double pc = 0, cc = 0, pr = 0, rr = 0;
    for (int k = 0; k < n; ++k) {
        const auto [c, r] = at(k);
        pc += p[static_cast<size_t>(k)] * c, cc += c * c, pr += p[static_cast<size_t>(k)] * r, rr += r * r;
    }
    const double bc = cc > 0 ? pc / cc : 0, br = rr > 0 ? pr / rr : 0;
    double rss = 0;
    for (int k = 0; k < n; ++k) {
        const auto [c, r] = at(k);
        const double e = p[static_cast<size_t>(k)] - bc * c - br * r;
        rss += e * e;
    }
    return std::sqrt(rss / (static_cast<double>(n) * (n - 1 - slopes)));
}
// The lattice's order over the bubbles (frame coordinates), with standard errors over `blocks`.
std::optional<LatticeOrder> latticeOrder(const std::vector<Bubble>& items, int w, int h,
                                         const Blocks& blocks);
// The bubbles' standard errors over `blocks`.
void bubbleErrors(Bubbles& b, const std::vector<Domains::Item>& items, const Blocks& blocks, int w, int h);
struct Tally {
    double black = 0, pixels = 0, length = 0, cells = 0; // wall length over cells between pixels
};
// The grey levels of the white [0] and the black [1] pixels, summed in the order they are added.
struct Levels {
    double sum[2] = {0, 0};
    int64_t count[2] = {0, 0};
    void add(const float* v, const uint8_t* black, size_t n);
    double contrast() const; // the mean grey of the white pixels less that of the black ones
};
// Where `levels` is given, the smoothed picture's levels are added to it in the same pass.
std::vector<Tally> stereologyOf(const Image& smooth, double t, const std::vector<uint8_t>& black,
                                const Blocks& blocks, Levels* levels = nullptr);
// The same tallies for the picture blurred by sigma and binarized at t, without holding the
// blurred picture or its black pixels whole.
std::vector<Tally> stereologyOfBlurred(const Image& g, double sigma, double t, const Blocks& blocks);
// The black area fraction and the mean perpendicular widths, 2 area / wall length, of a tally.
struct Stereology {
    double fraction = 0, black = 0, white = 0;
    double perArea = 0; // wall length per area
};
Stereology stereologyFrom(const Tally& t);
// The sum of the tallies, leaving out block `without` (none for -1).
Tally total(const std::vector<Tally>& tallies, int without = -1);

// The optics' blur: the sigma of the Gaussian point-spread function that the walls' grey profile
// in `g` shows (the picture before the program's own smoothing), `black` its binarization and
// `wallLength` the walls' length in pixels. Not ok where the domains have no insides to take the
// noise and the contrast from.
// `blockLength` the walls' length in each of `blocks`, which get a sigma each too (-1 where a block
// does not tell it).
struct OpticsBlur {
    bool ok = false;
    double sigma = 0;
    std::vector<double> blockSigma;
};
OpticsBlur opticsBlur(const Image& g, const std::vector<uint8_t>& black, const Blocks& blocks,
                      const std::vector<double>& blockLength);

// FFTW's planner is not safe to call from several threads at once: every plan of the library's is
// made and destroyed under this lock.
std::mutex& fftwPlanner();

// Spectrum.
struct Spectrum {
    bool ok = false;
    double period = 0;
    double normalDeg = 0; // direction of the wave vector, image coordinates (y down)
    double anisotropy = 0;
    double wavePeriod = 0; // of the strongest single wave, placed between the bins
    double prominence = 0; // the peak ring's mean power over the rings' median
};
Spectrum spectrum(const Image& g);

// Stripes.
struct Runs {
    // White [0] and black [1] runs' lengths and numbers, by group.
    struct Tally {
        explicit Tally(size_t groups = 0)
            : sum{std::vector<double>(groups), std::vector<double>(groups)}, count{sum[0], sum[0]} {}
        std::vector<double> sum[2], count[2];
        double mean(int black, int without = -1) const;
        void add(const Tally& other);
    };
    Tally blocks; // by the block of each run's middle
    // By band of the lines across, each line's runs in one band: a wall's error lengthens one run
    // and shortens the next alike, so along a line the period's errors cancel but for the ends.
    Tally lines;
    double mean(int black, int without = -1) const { return blocks.mean(black, without); }
};
// Runs that leave `within` (1 inside, the picture's size) where given are cut there, as at the border.
// Only every `every`-th line across where asked.
std::optional<Runs> runsAlongNormal(const Image& g, double t, double normalDeg, const Blocks& blocks,
                                    const std::vector<uint8_t>* within = nullptr, int every = 1);
// Straight stripes' runs are taken again at the level their blurred bands show where the runs
// there give the fitted bands' width to this share.
constexpr double kBandFit = 0.02;
// The runs along the direction near `normalDeg` that makes them shortest, which it is set to.
std::optional<Runs> runsAlongShortest(const Image& g, double t, double& normalDeg, const Blocks& blocks,
                                      const std::vector<uint8_t>* within);
std::vector<Band> bandsOf(const Image& g, const Image& smooth, const std::vector<uint8_t>& black,
                          double threshold, double noise, double normalDeg, double& refinedNormalDeg);

// Grains of stripes: each with its normal's direction and the box of its cells (with the share
// of the box it fills), and each cell's grain (0 for none).
struct GrainMap {
    std::vector<Grain> grains;
    std::vector<double> normalDeg, boxShare;
    std::vector<Rect> box;
    int cell = 0, across = 0, down = 0;
    std::vector<int> cellGrain;
};
GrainMap grainsOf(const Image& smooth, double period);
// Each pixel's grain (0 for none), w x h.
std::vector<uint8_t> pixelGrains(const GrainMap& map, int w, int h);

// The value `share` of the way up a sample's order (its elements reordered); not for an empty one.
double percentile(std::vector<float>& v, double share);

// Frame quality. The shares of pixels at the picture's least and greatest value where they pile up
// there (more than kPileUp times the pixels at the value next to it), and all of them.
struct Clipping {
    double low = 0, high = 0, lowAll = 0, highAll = 0;
};
Clipping clippingOf(const Image& g);
// The share of pixels far beyond either domain colour's mean level (scratches, dust).
double defectShare(const Image& g, const std::vector<uint8_t>& black, double noise);
// Inside each colour, at least `reach` pixels from any wall along their row and their column (0
// where either colour has too few such pixels to tell): the black domains' noise over the white
// domains', from second differences along the rows; and the dark colour's noise skewed beyond what
// a linear camera's gain allows, in its standard errors.
double noiseRatio(const Image& g, const std::vector<uint8_t>& black, int reach);
double darkSkew(const Image& g, const std::vector<uint8_t>& black, int reach);
// The blocks as the window maps them, row by row, in the picture's coordinates.
std::vector<BlockReading> blockMap(const Blocks& blocks, const std::vector<Tally>& tallies,
                                   const std::vector<double>& blockSigma, const std::vector<bool>& odd,
                                   double toNoBlur, const Rect& area);
// The blocks that stand out of the others beyond their errors: nearly without walls beside the
// fullest, or their blurs far from the others' (none where the blocks agree).
std::vector<bool> oddBlocks(const std::vector<Tally>& tallies, const std::vector<double>& blockSigma);
// Clipped pixels above this share move the plateau and the walls; both ends clipped that much
// is a two-level picture, not a saturated one.
constexpr double kClipped = 0.02, kTwoLevels = 0.2, kPileUp = 3;
// Defects: beyond the domains' levels by this many times the noise and this part of the contrast;
// a share of pixels above this.
constexpr double kDefectNoise = 4, kDefectDepth = 0.25, kDefects = 0.002;
// A block with less than this share of the walls of the block that has most; blurs apart by more than this
// (pixels) and this share of their median.
constexpr double kEmptyBlock = 0.25, kFocusSpread = 1.0, kFocusShare = 0.6;
// A linear camera's noise grows with the light (read noise and shot noise); the dark domains' noise
// above the bright ones' by more than this says that the response compresses the bright end; the
// dark ones' noise skewed beyond the gain by more than this many SEs, that it stretches it.
constexpr double kCompressed = 1.3, kStretched = 3.5;
// A bubble longer than this many times its width is two or more run together.
constexpr double kRound = 1.6;
// Domains narrower than this many of the whole blur's sigma cannot be measured.
constexpr double kResolved = 3;

// What the verdict on the numbers rests on, beyond the numbers themselves.
struct Evidence {
    Clipping clipping;
    double defects = 0;  // share of pixels unlike either colour
    bool uneven = false; // the blocks differ
    bool belowResolution = false;
    bool pinched = false;  // necks of the domains closed under the program's smoothing
    double noiseRatio = 0; // the black domains' noise over the white ones' (0: not known)
    double darkSkew = 0;   // the dark colour's noise skewed beyond the gain, in SEs (0: not known)

    double widthChange = 0;        // relative change of the widths under more smoothing
    int domainsInside = 0;         // domains not touching the border
    double contrastToNoise = 0;    // the domains' mean levels apart, over the pixels' noise
    double prominence = 0;         // the spectral peak over the rings' median power (0: no peak)
    double runsOverStereology = 1; // stripes: the period across the walls over 2 area / wall length
    double waveOverRuns = 1;       // stripes: the spectrum's over the runs' period
};
// Walls are straight where the runs, the stereology and the spectrum agree this closely.
constexpr double kStraight = 0.05;
// Below this prominence no spectral peak stands out; below this contrast to noise the domains
// cannot be told from the noise; beyond three standard errors and this much the widths depend
// on the preparation, and the spectrum's period on a maze is a quantity of its own within this
// much of the stereology's.
constexpr double kProminent = 60, kContrast = 1.5, kPreparation = 0.05, kSpectralModel = 0.08;
// The contrast over the noise above which the walls' grey profile shows the optics' blur.
constexpr double kClearWalls = 5;
// Bubbles inside the frame that make a pattern without a spectral peak (a bubble liquid).
constexpr int kManyBubbles = 25;
// How well a stripe's wall is placed between pixels: a part of a pixel, and a share of the width.
constexpr double kWallPlace = 0.0025, kWallShape = 0.00025;
// The spectrum's period over the stereology's that a maze may show.
constexpr double kMazeSpectrum[2] = {0.8, 1.5};
// What the stages of one measurement hand on to each other.
struct Frame {
    Image unfiltered; // the rectangle scaled, its impulses removed and its light divided out
    Image smooth;     // unfiltered smoothed by kSmoothing, binarized at the threshold
    std::pair<double, double> smoothRange; // valueRange of smooth
    double scale = 1;                      // of the working values over the picture's own
    double noise = 0;                      // of unfiltered's pixels
    Spectrum spectrum;                     // of the picture after the median
    Clipping clipping;                     // before any filter moved the clipped values
    std::vector<uint8_t> black;            // the binarization, specks removed
    Domains domains;
    Blocks blocks;            // the standard errors' blocks
    Levels levels;            // the smoothed picture's levels of each colour
    std::vector<Tally> first; // the stereology at kSmoothing, by block
    Evidence evidence;        // what the verdict rests on
    int width() const { return smooth.width; }
    int height() const { return smooth.height; }
};
// The smoothing of the picture binarized, and the two more that the wall length is measured at
// again.
constexpr double kSmoothing = 1.2, kSmoother = 2.0, kSmoothest = 2.8;
// The wall length per area at three blurs' variances s1 < s2 < s3, taken to no blur at all: the
// length over the length at s1, and the same by a straight line through the first two (the
// curve too where the third length is missing).
struct NoBlur {
    double curve = 1, line = 1;
    bool pinched = false; // the length fell as necks close, not as walls shorten
};
// The first smoothing step's fall beyond the second's rate, in the length's share, from which the
// lengths say that necks closed under the smoothing.
constexpr double kPinched = 0.015;
NoBlur lengthAtNoBlur(const double (&s)[3], const double (&perArea)[3]);

// The stages in their order; each returns why the measurement cannot go on, or nothing.
// The rectangle cut out and scaled, the median, the Kerr contrast, the noise, the impulses, the
// spectrum, the light and the smoothing.
std::optional<std::string> prepare(const Image& image, Image* given, const Image* background,
                                   std::optional<Rect> rect, const Settings& settings, Result& r, Frame& f);
// The threshold, the binarization and its specks, the domains and bubbles.
std::optional<std::string> binarizeFrame(const Settings& settings, Result& r, Frame& f);
// The area fraction and the wall length by block: the widths of mazes and bubbles taken to no blur,
// with their standard errors and allowances, and the evidence of the frame's quality.
std::optional<std::string> measureStereology(Result& r, Frame& f);
// Stripes of one direction where the walls are straight: their runs across, and the bands.
void findStraightStripes(Result& r, Frame& f);
// Stripes in several grains, each straight on its own.
void findStripesInGrains(Result& r, Frame& f);
// The widths of stripes from their runs across, with their errors (for both kinds of stripes).
void takeRuns(Result& r, const Runs& runs, const Blocks& blocks);

// The warnings the evidence calls for, the pattern "none" where there is no domain pattern, and
// the standard errors widened by the preparation's effect.
void judge(Result& r, const Evidence& e);
// `reliable` from the error, the pattern and the warnings.
void settleVerdict(Result& r);

} // namespace tovra::measure::detail
