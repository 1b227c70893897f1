// Automatic measurement of magnetic domain patterns: black area fraction, mean perpendicular
// widths of the black and white domains and their period by stereology, the period and the
// orientation from the power spectrum, stripes told from mazes by that orientation, and for
// stripes a table of every band between neighbouring walls.
//
// Plain functions over pixel buffers, without Qt: the program, the command line and other
// programs (through the C interface in measure_c.h) all call these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovra::measure {

// A grey image: width x height values, rows from the top. Single precision: it keeps six
// significant digits, beyond any camera's, at half the memory of double.
struct Image {
    int width = 0, height = 0;
    std::vector<float> px;
};

// A rectangle of pixels, columns x1..x2 - 1 and rows y1..y2 - 1.
struct Rect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// The preparation steps, each switchable; the defaults are the ones that measure best.
struct Settings {
    bool median = true;    // against noise and salt-and-pepper pixels: the 3 x 3 recursive median before
                           // the spectrum and the light, single bright or dark pixels replaced
    bool flatField = true; // divide out the light, a wide blur (about twice the period) of the picture
    bool otsu = true;      // threshold half way between the domains' inside means; else the mean grey level
    int speckArea = 10;    // specks smaller than this (pixels) take their surroundings' colour
};

struct Band {
    double positionPx = 0; // signed distance of the band's centre line from the origin, along the normal
    double angleDeg = 0;   // of the walls, as atan(slope)
    double widthPx = 0;
    bool black = false;
    int grain = 0; // stripes in grains: the grain's id; 0 for stripes of one direction
};

// A grain of stripes in one direction, of stripes in several (chevrons, grain boundaries).
struct Grain {
    int id = 0;
    double angleDeg = 0;     // of its walls, as atan(slope)
    double areaFraction = 0; // of the picture measured
};

// Something the user must know about the numbers: a stable code, a sentence, and whether the
// numbers should not be used because of it.
struct Warning {
    std::string code, message;
    bool serious = true;
};

// One bubble: its centre (the grey levels' centre of mass inside its outline, in the picture's
// coordinates), how sure that centre is (the standard error of each coordinate from the pixels'
// noise), its equivalent diameter sqrt(4 area / pi), and whether it lies wholly inside the
// rectangle (else the border cuts it, and centre and diameter are those of what is seen), and
// whether it is one (round: its length under 1.6 times its width; two bubbles run together are not).
struct Bubble {
    double x = 0, y = 0, positionSe = 0, diameter = 0;
    bool inside = false, single = true;
};

// The order of a lattice of bubbles, over its Delaunay triangulation: a bubble counts where every
// triangle it belongs to has its circumcircle inside the rectangle (no bubble beyond the border can
// change its neighbours). The hexatic order psi6 of a bubble is the mean of exp(6 i theta) over
// its bonds; the lattice's |psi6| is the magnitude of their mean.
struct LatticeOrder {
    int counted = 0;        // bubbles whose neighbours are all known
    double psi6 = 0;        // |mean psi6| over them: 1 for a perfect triangular lattice
    double psi6Se = 0;      // its standard error (jackknife over the measurement's blocks)
    std::vector<int> five;  // counted bubbles with five neighbours (indices into Bubbles::items)
    std::vector<int> seven; // and with seven
    struct Place {
        double x = 0, y = 0;
    };
    std::vector<Place> dislocations; // five- and sevenfold neighbours paired: the middle of each pair
    // The pair correlation g(r) and the bond-orientational correlation g6(r) = <psi6(j) psi6*(k)>
    // over pairs at distance r, from the counted bubbles at least r from the border.
    struct Correlation {
        double r = 0, g = 0, g6 = 0;
    };
    std::vector<Correlation> correlation;
};

// Isolated domains of one colour in the other.
struct Bubbles {
    bool black = true;                 // their colour
    int count = 0, countInside = 0;    // all of them, and those not touching the border
    double densityPerPx2 = 0;          // all of them over the area measured
    double meanDiameterPx = 0;         // equivalent diameter sqrt(4 area / pi), of those inside
    double sdDiameterPx = 0;           // its standard deviation over them (not its error)
    double meanNearestNeighbourPx = 0; // from each one inside to the nearest other's centre
    // Standard errors of the four numbers above (jackknife over the measurement's blocks, each
    // bubble in the block of its centre): what another part of the sample of this size would give.
    double countSe = 0, densitySePerPx2 = 0, meanDiameterSePx = 0, meanNearestNeighbourSePx = 0;
    std::vector<Bubble> items;         // every one
    std::optional<LatticeOrder> order; // where enough of them are counted (a dozen)
};

// One block of those the standard errors rest on, as the window maps it: where it lies (in the
// picture), its own period (2 x area / wall length, taken to no blur as the whole frame's), the
// optics' blur its walls show (nothing where they do not), and whether it stands out of the
// others (nearly without walls, or its blur far from theirs).
struct BlockReading {
    Rect rect;
    double periodPx = 0;
    std::optional<double> blurPx;
    bool odd = false;
};

struct Result {
    std::string error;   // set when the measurement cannot be made; the numbers are then 0
    std::string pattern; // "stripes", "maze", "bubbles", or "none" for no domain pattern
    int width = 0, height = 0;
    double blackFraction = 0;
    double blackWidthPx = 0, whiteWidthPx = 0, periodPx = 0;
    // Standard errors of the four numbers above: the statistical error alone, the scatter a repeat
    // on another part of the sample would show (jackknife over blocks of at least three periods a
    // side).
    double blackFractionSe = 0, blackWidthSePx = 0, whiteWidthSePx = 0, periodSePx = 0;
    // The method's own allowances beside them, for "± stat ± sys": what the corrections for the
    // blur (area moved by curved walls, wall length taken to no blur) may leave over.
    double blackFractionSys = 0, blackWidthSysPx = 0, whiteWidthSysPx = 0, periodSysPx = 0;
    // The optics' blur the walls' grey profile shows (sigma of a Gaussian, pixels); nothing where
    // the picture does not tell it (then the widths are corrected for the program's smoothing only).
    std::optional<double> blurPx;
    double periodsAcross = 0;               // the smaller side over the period
    int blocks = 0;                         // blocks the standard errors rest on
    int walls = 0;                          // straight stripes: walls found
    int blackDomains = 0, whiteDomains = 0; // connected domains of each colour
    std::optional<Bubbles> bubbles;         // bubbles only
    std::vector<Warning> warnings;
    bool reliable = false; // no serious warning
    double periodFftPx = 0;
    double orientationDeg = 0; // of the stripes (walls), as atan(slope); for mazes the strongest direction
    double anisotropy = 0;     // 0 for no preferred direction, 1 for perfect stripes
    double threshold = 0;      // on the prepared image
    // The rectangle's mean grey level, and the black and the white domains' (in the picture's own
    // levels; for a Kerr frame the difference relative to the background): what tells a frame of
    // one colour, saturated, from one without domains. The level is given even where the frame
    // cannot be measured further.
    std::optional<double> level, blackLevel, whiteLevel;
    std::vector<Band> bands;            // stripes only
    std::vector<Grain> grains;          // stripes in several grains only
    Rect area;                          // what was measured
    std::vector<uint8_t> black;         // its binarization, area.x2 - area.x1 wide, 1 for black
    std::vector<uint8_t> grainOf;       // stripes in grains: each pixel's grain as `black`, 0 for none
    std::vector<BlockReading> blockMap; // the blocks, row by row
};

// Measures `image` (minus `background` when given, a Kerr difference) inside `rect` (the whole
// image when not given).
Result measure(const Image& image, const Image* background, std::optional<Rect> rect,
               const Settings& settings);
// The same for an image the caller gives up: its pixels are freed as soon as the rectangle is
// copied out of them, so that the measurement holds 4 bytes a pixel less.
Result measure(Image&& image, const Image* background, std::optional<Rect> rect, const Settings& settings);

// Text of the settings, for records of what was measured how.
std::string describe(const Settings& settings);

// What a record names besides the numbers.
struct RecordInfo {
    std::string file;
    int page = 0;                // of a multi-page file, from 1; 0 for none
    double pixelSizeUm = 0;      // above 0: widths in micrometres too
    std::string settings;        // describe(settings), or empty to leave out
    std::optional<double> value; // of a frame in a series (a field, a time)
};
// The record as one JSON object on one line: the numbers with their standard errors, the pattern,
// the verdict and its warnings, bubbles and bands where there are. A frame without a domain
// pattern gives null widths.
std::string recordJson(const Result& r, const RecordInfo& info);
// A CSV field in double quotes, with the quotes inside doubled.
std::string csvQuoted(const std::string& s);
// The CSV form: a header, and one row a record (warning codes separated by ";").
std::string recordCsvHeader();
std::string recordCsv(const Result& r, const RecordInfo& info);

// Adds the warning of `code` (one of those the measurement gives, or "rectangle_elsewhere": the
// rectangle measured was drawn in another window) and updates `reliable`.
void addWarning(Result& r, const std::string& code);

// Steps of the measurement, for programs that compose their own.

// A Gaussian blur of standard deviation `sigma` pixels, borders mirrored.
std::vector<float> blur(const Image& g, double sigma);

// The level half way between the mean grey levels inside the black and the white domains (away
// from the walls, whose pixels would pull the smaller class's mean toward the level).
double interiorIsodata(const Image& g);

// Connected regions (4-neighbours) of `black` (w x h, 1 for black) smaller than `area` pixels
// take the other colour.
void removeSpecks(std::vector<uint8_t>& black, int w, int h, int area);

} // namespace tovra::measure
