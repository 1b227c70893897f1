// The in-memory batch engine: a batch script's operations applied to pixel buffers through the
// Quarnk kernels, with one read of each listed file and one write per save, and nothing kept in
// work files. Its outputs (saved images, numbered histogram files, report lines, the outcome)
// are those of running the script through the image slots, byte for byte.
//
// Files run in parallel when the script carries no state from one file to the next; each result
// and report is committed in list order, so the outputs do not depend on the number of jobs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tovra::engine {

// A decoded picture file: the size its header declares (what the slots take) and its pixels as
// decoded (0xAARRGGBB, rows from the top), which may differ in size.
struct Picture {
    int64_t width = 0, height = 0;
    int pixelWidth = 0, pixelHeight = 0;
    std::vector<uint32_t> rgb;
};
// Decodes a picture file of the given kind ("bmp", "jpg", "gif"); false when it cannot.
using PictureReader = std::function<bool(const std::string& path, const std::string& kind, Picture& out)>;

struct Job {
    int width = 0, height = 0; // the header's, whole numbers from 1
    std::vector<int16_t> operations;
    std::string referenceName; // as listed, for the reports
    std::string referencePath;
    std::string referenceTitle;
    struct File {
        std::string name;  // as listed, for the reports
        std::string path;  // where it is read
        std::string title; // the file name of the path, which decides the kind
        std::string base;  // where its results go, without their extension
    };
    std::vector<File> files;
};

struct Settings {
    int threshold = 128;
    int contrastLow = 0, contrastHigh = 255;
    bool rawOverride = false;
    bool autoDraw = true;
    std::string workFolder;  // where the histogram files go
    int histogramNumber = 0; // the number of the first histogram file
    int jobs = 1;
};

struct Outcome {
    int files = 0;
    int read = 0;
    int failed = 0;
    int savesFailed = 0;
    bool ok() const { return read == files && failed == 0 && savesFailed == 0; }
};

struct Callbacks {
    // Before each file is started (index from 1), for progress.
    std::function<void(size_t index, size_t count, const std::string& name)> onFile;
    // Each file's report line, in list order.
    std::function<void(const std::string& line)> onReport;
};

// Why the files must run one after another, or an empty text when they need not: a threshold
// that one file's histogram sets for the next file's binarization, a size that a picture sets
// for later files, or files whose results go to the same name or over another's source.
std::string orderReason(const Job& job);
// What makes two paths the same file: the device and inode of an existing file, else the path
// with its folder resolved through every link.
std::string fileIdentity(const std::string& path);

Outcome run(const Job& job, const Settings& settings, const PictureReader& readPicture,
            const Callbacks& callbacks);

// The file kind: the last three characters of a name ("bmp", "mon", ...).
std::string fileKind(const std::string& name);

} // namespace tovra::engine
