// Linking bubbles through frames, timed: the positions (frames x bubbles x 2 doubles, bubble k of
// every frame the same bubble, as track_bench.sh writes them) linked by the tracking on one core;
// prints the seconds and the share of links that join two different bubbles.
// Usage: track_bench POSITIONS FRAMES BUBBLES MAX_STEP
#include "track.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: track_bench POSITIONS FRAMES BUBBLES MAX_STEP\n");
        return 2;
    }
    const long frames = std::atol(argv[2]), bubbles = std::atol(argv[3]);
    const double maxStep = std::atof(argv[4]);
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in || frames <= 0 || bubbles <= 0) return 2;
    std::vector<double> xy(static_cast<size_t>(frames) * static_cast<size_t>(bubbles) * 2);
    const size_t got = std::fread(xy.data(), sizeof(double), xy.size(), in);
    std::fclose(in);
    if (got != xy.size()) return 2;
    std::vector<std::vector<tovra::measure::TrackPoint>> points(static_cast<size_t>(frames));
    for (long f = 0; f < frames; ++f)
        for (long k = 0; k < bubbles; ++k) {
            const size_t at =
                (static_cast<size_t>(f) * static_cast<size_t>(bubbles) + static_cast<size_t>(k)) * 2;
            points[static_cast<size_t>(f)].push_back({xy[at], xy[at + 1], 0, 0, true});
        }
    const auto start = std::chrono::steady_clock::now();
    const tovra::measure::Tracks t = tovra::measure::linkTracks(points, {}, {maxStep, 0});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A link is wrong where one track holds bubble k in one frame and another bubble in the next.
    long long links = 0, wrong = 0;
    std::vector<long> bubbleOf;
    for (long f = 0; f < frames; ++f) {
        std::vector<long> next(static_cast<size_t>(t.tracks), -1);
        for (long k = 0; k < bubbles; ++k) {
            const int id = t.id[static_cast<size_t>(f)][static_cast<size_t>(k)];
            if (f > 0 && bubbleOf[static_cast<size_t>(id)] >= 0)
                ++links, wrong += bubbleOf[static_cast<size_t>(id)] != k;
            next[static_cast<size_t>(id)] = k;
        }
        bubbleOf = std::move(next);
    }
    std::printf("%.3f %lld %lld\n", seconds, links, wrong);
    return 0;
}
