#include "measure_c.h"

#include "measure.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace tovra::measure;

namespace {
thread_local std::vector<Band> lastBands;
thread_local std::string lastJson;

void copyText(char* to, size_t size, const std::string& from) {
    std::strncpy(to, from.c_str(), size - 1);
    to[size - 1] = '\0';
}
} // namespace

extern "C" {

int32_t tovra_measure(const double* image, int32_t width, int32_t height, const double* background,
                      int32_t x1, int32_t y1, int32_t x2, int32_t y2, TovraMeasurement* result) {
    if (result == nullptr) return 1;
    *result = TovraMeasurement{};
    lastBands.clear();
    lastJson.clear();
    try {
        if (image == nullptr || width <= 0 || height <= 0) {
            copyText(result->error, sizeof result->error, "the image is empty");
            return 1;
        }
        const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
        Image img{width, height, std::vector<double>(image, image + n)};
        Image bg;
        if (background) bg = Image{width, height, std::vector<double>(background, background + n)};
        std::optional<Rect> rect;
        if (x1 || y1 || x2 || y2) rect = Rect{x1, y1, x2, y2};
        const Result r = measure(img, background ? &bg : nullptr, rect, Settings{});
        copyText(result->pattern, sizeof result->pattern, r.pattern);
        copyText(result->error, sizeof result->error, r.error);
        result->black_fraction = r.blackFraction;
        result->black_width_px = r.blackWidthPx;
        result->white_width_px = r.whiteWidthPx;
        result->period_px = r.periodPx;
        result->period_fft_px = r.periodFftPx;
        result->orientation_deg = r.orientationDeg;
        result->anisotropy = r.anisotropy;
        result->threshold = r.threshold;
        result->bands = static_cast<int32_t>(r.bands.size());
        result->black_fraction_se = r.blackFractionSe;
        result->black_width_se_px = r.blackWidthSePx;
        result->white_width_se_px = r.whiteWidthSePx;
        result->period_se_px = r.periodSePx;
        result->periods_across = r.periodsAcross;
        result->reliable = r.reliable ? 1 : 0;
        result->warnings = static_cast<int32_t>(r.warnings.size());
        lastBands = r.bands;
        lastJson = recordJson(r, RecordInfo{});
        return r.error.empty() ? 0 : 1;
    } catch (...) { // nothing may cross the C interface
        copyText(result->error, sizeof result->error, "out of memory");
        return 1;
    }
}

int32_t tovra_measure_band(int32_t k, double* position_px, double* angle_deg, double* width_px,
                           int32_t* black) {
    if (k < 0 || static_cast<size_t>(k) >= lastBands.size()) return 1;
    const Band& b = lastBands[static_cast<size_t>(k)];
    if (position_px) *position_px = b.positionPx;
    if (angle_deg) *angle_deg = b.angleDeg;
    if (width_px) *width_px = b.widthPx;
    if (black) *black = b.black ? 1 : 0;
    return 0;
}

int32_t tovra_measure_json(char* text, int32_t size) {
    if (text != nullptr && size > 0) {
        const size_t n = std::min(lastJson.size(), static_cast<size_t>(size) - 1);
        std::memcpy(text, lastJson.data(), n);
        text[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(lastJson.size(), INT32_MAX));
}

} // extern "C"
