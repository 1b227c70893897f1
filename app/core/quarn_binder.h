// The program's only door to the image operation library. Each export is looked up by name in
// the library on its first call and the address is kept; every call runs inside the library call
// bracket, with the work folder as the current directory, so that the slots' work files and the
// result files live there while names chosen in dialogs arrive as full paths.
#pragma once

#include <QLibrary>
#include <QString>
#include <cstdint>

namespace tovra {

// The status codes every export of the library returns (documented in its header).
enum QuarnStatus : int32_t {
    kStatusOk = 0,
    kSourceUnreadable = 1,
    kResultUnwritable = 2,
    kInfoUnreadable = 3,
    kInfoUnwritable = 4,
    kKernelFailed = 5,
    kUndoFailed = 6,
    // Not the library's: the program did not call it, since a slot is larger than its buffers.
    kNotCalled = -2,
};

// Saves the current directory, makes `folder` current, and changes back when it goes out of scope.
// Brackets nest: each keeps its own saved directory.
class WorkFolderScope {
public:
    explicit WorkFolderScope(const QString& folder);
    ~WorkFolderScope();
    // False when the folder could not be made current (then nothing may be written relative to it).
    bool entered() const { return entered_; }
    WorkFolderScope(const WorkFolderScope&) = delete;
    WorkFolderScope& operator=(const WorkFolderScope&) = delete;

private:
    QString saved_;
    bool entered_ = false;
};

class QuarnBinder {
public:
    // Returned when the library or the export cannot be found: a failure like any other status.
    static constexpr int32_t kUnbound = -1;

    QuarnBinder(const QString& libraryPath, QString workFolder);

    const QString& workFolder() const { return workFolder_; }
    // The library file as found (once a call has loaded it), else the name it is looked for by.
    QString libraryFile() const { return library_.fileName(); }

    int32_t Openim(const QString& path, int32_t width, int32_t height, int32_t id, double* buf);
    int32_t Opencsv(const QString& path, int32_t width, int32_t height, int32_t id, double* buf);
    int32_t Openxim(int32_t width, int32_t height, int32_t id, double* buf);
    int32_t Toutim(int32_t id, double* buf);
    int32_t Saveim(const QString& path, int32_t id, double* buf);
    int32_t Savecsv(const QString& path, int32_t id, double* buf);
    int32_t Savert(const QString& path, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t id,
                   double* buf);
    int32_t Xyretid(int32_t id, int32_t* width, int32_t* height);
    int32_t Conim(int32_t low, int32_t high, int32_t id, double* buf);
    int32_t Segmim(int32_t threshold, int32_t id, double* buf);
    int32_t Rofim(int32_t id, double* buf);
    int32_t Rdim(int32_t id, double* buf);
    int32_t Medim(int32_t id, double* buf);
    int32_t Edgeim(int32_t flag, int32_t id, double* buf);
    int32_t Dmim(int32_t id, double* buf);
    int32_t Turnim(int32_t mode, int32_t id, double* buf, double* scratch);
    int32_t Dpim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2);
    int32_t Compoim(int32_t a, int32_t b, int32_t dest, double* buf, double* buf2);
    int32_t Undoim(int32_t id, double* buf, double* scratch);
    int32_t Hist(int32_t mode, int32_t* result, int32_t number, int32_t id, double* buf);
    int32_t Lhist(int32_t x, int32_t y, int32_t number, int32_t mode, int32_t id, double* buf);
    int32_t Hcc(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t* bound, double step, double* slope,
                double* intercept, int32_t id, double* buf, double* acc);

private:
    template <typename Fn, typename... Args> int32_t call(const char* name, void*& address, Args... args);

    // One entry per export, named as the export.
    enum class Export {
        Openim,
        Opencsv,
        Openxim,
        Toutim,
        Saveim,
        Savecsv,
        Savert,
        Xyretid,
        Conim,
        Segmim,
        Rofim,
        Rdim,
        Medim,
        Edgeim,
        Dmim,
        Turnim,
        Dpim,
        Compoim,
        Undoim,
        Hist,
        Lhist,
        Hcc,
        Count
    };

    QLibrary library_;
    QString workFolder_;
    void* addresses_[static_cast<int>(Export::Count)] = {};
};

} // namespace tovra
