#include "batch_engine.h"

#include <QFile>
#include <QFileInfo>

namespace tovra {

namespace {
std::string native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
} // namespace

engine::Job engineJob(const Script& script, const QString& scriptFolder, int part, int parts) {
    engine::Job job;
    job.width = script.width.trimmed().toInt();
    job.height = script.height.trimmed().toInt();
    job.operations = script.operations;
    const QString reference = scriptPath(scriptFolder, script.referenceName);
    job.referenceName = script.referenceName.toStdString();
    job.referencePath = native(reference);
    job.referenceTitle = native(QFileInfo(reference).fileName());
    for (qsizetype i = part - 1; i < script.files.size(); i += parts) {
        const QString path = scriptPath(scriptFolder, script.files[i]);
        job.files.push_back({script.files[i].toStdString(), native(path), native(QFileInfo(path).fileName()),
                             native(outputBase(path))});
    }
    return job;
}

engine::PictureReader qtPictureReader() {
    return [](const std::string& path, const std::string& kind, engine::Picture& out) {
        const auto picture =
            readPictureFile(QFile::decodeName(QByteArray::fromStdString(path)), QString::fromStdString(kind));
        if (!picture) return false;
        const QImage& rgb = picture->rgb;
        out.width = picture->width;
        out.height = picture->height;
        out.pixelWidth = rgb.width();
        out.pixelHeight = rgb.height();
        out.rgb.resize(static_cast<size_t>(rgb.width()) * rgb.height());
        for (int y = 0; y < rgb.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            std::copy(line, line + rgb.width(), out.rgb.begin() + static_cast<qsizetype>(y) * rgb.width());
        }
        return true;
    };
}

} // namespace tovra
