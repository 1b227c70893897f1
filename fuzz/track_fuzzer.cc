// Bubbles linked through frames from any places: counts per frame from none to hundreds, places
// that are not numbers or past any picture (1e300, -inf), points all on one place or one line,
// steps from a hair to absurd, memories, values uneven or not numbers; and the lattice's order of
// any frame (duplicates, lines, a handful). Refused input is refused; otherwise every point gets a
// track that exists, every number given is a number, and the texts are whole.
#include "fuzz_input.h"
#include "stages.h"
#include "track.h"

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace tovra::measure;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int frames = in.range(0, 12);
    const int mode = in.range(0, 4);
    std::vector<std::vector<TrackPoint>> points(static_cast<size_t>(frames));
    for (auto& frame : points) {
        const int n = in.range(0, mode == 4 ? 400 : 40);
        for (int k = 0; k < n; ++k) {
            TrackPoint p;
            const uint8_t a = in.take<uint8_t>(), b = in.take<uint8_t>();
            p.x = a * 1.7, p.y = b * 1.3;
            if (mode == 1 && a == 255) p.x = std::numeric_limits<double>::quiet_NaN();
            if (mode == 1 && b == 254) p.y = -std::numeric_limits<double>::infinity();
            if (mode == 2) p.x = a == 0 ? 1e300 : 5, p.y = 5; // all on one place, or far beyond
            if (mode == 3) p.y = 7;                           // on a line
            if (mode == 4) p.x += 0.01 * k, p.y += 0.013 * k; // dense
            p.positionSe = in.range(0, 3) * 0.05;
            p.diameter = in.range(0, 20);
            p.inside = in.range(0, 3) != 0;
            frame.push_back(p);
        }
    }
    std::vector<double> values;
    if (in.range(0, 2) == 1)
        for (int f = 0; f < frames; ++f)
            values.push_back(in.range(0, 3) == 0 ? std::numeric_limits<double>::quiet_NaN()
                                                 : f * in.range(-2, 3));
    const double steps[] = {0, 1e-300, 0.5, 3, 40, 1e6, -1, std::numeric_limits<double>::infinity()};
    TrackSettings settings{steps[in.range(0, 7)], in.range(-1, 4)};
    const Tracks t = linkTracks(points, values, settings);
    const std::string summary = tracksSummaryJson(t, values, in.range(0, 1) * 0.25);
    if (summary.empty() || summary.front() != '{' || summary.back() != '}') std::abort();
    if (summary.find("nan") != std::string::npos || summary.find("inf") != std::string::npos) std::abort();
    if (t.error.empty()) {
        if (t.id.size() != points.size()) std::abort();
        for (size_t f = 0; f < points.size(); ++f) {
            if (t.id[f].size() != points[f].size()) std::abort();
            for (int id : t.id[f])
                if (id < 0 || id >= t.tracks) std::abort();
            if (!std::isfinite(t.driftX[f]) || !std::isfinite(t.driftY[f])) std::abort();
        }
        for (const MsdPoint& m : t.msd)
            if (!std::isfinite(m.msd) || !std::isfinite(m.se)) std::abort();
        const std::string csv = tracksCsv(points, t, values, 0.5);
        if (csv.empty() || csv.back() != '\n') std::abort();
    }
    // The lattice's order of the first frame, its places as bubbles of a 256 x 256 frame.
    if (!points.empty()) {
        std::vector<Bubble> bubbles;
        for (const TrackPoint& p : points.front())
            if (std::isfinite(p.x) && std::isfinite(p.y) && std::abs(p.x) < 1e6)
                bubbles.push_back({p.x, p.y, 0, 6, p.inside, true});
        const detail::Blocks blocks = detail::blocksOf(256, 256, 40);
        if (const auto order = detail::latticeOrder(bubbles, 256, 256, blocks)) {
            if (!std::isfinite(order->psi6) || !std::isfinite(order->psi6Se) || order->psi6 > 1 + 1e-9)
                std::abort();
            for (int i : order->five)
                if (i < 0 || static_cast<size_t>(i) >= bubbles.size()) std::abort();
            for (const auto& c : order->correlation)
                if (!std::isfinite(c.g) || !std::isfinite(c.g6)) std::abort();
        }
    }
    return 0;
}
