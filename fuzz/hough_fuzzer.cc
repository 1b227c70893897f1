// Hcck with random sizes, regions, steps and bounds: it must never touch memory outside the image
// rows of the region or beyond accumulator element 2,253,300.
#include "fuzz_input.h"
#include "quarnk.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int32_t width = in.range(1, 600);
    const int32_t height = in.range(1, 80);
    int32_t x0 = in.range(-700, 700), x1 = in.range(-700, 700);
    const int32_t y0 = in.range(-5, height), y1 = in.range(-5, height);
    int32_t bound = in.take<int32_t>();
    const double step = in.take<double>();
    std::vector<double> image(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = i < in.size() ? (in.data()[i] & 1 ? 255.0 : 0.0) : 255.0;
    std::vector<double> acc(2253301);
    double slope = 0, intercept = 0;
    // Rows above the image are the caller's to avoid; the kernel clips the rest.
    Hcck(width, x0, y0 < 0 ? 0 : y0, x1, y1, &bound, step, &slope, &intercept, image.data(), acc.data());
    return 0;
}
