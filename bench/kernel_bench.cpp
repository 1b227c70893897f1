// Every kernel and the exports users wait on, each beside the plain version of its algorithm (and,
// where OpenCV is installed, the OpenCV function that does the same job), so that run.sh can print
// speed-ups as ratios measured in one run.
#include "images.h"
#include "quarn.h"
#include "quarnk.h"
#include "reference.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <string>
#include <unistd.h>

#ifdef TOVRA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using bench_images::kSide;
constexpr int32_t kN = kSide * kSide;

const std::vector<double>& greyImage() {
    static const auto img = bench_images::grey();
    return img;
}
const std::vector<double>& secondImage() {
    static const auto img = bench_images::grey(kSide, kSide, 2);
    return img;
}
const std::vector<double>& binaryImage() {
    static const auto img = [] {
        auto v = bench_images::grey();
        for (double& x : v)
            x = x > 120 ? 255 : 0;
        return v;
    }();
    return img;
}

// A work folder of its own, made current for the file benchmarks.
const std::filesystem::path& workDir() {
    static const auto dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("tovra-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        std::filesystem::current_path(p);
        return p;
    }();
    return dir;
}

// Times op over a fresh copy of src each iteration; the copy is not timed.
template <typename Op> void timeInPlace(benchmark::State& state, const std::vector<double>& src, Op op) {
    std::vector<double> buf(src.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(src.begin(), src.end(), buf.begin());
        state.ResumeTiming();
        op(buf.data());
        benchmark::DoNotOptimize(buf.data());
    }
}

#define PAIR(name, fast, plain, image)                                                                       \
    void BM_##name(benchmark::State& s) {                                                                    \
        timeInPlace(s, image(), fast);                                                                       \
    }                                                                                                        \
    void BM_##name##_plain(benchmark::State& s) {                                                            \
        timeInPlace(s, image(), plain);                                                                      \
    }                                                                                                        \
    BENCHMARK(BM_##name)->Unit(benchmark::kMillisecond);                                                     \
    BENCHMARK(BM_##name##_plain)->Unit(benchmark::kMillisecond);

PAIR(
    Rofk, [](double* p) { Rofk(kSide, kSide, p); }, [](double* p) { reference::stretch(kSide, kSide, p); },
    greyImage)
PAIR(
    Conk, [](double* p) { Conk(40, 200, kSide, kSide, p); },
    [](double* p) { reference::contrast(40, 200, kSide, kSide, p); }, greyImage)
PAIR(
    Segmk, [](double* p) { Segmk(128, kSide, kSide, p); },
    [](double* p) { reference::binarize(128, kSide, kSide, p); }, greyImage)
PAIR(
    Rdk, [](double* p) { Rdk(kSide, kSide, p); }, [](double* p) { reference::invert(kSide, kSide, p); },
    greyImage)
PAIR(
    Dpk, [](double* p) { Dpk(kSide, kSide, p, secondImage().data()); },
    [](double* p) { reference::difference(kSide, kSide, p, secondImage().data()); }, greyImage)
PAIR(
    Medk, [](double* p) { Medk(kSide, kSide, p); }, [](double* p) { reference::median(kSide, kSide, p); },
    greyImage)
PAIR(
    Edgek, [](double* p) { Edgek(1, kSide, kSide, p); },
    [](double* p) { reference::edge(1, kSide, kSide, p); }, greyImage)
PAIR(
    Dmk, [](double* p) { Dmk(kSide, kSide, p); }, [](double* p) { reference::dust(kSide, kSide, p); },
    binaryImage)
PAIR(
    Turnk,
    [](double* p) {
        static std::vector<double> scratch(kN);
        Turnk(0, kSide, kSide, p, scratch.data());
    },
    [](double* p) {
        static std::vector<double> scratch(kN);
        reference::turn(0, kSide, kSide, p, scratch.data());
    },
    greyImage)
PAIR(
    Compok, [](double* p) { Compok(kSide, kSide, p, binaryImage().data()); },
    [](double* p) { reference::composite(kSide, kSide, p, binaryImage().data()); }, greyImage)

// ---- Files ----

void BM_Savek(benchmark::State& state) {
    workDir();
    for (auto _ : state)
        Savek("bench.mon", kSide, kSide, greyImage().data());
}
void BM_Savek_plain(benchmark::State& state) {
    workDir();
    for (auto _ : state)
        reference::saveRaw("bench.mon", kSide, kSide, greyImage().data());
}
void BM_Openk(benchmark::State& state) {
    workDir();
    Savek("bench.mon", kSide, kSide, greyImage().data());
    std::vector<double> buf(kN);
    for (auto _ : state)
        Openk("bench.mon", kSide, kSide, buf.data());
}
void BM_Openk_plain(benchmark::State& state) {
    workDir();
    Savek("bench.mon", kSide, kSide, greyImage().data());
    std::vector<double> buf(kN);
    for (auto _ : state)
        reference::openRaw("bench.mon", kSide, kSide, buf.data());
}
void BM_Savecsvk(benchmark::State& state) {
    workDir();
    for (auto _ : state)
        Savecsvk("bench.csv", kSide, kSide, greyImage().data());
}
void BM_Savecsvk_plain(benchmark::State& state) {
    workDir();
    for (auto _ : state)
        reference::saveCsv("bench.csv", kSide, kSide, greyImage().data());
}
void BM_Opencsvk(benchmark::State& state) {
    workDir();
    Savecsvk("bench.csv", kSide, kSide, greyImage().data());
    std::vector<double> buf(kN);
    for (auto _ : state)
        Opencsvk("bench.csv", kSide, kSide, buf.data());
}
BENCHMARK(BM_Savek)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Savek_plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Openk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Openk_plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Savecsvk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Savecsvk_plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Opencsvk)->Unit(benchmark::kMillisecond);

// ---- Hough ----

const std::vector<double>& stripeImage() {
    static const auto img = bench_images::stripes();
    return img;
}

void BM_Hcck(benchmark::State& state) {
    std::vector<double> acc(2700001);
    for (auto _ : state) {
        int32_t bound = 3000;
        double slope, intercept;
        Hcck(512, 0, 0, 512, 512, &bound, 1.0, &slope, &intercept, stripeImage().data(), acc.data());
        benchmark::DoNotOptimize(bound);
    }
}
void BM_Hcck_plain(benchmark::State& state) {
    std::vector<double> acc(2700001);
    for (auto _ : state) {
        int32_t bound = 3000;
        double slope, intercept;
        reference::hough(512, 0, 0, 512, 512, &bound, 1.0, &slope, &intercept, stripeImage().data(),
                         acc.data());
        benchmark::DoNotOptimize(bound);
    }
}
BENCHMARK(BM_Hcck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hcck_plain)->Unit(benchmark::kMillisecond)->Iterations(5);

#ifdef TOVRA_HAVE_OPENCV
void BM_CvHoughLines(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat img(512, 512, CV_8U);
    for (int i = 0; i < 512 * 512; ++i)
        img.data[i] = stripeImage()[i] == 0.0 ? 255 : 0; // black votes
    std::vector<cv::Vec2f> lines;
    for (auto _ : state) {
        cv::HoughLines(img, lines, 1, CV_PI / 180, 200);
        benchmark::DoNotOptimize(lines.data());
    }
}
void BM_CvMedianBlur(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat src(kSide, kSide, CV_8U), dst;
    for (int i = 0; i < kN; ++i)
        src.data[i] = static_cast<uint8_t>(greyImage()[i]);
    for (auto _ : state) {
        cv::medianBlur(src, dst, 3);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_CvHoughLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CvMedianBlur)->Unit(benchmark::kMillisecond);
#endif

// ---- Exports, end to end through the work files ----

struct SlotFixture {
    std::vector<double> buf = std::vector<double>(1048577);
    SlotFixture() {
        workDir();
        std::vector<double> img = greyImage();
        Openxim(kSide, kSide, 0, img.data());
    }
};

void BM_Toutim(benchmark::State& state) {
    SlotFixture f;
    for (auto _ : state)
        Toutim(0, f.buf.data());
}
void BM_Medim(benchmark::State& state) {
    SlotFixture f;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<double> img = greyImage();
        Openxim(kSide, kSide, 0, img.data());
        state.ResumeTiming();
        Medim(0, f.buf.data());
    }
}
void BM_Rofim(benchmark::State& state) {
    SlotFixture f;
    for (auto _ : state)
        Rofim(0, f.buf.data());
}
void BM_Hist(benchmark::State& state) {
    SlotFixture f;
    int32_t result = 0;
    for (auto _ : state)
        Hist(1, &result, 0, 0, f.buf.data());
}
void BM_Hcc(benchmark::State& state) {
    workDir();
    std::vector<double> img = stripeImage(), buf(1048577), acc(2700001);
    Openxim(512, 512, 16, img.data());
    for (auto _ : state) {
        int32_t bound = 3000;
        double slope, intercept;
        Hcc(0, 0, 512, 512, &bound, 1.0, &slope, &intercept, 16, buf.data(), acc.data());
    }
}
BENCHMARK(BM_Toutim)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Medim)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rofim)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hist)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hcc)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
