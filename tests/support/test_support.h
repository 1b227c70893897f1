// Shared helpers for the library tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh empty folder made the current directory for the life of the object; removed after.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);
bool exists(const std::filesystem::path& file);

// A buffer of the program's capacity, zero-filled.
std::vector<double> bigBuffer();

// Deterministic pseudo-random grey image (0..255 whole numbers).
std::vector<double> randomImage(int32_t width, int32_t height, uint32_t seed, int levels = 256);

// The sample images that ship with the project.
std::filesystem::path projectSamplesDir();

} // namespace testing_support
