#include "work_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tovra {

namespace {
constexpr int kWorkSlots = 17; // eight images, their undo copies and the Hough slot
}

bool prepareWorkFolder(const QString& folder, QString* reason) {
    auto fail = [&](const QString& why) {
        if (reason) *reason = why;
        return false;
    };
    if (folder.isEmpty()) return fail(QStringLiteral("no folder given"));
    if (!QDir().mkpath(folder)) return fail(QStringLiteral("%1 cannot be created").arg(folder));
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".tovra-probe-XXXXXX")));
    if (!probe.open()) return fail(QStringLiteral("no file can be written in %1").arg(folder));
    return true;
}

QString userWorkFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Tovra"));
}

QString defaultWorkFolder(const QString& programFolder) {
    return QFileInfo::exists(QDir(programFolder).filePath(QLatin1String(kInstalledMark))) ? userWorkFolder()
                                                                                          : programFolder;
}

WorkFolderChoice chooseWorkFolder(const QString& wanted) {
    const QString asked = QDir(wanted).absolutePath();
    if (prepareWorkFolder(asked)) return {asked, {}};
    const QString user = userWorkFolder();
    if (prepareWorkFolder(user))
        return {user, QStringLiteral("作業フォルダ %1 に書き込めないため、%2 を使います。").arg(asked, user)};
    return {{}, QStringLiteral("作業フォルダ %1 にも %2 にも書き込めません。").arg(asked, user)};
}

QStringList workFileNames() {
    QStringList names;
    for (int s = 0; s < kWorkSlots; ++s)
        names << QStringLiteral("%1_im.tmp").arg(s) << QStringLiteral("%1_inf.tmp").arg(s);
    names << QStringLiteral("srt.tmp") << QStringLiteral("hf.tmp");
    return names;
}

} // namespace tovra
