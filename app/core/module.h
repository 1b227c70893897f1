// The procedures of the program: opening, saving, drawing and the operation commands, with the
// event handlers of the windows that drive them. They work on the application state and on
// canvases, never on widgets, so every one of them runs without a display.
//
// Error policy: a step that fails (a missing file, a text that is not a number, a slot outside
// 0..7, a missing library) is skipped silently and the procedure goes on. No step ever hands the
// library a buffer smaller than what the library will write into it.
#pragma once

#include "app_state.h"
#include "dialogs.h"
#include "quarn_binder.h"

#include <QImage>
#include <QString>
#include <array>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace tovra {

// A pixel buffer of the program's capacity, owned for one call. Buffers are recycled rather than
// allocated and cleared every call: the library overwrites every element it reads back, and the
// one reader of elements it may not have written, drawing, clears what it reads first.
class PixelBuffer {
public:
    PixelBuffer();
    ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    double* data() { return data_.get(); }
    const double* data() const { return data_.get(); }
    double operator[](int64_t i) const { return data_[static_cast<size_t>(i)]; }
    double& operator[](int64_t i) { return data_[static_cast<size_t>(i)]; }
    // Zero-fills the first n elements (at most the capacity).
    void zero(int64_t n);

private:
    std::unique_ptr<double[]> data_;
};

// A mode argument that takes the mode from the window's option buttons instead.
constexpr int kModeFromWindow = 99;

// A picture file (BMP, JPEG, GIF) as the program reads it: a regular file only (a FIFO would
// block the decoder), decoded without turning it, as 32-bit RGB, with the size it declares — a
// BMP's from its header (the decoder's may differ), other pictures' as decoded. Nothing when it
// cannot be decoded.
struct PictureFile {
    QImage rgb;
    int64_t width = 0, height = 0;
    // A 16-bit picture's grey levels mapped by their full range onto 0..255, unrounded, as a CSV
    // image's are (empty for pictures of 8 bits, which the slot takes from `rgb`).
    std::vector<double> grey;
};
std::optional<PictureFile> readPictureFile(const QString& path, const QString& kind);

// The last three characters of a name, which decide its kind ("bmp", "mon", ...), case-sensitive.
QString fileKind(const QString& name);
// The file name without its folder.
QString fileTitle(const QString& path);

class Module {
public:
    Module(AppState& state, QuarnBinder& quarn, FileDialogs& dialogs);

    AppState& state() { return state_; }
    QuarnBinder& quarn() { return quarn_; }
    FileDialogs& dialogs() { return dialogs_; }

    // The current image, read from the information window as 16-bit integers (0 when a text does
    // not convert).
    int16_t currentId() const;
    int16_t currentWidth() const;
    int16_t currentHeight() const;

    // ---- Opening, saving, display ----
    // Opens a file into the current slot; true when the slot received the file's pixels.
    bool openImage(const QString& path, const QString& title);
    void fitNameLabel();
    // Saves the current slot; true when a writer ran for the name and every one that ran wrote.
    bool saveImage(const QString& path);
    void saveRectangle(const QString& path);
    void drawSlot();
    void redrawAll();

    // ---- Operation commands; a mode of 99 takes the mode from the toolbox's option buttons ----
    // Each returns the library's status (kNotCalled when a slot is beyond the buffers).
    int32_t doContrast();
    int32_t doMedian();
    int32_t doDifference();
    int32_t doBinarize();
    int32_t doOverValueCorrection();
    int32_t doEdge(int mode);
    int32_t doDustRemoval();
    int32_t doGradationInvert();
    int32_t doUndo();
    int32_t doAxisFlip(int mode);
    int32_t doComposite();

    // ---- Toolbox ----
    void toolboxLoad();
    void openButton();
    void saveButton();
    void saveRectangleButton();
    void chooseSlot(int line);

    // ---- Image windows ----
    // Activation makes the slot named by the caption's last character current.
    void imageWindowActivated(const QString& caption);
    void imageWindowClosed(int slot);
    void pictureMouseMove(int x, int y);
    void pictureMousePress(int x, int y);
    void pictureMouseRelease(int x, int y);
    void reloadFromNameLabel();
    void showImageWindow(int slot);

    // ---- Information window ----
    void drawSelectedRectangle();
    // Exchanges hfx1/hfx2 and hfy1/hfy2 where the first is the greater.
    void orderSelectedRectangle();
    // A rectangle dragged on a picture in its own scale: the first corner where the button went
    // down, the pointer's place while it moves, the second corner (then ordered) where it came up.
    void selectionStart(double x, double y);
    void selectionMove(double x, double y);
    void selectionEnd(double x, double y);

    // Tells the user something (not during a batch run, which reports on its own lines).
    void inform(const QString& text);

    // ---- Main window ----
    void startUp(const QString& programFolder);
    void presetSize(int width, int height);
    void deleteWorkFiles();

    bool scriptRunning() const { return scriptRunning_; }

    // Runs a batch script; set by the part that owns scripts. Never called while one runs.
    std::function<void(const QString& path, const QString& title)> runScript;

    // While a script runs, a window that comes to the front does not change the current slot
    // and size under the running script.
    class ScriptRun {
    public:
        explicit ScriptRun(Module& m) : m_(m), was_(m.scriptRunning_) { m_.scriptRunning_ = true; }
        ~ScriptRun() { m_.scriptRunning_ = was_; }
        ScriptRun(const ScriptRun&) = delete;
        ScriptRun& operator=(const ScriptRun&) = delete;

    private:
        Module& m_;
        bool was_;
    };

    // Whether slot `id` (if it exists at all) fits the program's buffers, so the library can read
    // it without writing past them. A slot that cannot be read is harmless to pass on.
    bool slotFitsBuffer(int32_t id);

    // The 16-bit picture file slot `id` was opened from, while the slot still holds exactly what
    // was opened (no operation since): the measurement then reads the file at its full depth.
    std::optional<QString> fullDepthSource(int id);

private:
    static bool isPictureKind(const QString& kind);
    // The picture's pixels with the size fields set to its size, or nothing (and a message) when it
    // cannot be decoded or is larger than the buffers.
    std::optional<PictureFile> decodePicture(const QString& path, const QString& kind);
    void prepareImageWindow(const QString& path);
    bool openPicture(const PictureFile& picture);
    uint64_t slotFingerprint(int id);
    bool openRaw(const QString& path);
    bool openCsv(const QString& path);
    template <typename Call> int32_t operation(std::initializer_list<int> reads, Call call);
    bool saveBmp(int slot, const QString& path);
    static QString tooLargeMessage(const QString& width, const QString& height, const QString& path);

    AppState& state_;
    QuarnBinder& quarn_;
    FileDialogs& dialogs_;
    bool scriptRunning_ = false;
    // The 16-bit file each slot was opened from, with the fingerprint of what the slot then held.
    struct DeepSource {
        QString path;
        uint64_t fingerprint = 0;
    };
    std::array<std::optional<DeepSource>, kSlots> deep_;
    QString acceptedThreshold_ = QStringLiteral("128"); // the binarization threshold last used
};

} // namespace tovra
