// Hough accumulation: the strongest straight line through the black pixels of a region.
//
// Accumulator axes: the row is the rho index r = rho + 750 (0..1500, rho in pixels), the column
// the angle index a = theta / step (theta in degrees from 0 to 180); cell (r, a) is element
// r * 1501 + a.
//
// The votes are counted angle by angle into small integer rho rows that stay in cache, the two
// cores taking half of the angles each; the real-valued accumulator is then written once, row by
// row, and scanned for the peak in the same order while it is hot. Every number that decides a
// vote is computed exactly as the plain algorithm computes it, so the result is the same to the
// last bit.
#include "common/no_throw.h"
#include "quarnk.h"

#include "common/convert.h"

#include <algorithm>
#include <atomic>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kRhoCells = 1501;
constexpr double kRhoOffset = 750.0;
constexpr int64_t kClearedCells = 1500 * 1501 + 1801;
constexpr double kDegToRad = 0.017453292519943278;
constexpr double kMinStep = 0.12;
// Below this many votes a second thread costs more than it saves.
constexpr int64_t kVotesPerThread = 1 << 18;

struct Angle {
    double c;
    double s;
    int32_t index;
};

struct BlackRow {
    double y;
    size_t begin; // into the x list
    size_t end;
};

struct Votes {
    std::vector<int32_t> xs; // x of every black pixel, row by row (exact as a double)
    std::vector<BlackRow> rows;
    size_t longestRow = 0;
};

// The angles as the plain loop visits them: theta accumulated by repeated addition of the step.
std::vector<Angle> angleTable(double step) {
    std::vector<Angle> table;
    for (double theta = 0.0; theta <= 180.0; theta += step) {
        const double t = theta * kDegToRad;
        table.push_back({std::cos(t), std::sin(t), static_cast<int32_t>(theta / step)});
    }
    return table;
}

Votes gatherBlack(int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const double* image) {
    Votes v;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width);
    for (int64_t y = y0; y < y1; ++y) {
        const double* row = image + y * width;
        const size_t begin = v.xs.size();
        for (int32_t x = x0; x < x1; ++x)
            if (row[x] == 0.0) v.xs.push_back(x);
        if (v.xs.size() > begin) {
            v.rows.push_back({static_cast<double>(y), begin, v.xs.size()});
            v.longestRow = std::max(v.longestRow, v.xs.size() - begin);
        }
    }
    return v;
}

// rho index of each x of one black row at one angle, computed as x cos + y sin + 750 and truncated;
// a vote outside the table goes to the spare cell kRhoCells.
void rhoIndicesPlain(const int32_t* x, size_t n, double c, double ys, int32_t* out) {
    for (size_t i = 0; i < n; ++i) {
        const double rho = static_cast<double>(x[i]) * c + ys + kRhoOffset;
        const bool inside = rho > -1.0 && rho < static_cast<double>(kRhoCells);
        out[i] = static_cast<int32_t>(inside ? rho : static_cast<double>(kRhoCells));
    }
}

#if defined(__x86_64__)
// The same in vectors. The processor's truncation gives a negative number for every rho at or
// below -1 and 0x80000000 for one beyond the integers (or not a number); taken as unsigned, all of
// these and every rho from 1501 on are at least kRhoCells, so one unsigned minimum sends them to
// the spare cell. The sums are made in the plain order, without fusing.
__attribute__((target("avx2"))) void rhoIndicesAvx2(const int32_t* x, size_t n, double c, double ys,
                                                    int32_t* out) {
    const __m256d vc = _mm256_set1_pd(c), vys = _mm256_set1_pd(ys), offset = _mm256_set1_pd(kRhoOffset);
    const __m128i spare = _mm_set1_epi32(kRhoCells);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d rho = _mm256_add_pd(
            _mm256_add_pd(
                _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i))),
                              vc),
                vys),
            offset);
        const __m128i t = _mm_min_epu32(_mm256_cvttpd_epi32(rho), spare);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), t);
    }
    rhoIndicesPlain(x + i, n - i, c, ys, out + i);
}
#endif

#if defined(__x86_64__)
// Eight at a time, as above.
__attribute__((target("avx512f"))) void rhoIndicesAvx512(const int32_t* x, size_t n, double c, double ys,
                                                         int32_t* out) {
    const __m512d vc = _mm512_set1_pd(c), vys = _mm512_set1_pd(ys), offset = _mm512_set1_pd(kRhoOffset);
    const __m256i spare = _mm256_set1_epi32(kRhoCells);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d rho = _mm512_add_pd(
            _mm512_add_pd(
                _mm512_mul_pd(_mm512_maskz_cvtepi32_pd(
                                  0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i))),
                              vc),
                vys),
            offset);
        const __m256i t = _mm256_min_epu32(_mm512_maskz_cvttpd_epi32(0xFF, rho), spare);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), t);
    }
    rhoIndicesAvx2(x + i, n - i, c, ys, out + i);
}
#endif

using RhoIndices = void (*)(const int32_t*, size_t, double, double, int32_t*);

RhoIndices rhoIndicesHere() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f")) return rhoIndicesAvx512;
    if (__builtin_cpu_supports("avx2")) return rhoIndicesAvx2;
#endif
    return rhoIndicesPlain;
}

// Counts the votes of angles [first, last) into the rho rows counts[index * 1501 + r]. Each angle
// votes into eight interleaved 16-bit rows of its own, so that neighbouring pixels, which often
// share a cell, do not wait on one counter and the rows stay in the first-level cache; they are
// folded into the shared row before any of them could overflow, and once the angle is done.
void vote(const Votes& v, const Angle* first, const Angle* last, uint32_t* counts) {
    static const RhoIndices rhoIndices = rhoIndicesHere();
    constexpr size_t kLanes = 8;
    constexpr size_t kLane = kRhoCells + 1; // the spare cell takes the votes outside the table
    constexpr size_t kRoom = UINT16_MAX;    // votes a lane can hold
    std::vector<uint16_t> lanes(kLanes * kLane);
    std::vector<int32_t> idx(std::min(v.longestRow, kLanes * kRoom));
    for (const Angle* ang = first; ang != last; ++ang) {
        uint32_t* row = counts + static_cast<size_t>(ang->index) * kRhoCells;
        auto fold = [&] {
            for (int32_t r = 0; r < kRhoCells; ++r) {
                uint32_t sum = 0;
                for (size_t l = 0; l < kLanes; ++l)
                    sum += lanes[l * kLane + static_cast<size_t>(r)];
                row[r] += sum;
            }
            std::fill(lanes.begin(), lanes.end(), uint16_t{0});
        };
        size_t room = kRoom; // votes every lane can still take
        for (const BlackRow& br : v.rows) {
            const double ys = br.y * ang->s;
            for (size_t begin = br.begin; begin < br.end;) {
                const size_t n = std::min(br.end - begin, kLanes * kRoom);
                const size_t most = (n + kLanes - 1) / kLanes; // the votes one lane may get
                if (most > room) fold(), room = kRoom;
                room -= most;
                rhoIndices(v.xs.data() + begin, n, ang->c, ys, idx.data());
                size_t i = 0;
                for (; i + kLanes <= n; i += kLanes)
                    for (size_t l = 0; l < kLanes; ++l)
                        ++lanes[l * kLane + static_cast<size_t>(idx[i + l])];
                for (size_t l = 0; i < n; ++i, ++l)
                    ++lanes[l * kLane + static_cast<size_t>(idx[i])];
                begin += n;
            }
        }
        fold();
    }
}

struct Peak {
    int32_t votes;
    int32_t angle;
    int32_t rho;
};

// Copies a row out with stores that bypass the cache where the processor has them: the
// accumulator is far larger than the cache and is not read back here, so reading its lines in
// before writing them would only double the traffic.
void streamRow(const double* src, double* dst, int32_t n) {
    int32_t i = 0;
#if defined(__SSE2__)
    if (reinterpret_cast<uintptr_t>(dst) % 16 != 0 && n > 0) dst[0] = src[0], i = 1;
    for (; i + 2 <= n; i += 2)
        _mm_stream_pd(dst + i, _mm_loadu_pd(src + i));
#endif
    for (; i < n; ++i)
        dst[i] = src[i];
}

// Writes accumulator rows [r0, r1) from the counts and scans them in order (rho index from 1,
// angle index 1..count), a cell winning only with more votes than the best so far and fewer than
// the bound.
Peak writeRows(int32_t r0, int32_t r1, int32_t count, const uint32_t* counts, int32_t bound, Peak best,
               double* acc) {
    // The counts are stored angle by angle; a few rho rows at a time are turned over into rows of
    // the accumulator (so that each read takes a run of neighbouring counts instead of one count a
    // cache line), scanned there and streamed out. Past the angles the rows stay zero.
    constexpr int32_t kTile = 8;
    std::vector<double> tile(static_cast<size_t>(kTile) * kRhoCells, 0.0);
    for (int32_t t = r0; t < r1; t += kTile) {
        const int32_t t1 = std::min(t + kTile, r1);
        for (int32_t a = 0; a <= count; ++a) {
            const uint32_t* in = counts + static_cast<size_t>(a) * kRhoCells;
            for (int32_t r = t; r < t1; ++r)
                tile[static_cast<size_t>(r - t) * kRhoCells + a] = in[r];
        }
        for (int32_t r = t; r < t1; ++r) {
            const double* line = tile.data() + static_cast<size_t>(r - t) * kRhoCells;
            streamRow(line, acc + static_cast<int64_t>(r) * kRhoCells, kRhoCells);
            if (r == 0) continue;
            for (int32_t a = 1; a <= count; ++a) {
                const int32_t v = static_cast<int32_t>(line[a]);
                if (v > best.votes && v < bound) best = {v, a, r};
            }
        }
    }
#if defined(__SSE2__)
    _mm_sfence(); // the streamed rows visible before the caller (or the joining thread) reads them
#endif
    return best;
}

// Runs `there` on a second thread while `here` runs on this one. Without a second thread both run
// here. False when `there` failed on its thread; a failure of `here` propagates once both ended.
template <typename There, typename Here> bool beside(There&& there, Here&& here) {
    std::atomic<bool> failed{false};
    std::jthread helper;
    try {
        helper = std::jthread([&] {
            try {
                there();
            } catch (...) {
                failed = true;
            }
        });
    } catch (const std::system_error&) {
        there();
    }
    here();
    helper = std::jthread(); // joins
    return !failed;
}

} // namespace

extern "C" int32_t Hcck(int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* vote_bound,
                        double step, double* slope, double* intercept, const double* image, double* acc) {
    return quarnk::noThrow<int32_t>(-1, [&]() -> int32_t {
        if (!(step >= kMinStep)) return -1;
        const std::vector<Angle> angles = angleTable(step);
        const int32_t count = static_cast<int32_t>(180.0 / step);
        const Votes black = gatherBlack(width, x0, y0, x1, y1, image);

        std::vector<uint32_t> counts(static_cast<size_t>(count + 1) * kRhoCells, 0u);
        const int64_t work = static_cast<int64_t>(black.xs.size()) * static_cast<int64_t>(angles.size());
        const Angle* begin = angles.data();
        const Angle* end = begin + angles.size();
        const bool threads = work >= 2 * kVotesPerThread && std::thread::hardware_concurrency() > 1;
        if (threads) {
            // Split where the angle index changes, so the two halves never share a rho row.
            const Angle* mid = begin + angles.size() / 2;
            while (mid != end && mid != begin && mid->index == (mid - 1)->index)
                ++mid;
            if (!beside([&] { vote(black, mid, end, counts.data()); },
                        [&] { vote(black, begin, mid, counts.data()); }))
                return -1;
        } else {
            vote(black, begin, end, counts.data());
        }

        // The accumulator rows, written once each and scanned while hot; the two halves of the rows
        // can go to the two cores, since the later half only wins with strictly more votes.
        const int32_t bound = *vote_bound;
        const Peak initial{static_cast<int32_t>(counts[0]), 0, 0};
        constexpr int32_t kSplit = kRhoCells / 2 + 1;
        Peak peak;
        if (threads) {
            Peak later;
            if (!beside(
                    [&] { later = writeRows(kSplit, kRhoCells, count, counts.data(), bound, initial, acc); },
                    [&] { peak = writeRows(0, kSplit, count, counts.data(), bound, initial, acc); }))
                return -1;
            if (later.votes > peak.votes) peak = later;
        } else {
            peak = writeRows(0, kRhoCells, count, counts.data(), bound, initial, acc);
        }
        std::fill(acc + static_cast<int64_t>(kRhoCells) * kRhoCells, acc + kClearedCells, 0.0);
        *vote_bound = peak.votes;
        double theta = step * peak.angle * kDegToRad;
        if (theta == 0.0) theta = 0.001;
        *slope = -std::cos(theta) / std::sin(theta);
        *intercept = (peak.rho - kRhoOffset) / std::sin(theta);
        return 0;
    });
}
