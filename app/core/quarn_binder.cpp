#include "quarn_binder.h"

#include <QDir>
#include <QFile>

namespace tovra {

WorkFolderScope::WorkFolderScope(const QString& folder)
    : saved_(QDir::currentPath()), entered_(!folder.isEmpty() && QDir::setCurrent(folder)) {}
WorkFolderScope::~WorkFolderScope() {
    QDir::setCurrent(saved_);
}

QuarnBinder::QuarnBinder(const QString& libraryPath, QString workFolder)
    : library_(libraryPath), workFolder_(std::move(workFolder)) {}

template <typename Fn, typename... Args>
int32_t QuarnBinder::call(const char* name, void*& address, Args... args) {
    if (address == nullptr) {
        address = reinterpret_cast<void*>(library_.resolve(name));
        if (address == nullptr) return kUnbound;
    }
    // Work files never go to whatever folder happens to be current.
    WorkFolderScope scope(workFolder_);
    if (!scope.entered()) return kUnbound;
    return reinterpret_cast<Fn*>(address)(args...);
}

namespace {
// File names go to the library in the system's 8-bit encoding.
QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}
} // namespace

// Each export's address is kept in the slot its own name indexes, so two exports can never share one.
#define QUARN_CALL(name, signature, ...)                                                                     \
    call<signature>(#name, addresses_[static_cast<int>(Export::name)], __VA_ARGS__)

using I = int32_t;

I QuarnBinder::Openim(const QString& p, I w, I h, I id, double* b) {
    return QUARN_CALL(Openim, I(const char*, I, I, I, double*), native(p).constData(), w, h, id, b);
}
I QuarnBinder::Opencsv(const QString& p, I w, I h, I id, double* b) {
    return QUARN_CALL(Opencsv, I(const char*, I, I, I, double*), native(p).constData(), w, h, id, b);
}
I QuarnBinder::Openxim(I w, I h, I id, double* b) {
    return QUARN_CALL(Openxim, I(I, I, I, double*), w, h, id, b);
}
I QuarnBinder::Toutim(I id, double* b) {
    return QUARN_CALL(Toutim, I(I, double*), id, b);
}
I QuarnBinder::Saveim(const QString& p, I id, double* b) {
    return QUARN_CALL(Saveim, I(const char*, I, double*), native(p).constData(), id, b);
}
I QuarnBinder::Savecsv(const QString& p, I id, double* b) {
    return QUARN_CALL(Savecsv, I(const char*, I, double*), native(p).constData(), id, b);
}
I QuarnBinder::Savert(const QString& p, I x0, I y0, I x1, I y1, I id, double* b) {
    return QUARN_CALL(Savert, I(const char*, I, I, I, I, I, double*), native(p).constData(), x0, y0, x1, y1,
                      id, b);
}
I QuarnBinder::Xyretid(I id, I* w, I* h) {
    return QUARN_CALL(Xyretid, I(I, I*, I*), id, w, h);
}
I QuarnBinder::Conim(I lo, I hi, I id, double* b) {
    return QUARN_CALL(Conim, I(I, I, I, double*), lo, hi, id, b);
}
I QuarnBinder::Segmim(I t, I id, double* b) {
    return QUARN_CALL(Segmim, I(I, I, double*), t, id, b);
}
I QuarnBinder::Rofim(I id, double* b) {
    return QUARN_CALL(Rofim, I(I, double*), id, b);
}
I QuarnBinder::Rdim(I id, double* b) {
    return QUARN_CALL(Rdim, I(I, double*), id, b);
}
I QuarnBinder::Medim(I id, double* b) {
    return QUARN_CALL(Medim, I(I, double*), id, b);
}
I QuarnBinder::Edgeim(I f, I id, double* b) {
    return QUARN_CALL(Edgeim, I(I, I, double*), f, id, b);
}
I QuarnBinder::Dmim(I id, double* b) {
    return QUARN_CALL(Dmim, I(I, double*), id, b);
}
I QuarnBinder::Turnim(I m, I id, double* b, double* s) {
    return QUARN_CALL(Turnim, I(I, I, double*, double*), m, id, b, s);
}
I QuarnBinder::Dpim(I a, I b, I d, double* p, double* q) {
    return QUARN_CALL(Dpim, I(I, I, I, double*, double*), a, b, d, p, q);
}
I QuarnBinder::Compoim(I a, I b, I d, double* p, double* q) {
    return QUARN_CALL(Compoim, I(I, I, I, double*, double*), a, b, d, p, q);
}
I QuarnBinder::Undoim(I id, double* b, double* s) {
    return QUARN_CALL(Undoim, I(I, double*, double*), id, b, s);
}
I QuarnBinder::Hist(I m, I* r, I n, I id, double* b) {
    return QUARN_CALL(Hist, I(I, I*, I, I, double*), m, r, n, id, b);
}
I QuarnBinder::Lhist(I x, I y, I n, I m, I id, double* b) {
    return QUARN_CALL(Lhist, I(I, I, I, I, I, double*), x, y, n, m, id, b);
}
I QuarnBinder::Hcc(I x0, I y0, I x1, I y1, I* bound, double step, double* slope, double* intercept, I id,
                   double* b, double* acc) {
    return QUARN_CALL(Hcc, I(I, I, I, I, I*, double, double*, double*, I, double*, double*), x0, y0, x1, y1,
                      bound, step, slope, intercept, id, b, acc);
}

#undef QUARN_CALL

} // namespace tovra
