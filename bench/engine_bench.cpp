// Where a headless batch file's time goes, 512 x 512, codes 10 40 110: the read, the recursive
// median and the binarization on bytes (beside the reals that an image slot's kernels take), and
// the save written beside and swapped into place, with and without the spare inode (beside a write
// in place, which the batch does not do, to show what the safe save costs).
#include "common/atomic_file.h"
#include "common/byte_reader.h"
#include "common/levels.h"
#include "common/median.h"
#include "quarnk.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
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

bool saveBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    quarnk::AtomicFile f;
    if (!f.open(path.c_str())) return false;
    f.write(bytes.data(), bytes.size());
    return f.commit();
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

void BM_ReadReals(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<double> px(kPixels);
    for (auto _ : state)
        benchmark::DoNotOptimize(Openk(path.c_str(), kSide, kSide, px.data()));
}

void BM_ReadBytes(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<uint8_t> px(kPixels);
    for (auto _ : state) {
        quarnk::ByteReader in;
        if (!in.open(path.c_str())) std::abort();
        benchmark::DoNotOptimize(in.read(px.data(), px.size()));
    }
}

std::vector<uint8_t> sampleBytes() {
    std::vector<uint8_t> px(kPixels);
    quarnk::ByteReader in;
    if (!in.open(sampleFile().c_str()) || in.read(px.data(), px.size()) != px.size()) std::abort();
    return px;
}

void BM_MedianReals(benchmark::State& state) {
    const std::string path = sampleFile();
    std::vector<double> original(kPixels), px(kPixels);
    Openk(path.c_str(), kSide, kSide, original.data());
    for (auto _ : state) {
        px = original;
        benchmark::DoNotOptimize(Medk(kSide, kSide, px.data()));
    }
}

void BM_MedianBytes(benchmark::State& state) {
    const std::vector<uint8_t> original = sampleBytes();
    std::vector<uint8_t> px(kPixels);
    for (auto _ : state) {
        px = original;
        quarnk::recursiveMedian(kSide, kSide, px.data());
        benchmark::DoNotOptimize(px.data());
    }
}

void BM_BinarizeBytes(benchmark::State& state) {
    std::vector<uint8_t> px = sampleBytes();
    for (auto _ : state) {
        quarnk::binarize(px.data(), static_cast<int64_t>(px.size()), static_cast<int32_t>(state.range(0)));
        benchmark::DoNotOptimize(px.data());
    }
}

// Saves over one file, as a batch saves over its sources: each save writes the inode that the
// one before replaced (with Arg 1), or a fresh one (Arg 0).
void BM_SaveOver(benchmark::State& state) {
    const std::string path = folder() + "/out.mon";
    const std::vector<uint8_t> bytes = sampleBytes();
    std::optional<quarnk::AtomicFile::KeepSpares> keep;
    if (state.range(0) == 1) keep.emplace();
    if (!saveBytes(path, bytes)) std::abort();
    for (auto _ : state)
        benchmark::DoNotOptimize(saveBytes(path, bytes));
}

// The peer's save: the file truncated and written in place, which a crash can leave half written.
void BM_SaveInPlace(benchmark::State& state) {
    const std::string path = folder() + "/inplace.mon";
    const std::vector<uint8_t> bytes = sampleBytes();
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
        ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_ReadBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadReals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianReals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinarizeBytes)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveOver)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
