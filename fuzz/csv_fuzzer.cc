// Opencsvk over any bytes and any size: it must stop and stay inside the buffer.
#include "fuzz_input.h"
#include "quarnk.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int32_t width = in.range(-2, 64);
    const int32_t height = in.range(-2, 64);
    static const std::string path = "/tmp/tovra-csv-fuzz-" + std::to_string(::getpid()) + ".csv";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (in.size() > 0) std::fwrite(in.data(), 1, in.size(), f);
    std::fclose(f);
    std::vector<double> buf(width > 0 && height > 0 ? static_cast<size_t>(width) * height : 0);
    Opencsvk(path.c_str(), width, height, buf.data());
    std::remove(path.c_str());
    return 0;
}
