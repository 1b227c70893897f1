// Where an automatic measurement's time goes, 1024 x 1024 stripes: the whole measurement and its
// costly steps one by one, with the allocator set as the headless program sets it.
#include "images.h"
#include "measure.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

using namespace tovra::measure;

const Image& picture() {
    static const Image image = [] {
        const std::vector<double> grey = bench_images::grey();
        return Image{bench_images::kSide, bench_images::kSide, std::vector<float>(grey.begin(), grey.end())};
    }();
    return image;
}

void BM_Measure(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(measure(picture(), nullptr, std::nullopt, Settings{}));
}
BENCHMARK(BM_Measure)->Unit(benchmark::kMillisecond);

void BM_Blur(benchmark::State& state) {
    const double sigma = static_cast<double>(state.range(0)) / 10;
    for (auto _ : state)
        benchmark::DoNotOptimize(blur(picture(), sigma));
}
BENCHMARK(BM_Blur)->Arg(12)->Arg(480)->Unit(benchmark::kMillisecond);

void BM_InteriorIsodata(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(interiorIsodata(picture()));
}
BENCHMARK(BM_InteriorIsodata)->Unit(benchmark::kMillisecond);

void BM_RemoveSpecks(benchmark::State& state) {
    std::vector<uint8_t> black(picture().px.size());
    for (size_t i = 0; i < black.size(); ++i)
        black[i] = picture().px[i] < 120;
    for (auto _ : state) {
        std::vector<uint8_t> work = black;
        removeSpecks(work, picture().width, picture().height, 10);
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_RemoveSpecks)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
