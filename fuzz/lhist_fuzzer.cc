// Lhist over slots of random sizes, points and modes: files and buffers stay within the image.
#include "fuzz_input.h"
#include "quarn.h"

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("tovra-lhist-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        std::filesystem::current_path(p);
        return p;
    }();
    FuzzInput in(data, size);
    const int32_t width = in.range(0, 1500);
    const int32_t height = in.range(0, 40);
    const int32_t x = in.range(-3, 1503), y = in.range(-3, 43), mode = in.range(-1, 2);
    std::vector<double> buf(static_cast<size_t>(width) * height + 1);
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = i < in.size() ? in.data()[i] : 0.0;
    if (Openxim(width, height, 0, buf.data()) != 0) return 0;
    Lhist(x, y, 0, mode, 0, buf.data());
    return 0;
}
