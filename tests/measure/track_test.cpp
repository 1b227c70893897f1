// Bubbles followed through frames: the linking's optimality and memory, the drift, the MSD and D,
// what it refuses; and the lattice's order on known lattices.
#include "stages.h"
#include "track.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

using namespace tovra::measure;
using namespace tovra::measure::detail;

namespace {

using Frames = std::vector<std::vector<TrackPoint>>;

// The track of point i of frame f.
int idOf(const Tracks& t, size_t f, size_t i) {
    return t.id[f][i];
}

} // namespace

// Two frames of a few points all within reach: the links must be the assignment of least total
// squared step, found by trying every permutation.
TEST(Tracking, LinksAreTheAssignmentOfLeastTotalSquaredStep) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> place(0, 10);
        const size_t n = 3 + seed % 4;
        Frames frames(2);
        for (int f = 0; f < 2; ++f)
            for (size_t i = 0; i < n; ++i)
                frames[static_cast<size_t>(f)].push_back({place(rng), place(rng), 0, 0, true});
        // Far above any step: every point links, none starts a track of its own.
        const Tracks t = linkTracks(frames, {}, {100, 0});
        ASSERT_TRUE(t.error.empty());
        std::vector<size_t> linked(n);
        for (size_t j = 0; j < n; ++j) {
            const auto from = std::find(t.id[0].begin(), t.id[0].end(), idOf(t, 1, j));
            ASSERT_NE(from, t.id[0].end()) << "seed " << seed;
            linked[static_cast<size_t>(from - t.id[0].begin())] = j;
        }
        auto cost = [&](const std::vector<size_t>& to) {
            double c = 0;
            for (size_t i = 0; i < n; ++i) {
                // The drift the linker takes out is the mean step, the same for every permutation's
                // own mean: compare the steps as they are.
                const double dx = frames[1][to[i]].x - frames[0][i].x,
                             dy = frames[1][to[i]].y - frames[0][i].y;
                c += dx * dx + dy * dy;
            }
            return c;
        };
        std::vector<size_t> perm(n);
        std::iota(perm.begin(), perm.end(), 0);
        double best = 1e300;
        do
            best = std::min(best, cost(perm));
        while (std::next_permutation(perm.begin(), perm.end()));
        EXPECT_NEAR(cost(linked), best, 1e-9) << "seed " << seed;
    }
}

// A bubble missed for `gap` frames keeps its track when the memory allows it, and starts another
// when not; the reach grows with the frames missed.
TEST(Tracking, MemoryBridgesMissedFrames) {
    struct Row {
        int gap, memory;
        bool same;
    };
    for (const Row& row : {Row{1, 0, false}, Row{1, 1, true}, Row{2, 2, true}, Row{3, 2, false}}) {
        Frames frames;
        for (int f = 0; f < 6; ++f) {
            // One bubble moving half a pixel a frame among four that stay (the drift stays 0).
            std::vector<TrackPoint> points{{10.0 + 0.5 * f, 10, 0, 5, true},
                                           {50, 50, 0, 5, true},
                                           {80, 50, 0, 5, true},
                                           {50, 80, 0, 5, true},
                                           {80, 80, 0, 5, true}};
            // The first bubble goes missing after frame 1 for `gap` frames.
            if (f >= 2 && f < 2 + row.gap) points.erase(points.begin());
            frames.push_back(points);
        }
        const Tracks t = linkTracks(frames, {}, {1.5, row.memory});
        ASSERT_TRUE(t.error.empty());
        const size_t back = 2 + static_cast<size_t>(row.gap);
        EXPECT_EQ(idOf(t, 0, 0) == idOf(t, back, 0), row.same)
            << "gap " << row.gap << " memory " << row.memory;
        EXPECT_EQ(t.gapLinks, row.same ? 1 : 0);
        EXPECT_EQ(t.tracks, row.same ? 5 : 6);
    }
}

// A lattice shifted by several pixels a frame, more than its bubbles' jitter: every bubble keeps
// its track, and the drift found is the shift.
TEST(Tracking, DriftIsTakenOutAndReported) {
    std::mt19937 rng(5);
    std::normal_distribution<double> jitter(0, 0.2);
    Frames frames;
    for (int f = 0; f < 10; ++f) {
        std::vector<TrackPoint> points;
        for (int j = 0; j < 12; ++j)
            for (int i = 0; i < 12; ++i)
                points.push_back({20.0 * i + 10 * (j % 2) + 3.1 * f + jitter(rng),
                                  17.3 * j - 1.7 * f + jitter(rng), 0.2, 8, true});
        std::shuffle(points.begin(), points.end(), rng);
        frames.push_back(points);
    }
    // Half the spacing: a bubble's own place moved by the drift is in reach, its neighbours not.
    const Tracks t = linkTracks(frames, {}, {4.5, 0});
    ASSERT_TRUE(t.error.empty());
    EXPECT_EQ(t.tracks, 144);
    for (size_t f = 0; f < frames.size(); ++f) {
        EXPECT_NEAR(t.driftX[f], 3.1 * static_cast<double>(f), 0.1);
        EXPECT_NEAR(t.driftY[f], -1.7 * static_cast<double>(f), 0.1);
    }
}

// Brownian points with a known D, the values a time 0.5 apart: D within its errors, the MSD
// straight, none pinned; points that stay put within their errors all pinned.
TEST(Tracking, DiffusionAndPinnedBubbles) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> place(0, 1000);
    const double sigma = 1.0, dt = 0.5, se = 0.1;
    std::normal_distribution<double> step(0, sigma), error(0, se);
    std::vector<std::pair<double, double>> at(300);
    for (auto& p : at)
        p = {place(rng), place(rng)};
    Frames moving, still;
    std::vector<double> times;
    for (int f = 0; f < 60; ++f) {
        std::vector<TrackPoint> a, b;
        for (size_t k = 0; k < at.size(); ++k) {
            a.push_back({at[k].first + error(rng), at[k].second + error(rng), se, 6, true});
            b.push_back({10.0 * static_cast<double>(k % 20) * 5 + error(rng),
                         10.0 * static_cast<double>(k / 20) * 5 + error(rng), se, 6, true});
        }
        moving.push_back(a), still.push_back(b), times.push_back(f * dt);
        for (auto& p : at)
            p.first += step(rng), p.second += step(rng);
    }
    const Tracks t = linkTracks(moving, times, {5, 0});
    ASSERT_TRUE(t.error.empty() && t.diffusion && t.diffusionSe);
    const double truth = sigma * sigma / (2 * dt);
    EXPECT_NEAR(*t.diffusion, truth, 3 * *t.diffusionSe);
    EXPECT_LT(std::abs(*t.diffusion / truth - 1), 0.05);
    EXPECT_LT(*t.diffusionSe / truth, 0.03);
    EXPECT_EQ(t.pinnedFraction.value_or(-1), 0);
    // Where nothing moves the MSD is the positions' error alone: 4 sigma^2 at every lag.
    const Tracks p = linkTracks(still, times, {5, 0});
    ASSERT_TRUE(p.pinnedFraction && p.localisationPx);
    EXPECT_NEAR(*p.localisationPx, se, 0.01);
    EXPECT_GT(*p.pinnedFraction, 0.95);
    EXPECT_NEAR(p.diffusion.value_or(1), 0, 3 * p.diffusionSe.value_or(0) + 1e-3);
}

// What the tracking refuses or says: absurd settings, places that are not numbers, values of
// another count; values not evenly spaced give no D, and frames without bubbles pause the tracks.
TEST(Tracking, BadInputIsRefusedOrSaid) {
    const Frames two{{{1, 1, 0, 4, true}}, {{1.5, 1, 0, 4, true}}};
    for (const TrackSettings& s : {TrackSettings{-1, 0}, TrackSettings{NAN, 0}, TrackSettings{INFINITY, 0},
                                   TrackSettings{2, -1}, TrackSettings{2, 100000}})
        EXPECT_FALSE(linkTracks(two, {}, s).error.empty());
    EXPECT_FALSE(linkTracks(two, {1.0}, {2, 0}).error.empty());
    EXPECT_FALSE(linkTracks({{{NAN, 1, 0, 4, true}}}, {}, {2, 0}).error.empty());
    const Tracks uneven = linkTracks({{{1, 1, 0, 4, true}, {9, 9, 0, 4, true}},
                                      {{1.2, 1, 0, 4, true}, {9.1, 9, 0, 4, true}},
                                      {{1.3, 1, 0, 4, true}, {9.3, 9, 0, 4, true}}},
                                     {0, 1, 5}, {2, 0});
    EXPECT_TRUE(uneven.error.empty());
    EXPECT_FALSE(uneven.diffusion);
    EXPECT_FALSE(uneven.note.empty());
    // A step that takes in every bubble of a crowded frame: refused, not a quadratic blow-up.
    std::vector<TrackPoint> crowd;
    for (int k = 0; k < 2000; ++k)
        crowd.push_back({static_cast<double>(k % 50) * 4, static_cast<double>(k / 50) * 4, 0, 2, true});
    EXPECT_FALSE(linkTracks({crowd, crowd}, {}, {1e5, 0}).error.empty());
    EXPECT_TRUE(linkTracks({crowd, crowd}, {}, {3, 0}).error.empty());
    // An empty frame between two: the bubble's track goes on across it with memory 1.
    const Tracks paused = linkTracks({{{5, 5, 0, 4, true}}, {}, {{5.5, 5, 0, 4, true}}}, {}, {2, 1});
    ASSERT_TRUE(paused.error.empty());
    EXPECT_EQ(paused.tracks, 1);
    EXPECT_EQ(paused.id[1].size(), 0U);
    // Nothing at all: no tracks, no D, no failure.
    const Tracks none = linkTracks({{}, {}}, {}, {0, 0});
    EXPECT_TRUE(none.error.empty());
    EXPECT_EQ(none.tracks, 0);
    EXPECT_EQ(tracksCsv({{}, {}}, none, {}, 0), "track_id,frame,value,x_px,y_px,diameter_px\n");
}

// A dense frame where every bubble competes with its neighbours for the same partners (one group of
// thousands): linked whole, each bubble to itself moved.
TEST(Tracking, DenseFramesAreNeverGivenUp) {
    std::mt19937 rng(3);
    std::normal_distribution<double> step(0, 0.3);
    Frames frames(2);
    for (int j = 0; j < 60; ++j)
        for (int i = 0; i < 60; ++i) {
            const double x = 4.0 * i + 2 * (j % 2), y = 3.46 * j;
            frames[0].push_back({x, y, 0, 3, true});
            frames[1].push_back({x + step(rng), y + step(rng), 0, 3, true});
        }
    // A reach of three spacings: every bubble a candidate for dozens.
    const Tracks t = linkTracks(frames, {}, {12, 0});
    ASSERT_TRUE(t.error.empty());
    for (size_t i = 0; i < frames[0].size(); ++i)
        ASSERT_EQ(t.id[0][i], t.id[1][i]) << i;
}

// The lattice's order: a perfect triangular lattice has |psi6| 1 and no defect; one with a row of
// sites ended (an edge dislocation) has one five- and sevenfold pair, found at the row's end.
TEST(LatticeOrder, PerfectLatticeAndOneDislocation) {
    const double a = 20, h = a * std::sqrt(3.0) / 2;
    auto lattice = [&](bool dislocation) {
        std::vector<Bubble> out;
        for (int j = -2; j < 24; ++j)
            for (int i = -2; i < 24; ++i) {
                double x = a * i + (j % 2 ? a / 2 : 0) + 3.3, y = h * j + 4.1;
                if (dislocation) { // the continuum displacement of an edge dislocation at (200.5, 190.5)
                    const double dx = x - 200.5, dy = y - 190.5, r2 = dx * dx + dy * dy, nu = 1.0 / 3;
                    const double ux = a / (2 * kPi) * (std::atan2(dy, dx) + dx * dy / (2 * (1 - nu) * r2));
                    const double uy = -a / (2 * kPi) *
                                      ((1 - 2 * nu) / (4 * (1 - nu)) * std::log(r2) +
                                       (dx * dx - dy * dy) / (4 * (1 - nu) * r2));
                    x += ux, y += uy;
                }
                if (x > 0 && y > 0 && x < 400 && y < 400)
                    out.push_back({x, y, 0, 10, x > 6 && y > 6 && x < 394 && y < 394});
            }
        return out;
    };
    const Blocks blocks = blocksOf(400, 400, 60);
    const auto perfect = latticeOrder(lattice(false), 400, 400, blocks);
    ASSERT_TRUE(perfect);
    EXPECT_GT(perfect->psi6, 0.99);
    EXPECT_GT(perfect->counted, 250);
    EXPECT_TRUE(perfect->five.empty() && perfect->seven.empty() && perfect->dislocations.empty());
    const auto one = latticeOrder(lattice(true), 400, 400, blocks);
    ASSERT_TRUE(one);
    ASSERT_EQ(one->dislocations.size(), 1U);
    EXPECT_LT(std::hypot(one->dislocations[0].x - 200.5, one->dislocations[0].y - 190.5), a);
    EXPECT_LT(one->psi6, perfect->psi6);
    // Too few bubbles, or all on a line: no order rather than a number that means nothing.
    std::vector<Bubble> line;
    for (int i = 0; i < 30; ++i)
        line.push_back({10.0 * i, 50, 0, 4, true});
    EXPECT_FALSE(latticeOrder(line, 400, 400, blocks));
    const std::vector<Bubble> all = lattice(false);
    EXPECT_FALSE(latticeOrder(std::vector<Bubble>(all.begin(), all.begin() + 5), 400, 400, blocks));
}
