// Hcck with random sizes, regions, steps and bounds: it must never touch memory outside the image
// rows of the region or beyond accumulator element 2,253,300. Images stay small and steps coarse
// enough that a run takes milliseconds, so the fuzzer explores instead of waiting on votes.
#include "fuzz_input.h"
#include "quarnk.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

double chooseStep(FuzzInput& in) {
    const uint8_t pick = in.take<uint8_t>();
    switch (pick % 8) {
    case 0:
        return std::numeric_limits<double>::quiet_NaN();
    case 1:
        return 0.0;
    case 2:
        return -1.0;
    case 3:
        return 0.11;
    case 4:
        return 0.12 + (pick >> 3) * 0.01;
    default:
        return 0.5 + (pick >> 3) * 5.0; // up to 155 degrees
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<double> acc(2253301);
    FuzzInput in(data, size);
    const int32_t width = in.range(1, 64);
    const int32_t height = in.range(1, 32);
    int32_t x0 = in.range(-800, 800), x1 = in.range(-800, 800);
    const int32_t y0 = in.range(-5, height), y1 = in.range(-5, height);
    int32_t bound = in.take<int32_t>();
    const double step = chooseStep(in);
    std::vector<double> image(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = i < in.size() ? (in.data()[i] & 1 ? 255.0 : 0.0) : 255.0;
    double slope = 0, intercept = 0;
    // Rows above the image are the caller's to avoid; the kernel clips the rest.
    Hcck(width, x0, y0 < 0 ? 0 : y0, x1, y1, &bound, step, &slope, &intercept, image.data(), acc.data());
    return 0;
}
