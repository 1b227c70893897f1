// Lhist over slots of random sizes, points and modes: files and buffers stay within the image.
#include "fuzz_input.h"
#include "quarn.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The slot's work files go to a folder of this run's own, removed when the fuzzer ends. Each input
// runs inside it and the current folder is given back after, so that the fuzzer's own relative
// paths (its corpus) still mean what they meant.
class WorkFolder {
public:
    WorkFolder()
        : path_(std::filesystem::temp_directory_path() / ("tovra-lhist-fuzz-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~WorkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class Inside {
public:
    explicit Inside(const std::filesystem::path& folder) : back_(::open(".", O_RDONLY | O_DIRECTORY)) {
        if (::chdir(folder.c_str()) != 0) std::abort();
    }
    ~Inside() {
        if (back_ < 0 || ::fchdir(back_) != 0) std::abort();
        ::close(back_);
    }

private:
    int back_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const WorkFolder folder;
    const Inside inside(folder.path());
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
