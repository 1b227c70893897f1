// Where a headless batch file's time goes, 512 x 512, codes 10 40 110: the read, the recursive
// median, the binarization, and the save written beside and renamed into place (beside a write
// in place, which the batch does not do, to show what the safe save costs).
#include "common/atomic_file.h"
#include "common/convert.h"
#include "common/median.h"
#include "quarnk.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSide = 512;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;

std::string folder() {
    static const std::string dir = [] {
        char name[] = "/tmp/tovra-bench-XXXXXX";
        return std::string(::mkdtemp(name));
    }();
    return dir;
}

std::string sampleFile() {
    const std::string path = folder() + "/in.mon";
    std::vector<uint8_t> bytes(kPixels);
    for (size_t i = 0; i < kPixels; ++i)
        bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::close(fd);
    return path;
}

void BM_Read(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<double> px(kPixels);
    for (auto _ : state)
        benchmark::DoNotOptimize(Openk(path.c_str(), kSide, kSide, px.data()));
}

void BM_Median(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<double> original(kPixels), px(kPixels);
    Openk(path.c_str(), kSide, kSide, original.data());
    for (auto _ : state) {
        px = original;
        benchmark::DoNotOptimize(Medk(kSide, kSide, px.data()));
    }
}

void BM_MedianBytes(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<uint8_t> original(kPixels), px(kPixels);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::read(fd, original.data(), kPixels) != static_cast<ssize_t>(kPixels)) std::abort();
    ::close(fd);
    for (auto _ : state) {
        px = original;
        quarnk::recursiveMedian(kSide, kSide, px.data());
        benchmark::DoNotOptimize(px.data());
    }
}

void BM_Binarize(benchmark::State& state) {
    std::vector<double> px(kPixels, 100.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(Segmk(128, kSide, kSide, px.data()));
}

void BM_SaveBesideAndRename(benchmark::State& state) {
    const std::string path = folder() + "/out.mon";
    std::vector<double> px(kPixels, 255.0);
    std::vector<uint8_t> bytes(kPixels);
    for (auto _ : state) {
        quarnk::toBytes(px.data(), static_cast<int64_t>(kPixels), bytes.data());
        quarnk::AtomicFile f;
        if (!f.open(path.c_str())) std::abort();
        f.write(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(f.commit());
    }
}

void BM_SaveInPlace(benchmark::State& state) {
    const std::string path = folder() + "/inplace.mon";
    std::vector<double> px(kPixels, 255.0);
    std::vector<uint8_t> bytes(kPixels);
    for (auto _ : state) {
        quarnk::toBytes(px.data(), static_cast<int64_t>(kPixels), bytes.data());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
        ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Median)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Binarize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveBesideAndRename)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
