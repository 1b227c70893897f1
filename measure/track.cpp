// Linking bubbles from frame to frame, and what their tracks give: the drift, the mean squared
// displacement, the diffusion coefficient and the pinned ones.
#include "track.h"

#include "json_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <queue>
#include <span>

namespace tovra::measure {

namespace {

constexpr double kInfinite = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

// The assignment of least total cost over a sparse bipartite graph whose rows can all be matched:
// shortest augmenting paths (Dijkstra over reduced costs, the potentials kept so that matched
// edges stay tight). Rows and columns are as many; every row must have a perfect matching.
class SparseAssignment {
public:
    struct Edge {
        int column;
        double cost;
    };
    // rows[i]: row i's edges. Returns each row's column.
    std::vector<int> solve(const std::vector<std::vector<Edge>>& rows) {
        const size_t n = rows.size();
        rowOf_.assign(n, -1), columnOf_.assign(n, -1);
        rowPotential_.assign(n, 0), columnPotential_.assign(n, 0);
        distance_.assign(n, kInfinite), previous_.assign(n, -1), finished_.assign(n, 0);
        // Cheapest edge first where its column is free: most rows need no search.
        for (size_t i = 0; i < n; ++i) {
            int best = -1;
            double cost = kInfinite;
            for (const Edge& e : rows[i])
                if (e.cost < cost) cost = e.cost, best = e.column;
            rowPotential_[i] = -cost; // every reduced cost of the row at least 0, its cheapest 0
            if (best >= 0 && rowOf_[static_cast<size_t>(best)] < 0)
                rowOf_[static_cast<size_t>(best)] = static_cast<int>(i), columnOf_[i] = best;
        }
        for (size_t i = 0; i < n; ++i)
            if (columnOf_[i] < 0) augment(rows, static_cast<int>(i));
        return columnOf_;
    }

private:
    double reduced(int row, const Edge& e) const {
        return e.cost + rowPotential_[static_cast<size_t>(row)] -
               columnPotential_[static_cast<size_t>(e.column)];
    }

    void augment(const std::vector<std::vector<Edge>>& rows, int start) {
        using Item = std::pair<double, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<>> heap;
        touched_.clear();
        auto relax = [&](int row, double base) {
            for (const Edge& e : rows[static_cast<size_t>(row)]) {
                const auto c = static_cast<size_t>(e.column);
                if (finished_[c]) continue;
                const double d = base + reduced(row, e);
                if (d < distance_[c]) {
                    if (distance_[c] == kInfinite) touched_.push_back(e.column);
                    distance_[c] = d, previous_[c] = row;
                    heap.push({d, e.column});
                }
            }
        };
        relax(start, 0);
        int free = -1;
        double reach = 0;
        std::vector<int> done;
        while (!heap.empty()) {
            const auto [d, column] = heap.top();
            heap.pop();
            const auto c = static_cast<size_t>(column);
            if (finished_[c] || d > distance_[c]) continue;
            finished_[c] = 1, done.push_back(column);
            if (rowOf_[c] < 0) {
                free = column, reach = d;
                break;
            }
            // Through the column's row: its matched edge is tight, so the row lies at the same distance.
            relax(rowOf_[c], d);
        }
        // A perfect matching always exists in the graphs given; without one the row stays unmatched.
        if (free >= 0) {
            // Potentials moved by the distances (capped at the free column's), which keeps every
            // reduced cost at least 0 and the path's edges tight.
            rowPotential_[static_cast<size_t>(start)] -= reach;
            for (int column : done) {
                const auto c = static_cast<size_t>(column);
                const double shift = reach - distance_[c];
                columnPotential_[c] -= shift;
                if (rowOf_[c] >= 0 && column != free) rowPotential_[static_cast<size_t>(rowOf_[c])] -= shift;
            }
            for (int column = free; column >= 0;) {
                const int row = previous_[static_cast<size_t>(column)];
                const int next = columnOf_[static_cast<size_t>(row)];
                rowOf_[static_cast<size_t>(column)] = row, columnOf_[static_cast<size_t>(row)] = column;
                column = row == start ? -1 : next;
            }
        }
        for (int column : touched_) {
            const auto c = static_cast<size_t>(column);
            distance_[c] = kInfinite, previous_[c] = -1, finished_[c] = 0;
        }
    }

    std::vector<int> rowOf_, columnOf_, previous_, touched_;
    std::vector<double> rowPotential_, columnPotential_, distance_;
    std::vector<uint8_t> finished_;
};

// Union-find over the tracks and the points of one step, for the groups that compete.
struct Groups {
    std::vector<int> parent;
    explicit Groups(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int root(int i) {
        while (parent[static_cast<size_t>(i)] != i)
            i = parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
        return i;
    }
    void join(int a, int b) {
        a = root(a), b = root(b);
        if (a != b) parent[static_cast<size_t>(a)] = b;
    }
};

struct Live {
    int track = 0, frame = 0; // last seen in
    double x = 0, y = 0;      // there
    bool inside = true;
};

// A grid of cells over the points of one frame, for the candidates within reach.
class Grid {
public:
    Grid(const std::vector<TrackPoint>& points, double cell) : cell_(cell) {
        if (points.empty()) return;
        x0_ = y0_ = kInfinite;
        double x1 = -kInfinite, y1 = -kInfinite;
        for (const TrackPoint& p : points)
            x0_ = std::min(x0_, p.x), y0_ = std::min(y0_, p.y), x1 = std::max(x1, p.x),
            y1 = std::max(y1, p.y);
        // At most about four cells a point: a reach far beyond the points' spread needs no more.
        const double limit = std::sqrt(4.0 * static_cast<double>(points.size())) + 1;
        across_ = static_cast<int>(std::min(limit, std::floor((x1 - x0_) / cell_) + 1));
        down_ = static_cast<int>(std::min(limit, std::floor((y1 - y0_) / cell_) + 1));
        cellW_ = across_ > 1 ? std::max(cell_, (x1 - x0_) / (across_ - 1)) : kInfinite;
        cellH_ = down_ > 1 ? std::max(cell_, (y1 - y0_) / (down_ - 1)) : kInfinite;
        start_.assign(static_cast<size_t>(across_) * static_cast<size_t>(down_) + 1, 0);
        std::vector<int> cellOf(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            cellOf[i] = index(points[i].x, points[i].y);
            ++start_[static_cast<size_t>(cellOf[i]) + 1];
        }
        std::partial_sum(start_.begin(), start_.end(), start_.begin());
        members_.resize(points.size());
        std::vector<int> fill(start_.begin(), start_.end() - 1);
        for (size_t i = 0; i < points.size(); ++i)
            members_[static_cast<size_t>(fill[static_cast<size_t>(cellOf[i])]++)] = static_cast<int>(i);
    }
    // f(point) for the points of the cells that a disc of `reach` about (x, y) touches.
    template <class F> void near(double x, double y, double reach, F f) const {
        if (members_.empty()) return;
        const int gx0 = column(x - reach), gx1 = column(x + reach), gy0 = row(y - reach),
                  gy1 = row(y + reach);
        for (int gy = gy0; gy <= gy1; ++gy)
            for (int gx = gx0; gx <= gx1; ++gx) {
                const size_t k =
                    static_cast<size_t>(gy) * static_cast<size_t>(across_) + static_cast<size_t>(gx);
                for (int m = start_[k]; m < start_[k + 1]; ++m)
                    f(members_[static_cast<size_t>(m)]);
            }
    }

private:
    int column(double x) const {
        const double c = std::floor((x - x0_) / cellW_);
        return static_cast<int>(
            std::clamp(std::isfinite(c) ? c : 0.0, 0.0, static_cast<double>(across_ - 1)));
    }
    int row(double y) const {
        const double c = std::floor((y - y0_) / cellH_);
        return static_cast<int>(std::clamp(std::isfinite(c) ? c : 0.0, 0.0, static_cast<double>(down_ - 1)));
    }
    int index(double x, double y) const { return row(y) * across_ + column(x); }

    double cell_, x0_ = 0, y0_ = 0, cellW_ = 1, cellH_ = 1;
    int across_ = 1, down_ = 1;
    std::vector<int> start_, members_;
};

// The median distance from each point of the frames to its nearest neighbour in its frame (a
// frame in ten at most, for speed).
double typicalSpacing(const std::vector<std::vector<TrackPoint>>& frames) {
    std::vector<double> nearest;
    const size_t every = std::max<size_t>(1, frames.size() / 10);
    for (size_t f = 0; f < frames.size(); f += every) {
        const auto& points = frames[f];
        if (points.size() < 2) continue;
        double minX = kInfinite, maxX = -kInfinite, minY = kInfinite, maxY = -kInfinite;
        for (const TrackPoint& p : points)
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minY = std::min(minY, p.y),
            maxY = std::max(maxY, p.y);
        const double area = std::max(1.0, (maxX - minX) * (maxY - minY));
        const double cell = std::max(1e-9, std::sqrt(area / static_cast<double>(points.size())));
        const Grid grid(points, cell);
        for (size_t i = 0; i < points.size(); ++i) {
            double best = kInfinite;
            for (double reach = cell; best == kInfinite && reach < 1e3 * cell; reach *= 2)
                grid.near(points[i].x, points[i].y, reach, [&](int j) {
                    if (static_cast<size_t>(j) == i) return;
                    const double d = std::hypot(points[static_cast<size_t>(j)].x - points[i].x,
                                                points[static_cast<size_t>(j)].y - points[i].y);
                    if (d <= reach) best = std::min(best, d);
                });
            if (best < kInfinite) nearest.push_back(best);
        }
    }
    if (nearest.empty()) return 0;
    std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2),
                     nearest.end());
    return nearest[nearest.size() / 2];
}

// The 99th percentile of chi-squared with `dof` degrees of freedom (Wilson and Hilferty's cube).
double chiSquared99(double dof) {
    const double z = 2.326347874, a = 2 / (9 * dof);
    const double c = 1 - a + z * std::sqrt(a);
    return dof * c * c * c;
}

// The MSD, D and the pinned tracks from the linked points, the drift taken out.
void diffusionOf(const std::vector<std::vector<TrackPoint>>& frames, const std::vector<double>& values,
                 Tracks& t) {
    const size_t n = frames.size();
    // Each track's points in frame order: (frame, x, y, se), drift taken out.
    struct Seen {
        int frame;
        double x, y, se;
    };
    // A centre that is not the bubble's own (cut by the border, run together with another) ends the
    // stretch of its track the MSD takes: across it, which of two bubbles that ran together came
    // out as this one is a guess. Each stretch counts as a track of its own.
    std::vector<std::vector<Seen>> tracks;
    std::vector<int> stretch(static_cast<size_t>(t.tracks), -1);
    for (size_t f = 0; f < n; ++f)
        for (size_t i = 0; i < frames[f].size(); ++i) {
            const TrackPoint& p = frames[f][i];
            int& at = stretch[static_cast<size_t>(t.id[f][i])];
            if (!p.inside) {
                at = -1;
                continue;
            }
            if (at < 0) at = static_cast<int>(tracks.size()), tracks.emplace_back();
            tracks[static_cast<size_t>(at)].push_back(
                {static_cast<int>(f), p.x - t.driftX[f], p.y - t.driftY[f], p.positionSe});
        }
    // The values' step: the frames evenly spaced in value, or no time to give D in.
    double step = 1;
    if (!values.empty() && n >= 2) {
        step = (values.back() - values.front()) / static_cast<double>(n - 1);
        bool even = std::isfinite(step) && step != 0;
        for (size_t f = 1; even && f < n; ++f)
            even = std::abs(values[f] - values[f - 1] - step) <= 0.01 * std::abs(step);
        if (!even) {
            t.note = "the values are not evenly spaced: the MSD is given by lag in frames, without D";
            step = 0;
        } else {
            step = std::abs(step);
        }
    }
    // The drift is the mean step of the bubbles seen in both frames, each bubble's own step among
    // them: what is left of a step has its variance cut by 1 - 1/N. Given back by N / (N - 1).
    double pairsSeen = 0, stepsSeen = 0;
    for (const auto& track : tracks)
        for (size_t k = 1; k < track.size(); ++k)
            if (track[k].frame == track[k - 1].frame + 1) pairsSeen += 1;
    for (size_t f = 1; f < n; ++f)
        if (!frames[f].empty() && !frames[f - 1].empty()) stepsSeen += 1;
    const double perStep = stepsSeen > 0 ? pairsSeen / stepsSeen : 0;
    const double back = perStep > 1 ? perStep / (perStep - 1) : 1;
    // Lags out to a quarter of the frames (100 at most); tracks in 32 groups for the errors.
    const int lags = static_cast<int>(std::min<size_t>(100, std::max<size_t>(1, n / 4)));
    const int groups = static_cast<int>(std::min<size_t>(32, tracks.size()));
    if (n < 2 || groups < 2) {
        if (t.note.empty()) t.note = "too few tracks for the MSD";
        return;
    }
    std::vector<double> sum(static_cast<size_t>(lags + 1) * static_cast<size_t>(groups), 0),
        count(sum.size(), 0);
    std::vector<int> holding(static_cast<size_t>(lags) + 1, 0);
    for (size_t k = 0; k < tracks.size(); ++k) {
        const auto& track = tracks[k];
        const size_t g = k % static_cast<size_t>(groups);
        std::vector<uint8_t> has(static_cast<size_t>(lags) + 1, 0);
        for (size_t a = 0; a < track.size(); ++a)
            for (size_t b = a + 1; b < track.size(); ++b) {
                const int lag = track[b].frame - track[a].frame;
                if (lag > lags) break;
                const double dx = track[b].x - track[a].x, dy = track[b].y - track[a].y;
                const size_t at = static_cast<size_t>(lag) * static_cast<size_t>(groups) + g;
                sum[at] += dx * dx + dy * dy, count[at] += 1, has[static_cast<size_t>(lag)] = 1;
            }
        for (int lag = 1; lag <= lags; ++lag)
            holding[static_cast<size_t>(lag)] += has[static_cast<size_t>(lag)];
    }
    // The MSD at each lag with group `without` left out (-1: none).
    auto msdAt = [&](int lag, int without) {
        double s = 0, c = 0;
        for (int g = 0; g < groups; ++g) {
            if (g == without) continue;
            const size_t at = static_cast<size_t>(lag) * static_cast<size_t>(groups) + static_cast<size_t>(g);
            s += sum[at], c += count[at];
        }
        return c > 0 ? back * s / c : std::numeric_limits<double>::quiet_NaN();
    };
    auto jackknife = [groups](const auto& estimate) {
        std::vector<double> v;
        for (int g = 0; g < groups; ++g)
            if (const double e = estimate(g); std::isfinite(e)) v.push_back(e);
        if (v.size() < 2) return std::numeric_limits<double>::quiet_NaN();
        const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
        double spread = 0;
        for (double e : v)
            spread += (e - mean) * (e - mean);
        return std::sqrt(spread * static_cast<double>(v.size() - 1) / static_cast<double>(v.size()));
    };
    for (int lag = 1; lag <= lags; ++lag) {
        long long pairs = 0;
        for (int g = 0; g < groups; ++g)
            pairs += static_cast<long long>(
                count[static_cast<size_t>(lag) * static_cast<size_t>(groups) + static_cast<size_t>(g)]);
        if (pairs == 0) continue;
        MsdPoint p;
        p.lag = lag, p.time = lag * (step > 0 ? step : 1), p.msd = msdAt(lag, -1);
        p.se = jackknife([&](int g) { return msdAt(lag, g); });
        if (!std::isfinite(p.se)) p.se = 0;
        p.pairs = pairs, p.tracks = holding[static_cast<size_t>(lag)];
        t.msd.push_back(p);
    }
    // D from a straight line through the first four lags (fewer where there are fewer): the
    // positions' error adds the same 4 sigma^2 at every lag, which the intercept takes.
    auto fit = [&](int without, double* intercept) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        int m = 0;
        for (int lag = 1; lag <= std::min(4, lags); ++lag) {
            const double y = msdAt(lag, without);
            if (!std::isfinite(y)) continue;
            sx += lag, sy += y, sxx += lag * lag, sxy += lag * y, ++m;
        }
        if (m < 2) return std::numeric_limits<double>::quiet_NaN();
        const double slope = (m * sxy - sx * sy) / (m * sxx - sx * sx);
        if (intercept) *intercept = (sy - slope * sx) / m;
        return slope;
    };
    double intercept = 0;
    const double slope = fit(-1, &intercept);
    t.fitLags = std::min(4, lags);
    if (step > 0 && std::isfinite(slope)) {
        t.diffusion = slope / (4 * step);
        const double se = jackknife([&](int g) { return fit(g, nullptr); });
        t.diffusionSe = std::isfinite(se) ? se / (4 * step) : 0;
        t.localisationPx = intercept > 0 ? std::sqrt(intercept / 4) : 0;
    } else if (t.note.empty()) {
        t.note = "too few lags for D";
    }
    // Pinned: the scatter about the track's mean place, over the centres' errors.
    for (const auto& track : tracks) {
        if (track.size() < 5) continue;
        double mx = 0, my = 0;
        bool known = true;
        for (const Seen& s : track)
            mx += s.x, my += s.y, known = known && s.se > 0;
        if (!known) continue;
        mx /= static_cast<double>(track.size()), my /= static_cast<double>(track.size());
        double chi2 = 0;
        for (const Seen& s : track)
            chi2 += ((s.x - mx) * (s.x - mx) + (s.y - my) * (s.y - my)) / (s.se * s.se);
        ++t.judged;
        if (chi2 <= chiSquared99(2.0 * static_cast<double>(track.size() - 1))) ++t.pinned;
    }
    if (t.judged > 0) t.pinnedFraction = static_cast<double>(t.pinned) / t.judged;
}

} // namespace

Tracks linkTracks(const std::vector<std::vector<TrackPoint>>& frames, const std::vector<double>& values,
                  const TrackSettings& settings) {
    Tracks t;
    if (!(settings.maxStep >= 0) || !std::isfinite(settings.maxStep)) {
        t.error = "the largest step must be a number of pixels above 0";
        return t;
    }
    if (settings.memory < 0 || settings.memory > 1000) {
        t.error = "the memory must be 0 to 1000 frames";
        return t;
    }
    if (!values.empty() && values.size() != frames.size()) {
        t.error = "one value a frame";
        return t;
    }
    for (const auto& points : frames)
        for (const TrackPoint& p : points)
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
                t.error = "a bubble's place is not a number";
                return t;
            }
    const size_t n = frames.size();
    t.memory = settings.memory;
    t.maxStep = settings.maxStep > 0 ? settings.maxStep : typicalSpacing(frames) / 2;
    if (!(t.maxStep > 0)) t.maxStep = 1; // no frame holds two bubbles: any step links them
    // A reach that takes in more than a thousand bubbles a track makes every bubble everyone's
    // candidate: memory and time would go as the square of the bubbles, for links that mean nothing.
    for (const auto& frame : frames) {
        if (frame.size() <= 1000) continue;
        double x0 = kInfinite, x1 = -kInfinite, y0 = kInfinite, y1 = -kInfinite;
        for (const TrackPoint& p : frame)
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        const double reach = t.maxStep * std::sqrt(settings.memory + 1.0);
        const double disc = kPi * reach * reach;
        const double within =
            static_cast<double>(frame.size()) * disc / std::max((x1 - x0) * (y1 - y0), disc);
        if (within > 1000) {
            t = Tracks{};
            t.error = "the largest step takes in more than a thousand bubbles a track: give a step about the "
                      "bubbles' spacing or less";
            return t;
        }
    }
    t.id.resize(n);
    t.driftX.assign(n, 0), t.driftY.assign(n, 0);
    const double r = t.maxStep, alone = 1.05 * r * r; // a link never costs more than r^2
    std::vector<Live> live;
    std::vector<std::vector<SparseAssignment::Edge>> rows;
    std::vector<size_t> order;
    std::vector<int> groupTracks, groupPoints;
    SparseAssignment solver;
    double stepX = 0, stepY = 0; // the last step's drift, the guess for the next
    for (size_t f = 0; f < n; ++f) {
        const auto& points = frames[f];
        t.id[f].assign(points.size(), -1);
        if (f > 0) t.driftX[f] = t.driftX[f - 1], t.driftY[f] = t.driftY[f - 1];
        // Tracks missed for more frames than the memory end.
        std::erase_if(live,
                      [&](const Live& l) { return static_cast<int>(f) - l.frame - 1 > settings.memory; });
        if (points.empty()) continue;
        const Grid grid(points, r * std::sqrt(settings.memory + 1.0));
        // Candidates: for each live track the points within reach of where it should be now (its
        // last place moved by the drift since), the reach growing as the root of the frames since.
        struct Candidate {
            int track, point;
            double cost;
            int group = 0;
        };
        std::vector<Candidate> candidates;
        std::vector<int> chosen(live.size(), -1);
        for (int pass = 0; pass < 3; ++pass) {
            const double dx0 = t.driftX[f] + stepX, dy0 = t.driftY[f] + stepY;
            candidates.clear();
            for (size_t k = 0; k < live.size(); ++k) {
                const Live& l = live[k];
                const int gap = static_cast<int>(f) - l.frame - 1;
                const double reach = r * std::sqrt(gap + 1.0);
                const double px = l.x + dx0 - t.driftX[static_cast<size_t>(l.frame)],
                             py = l.y + dy0 - t.driftY[static_cast<size_t>(l.frame)];
                grid.near(px, py, reach, [&](int j) {
                    const double ex = points[static_cast<size_t>(j)].x - px,
                                 ey = points[static_cast<size_t>(j)].y - py;
                    const double d2 = ex * ex + ey * ey;
                    if (d2 <= reach * reach)
                        candidates.push_back({static_cast<int>(k), j, d2 / (gap + 1), 0});
                });
            }
            // Groups of tracks and points joined by candidates, each solved on its own: a track
            // ends (cost `alone`), a point starts a track (the same), or they link.
            const size_t tracksHere = live.size(), pointsHere = points.size();
            Groups groups(tracksHere + pointsHere);
            for (const Candidate& c : candidates)
                groups.join(c.track, static_cast<int>(tracksHere) + c.point);
            order.resize(candidates.size());
            std::iota(order.begin(), order.end(), 0);
            for (Candidate& c : candidates)
                c.group = groups.root(c.track);
            std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return candidates[a].group != candidates[b].group ? candidates[a].group < candidates[b].group
                                                                  : a < b;
            });
            std::fill(chosen.begin(), chosen.end(), -1);
            std::vector<int> localTrack(tracksHere, -1), localPoint(pointsHere, -1);
            for (size_t from = 0; from < order.size();) {
                size_t to = from;
                while (to < order.size() && candidates[order[to]].group == candidates[order[from]].group)
                    ++to;
                const std::span<const size_t> members(order.data() + from, to - from);
                from = to;
                groupTracks.clear(), groupPoints.clear();
                for (size_t c : members) {
                    const Candidate& cand = candidates[c];
                    if (localTrack[static_cast<size_t>(cand.track)] < 0)
                        localTrack[static_cast<size_t>(cand.track)] = static_cast<int>(groupTracks.size()),
                        groupTracks.push_back(cand.track);
                    if (localPoint[static_cast<size_t>(cand.point)] < 0)
                        localPoint[static_cast<size_t>(cand.point)] = static_cast<int>(groupPoints.size()),
                        groupPoints.push_back(cand.point);
                }
                const auto nt = static_cast<int>(groupTracks.size()),
                           np = static_cast<int>(groupPoints.size());
                // Rows: the tracks, then a start for each point; columns: the points, then an end
                // for each track. A start row may take the end of a track that is a candidate for
                // its point, at no cost, so that every link leaves a square matching.
                rows.resize(static_cast<size_t>(nt) + static_cast<size_t>(np));
                for (auto& row : rows)
                    row.clear();
                for (size_t c : members) {
                    const Candidate& cand = candidates[c];
                    const int lt = localTrack[static_cast<size_t>(cand.track)],
                              lp = localPoint[static_cast<size_t>(cand.point)];
                    rows[static_cast<size_t>(lt)].push_back({lp, cand.cost});
                    rows[static_cast<size_t>(nt) + static_cast<size_t>(lp)].push_back({np + lt, 0.0});
                }
                for (int lt = 0; lt < nt; ++lt)
                    rows[static_cast<size_t>(lt)].push_back({np + lt, alone});
                for (int lp = 0; lp < np; ++lp)
                    rows[static_cast<size_t>(nt) + static_cast<size_t>(lp)].push_back({lp, alone});
                const std::vector<int> column = solver.solve(rows);
                for (int lt = 0; lt < nt; ++lt)
                    if (column[static_cast<size_t>(lt)] >= 0 && column[static_cast<size_t>(lt)] < np)
                        chosen[static_cast<size_t>(groupTracks[static_cast<size_t>(lt)])] =
                            groupPoints[static_cast<size_t>(column[static_cast<size_t>(lt)])];
                for (int k : groupTracks)
                    localTrack[static_cast<size_t>(k)] = -1;
                for (int j : groupPoints)
                    localPoint[static_cast<size_t>(j)] = -1;
            }
            // The drift of this step: the mean step of the tracks seen in the frame before.
            double sx = 0, sy = 0;
            int m = 0;
            for (size_t k = 0; k < live.size(); ++k)
                if (chosen[k] >= 0 && live[k].frame + 1 == static_cast<int>(f) && live[k].inside &&
                    points[static_cast<size_t>(chosen[k])].inside) {
                    sx += points[static_cast<size_t>(chosen[k])].x - live[k].x;
                    sy += points[static_cast<size_t>(chosen[k])].y - live[k].y;
                    ++m;
                }
            if (m == 0) break;
            const double nx = sx / m, ny = sy / m;
            const bool settled = std::hypot(nx - stepX, ny - stepY) <= 0.05 * r;
            stepX = nx, stepY = ny;
            if (settled) break;
        }
        t.driftX[f] += f > 0 ? stepX : 0, t.driftY[f] += f > 0 ? stepY : 0;
        std::vector<uint8_t> taken(points.size(), 0);
        for (size_t k = 0; k < live.size(); ++k) {
            const int j = chosen[k];
            if (j < 0) continue;
            taken[static_cast<size_t>(j)] = 1;
            t.id[f][static_cast<size_t>(j)] = live[k].track;
            ++t.links;
            if (live[k].frame + 1 != static_cast<int>(f)) ++t.gapLinks;
            live[k].frame = static_cast<int>(f), live[k].x = points[static_cast<size_t>(j)].x,
            live[k].y = points[static_cast<size_t>(j)].y,
            live[k].inside = points[static_cast<size_t>(j)].inside;
        }
        for (size_t j = 0; j < points.size(); ++j) {
            if (taken[j]) continue;
            t.id[f][j] = t.tracks;
            if (f > 0) ++t.started;
            live.push_back({t.tracks++, static_cast<int>(f), points[j].x, points[j].y, points[j].inside});
        }
    }
    // Tracks that end before the last frame.
    std::vector<int> last(static_cast<size_t>(t.tracks), -1);
    for (size_t f = 0; f < n; ++f)
        for (int id : t.id[f])
            last[static_cast<size_t>(id)] = static_cast<int>(f);
    for (int l : last)
        t.ended += l + 1 < static_cast<int>(n);
    diffusionOf(frames, values, t);
    return t;
}

std::string tracksCsv(const std::vector<std::vector<TrackPoint>>& frames, const Tracks& t,
                      const std::vector<double>& values, double pixelSizeUm) {
    struct Row {
        int track, frame;
        size_t point;
    };
    std::vector<Row> rows;
    for (size_t f = 0; f < frames.size() && f < t.id.size(); ++f)
        for (size_t i = 0; i < frames[f].size(); ++i)
            rows.push_back({t.id[f][i], static_cast<int>(f), i});
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.track != b.track ? a.track < b.track : a.frame < b.frame;
    });
    const bool um = pixelSizeUm > 0 && std::isfinite(pixelSizeUm);
    std::string out = "track_id,frame,value,x_px,y_px,diameter_px";
    if (um) out += ",x_um,y_um,diameter_um";
    out += '\n';
    for (const Row& row : rows) {
        const TrackPoint& p = frames[static_cast<size_t>(row.frame)][row.point];
        const double value = values.empty() ? row.frame + 1.0 : values[static_cast<size_t>(row.frame)];
        out += std::to_string(row.track) + ',' + std::to_string(row.frame + 1) + ',' + json::number(value) +
               ',' + json::number(p.x) + ',' + json::number(p.y) + ',' + json::number(p.diameter);
        if (um)
            out += ',' + json::number(p.x * pixelSizeUm) + ',' + json::number(p.y * pixelSizeUm) + ',' +
                   json::number(p.diameter * pixelSizeUm);
        out += '\n';
    }
    return out;
}

std::string tracksSummaryJson(const Tracks& t, const std::vector<double>& values, double pixelSizeUm,
                              const std::string& extra) {
    using json::Object;
    Object o;
    if (!t.error.empty()) return o.text("error", t.error).str();
    const bool um = pixelSizeUm > 0 && std::isfinite(pixelSizeUm);
    o.whole("frames", static_cast<long long>(t.id.size()))
        .num("max_step_px", t.maxStep)
        .whole("memory", t.memory)
        .whole("tracks", t.tracks)
        .whole("started", t.started)
        .whole("ended", t.ended)
        .whole("links", t.links)
        .whole("gap_links", t.gapLinks);
    if (!extra.empty()) o.raw("frame_details", extra);
    std::vector<size_t> frames(t.id.size());
    std::iota(frames.begin(), frames.end(), 0);
    o.raw("drift", json::array(frames, [&](size_t f) {
              Object d;
              d.whole("frame", static_cast<long long>(f) + 1);
              if (!values.empty()) d.num("value", values[f]);
              return d.whole("bubbles", static_cast<long long>(t.id[f].size()))
                  .num("drift_x_px", t.driftX[f])
                  .num("drift_y_px", t.driftY[f]);
          }));
    o.raw("msd", json::array(t.msd, [&](const MsdPoint& p) {
              Object m;
              m.whole("lag", p.lag).num("lag_value", p.time).num("msd_px2", p.msd).num("se", p.se);
              if (um)
                  m.num("msd_um2", p.msd * pixelSizeUm * pixelSizeUm)
                      .num("se_um2", p.se * pixelSizeUm * pixelSizeUm);
              return m.whole("pairs", p.pairs).whole("tracks", p.tracks);
          }));
    auto maybe = [&](const char* key, const std::optional<double>& v, double scale = 1) {
        v ? o.num(key, *v * scale) : o.raw(key, "null");
    };
    maybe("diffusion_px2_per_value", t.diffusion);
    maybe("diffusion_se", t.diffusionSe);
    if (um) {
        maybe("diffusion_um2_per_value", t.diffusion, pixelSizeUm * pixelSizeUm);
        maybe("diffusion_se_um2_per_value", t.diffusionSe, pixelSizeUm * pixelSizeUm);
    }
    o.whole("fit_lags", t.fitLags);
    maybe("localisation_px", t.localisationPx);
    maybe("pinned_fraction", t.pinnedFraction);
    o.whole("pinned", t.pinned).whole("judged", t.judged);
    if (!t.note.empty()) o.text("note", t.note);
    return o.str();
}

} // namespace tovra::measure
