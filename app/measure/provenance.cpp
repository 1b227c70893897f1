#include "provenance.h"

#include "core/regular_file.h"
#include "version.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTimeZone>

namespace tovra {

InputFile inputFile(const QString& role, const QString& path) {
    InputFile f{role, path, -1, {}};
    QFile file;
    QString why;
    if (!openRegularFile(file, path, why)) return f;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 bytes = 0;
    QByteArray piece;
    while (!(piece = file.read(1 << 20)).isEmpty()) {
        hash.addData(piece);
        bytes += piece.size();
    }
    if (file.error() != QFileDevice::NoError) return f;
    f.bytes = bytes, f.sha256 = QString::fromLatin1(hash.result().toHex());
    return f;
}

QJsonObject Provenance::json() const {
    QJsonObject o;
    o[QStringLiteral("program")] = QStringLiteral("Tovra");
    o[QStringLiteral("version")] = QStringLiteral(TOVRA_VERSION);
    if (!command.isEmpty()) o[QStringLiteral("command")] = QJsonArray::fromStringList(command);
    if (!window.isEmpty()) o[QStringLiteral("window")] = window;
    o[QStringLiteral("settings")] = settings;
    QJsonArray files;
    for (const InputFile& f : inputs) {
        QJsonObject i;
        i[QStringLiteral("role")] = f.role;
        i[QStringLiteral("file")] = f.file;
        i[QStringLiteral("bytes")] = f.bytes >= 0 ? QJsonValue(static_cast<double>(f.bytes)) : QJsonValue();
        i[QStringLiteral("sha256")] = f.sha256.isEmpty() ? QJsonValue() : QJsonValue(f.sha256);
        files.append(i);
    }
    o[QStringLiteral("inputs")] = files;
    o[QStringLiteral("time")] = time;
    if (!part.isEmpty()) o[QStringLiteral("part")] = part;
    return o;
}

QByteArray Provenance::line() const {
    return QJsonDocument(json()).toJson(QJsonDocument::Compact);
}

QJsonObject settingsJson(const RunSettings& s) {
    auto numbers = [](const std::vector<int>& v) {
        QJsonArray a;
        for (int x : v)
            a.append(x);
        return v.empty() ? QJsonValue() : QJsonValue(a);
    };
    QJsonObject o;
    o[QStringLiteral("measurement")] = s.measurement;
    o[QStringLiteral("rect")] = numbers(s.rect);
    o[QStringLiteral("size")] = numbers(s.size);
    o[QStringLiteral("pixel_size_um")] = s.pixelSizeUm > 0 ? QJsonValue(s.pixelSizeUm) : QJsonValue();
    o[QStringLiteral("values")] = s.values;
    o[QStringLiteral("value_name")] = s.valueName;
    o[QStringLiteral("value_unit")] = s.valueUnit;
    o[QStringLiteral("language")] = s.language;
    return o;
}

QString provenanceTime() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

Provenance provenanceOf(const QStringList& command, const QString& window, const QJsonObject& settings,
                        const QStringList& files, const QString& background, const QString& valuesFile) {
    Provenance p;
    p.command = command, p.window = window, p.settings = settings;
    QSet<QString> seen;
    for (const QString& file : files) {
        if (seen.contains(file)) continue; // a stack's pages are one file
        seen.insert(file);
        p.inputs.push_back(inputFile(QStringLiteral("frame"), file));
    }
    if (!background.isEmpty()) p.inputs.push_back(inputFile(QStringLiteral("background"), background));
    if (!valuesFile.isEmpty()) p.inputs.push_back(inputFile(QStringLiteral("values"), valuesFile));
    p.time = provenanceTime();
    return p;
}

} // namespace tovra
