#include "module.h"

#include "busy_cursor.h"
#include "numeric.h"
#include "picture_check.h"
#include "work_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cstdlib>

namespace tovra {

namespace {

const QString kOpenFilter =
    QStringLiteral("専用形式 (*.mon)|*.mon|汎用形式 (*.bmp;*.jpg;*.gif)|*.bmp;*.jpg;*.gif|"
                   "画像 (*.png;*.tif;*.tiff)|*.png;*.tif;*.tiff|csvファイル (*.csv;*.txt)|*.csv;*.txt|"
                   "連続処理用スクリプト (*.tvs)|*.tvs|その他 (*.*)|*.*");
const QString kSaveFilter = QStringLiteral(
    "専用形式 (*.mon)|*.mon|汎用形式 (*.bmp)|*.bmp|csvファイル (*.csv)|*.csv|その他 (*.*)|*.*");
const QString kSaveRectangleFilter =
    QStringLiteral("専用形式 (*.mon)|*.mon|汎用形式 (*.bmp)|*.bmp|その他 (*.*)|*.*");
const QString kCropFile = QStringLiteral("srt.tmp");

bool validSlot(int id) {
    return id >= 0 && id < kSlots;
}

// Whether a width x height image fits the program's buffers.
bool fits(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width * height <= kBufferCapacity;
}

int slotFromCaption(const QString& caption) {
    if (caption.isEmpty()) return 0;
    const QChar c = caption.back();
    return c.isDigit() ? c.digitValue() : 0;
}

} // namespace

namespace {
std::vector<std::unique_ptr<double[]>>& bufferPool() {
    static std::vector<std::unique_ptr<double[]>> pool;
    return pool;
}
} // namespace

PixelBuffer::PixelBuffer() {
    auto& pool = bufferPool();
    if (pool.empty()) {
        data_.reset(new double[kBufferCapacity]);
    } else {
        data_ = std::move(pool.back());
        pool.pop_back();
    }
}

PixelBuffer::~PixelBuffer() {
    bufferPool().push_back(std::move(data_));
}

void PixelBuffer::zero(int64_t n) {
    std::fill(data_.get(), data_.get() + std::clamp<int64_t>(n, 0, kBufferCapacity), 0.0);
}

// BMP files are read from their header (width at byte 18, height at byte 22, little-endian; a
// negative height is a top-down bitmap).
namespace {

std::optional<std::pair<int64_t, int64_t>> pictureSize(const QString& path, const QString& kind,
                                                       const QImage& decoded) {
    if (kind != QLatin1String("bmp")) return std::pair<int64_t, int64_t>{decoded.width(), decoded.height()};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray header = f.read(54);
    if (header.size() < 54) return std::nullopt;
    auto le32 = [&](int at) {
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(header[at])) |
                                    static_cast<uint32_t>(static_cast<uint8_t>(header[at + 1])) << 8 |
                                    static_cast<uint32_t>(static_cast<uint8_t>(header[at + 2])) << 16 |
                                    static_cast<uint32_t>(static_cast<uint8_t>(header[at + 3])) << 24);
    };
    return std::pair<int64_t, int64_t>{le32(18), std::llabs(static_cast<int64_t>(le32(22)))};
}

} // namespace

std::optional<PictureFile> readPictureFile(const QString& path, const QString& kind) {
    if (!QFileInfo(path).isFile()) return std::nullopt;
    QString why;
    const std::optional<QImage> picture = readWholePicture(path, why);
    if (!picture) return std::nullopt;
    const auto size = pictureSize(path, kind, *picture);
    if (!size) return std::nullopt;
    if (picture->depth() <= 32 && picture->format() != QImage::Format_Grayscale16)
        return PictureFile{picture->convertToFormat(QImage::Format_RGB32), size->first, size->second, {}};
    // 16 bits a pixel: the grey levels mapped from their least to their greatest onto 0..255,
    // unrounded, as a CSV image's are (a picture of one level keeps it).
    const QImage deep = picture->convertToFormat(QImage::Format_Grayscale16);
    PictureFile out{deep.convertToFormat(QImage::Format_RGB32), size->first, size->second, {}};
    out.grey.reserve(static_cast<size_t>(deep.width()) * deep.height());
    for (int y = 0; y < deep.height(); ++y) {
        const auto* line = reinterpret_cast<const quint16*>(deep.constScanLine(y));
        out.grey.insert(out.grey.end(), line, line + deep.width());
    }
    if (const auto [lo, hi] = std::minmax_element(out.grey.begin(), out.grey.end()); *hi > *lo) {
        const double from = *lo, range = *hi - *lo;
        for (double& v : out.grey)
            v = (v - from) * 255 / range;
    }
    return out;
}

QString fileKind(const QString& name) {
    return name.right(3);
}
QString fileTitle(const QString& path) {
    return QFileInfo(path).fileName();
}

QString FileDialogs::toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const int paren = desc.indexOf(QLatin1Char('('));
        if (paren > 0) desc = desc.left(paren).trimmed();
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" would hide the files without a dot, the very ones that raw override reads.
        if (patterns == QLatin1String("*.*")) patterns = QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(desc, patterns);
    }
    return out.join(QStringLiteral(";;"));
}

Module::Module(AppState& state, QuarnBinder& quarn, FileDialogs& dialogs)
    : state_(state), quarn_(quarn), dialogs_(dialogs) {}

int16_t Module::currentId() const {
    return int16Or(state_.info().id);
}
int16_t Module::currentWidth() const {
    return int16Or(state_.info().mx);
}
int16_t Module::currentHeight() const {
    return int16Or(state_.info().my);
}

bool Module::slotFitsBuffer(int32_t id) {
    int32_t w = 0, h = 0;
    if (quarn_.Xyretid(id, &w, &h) != 0) return true;
    return fits(w, h);
}

// ---- Opening -------------------------------------------------------------------------------

bool Module::openImage(const QString& path, const QString& title) {
    const QString kind = fileKind(title);
    const bool raw = kind == QLatin1String("mon") || state_.tool().rawOverride;
    BusyCursor busy;
    // A picture is decoded before anything changes: one that cannot be shown leaves the slot and
    // its window as they were.
    std::optional<PictureFile> picture;
    if (isPictureKind(kind)) {
        picture = decodePicture(path, kind);
        if (!picture && !raw) return false;
    }
    // A raw or CSV image of a size no slot holds (typed, or 99999 that no 16-bit box takes) is
    // refused with the reason before the slot or its window changes.
    if (raw || kind == QLatin1String("csv")) {
        const double w = numericValue(state_.info().mx), h = numericValue(state_.info().my);
        if (!(w <= 32767 && h <= 32767 && w * h <= kBufferCapacity)) {
            inform(tooLargeMessage(state_.info().mx, state_.info().my, path));
            return false;
        }
    }
    prepareImageWindow(path);
    bool loaded = false;
    if (picture) loaded = openPicture(*picture);
    if (const int id = currentId(); validSlot(id)) {
        deep_[static_cast<size_t>(id)].reset();
        if (loaded && picture && !picture->grey.empty())
            deep_[static_cast<size_t>(id)] = DeepSource{path, slotFingerprint(id)};
    }
    if (kind == QLatin1String("tvs") && runScript && !scriptRunning_) runScript(path, title);
    if (raw) loaded = openRaw(path);
    if (kind == QLatin1String("csv")) loaded = openCsv(path);
    fitNameLabel();
    return loaded;
}

QString Module::tooLargeMessage(const QString& width, const QString& height, const QString& path) {
    return QStringLiteral(
               "画像が大きすぎます（%1 × %2）。スロットに入るのは 1024 × 1024 画素（%3 画素）までです。"
               "大きな画像は自動測定で測れます（大きさの制限はありません）。メニューの「系列の測定」で"
               "「ファイルを追加」から選ぶか、コマンドラインで Tovra --measure を使ってください。\n%4")
        .arg(width, height)
        .arg(1024 * 1024)
        .arg(path);
}

bool Module::isPictureKind(const QString& kind) {
    return kind == QLatin1String("bmp") || kind == QLatin1String("jpg") || kind == QLatin1String("gif") ||
           kind == QLatin1String("png") || kind == QLatin1String("tif") || kind == QLatin1String("iff");
}

std::optional<PictureFile> Module::decodePicture(const QString& path, const QString& kind) {
    auto picture = readPictureFile(path, kind);
    if (!picture || picture->width <= 0 || picture->height <= 0) {
        inform(QFileInfo::exists(path) ? QStringLiteral("画像ファイルを読み込めません。\n%1").arg(path)
                                       : QStringLiteral("そのファイルはありません。\n%1").arg(path));
        return std::nullopt;
    }
    if (!fits(picture->width, picture->height) || !fits(picture->rgb.width(), picture->rgb.height())) {
        inform(tooLargeMessage(QString::number(picture->width), QString::number(picture->height), path));
        return std::nullopt;
    }
    state_.setMx(QString::number(picture->width));
    state_.setMy(QString::number(picture->height));
    return picture;
}

uint64_t Module::slotFingerprint(int id) {
    int32_t w = 0, h = 0;
    if (quarn_.Xyretid(id, &w, &h) != kStatusOk || !fits(w, h)) return 0;
    PixelBuffer buf;
    if (quarn_.Toutim(id, buf.data()) != kStatusOk) return 0;
    uint64_t hash = 1469598103934665603ULL ^ static_cast<uint64_t>(w) << 32 ^ static_cast<uint64_t>(h);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
    for (size_t i = 0; i < static_cast<size_t>(w) * static_cast<size_t>(h) * sizeof(double); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ULL; // FNV-1a
    return hash;
}

std::optional<QString> Module::fullDepthSource(int id) {
    if (!validSlot(id) || !deep_[static_cast<size_t>(id)]) return std::nullopt;
    const DeepSource& source = *deep_[static_cast<size_t>(id)];
    if (slotFingerprint(id) != source.fingerprint) return std::nullopt;
    return source.path;
}

void Module::inform(const QString& text) {
    if (!scriptRunning_) dialogs_.inform(text); // a batch run reports on its own line instead
}

void Module::prepareImageWindow(const QString& path) {
    const int id = currentId();
    if (!validSlot(id)) return;
    ImageWindowModel& win = state_.imageWindow(id);
    if (!state_.slotInUse(id)) {
        state_.setSlotListLine(id, QStringLiteral("ID %1 be").arg(id));
        state_.setSlotInUse(id, true);
        win.visible = true;
        win.position = state_.defaultWindowPosition() + QPoint(twips(300) * id, twips(300) * id);
        ++win.placement;
        win.caption += QStringLiteral(" ID %1").arg(id);
        win.picture->setPixelScale();
    }
    const int w = currentWidth(), h = currentHeight();
    if (fits(w, h)) win.picture->resize(w, h); // no picture larger than any image can be
    win.nameLabel = path;
    win.picture->clear();
    state_.imageWindowUpdated(id);
}

bool Module::openPicture(const PictureFile& picture) {
    const QImage& rgb = picture.rgb;
    const int id = currentId();
    const int w = currentWidth(), h = currentHeight();
    if (validSlot(id)) {
        // The window shows the whole picture, as decoded.
        Canvas& pic = *state_.imageWindow(id).picture;
        pic.resize(rgb.width(), rgb.height());
        pic.drawImage(rgb);
        state_.imageWindowUpdated(id);
    }
    if (!fits(w, h)) return false;
    PixelBuffer buf;
    int64_t k = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buf[k++] = !rgb.valid(x, y)       ? 255 // outside: the colour -1
                       : picture.grey.empty() ? qRed(rgb.pixel(x, y))
                                              : picture.grey[static_cast<size_t>(y) * rgb.width() + x];
    if (quarn_.Openxim(w, h, id, buf.data()) != kStatusOk) return false;
    if (!picture.grey.empty()) drawSlot(); // 16 bits: shown as the slot holds them
    return true;
}

bool Module::openRaw(const QString& path) {
    const int w = currentWidth(), h = currentHeight();
    if (!fits(w, h)) return false;
    PixelBuffer buf;
    const bool loaded = quarn_.Openim(path, w, h, currentId(), buf.data()) == kStatusOk;
    if (state_.autoDraw()) drawSlot();
    return loaded;
}

bool Module::openCsv(const QString& path) {
    const int id = currentId();
    const int w = currentWidth(), h = currentHeight();
    if (!fits(w, h)) return false;
    PixelBuffer buf;
    const bool loaded = quarn_.Opencsv(path, w, h, id, buf.data()) == kStatusOk;
    quarn_.Rofim(id, buf.data());
    if (state_.autoDraw()) drawSlot();
    return loaded;
}

void Module::fitNameLabel() {
    const int id = currentId();
    if (!validSlot(id)) return;
    const int width = currentWidth() - twips(720);
    if (width < 0) return; // a label cannot be narrower than nothing
    ImageWindowModel& win = state_.imageWindow(id);
    win.nameLabelWidth = width;
    state_.imageWindowUpdated(id);
}

// ---- Saving --------------------------------------------------------------------------------

bool Module::saveBmp(int slot, const QString& path) {
    if (!validSlot(slot)) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&file, "bmp");
    if (!writer.write(state_.imageWindow(slot).picture->image())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Module::saveImage(const QString& path) {
    const int id = currentId();
    BusyCursor busy;
    const QString kind = fileKind(path);
    int ran = 0, wrote = 0;
    if (kind == QLatin1String("bmp")) {
        ++ran;
        wrote += saveBmp(id, path);
    }
    if (kind == QLatin1String("mon") || state_.tool().rawOverride) {
        ++ran;
        PixelBuffer buf;
        wrote += slotFitsBuffer(id) && quarn_.Saveim(path, id, buf.data()) == 0;
    }
    if (kind == QLatin1String("csv")) {
        ++ran;
        PixelBuffer buf;
        wrote += slotFitsBuffer(id) && quarn_.Savecsv(path, id, buf.data()) == 0;
    }
    if (validSlot(id)) {
        state_.imageWindow(id).nameLabel = path;
        state_.imageWindowUpdated(id);
    }
    return ran > 0 && wrote == ran;
}

void Module::saveRectangle(const QString& path) {
    const int id = currentId();
    BusyCursor busy;
    const InfoFields& f = state_.info();
    const int32_t x1 = toInt32(f.hfx1).value_or(0), y1 = toInt32(f.hfy1).value_or(0);
    const int32_t x2 = toInt32(f.hfx2).value_or(0), y2 = toInt32(f.hfy2).value_or(0);
    const QString dx = QString::number(std::llabs(static_cast<int64_t>(x2) - x1));
    const QString dy = QString::number(std::llabs(static_cast<int64_t>(y2) - y1));
    const QString kind = fileKind(path);

    // Only a rectangle that was written changes the size fields.
    if ((kind == QLatin1String("mon") || state_.tool().rawOverride) && slotFitsBuffer(id)) {
        PixelBuffer buf;
        if (quarn_.Savert(path, x1, y1, x2, y2, id, buf.data()) == kStatusOk) {
            state_.setMx(dx);
            state_.setMy(dy);
        }
    }
    if (kind == QLatin1String("bmp") && slotFitsBuffer(id)) {
        const QString crop = QDir(quarn_.workFolder()).filePath(kCropFile);
        QFile::remove(crop);
        PixelBuffer buf;
        // Only a rectangle that was cut out replaces the slot and becomes the picture.
        if (quarn_.Savert(kCropFile, x1, y1, x2, y2, id, buf.data()) == kStatusOk) {
            state_.setMx(dx);
            state_.setMy(dy);
            const int w = currentWidth(), h = currentHeight();
            if (validSlot(id)) {
                Canvas& pic = *state_.imageWindow(id).picture;
                pic.resize(w, h);
                pic.clear();
            }
            PixelBuffer again;
            if (fits(w, h)) quarn_.Openim(kCropFile, w, h, id, again.data());
            drawSlot();
            QFile::remove(crop);
            saveBmp(id, path);
        }
        QFile::remove(crop);
    }
    fitNameLabel();
    if (validSlot(id)) {
        state_.imageWindow(id).nameLabel = path;
        state_.imageWindowUpdated(id);
    }
}

// ---- Display -------------------------------------------------------------------------------

void Module::drawSlot() {
    const int id = currentId();
    const int w = currentWidth(), h = currentHeight();
    BusyCursor busy;
    if (!fits(w, h)) return;
    // Elements past the slot's own size draw black.
    PixelBuffer buf;
    buf.zero(static_cast<int64_t>(w) * h);
    if (slotFitsBuffer(id)) quarn_.Toutim(id, buf.data());
    if (!validSlot(id)) return;
    state_.imageWindow(id).picture->drawGrey(buf.data(), w, h);
}

void Module::redrawAll() {
    BusyCursor busy;
    int32_t w = 0, h = 0;
    for (int s = 0; s < kSlots; ++s) {
        if (!state_.slotInUse(s)) continue;
        quarn_.Xyretid(s, &w, &h);
        state_.setMx(QString::number(w));
        state_.setMy(QString::number(h));
        state_.setId(QString::number(s));
        drawSlot();
    }
}

// ---- Operation commands --------------------------------------------------------------------

// The common shape of every operation command: the library is called only when every slot it
// reads fits the buffers; a status of 0 redraws the slot when the auto-draw box is ticked.
template <typename Call> int32_t Module::operation(std::initializer_list<int> reads, Call call) {
    BusyCursor busy;
    for (int s : reads)
        if (!slotFitsBuffer(s)) return kNotCalled;
    PixelBuffer buf, buf2;
    const int32_t status = call(buf.data(), buf2.data());
    if (status == kStatusOk && state_.autoDraw()) drawSlot();
    return status;
}

int32_t Module::doContrast() {
    const int id = currentId();
    const int low = int16Or(state_.tool().ct1), high = int16Or(state_.tool().ct2);
    return operation({id}, [&](double* b, double*) { return quarn_.Conim(low, high, id, b); });
}

int32_t Module::doMedian() {
    const int id = currentId();
    return operation({id}, [&](double* b, double*) { return quarn_.Medim(id, b); });
}

int32_t Module::doDifference() {
    const int id = currentId();
    const int a = int16Or(state_.tool().dpcb1[0]), b = int16Or(state_.tool().dpcb2[0]);
    return operation({id, a, b}, [&](double* p, double* q) { return quarn_.Dpim(a, b, id, p, q); });
}

// A threshold outside the grey levels (99999, which no 16-bit number holds, or a text that is no
// number) would binarize the picture all white or all black: it is refused with a message, and
// the box goes back to the threshold last used.
int32_t Module::doBinarize() {
    const int id = currentId();
    const auto threshold = toInt16(state_.tool().segt);
    if (!threshold || *threshold < 0 || *threshold > 255) {
        inform(
            QStringLiteral("二値化のしきい値「%1」は 0 から 255 までの数にしてください。%2 のままにします。")
                .arg(state_.tool().segt, acceptedThreshold_));
        state_.setSegt(acceptedThreshold_);
        return kNotCalled;
    }
    acceptedThreshold_ = QString::number(*threshold);
    return operation({id}, [&](double* b, double*) { return quarn_.Segmim(*threshold, id, b); });
}

int32_t Module::doOverValueCorrection() {
    const int id = currentId();
    return operation({id}, [&](double* b, double*) { return quarn_.Rofim(id, b); });
}

int32_t Module::doEdge(int mode) {
    const int id = currentId();
    if (mode == kModeFromWindow) mode = state_.tool().edgeOrdinary ? 1 : 0;
    return operation({id}, [&](double* b, double*) { return quarn_.Edgeim(mode, id, b); });
}

int32_t Module::doDustRemoval() {
    const int id = currentId();
    return operation({id}, [&](double* b, double*) { return quarn_.Dmim(id, b); });
}

int32_t Module::doGradationInvert() {
    const int id = currentId();
    return operation({id}, [&](double* b, double*) { return quarn_.Rdim(id, b); });
}

int32_t Module::doUndo() {
    const int id = currentId();
    return operation({id, id + 8}, [&](double* b, double* scratch) { return quarn_.Undoim(id, b, scratch); });
}

int32_t Module::doAxisFlip(int mode) {
    const int id = currentId();
    if (mode == kModeFromWindow) mode = state_.tool().flipUpDown ? 1 : 0;
    return operation({id}, [&](double* b, double* scratch) { return quarn_.Turnim(mode, id, b, scratch); });
}

int32_t Module::doComposite() {
    const int id = currentId();
    const int a = int16Or(state_.tool().dpcb1[1]), b = int16Or(state_.tool().dpcb2[1]);
    return operation({id, a, b}, [&](double* p, double* q) { return quarn_.Compoim(a, b, id, p, q); });
}

// ---- Toolbox -------------------------------------------------------------------------------

void Module::toolboxLoad() {
    state_.resetSlotList();
    for (int s = 0; s < kSlots; ++s)
        state_.setSlotInUse(s, false);
}

void Module::openButton() {
    if (auto path = dialogs_.openFileName(kOpenFilter)) openImage(*path, fileTitle(*path));
}

void Module::saveButton() {
    if (auto path = dialogs_.saveFileName(kSaveFilter)) saveImage(*path);
}

void Module::saveRectangleButton() {
    if (auto path = dialogs_.saveFileName(kSaveRectangleFilter)) saveRectangle(*path);
}

void Module::chooseSlot(int line) {
    if (line < 0 || line >= kSlots) return;
    state_.setId(QString::number(line));
}

// ---- Image windows -------------------------------------------------------------------------

void Module::imageWindowActivated(const QString& caption) {
    if (scriptRunning_) return;
    const int slot = slotFromCaption(caption);
    state_.setId(QString::number(slot));
    const int id = currentId();
    int32_t w = 0, h = 0;
    quarn_.Xyretid(id, &w, &h);
    state_.setMx(QString::number(w));
    state_.setMy(QString::number(h));
}

void Module::imageWindowClosed(int slot) {
    if (!validSlot(slot)) return;
    state_.setSlotListLine(slot, QStringLiteral("ID %1 empty").arg(slot));
    state_.setSlotInUse(slot, false);
    // The window is unloaded: shown again, it starts from its initial controls.
    ImageWindowModel& win = state_.imageWindow(slot);
    win.visible = false;
    win.caption = QStringLiteral("イメージ");
    win.nameLabel.clear();
    win.nameLabelWidth = twips(3000);
    win.picture->setPixelScale();
    win.picture->resize(twips(735), twips(615));
    win.picture->clear();
    state_.imageWindowUpdated(slot);
}

void Module::pictureMouseMove(int x, int y) {
    state_.setXy(QStringLiteral("%1-%2").arg(x).arg(y));
}

void Module::pictureMousePress(int x, int y) {
    state_.setHfx1(QString::number(x));
    state_.setHfy1(QString::number(y));
}

void Module::pictureMouseRelease(int x, int y) {
    state_.setHfx2(QString::number(x));
    state_.setHfy2(QString::number(y));
    orderSelectedRectangle();
}

void Module::selectionStart(double x, double y) {
    state_.setHfx1(coordinateText(x));
    state_.setHfy1(coordinateText(y));
}

void Module::selectionMove(double x, double y) {
    state_.setXy(coordinateText(x) + QLatin1Char('-') + coordinateText(y));
}

void Module::selectionEnd(double x, double y) {
    state_.setHfx2(coordinateText(x));
    state_.setHfy2(coordinateText(y));
    orderSelectedRectangle();
}

void Module::orderSelectedRectangle() {
    const InfoFields f = state_.info();
    if (numericValue(f.hfx1) > numericValue(f.hfx2)) {
        state_.setHfx1(f.hfx2);
        state_.setHfx2(f.hfx1);
    }
    if (numericValue(f.hfy1) > numericValue(f.hfy2)) {
        state_.setHfy1(f.hfy2);
        state_.setHfy2(f.hfy1);
    }
}

void Module::reloadFromNameLabel() {
    const int id = currentId();
    if (!validSlot(id)) return;
    const QString name = state_.imageWindow(id).nameLabel;
    openImage(name, name);
}

void Module::showImageWindow(int slot) {
    if (!validSlot(slot)) return;
    ImageWindowModel& win = state_.imageWindow(slot);
    win.visible = true;
    state_.imageWindowUpdated(slot);
}

// ---- Information window --------------------------------------------------------------------

void Module::drawSelectedRectangle() {
    const int id = currentId();
    const InfoFields& f = state_.info();
    if (!validSlot(id) || !isNumeric(f.hfx1) || !isNumeric(f.hfy1) || !isNumeric(f.hfx2) ||
        !isNumeric(f.hfy2))
        return;
    auto single = [](const QString& t) { return static_cast<double>(static_cast<float>(numericValue(t))); };
    state_.imageWindow(id).picture->box(single(f.hfx1), single(f.hfy1), single(f.hfx2), single(f.hfy2),
                                        Qt::black);
}

// ---- Main window ---------------------------------------------------------------------------

void Module::startUp(const QString& programFolder) {
    QSaveFile ini(QStringLiteral("Tovra.ini"));
    if (ini.open(QIODevice::WriteOnly)) {
        ini.write("\"" + QFile::encodeName(QDir::toNativeSeparators(programFolder) + QDir::separator()) +
                  "\"\r\n");
        ini.commit();
    }
    toolboxLoad();
    imageWindowActivated(QStringLiteral("イメージ")); // the default image window, shown and hidden
    state_.setMx(QStringLiteral("256"));
    state_.setMy(QStringLiteral("256"));
}

void Module::presetSize(int width, int height) {
    state_.setMx(QString::number(width));
    state_.setMy(QString::number(height));
}

void Module::deleteWorkFiles() {
    // Only what the program writes: the folder may hold the user's own files.
    QDir dir(quarn_.workFolder());
    for (const QString& name : workFileNames())
        dir.remove(name);
}

} // namespace tovra
