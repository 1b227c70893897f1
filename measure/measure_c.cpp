#include "measure_c.h"

#include "measure.h"
#include "motion.h"
#include "track.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

using namespace tovra::measure;

namespace {
// The last measurement on this thread, without its pictures: its bands and its record.
thread_local std::optional<Result> last;
// The last motion on this thread, for its record.
thread_local std::optional<Motion> lastMotion;
// The last tracking on this thread, and its values, for its summary.
thread_local std::optional<Tracks> lastTracks;
thread_local std::vector<double> lastValues;

// Copies at most size - 1 bytes of `record` and a terminating 0; returns the record's length.
int32_t handOut(const std::string& record, char* text, int32_t size) {
    if (text != nullptr && size > 0) {
        const size_t n = std::min(record.size(), static_cast<size_t>(size) - 1);
        std::memcpy(text, record.data(), n);
        text[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(record.size(), INT32_MAX));
}

void copyText(char* to, size_t size, const std::string& from) {
    std::strncpy(to, from.c_str(), size - 1);
    to[size - 1] = '\0';
}

// The power of two that brings the largest finite magnitude of the pictures to between 1 and 2:
// doubles beyond single precision's range (or below its normal numbers) fit it then, and the
// widths do not depend on the scale.
double fittingScale(const double* image, const double* background, size_t n) {
    double most = 0;
    for (const double* v : {image, background})
        for (size_t i = 0; v != nullptr && i < n; ++i)
            if (std::isfinite(v[i])) most = std::max(most, std::fabs(v[i]));
    return most > 0 ? std::ldexp(1.0, -std::ilogb(most)) : 1;
}

Image singlePrecision(const double* v, int32_t width, int32_t height, double scale) {
    Image img{width, height, std::vector<float>(static_cast<size_t>(width) * static_cast<size_t>(height))};
    std::transform(v, v + img.px.size(), img.px.begin(),
                   [scale](double x) { return static_cast<float>(x * scale); });
    return img;
}
} // namespace

extern "C" {

int32_t tovra_measure(const double* image, int32_t width, int32_t height, const double* background,
                      int32_t x1, int32_t y1, int32_t x2, int32_t y2, TovraMeasurement* result) {
    if (result == nullptr) return 1;
    *result = TovraMeasurement{};
    last.reset();
    try {
        if (image == nullptr || width <= 0 || height <= 0) {
            copyText(result->error, sizeof result->error, "the image is empty");
            return 1;
        }
        const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
        const double scale = fittingScale(image, background, n);
        Image img = singlePrecision(image, width, height, scale);
        Image bg;
        if (background) bg = singlePrecision(background, width, height, scale);
        std::optional<Rect> rect;
        if (x1 || y1 || x2 || y2) rect = Rect{x1, y1, x2, y2};
        Result r = measure(img, background ? &bg : nullptr, rect, Settings{});
        if (!background) r.threshold /= scale; // in the caller's grey levels
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
        const int32_t status = r.error.empty() ? 0 : 1;
        r.black = std::vector<uint8_t>(), r.grainOf = std::vector<uint8_t>();
        last = std::move(r);
        return status;
    } catch (...) { // nothing may cross the C interface
        copyText(result->error, sizeof result->error, "out of memory");
        return 1;
    }
}

int32_t tovra_measure_band(int32_t k, double* position_px, double* angle_deg, double* width_px,
                           int32_t* black) {
    if (!last || k < 0 || static_cast<size_t>(k) >= last->bands.size()) return 1;
    const Band& b = last->bands[static_cast<size_t>(k)];
    if (position_px) *position_px = b.positionPx;
    if (angle_deg) *angle_deg = b.angleDeg;
    if (width_px) *width_px = b.widthPx;
    if (black) *black = b.black ? 1 : 0;
    return 0;
}

int32_t tovra_measure_record(char* text, int32_t size, double pixel_size_um) {
    try {
        thread_local std::string record;
        RecordInfo info;
        if (pixel_size_um > 0 && std::isfinite(pixel_size_um)) info.pixelSizeUm = pixel_size_um;
        record = last ? recordJson(*last, info) : std::string();
        return handOut(record, text, size);
    } catch (...) { // nothing may cross the C interface
        return handOut(std::string(), text, size);
    }
}

int32_t tovra_measure_json(char* text, int32_t size) {
    return tovra_measure_record(text, size, 0);
}

int32_t tovra_track(const double* x, const double* y, const double* se, const double* diameter,
                    const uint8_t* inside, const int64_t* counts, int32_t frames, const double* values,
                    double max_step, int32_t memory, int32_t* track_ids) {
    try {
        lastTracks.reset();
        lastValues.clear();
        Tracks t;
        std::vector<std::vector<TrackPoint>> points;
        if (frames < 0 || (frames > 0 && (!counts || !x || !y || !track_ids))) {
            t.error = "the frames' counts and the bubbles' places are needed";
        } else {
            points.resize(static_cast<size_t>(frames));
            size_t at = 0;
            for (int32_t f = 0; f < frames && t.error.empty(); ++f) {
                if (counts[f] < 0 || counts[f] > INT32_MAX) t.error = "a frame's count must be 0 or more";
                for (int64_t k = 0; k < counts[f] && t.error.empty(); ++k, ++at)
                    points[static_cast<size_t>(f)].push_back({x[at], y[at], se ? se[at] : 0,
                                                              diameter ? diameter[at] : 0,
                                                              inside ? inside[at] != 0 : true});
            }
            if (values) lastValues.assign(values, values + frames);
            if (t.error.empty()) t = linkTracks(points, lastValues, {max_step, memory});
            if (t.error.empty()) {
                size_t k = 0;
                for (const auto& ids : t.id)
                    for (int id : ids)
                        track_ids[k++] = id;
            }
        }
        const int32_t status = t.error.empty() ? 0 : 1;
        lastTracks = std::move(t);
        return status;
    } catch (...) { // nothing may cross the C interface
        lastTracks = Tracks{};
        lastTracks->error = "out of memory";
        return 1;
    }
}

int32_t tovra_track_summary(char* text, int32_t size, double pixel_size_um) {
    try {
        thread_local std::string summary;
        const double um = pixel_size_um > 0 && std::isfinite(pixel_size_um) ? pixel_size_um : 0;
        summary = lastTracks ? tracksSummaryJson(*lastTracks, lastValues, um) : std::string();
        return handOut(summary, text, size);
    } catch (...) { // nothing may cross the C interface
        return handOut(std::string(), text, size);
    }
}

} // extern "C"

extern "C" {

int32_t tovra_motion(const double* frames, int32_t count, int32_t width, int32_t height, const double* values,
                     const double* durations, const double* background, const int32_t* rect,
                     const int32_t* align, float* switching) {
    try {
        lastMotion.reset();
        Motion m;
        if (!frames || count < 0 || width < 1 || height < 1 ||
            static_cast<int64_t>(width) * height > INT32_MAX) {
            m.error = "the frames and their size are needed";
            lastMotion = std::move(m);
            return 1;
        }
        const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
        const FrameSource source = [&](size_t k, std::string&) -> std::optional<Image> {
            Image g{width, height, std::vector<float>(n)};
            const double* at = frames + k * n;
            for (size_t i = 0; i < n; ++i)
                g.px[i] = static_cast<float>(at[i]);
            return g;
        };
        std::vector<double> v, d;
        for (int32_t k = 0; k < count; ++k)
            v.push_back(values ? values[k] : k + 1.0);
        if (durations)
            for (int32_t k = 0; k + 1 < count; ++k)
                d.push_back(durations[k]);
        std::optional<Image> bg;
        if (background) {
            bg = Image{width, height, std::vector<float>(n)};
            for (size_t i = 0; i < n; ++i)
                bg->px[i] = static_cast<float>(background[i]);
        }
        MotionSettings settings;
        auto rectOf = [](const int32_t* r) -> std::optional<Rect> {
            if (!r || (r[0] == 0 && r[1] == 0 && r[2] == 0 && r[3] == 0)) return std::nullopt;
            return Rect{r[0], r[1], r[2], r[3]};
        };
        settings.rect = rectOf(rect), settings.alignOn = rectOf(align);
        m = measureMotion(static_cast<size_t>(count), source, v, d, bg ? &*bg : nullptr, settings);
        if (switching && m.switching.size() == n)
            std::copy(m.switching.begin(), m.switching.end(), switching);
        const int32_t status = m.error.empty() ? 0 : 1;
        lastMotion = std::move(m);
        return status;
    } catch (...) { // nothing may cross the C interface
        lastMotion = Motion{};
        lastMotion->error = "out of memory";
        return 1;
    }
}

int32_t tovra_motion_json(char* text, int32_t size, double pixel_size_um, int32_t fit_creep) {
    try {
        thread_local std::string record;
        if (!lastMotion) return handOut(std::string(), text, size);
        const Motion& m = *lastMotion;
        const double um = pixel_size_um > 0 && std::isfinite(pixel_size_um) ? pixel_size_um : 0;
        std::optional<CreepFit> fixed, free;
        if (fit_creep) fixed = fitCreep(m, false), free = fitCreep(m, true);
        std::string steps = "[";
        for (const MotionStep& s : m.steps) {
            if (steps.size() > 1) steps += ',';
            steps += motionStepJson(s, um);
        }
        record = "{\"steps\":" + steps + "],\"summary\":" + motionSummaryJson(m, fixed, free, um) + "}";
        return handOut(record, text, size);
    } catch (...) { // nothing may cross the C interface
        return handOut(std::string(), text, size);
    }
}

} // extern "C"
