// A module over the real Quarn library, with its work folder and a data folder in a fresh
// temporary directory.
#pragma once

#include <QBuffer>
#include <QImage>

#include "core/module.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace tovra_test {

class ModuleTest : public ::testing::Test {
protected:
    ModuleTest()
        : work(QString::fromStdString((tmp.path() / "work").string())),
          data(QString::fromStdString((tmp.path() / "data").string())),
          quarn(QCoreApplication::applicationDirPath() + QStringLiteral("/Quarn"), work),
          module(state, quarn, dialogs) {
        QDir().mkpath(work);
        QDir().mkpath(data);
    }

    QString dataFile(const QString& name) const { return data + QLatin1Char('/') + name; }
    QString workFile(const QString& name) const { return work + QLatin1Char('/') + name; }

    // Writes raw bytes into the data folder; returns the full path.
    QString writeData(const QString& name, const std::string& bytes) const {
        testing_support::writeBytes(dataFile(name).toStdString(), bytes);
        return dataFile(name);
    }
    std::string workBytes(const QString& name) const {
        return testing_support::readBytes(workFile(name).toStdString());
    }
    std::string dataBytes(const QString& name) const {
        return testing_support::readBytes(dataFile(name).toStdString());
    }
    bool workExists(const QString& name) const { return QFile::exists(workFile(name)); }
    // cut.bmp, cut.jpg and cut.gif in the data folder: samples cut to a third of their bytes.
    void writeTruncatedSamples() const {
        for (const char* name : {"stripes_256.bmp", "stripes_256.jpg", "maze_256.gif"}) {
            const std::string whole = testing_support::readBytes(testing_support::projectSamplesDir() / name);
            writeData(QStringLiteral("cut.") + QString::fromLatin1(name).right(3),
                      whole.substr(0, whole.size() / 3));
        }
        // A TIFF (uncompressed, as Qt writes it) whose strip the cut leaves outside the file.
        QByteArray tiff;
        QBuffer buffer(&tiff);
        buffer.open(QIODevice::WriteOnly);
        QImage(64, 64, QImage::Format_Grayscale8).save(&buffer, "TIFF");
        writeData(QStringLiteral("cut.tif"), tiff.left(tiff.size() / 3).toStdString());
    }

    // Opens a raw image of the given bytes into the current slot with the given size.
    void openRaw(int slot, int w, int h, const std::string& bytes,
                 const QString& name = QStringLiteral("img.mon")) {
        state.setId(QString::number(slot));
        state.setMx(QString::number(w));
        state.setMy(QString::number(h));
        const QString path = writeData(name, bytes);
        module.openImage(path, name);
    }
    // The grey level drawn at (x, y) in a slot's picture.
    int drawn(int slot, int x, int y) { return qRed(state.imageWindow(slot).picture->image().pixel(x, y)); }

    testing_support::TempDir tmp;
    QString work;
    QString data;
    tovra::AppState state;
    tovra::QuarnBinder quarn;
    tovra::FileDialogs dialogs;
    tovra::Module module;
};

// The share of pixels whose black or white agrees with an ideal binarization (white = white).
inline double maskAgreement(const QImage& result, const QString& mask) {
    const QImage ideal(mask);
    if (ideal.size() != result.size() || ideal.isNull()) return 0.0;
    int64_t agree = 0;
    for (int y = 0; y < ideal.height(); ++y)
        for (int x = 0; x < ideal.width(); ++x)
            agree += (qRed(result.pixel(x, y)) >= 128) == (qRed(ideal.pixel(x, y)) >= 128);
    return static_cast<double>(agree) / (static_cast<double>(ideal.width()) * ideal.height());
}

// The records a measurement printed: every line after its first, which says where they came from
// (an object of the provenance alone, or for CSV its comment); nothing where that line is missing.
inline QStringList recordLines(const QByteArray& out) {
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || !(lines.front().startsWith(QLatin1String("{\"provenance\":{")) ||
                             lines.front().startsWith(QLatin1String("# provenance: {"))))
        return {};
    lines.removeFirst();
    return lines;
}

inline QString sampleFile(const char* name) {
    return QString::fromStdString((testing_support::projectSamplesDir() / name).string());
}

inline std::string ramp(int n, int step = 1) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * step) & 0xFF));
    return s;
}

} // namespace tovra_test
