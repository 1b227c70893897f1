#include "engine.h"

#include "batch_codes.h"

#include "common/atomic_file.h"
#include "common/byte_reader.h"
#include "common/convert.h"
#include "common/levels.h"
#include "common/median.h"
#include "common/no_throw.h"
#include "quarnk.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace tovra::engine {

namespace {

using quarnk::AtomicFile;

constexpr int64_t kBufferCapacity = 1048577; // what an image slot of the program holds
constexpr int32_t kKernelFailed = 5;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

bool fits(int64_t w, int64_t h) {
    return w >= 0 && h >= 0 && w * h <= kBufferCapacity;
}

bool isPicture(const std::string& kind) {
    return kind == "bmp" || kind == "jpg" || kind == "gif";
}

// An image slot: its size and its pixels. What a slot stores are whole numbers 0..255, held here
// as bytes; an operation whose kernel works on reals gets them as reals, and its result goes back
// to bytes when the slot stores it. Operations that keep whole bytes whole (median, binarization,
// inversion, histograms, saves) run on the bytes themselves.
struct Slot {
    int w = 0, h = 0;
    std::vector<double> px;     // the values, unless `whole`
    std::vector<uint8_t> bytes; // the values, when `whole`
    bool whole = false;

    size_t size() const { return whole ? bytes.size() : px.size(); }
    uint32_t at(size_t i) const { return whole ? bytes[i] : static_cast<uint32_t>(px[i]); }
    double* reals() {
        if (whole) {
            px.resize(bytes.size());
            quarnk::bytesToReals(bytes.data(), static_cast<int64_t>(bytes.size()), px.data());
            whole = false;
        }
        return px.data();
    }
    // Values as a slot stores them: truncated toward zero, low 8 bits (a real without an integer is 0).
    void quantize() {
        if (whole) return;
        bytes.resize(px.size());
        quarnk::toBytes(px.data(), static_cast<int64_t>(px.size()), bytes.data());
        whole = true;
    }
};

// A raw file's first bytes.size() bytes; where the file ends early, the rest is 255 (how a slot
// stores the -1 that the reader gives for them). False when the file cannot be opened.
bool readRaw(const std::string& path, std::vector<uint8_t>& bytes) {
    quarnk::ByteReader in;
    if (!in.open(path.c_str())) return false;
    const size_t got = in.read(bytes.data(), bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got), bytes.end(), uint8_t{255});
    return true;
}

// The working slot's picture: what its window shows, and what a BMP save writes. Nothing is
// painted until a BMP save needs the picture: a fresh picture is white, and drawing the slot is
// put off because every change of the slot draws it again, so only the last drawing counts,
// made from the slot as it is then.
struct Canvas {
    int w = 0, h = 0;
    std::vector<uint32_t> rgb; // when not white
    bool white = true;
    bool pending = false; // the slot is to be drawn at this width and height
    int pendingMx = 0, pendingMy = 0;

    // White at this size (the window's picture cleared).
    void reset(int nw, int nh) {
        w = nw, h = nh;
        white = true;
        pending = false;
    }
    void fill() {
        if (!white) return;
        rgb.assign(static_cast<size_t>(w) * h, kWhite);
        white = false;
    }
};

// The state one file hands to the next: the size fields and the threshold.
struct Carried {
    int mx = 0, my = 0;
    int threshold = 128;
};

// One result of a file, committed in list order: a histogram file or a save.
struct Event {
    enum Kind { kHistogram, kSave } kind = kSave;
    int16_t code = 0;
    std::vector<double> counts;                      // histogram
    std::vector<std::unique_ptr<AtomicFile>> writes; // save: written in this order, the last one stays
    bool opened = true;                              // save: every write could be started
    std::string fileName;                            // save
    bool done = false, ok = false;
};

struct FileWork {
    bool skipped = false;
    std::string line; // for skipped files, the whole report line
    bool read = false;
    std::vector<Event> events;
    std::string stop; // why the file stopped, when it did
};

// Commits events: histogram files numbered in list order, saves renamed into place.
class Committer {
public:
    Committer(const Settings& s) : folder_(s.workFolder), number_(s.histogramNumber) {}

    bool commit(Event& e) {
        if (e.done) return e.ok;
        e.done = true;
        if (e.kind == Event::kHistogram) {
            const std::string name =
                (folder_.empty() ? std::string() : folder_ + "/") + std::to_string(number_) + "_hdat.csv";
            // The number box holds a 16-bit number: past 32767 it reads as 0.
            number_ = number_ + 1 > 32767 ? 0 : number_ + 1;
            e.ok = Savecsvk(name.c_str(), 1, quarnk::kLevels, e.counts.data()) == 0;
        } else {
            e.ok = e.opened;
            for (auto& w : e.writes)
                if (!w->commit()) e.ok = false;
        }
        return e.ok;
    }

private:
    std::string folder_;
    int number_;
};

class FileRunner {
public:
    FileRunner(const Job& job, const Settings& settings, const PictureReader& readPicture,
               Committer* immediate)
        : job_(job), s_(settings), readPicture_(readPicture), immediate_(immediate) {}

    FileWork run(const Job::File& file, Carried& carried);
    FileWork runFile(const Job::File& file, Carried& carried);

private:
    bool open(const std::string& path, const std::string& title, Slot& slot, Canvas* canvas, Carried& c);
    void drawSlot(Canvas& canvas, const Carried& c);
    static void settle(Canvas& canvas, const Slot& slot);
    // Runs one code; false when the file stops.
    bool operation(int16_t code, const Job::File& file, Slot& work, Canvas& canvas, Carried& c,
                   FileWork& out);
    bool emit(Event e, FileWork& out);
    std::unique_ptr<AtomicFile> rawWrite(const std::string& path, const Slot& slot);
    std::unique_ptr<AtomicFile> csvWrite(const std::string& path, const Slot& slot);
    std::unique_ptr<AtomicFile> bmpWrite(const std::string& path, Canvas& canvas);

    const Job& job_;
    const Settings& s_;
    const PictureReader& readPicture_;
    Committer* immediate_; // commits as it goes when files run in order
};

bool FileRunner::emit(Event e, FileWork& out) {
    bool ok = true;
    if (immediate_) ok = immediate_->commit(e);
    out.events.push_back(std::move(e));
    return ok;
}

void FileRunner::drawSlot(Canvas& canvas, const Carried& c) {
    if (!fits(c.mx, c.my) || c.mx <= 0 || c.my <= 0) return;
    canvas.pending = true;
    canvas.pendingMx = c.mx;
    canvas.pendingMy = c.my;
}

// Makes the drawing that was put off: the slot's pixels, then zeros, laid out at the width the
// size fields had.
void FileRunner::settle(Canvas& canvas, const Slot& slot) {
    if (!canvas.pending) return;
    canvas.pending = false;
    canvas.fill();
    const int mx = canvas.pendingMx;
    const int cols = std::min(mx, canvas.w), rows = std::min(canvas.pendingMy, canvas.h);
    const int64_t have = static_cast<int64_t>(slot.size());
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int64_t i = static_cast<int64_t>(y) * mx + x;
            const uint32_t v = i < have ? slot.at(static_cast<size_t>(i)) : 0;
            canvas.rgb[static_cast<size_t>(y) * canvas.w + x] = 0xFF000000u | v << 16 | v << 8 | v;
        }
}

bool FileRunner::open(const std::string& path, const std::string& title, Slot& slot, Canvas* canvas,
                      Carried& c) {
    const std::string kind = fileKind(title);
    const bool raw = kind == "mon" || s_.rawOverride;
    std::optional<Picture> picture;
    if (isPicture(kind)) {
        struct stat st {};
        Picture p;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && readPicture_ &&
            readPicture_(path, kind, p) && p.width > 0 && p.height > 0 && fits(p.width, p.height) &&
            fits(p.pixelWidth, p.pixelHeight)) {
            c.mx = static_cast<int>(p.width);
            c.my = static_cast<int>(p.height);
            picture = std::move(p);
        } else if (!raw) {
            return false;
        }
    }
    if (canvas && fits(c.mx, c.my)) canvas->reset(c.mx, c.my);
    bool loaded = false;
    if (picture) {
        if (canvas) {
            canvas->reset(picture->pixelWidth, picture->pixelHeight);
            canvas->rgb = picture->rgb;
            canvas->white = false;
        }
        slot.w = c.mx, slot.h = c.my;
        slot.whole = true;
        slot.bytes.assign(static_cast<size_t>(c.mx) * c.my, 255); // outside the decoded picture: white
        for (int y = 0; y < std::min(c.my, picture->pixelHeight); ++y)
            for (int x = 0; x < std::min(c.mx, picture->pixelWidth); ++x)
                slot.bytes[static_cast<size_t>(y) * c.mx + x] = static_cast<uint8_t>(
                    picture->rgb[static_cast<size_t>(y) * picture->pixelWidth + x] >> 16);
        loaded = true;
    }
    if (raw && fits(c.mx, c.my)) {
        thread_local std::vector<uint8_t> read;
        read.resize(static_cast<size_t>(c.mx) * c.my);
        loaded = readRaw(path, read);
        if (loaded) {
            slot.w = c.mx, slot.h = c.my;
            slot.bytes.swap(read);
            slot.whole = true;
        }
        if (canvas && s_.autoDraw) drawSlot(*canvas, c);
    }
    if (kind == "csv" && fits(c.mx, c.my)) {
        thread_local std::vector<double> read;
        read.resize(static_cast<size_t>(c.mx) * c.my);
        loaded = Opencsvk(path.c_str(), c.mx, c.my, read.data()) == 0;
        if (loaded) {
            Rofk(c.mx, c.my, read.data());
            slot.w = c.mx, slot.h = c.my;
            slot.px.swap(read);
            slot.whole = false;
            slot.quantize();
        }
        // Opening a CSV image corrects over-values once more, on what the slot holds.
        Rofk(slot.w, slot.h, slot.reals());
        slot.quantize();
        if (canvas && s_.autoDraw) drawSlot(*canvas, c);
    }
    return loaded;
}

std::unique_ptr<AtomicFile> FileRunner::rawWrite(const std::string& path, const Slot& slot) {
    auto f = std::make_unique<AtomicFile>();
    if (!f->open(path.c_str())) return nullptr;
    if (slot.whole) {
        f->write(slot.bytes.data(), slot.bytes.size());
        return f;
    }
    thread_local std::vector<uint8_t> bytes;
    bytes.resize(slot.px.size());
    quarnk::toBytes(slot.px.data(), static_cast<int64_t>(slot.px.size()), bytes.data());
    f->write(bytes.data(), bytes.size());
    return f;
}

std::unique_ptr<AtomicFile> FileRunner::csvWrite(const std::string& path, const Slot& slot) {
    auto f = std::make_unique<AtomicFile>();
    if (!f->open(path.c_str())) return nullptr;
    for (int y = 0; y < slot.h; ++y)
        for (int x = 0; x < slot.w; ++x) {
            const size_t i = static_cast<size_t>(y) * slot.w + x;
            f->putInt(slot.whole ? slot.bytes[i] : quarnk::truncToInt(slot.px[i]));
            f->put(x + 1 < slot.w ? ',' : '\r');
            if (x + 1 == slot.w) f->put('\n');
        }
    return f;
}

// A 24-bit bottom-up BMP with a 40-byte header and 3780 pixels per metre, as the picture
// windows save theirs.
std::unique_ptr<AtomicFile> FileRunner::bmpWrite(const std::string& path, Canvas& canvas) {
    if (canvas.w <= 0 || canvas.h <= 0) return nullptr;
    canvas.fill();
    auto f = std::make_unique<AtomicFile>();
    if (!f->open(path.c_str())) return nullptr;
    const uint32_t rowBytes = (static_cast<uint32_t>(canvas.w) * 24 + 31) / 32 * 4;
    const uint32_t image = rowBytes * static_cast<uint32_t>(canvas.h);
    uint8_t header[54] = {'B', 'M'};
    auto le32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    le32(2, 54 + image);
    le32(10, 54);
    le32(14, 40);
    le32(18, static_cast<uint32_t>(canvas.w));
    le32(22, static_cast<uint32_t>(canvas.h));
    header[26] = 1;
    header[28] = 24;
    le32(34, image);
    le32(38, 3780);
    le32(42, 3780);
    f->write(header, sizeof header);
    std::vector<uint8_t> row(rowBytes, 0);
    for (int y = canvas.h - 1; y >= 0; --y) {
        const uint32_t* src = canvas.rgb.data() + static_cast<size_t>(y) * canvas.w;
        for (size_t x = 0; x < static_cast<size_t>(canvas.w); ++x) {
            row[3 * x] = static_cast<uint8_t>(src[x]);
            row[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(src[x] >> 16);
        }
        f->write(row.data(), row.size());
    }
    return f;
}

bool FileRunner::operation(int16_t code, const Job::File& file, Slot& work, Canvas& canvas, Carried& c,
                           FileWork& out) {
    auto failed = [&](int32_t status) {
        out.stop =
            "stopped, operation " + std::to_string(code) + " failed with status " + std::to_string(status);
        return false;
    };
    // An operation on the slot: the kernel's failure is the library's status 5; success redraws.
    auto inPlace = [&](int32_t result, bool store) {
        if (result != 0) return failed(kKernelFailed);
        if (store) work.quantize();
        if (s_.autoDraw) drawSlot(canvas, c);
        return true;
    };
    auto save = [&](const std::string& extension, std::initializer_list<char> writers) {
        Event e;
        e.code = code;
        const std::string path = file.base + extension;
        e.fileName = path.substr(path.rfind('/') + 1);
        for (char w : writers) {
            auto f = w == 'b'   ? bmpWrite(path, canvas)
                     : w == 'r' ? rawWrite(path, work)
                                : csvWrite(path, work);
            if (f)
                e.writes.push_back(std::move(f));
            else
                e.opened = false;
        }
        emit(std::move(e), out);
        return true;
    };
    const int w = work.w, h = work.h;
    switch (code) {
    case kCodeMedian:
        if (work.whole)
            return inPlace(quarnk::noThrow<int32_t>(-1,
                                                    [&] {
                                                        quarnk::recursiveMedian(w, h, work.bytes.data());
                                                        return 0;
                                                    }),
                           false);
        return inPlace(Medk(w, h, work.px.data()), false);
    case kCodeDifferenceWorkFirst:
    case kCodeDifferenceReferenceFirst: {
        // The reference image is read afresh for every difference.
        thread_local Slot reference;
        // A picture as the reference changes the size fields: what was drawn with the old ones
        // is made now, from the slot it showed.
        if (isPicture(fileKind(job_.referenceTitle))) settle(canvas, work);
        if (!open(job_.referencePath, job_.referenceTitle, reference, nullptr, c)) {
            out.stop = "stopped, the reference image " + job_.referenceName + " cannot be read";
            return false;
        }
        if (reference.w != w || reference.h != h) return failed(kKernelFailed);
        if (code == kCodeDifferenceWorkFirst)
            return inPlace(Dpk(w, h, work.reals(), reference.reals()), true);
        thread_local std::vector<double> a;
        const double* ref = reference.reals();
        a.assign(ref, ref + reference.px.size());
        const int32_t r = Dpk(w, h, a.data(), work.reals());
        work.px.swap(a);
        return inPlace(r, true);
    }
    case kCodeBinarize:
        if (work.whole) {
            quarnk::binarize(work.bytes.data(), static_cast<int64_t>(work.bytes.size()), c.threshold);
            return inPlace(0, false);
        }
        return inPlace(Segmk(c.threshold, w, h, work.px.data()), false);
    case kCodeOverValue:
        return inPlace(Rofk(w, h, work.reals()), true);
    case kCodeEdgeTwoLevel:
    case kCodeEdgeOrdinary:
        return inPlace(Edgek(code == kCodeEdgeTwoLevel ? 0 : 1, w, h, work.reals()), true);
    case kCodeDust:
        return inPlace(Dmk(w, h, work.reals()), false);
    case kCodeInvert:
        if (work.whole) {
            for (uint8_t& v : work.bytes)
                v = static_cast<uint8_t>(255 - v);
            return inPlace(0, false);
        }
        return inPlace(Rdk(w, h, work.px.data()), false);
    case kCodeHistogramPeak:
    case kCodeHistogramMean: {
        Event e;
        e.kind = Event::kHistogram;
        e.code = code;
        int64_t counts[quarnk::kLevels] = {};
        if (work.whole)
            quarnk::countLevels(work.bytes.data(), static_cast<int64_t>(work.bytes.size()), counts);
        else
            quarnk::countLevels(work.px.data(), static_cast<int64_t>(w) * h, counts);
        int32_t result = 0;
        quarnk::thresholdOf(code == kCodeHistogramPeak ? 0 : 1, counts, static_cast<int64_t>(w) * h, &result);
        c.threshold = result;
        e.counts.assign(counts, counts + quarnk::kLevels);
        if (!emit(std::move(e), out)) return failed(kKernelFailed);
        return true;
    }
    case kCodeSaveBmp:
        if (!s_.autoDraw) drawSlot(canvas, c);
        settle(canvas, work);
        return s_.rawOverride ? save(".bmp", {'b', 'r'}) : save(".bmp", {'b'});
    case kCodeSaveRaw:
        return save(".mon", {'r'});
    case kCodeSaveCsv:
        return s_.rawOverride ? save(".csv", {'r', 'c'}) : save(".csv", {'c'});
    case kCodeContrast:
        return inPlace(Conk(s_.contrastLow, s_.contrastHigh, w, h, work.reals()), true);
    case kCodeFlipLeftRight:
    case kCodeFlipUpDown: {
        thread_local std::vector<double> scratch;
        double* px = work.reals();
        scratch.resize(work.px.size());
        return inPlace(Turnk(code == kCodeFlipLeftRight ? 0 : 1, w, h, px, scratch.data()), false);
    }
    default:
        return true; // codes outside the table do nothing
    }
}

// Running out of memory ends that file, not the run: a worker thread that let it through would
// end the process and every file's result with it. What the file had written is discarded.
FileWork FileRunner::run(const Job::File& file, Carried& c) {
    try {
        return runFile(file, c);
    } catch (const std::bad_alloc&) {
        FileWork out;
        out.skipped = true;
        out.line = file.name + ": skipped, not enough memory for it";
        return out;
    }
}

FileWork FileRunner::runFile(const Job::File& file, Carried& c) {
    FileWork out;
    const std::string kind = fileKind(file.name);
    auto skip = [&](const std::string& why) {
        out.skipped = true;
        out.line = file.name + ": skipped, " + why;
        return std::move(out);
    };
    if (kind == "tvs") return skip("a script is not an image");
    if (kind == "mon" || s_.rawOverride) {
        struct stat st {};
        const int64_t expected = static_cast<int64_t>(c.mx) * c.my;
        if (::stat(file.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size != expected)
            return skip("its " + std::to_string(st.st_size) + " bytes are not the " + std::to_string(c.mx) +
                        " x " + std::to_string(c.my) + " image the script names");
    }
    thread_local Slot work;
    thread_local Canvas canvas;
    if (!open(file.path, file.title, work, &canvas, c)) return skip("the image cannot be read");
    out.read = true;
    for (int16_t code : job_.operations)
        if (!operation(code, file, work, canvas, c, out)) break;
    return out;
}

// The report line of a file whose events are all committed.
std::string reportLine(const Job::File& file, const FileWork& work, Outcome& outcome) {
    if (work.skipped) return work.line;
    ++outcome.read;
    std::vector<std::string> parts;
    std::string stop = work.stop;
    for (const Event& e : work.events) {
        if (!e.done) break;
        if (e.kind == Event::kHistogram) {
            if (!e.ok) {
                stop = "stopped, operation " + std::to_string(e.code) + " failed with status 5";
                break;
            }
            continue;
        }
        if (!e.ok) ++outcome.savesFailed;
        parts.push_back((e.ok ? "saved " : "could not save ") + e.fileName);
    }
    if (!stop.empty()) {
        ++outcome.failed;
        parts.push_back(stop);
    }
    if (parts.empty()) return file.name + ": done, nothing saved";
    std::string line = file.name + ": ";
    for (size_t i = 0; i < parts.size(); ++i)
        line += (i ? ", " : "") + parts[i];
    return line;
}

// Commits a file's events in order; a histogram that cannot be written stops the file there.
void commitAll(Committer& committer, FileWork& work) {
    for (Event& e : work.events)
        if (!committer.commit(e) && e.kind == Event::kHistogram) break;
}

} // namespace

std::string fileKind(const std::string& name) {
    return name.size() >= 3 ? name.substr(name.size() - 3) : name;
}

std::string fileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return std::to_string(st.st_dev).append(":").append(std::to_string(st.st_ino));
    // Not there yet (a result to be written): its folder resolved, links and all.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real) != nullptr) return std::string(real) + "/" + name;
    return path;
}

std::string orderReason(const Job& job) {
    const auto& ops = job.operations;
    auto first = [&](std::initializer_list<int16_t> codes) {
        return std::find_if(ops.begin(), ops.end(), [&](int16_t c) {
            return std::find(codes.begin(), codes.end(), c) != codes.end();
        });
    };
    const auto histogram = first({kCodeHistogramPeak, kCodeHistogramMean});
    if (histogram != ops.end() && std::find(ops.begin(), histogram, kCodeBinarize) != histogram)
        return "a threshold that codes 90/95 set in one file is used by code 40 in the next";
    const bool reference = first({kCodeDifferenceWorkFirst, kCodeDifferenceReferenceFirst}) != ops.end();
    if (reference && isPicture(fileKind(job.referenceTitle)))
        return "a picture as the reference image sets the image size for the files after it";
    for (const auto& f : job.files)
        if (isPicture(fileKind(f.title)))
            return "a picture in the list sets the image size for the files after it";
    // Files are compared as files, not as names: two names may reach one file through a
    // symbolic link or a linked folder.
    std::map<std::string, int> sources; // how often each file is listed
    for (const auto& f : job.files)
        ++sources[fileIdentity(f.path)];
    const std::string referenceFile = reference ? fileIdentity(job.referencePath) : std::string();
    std::set<std::string> outputs;
    for (const auto& f : job.files) {
        const std::string self = fileIdentity(f.path);
        std::set<std::string> own;
        for (int16_t c : ops) {
            if (c == kCodeSaveBmp) own.insert(fileIdentity(f.base + ".bmp"));
            if (c == kCodeSaveRaw) own.insert(fileIdentity(f.base + ".mon"));
            if (c == kCodeSaveCsv) own.insert(fileIdentity(f.base + ".csv"));
        }
        for (const std::string& o : own) {
            const auto read = sources.find(o);
            const bool readByAnother =
                read != sources.end() && (o != self || read->second > 1); // listed twice: itself again
            if (!outputs.insert(o).second || readByAnother || (reference && o == referenceFile))
                return "two files save to the same name, or a result replaces a file that another one reads";
        }
    }
    return {};
}

Outcome run(const Job& job, const Settings& settings, const PictureReader& readPicture,
            const Callbacks& callbacks) {
    Outcome outcome;
    outcome.files = static_cast<int>(job.files.size());
    // A file replaced by its result gives its inode to the next result in the folder.
    const AtomicFile::KeepSpares keepSpares;
    Committer committer(settings);
    Carried start{job.width, job.height, settings.threshold};
    auto report = [&](const std::string& line) {
        if (callbacks.onReport) callbacks.onReport(line);
    };
    const size_t n = job.files.size();
    const int jobs = std::max(1, settings.jobs);
    if (jobs == 1 || n < 2 || !orderReason(job).empty()) {
        FileRunner runner(job, settings, readPicture, &committer);
        Carried carried = start;
        for (size_t i = 0; i < n; ++i) {
            if (callbacks.onFile) callbacks.onFile(i + 1, n, job.files[i].name);
            FileWork work = runner.run(job.files[i], carried);
            report(reportLine(job.files[i], work, outcome));
        }
        return outcome;
    }

    // Files in parallel, each from the same start; results committed in list order. At most a
    // few files per worker are in flight, so memory stays bounded whatever the list's length.
    const size_t window = static_cast<size_t>(jobs) * 3;
    std::mutex m;
    std::condition_variable ready, room;
    std::deque<std::optional<FileWork>> done; // results of files next .. next + done.size() - 1
    size_t next = 0, taken = 0;
    bool stopping = false;
    auto worker = [&] {
        FileRunner runner(job, settings, readPicture, nullptr);
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(m);
                room.wait(lock, [&] { return stopping || taken >= n || taken < next + window; });
                if (stopping || taken >= n) return;
                i = taken++;
                if (callbacks.onFile) callbacks.onFile(i + 1, n, job.files[i].name);
            }
            Carried carried = start;
            FileWork work = runner.run(job.files[i], carried);
            {
                std::lock_guard<std::mutex> lock(m);
                const size_t slot = i - next;
                if (done.size() <= slot) done.resize(slot + 1);
                done[slot] = std::move(work);
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::min<size_t>(static_cast<size_t>(jobs), n); ++t)
        threads.emplace_back(worker);
    while (next < n) {
        FileWork work;
        {
            std::unique_lock<std::mutex> lock(m);
            ready.wait(lock, [&] { return !done.empty() && done.front().has_value(); });
            work = std::move(*done.front());
            done.pop_front();
            ++next;
        }
        room.notify_all();
        commitAll(committer, work);
        report(reportLine(job.files[next - 1], work, outcome));
    }
    {
        std::lock_guard<std::mutex> lock(m);
        stopping = true;
    }
    room.notify_all();
    for (auto& t : threads)
        t.join();
    return outcome;
}

} // namespace tovra::engine
