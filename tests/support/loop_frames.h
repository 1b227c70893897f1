// Frames of a generated field sweep: stripes of period 24 px, a little aslant, `black` px of each
// period black, each pixel grey by the share of it that is black, blurred by the optics (a
// Gaussian of 1 px across the stripes) and with camera noise that `seed` varies.
#pragma once

#include <QImage>
#include <algorithm>
#include <cmath>

namespace testing_support {

inline QImage loopFrame(double black, int seed) {
    QImage img(192, 128, QImage::Format_Grayscale8);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 192; ++x) {
            double share = 0, weight = 0;
            for (int d = -3; d <= 3; ++d) // the blur, sampled at tenths of a pixel
                for (int t = 0; t < 10; ++t) {
                    const double u = x + d + (t + 0.5) / 10 + 0.15 * y,
                                 g = std::exp(-0.5 * (d + t / 10.0) * (d + t / 10.0));
                    share += g * (std::fmod(u, 24.0) < black), weight += g;
                }
            const int noise = (x * 7919 + y * 104729 + seed * 31) % 9 - 4;
            img.setPixel(x, y,
                         0x010101 * std::clamp(static_cast<int>(200 - 150 * share / weight) + noise, 0, 255));
        }
    return img;
}

} // namespace testing_support
