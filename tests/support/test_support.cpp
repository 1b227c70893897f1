#include "support/test_support.h"

#include <fstream>
#include <iterator>
#include <random>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static int counter = 0;
    std::random_device rd;
    path_ =
        fs::temp_directory_path() / ("tovra-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
    previous_ = fs::current_path();
    fs::current_path(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::remove_all(path_, ec);
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

bool exists(const fs::path& file) {
    return fs::exists(file);
}

std::vector<double> bigBuffer() {
    return std::vector<double>(1048577, 0.0);
}

std::vector<double> randomImage(int32_t width, int32_t height, uint32_t seed, int levels) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(0, levels - 1);
    std::vector<double> v(static_cast<size_t>(width) * height);
    for (double& x : v)
        x = dist(gen) * (255 / (levels - 1));
    return v;
}

fs::path projectSamplesDir() {
    return fs::path(TOVRA_SOURCE_DIR) / "samples";
}

} // namespace testing_support
