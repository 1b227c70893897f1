// The automatic measurement on any picture: random sizes (down to 1 x 1), settings, rectangles
// (inside, across the border, outside, empty) and a background; grey values from the input, or
// values that are not numbers, or stripes at a random angle and period under the input as noise,
// so that the stripes' bands and runs are reached too; 16-bit values, and reals of any sign and
// scale (1e-6 to 1e6 and beyond); long strips and sizes with odd prime factors, whose spectra take
// other transform lengths. It must never read or write outside a buffer, every number it gives
// must be a number, no frame without a pattern may be called reliable, and its record must be
// valid text.
#include "fuzz_input.h"
#include "measure.h"
#include "motion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

using namespace tovra::measure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int shape = in.range(0, 3);
    int width = in.range(1, 96), height = in.range(1, 96);
    if (shape == 1) width = in.range(1, 4), height = in.range(97, 1200); // a column
    if (shape == 2) width = in.range(97, 1200), height = in.range(1, 4); // a row
    if (shape == 3) width = 97, height = 101;                            // primes
    const uint8_t flags = in.take<uint8_t>();
    Settings settings;
    settings.median = flags & 1, settings.flatField = flags & 2, settings.otsu = flags & 4;
    settings.speckArea = in.range(-2, 40);
    std::optional<Rect> rect;
    if (flags & 8) rect = Rect{in.range(-8, 104), in.range(-8, 104), in.range(-8, 104), in.range(-8, 104)};
    const int mode = in.range(0, 4);
    const double scale = std::pow(10.0, in.range(-9, 9)) * (in.range(0, 1) ? -1 : 1);
    const double offset = in.range(-3, 3) * scale * 100;
    const double angle = in.range(-900, 900) / 10.0, period = in.range(30, 400) / 10.0;
    Image image{width, height, std::vector<float>(static_cast<size_t>(width) * height)};
    const double nx = std::cos(angle * M_PI / 180), ny = std::sin(angle * M_PI / 180);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double byte = in.size() > 0 ? in.data()[i % in.size()] : 0;
            double v = byte;
            if (mode == 1 && byte == 255) v = std::numeric_limits<double>::quiet_NaN();
            if (mode == 1 && byte == 254) v = -std::numeric_limits<double>::infinity();
            if (mode == 2)
                v = std::fmod(std::fabs(x * nx + y * ny), period) < period / 2 ? 60 + byte / 8
                                                                               : 180 - byte / 8;
            if (mode == 3) // two bytes a pixel, 0..65535
                v = in.size() > 1
                        ? in.data()[(2 * i) % in.size()] * 256.0 + in.data()[(2 * i + 1) % in.size()]
                        : 0;
            if (mode == 4) v = offset + scale * byte / 255;
            image.px[i] = static_cast<float>(v);
        }
    Image background = image;
    for (float& v : background.px)
        v = std::isfinite(v) ? 100 + std::fmod(v, 7.0F) : v;
    const Result r = measure(image, flags & 16 ? &background : nullptr, rect, settings);
    for (double v : {r.blackFraction, r.blackWidthPx, r.whiteWidthPx, r.periodPx, r.periodFftPx,
                     r.orientationDeg, r.anisotropy, r.threshold})
        if (!std::isfinite(v)) std::abort();
    for (const Band& b : r.bands)
        if (!std::isfinite(b.positionPx) || !std::isfinite(b.widthPx) || !std::isfinite(b.angleDeg))
            std::abort();
    for (double v : {r.blackFractionSe, r.blackWidthSePx, r.whiteWidthSePx, r.periodSePx, r.periodsAcross})
        if (!(v >= 0) && r.error.empty()) std::abort(); // a standard error is a number, never below 0
    if (r.reliable && (r.pattern == "none" || !r.error.empty())) std::abort();
    // The record of it, under a file name of the input's bytes: JSON that holds no raw control
    // character, and a CSV row of the header's width.
    const std::string name(reinterpret_cast<const char*>(data), std::min<size_t>(size, 24));
    const std::optional<double> value = flags & 128 ? std::optional<double>(-2.5e-3) : std::nullopt;
    const std::string json =
        recordJson(r, RecordInfo{name, flags & 32 ? 2 : 0, flags & 64 ? 0.5 : 0, "", value});
    for (char c : json)
        if (static_cast<unsigned char>(c) < 0x20) std::abort();
    const std::string csv = recordCsv(r, RecordInfo{"f", 0, 0, "", value}), header = recordCsvHeader();
    if (std::count(csv.begin(), csv.end(), ',') != std::count(header.begin(), header.end(), ','))
        std::abort();
    // The same picture as two frames of a motion, the second the background's values (any bytes,
    // not numbers, one colour): aligned, compared and recorded without a number that is not one.
    if (flags & 1) {
        const Shift shift = registerFrames(image, background, rect);
        if (shift.ok && (!std::isfinite(shift.dx) || !std::isfinite(shift.dy))) std::abort();
        const Image back = shiftedBack(image, in.range(-30, 30) / 7.0, in.range(-30, 30) / 7.0);
        if (back.px.size() != image.px.size()) std::abort();
        const FrameSource two = [&](size_t k, std::string&) -> std::optional<Image> {
            return k ? background : image;
        };
        const Motion m =
            measureMotion(2, two, {1, 2}, {0.5}, nullptr, MotionSettings{rect, std::nullopt, settings});
        for (const MotionStep& st : m.steps) {
            const std::string step = motionStepJson(st, 0.5);
            if (step.find("nan") != std::string::npos || step.find("inf") != std::string::npos) std::abort();
        }
        if (m.error.empty() && m.switching.size() != image.px.size()) std::abort();
    }
    return 0;
}
