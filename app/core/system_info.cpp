#include "system_info.h"

#include "quarn_binder.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QSysInfo>
#include <QThread>
#include <QtGlobal>
#include <unistd.h>

namespace tovra {

namespace {

// The image libraries this process has loaded, as the system's map of the process lists them.
QStringList loadedImageLibraries() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    QStringList found;
    if (!maps.open(QIODevice::ReadOnly)) return found;
    QSet<QString> seen;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash < 0) continue;
        const QString path = QString::fromLocal8Bit(line.mid(slash));
        const QString name = QFileInfo(path).fileName();
        if ((name.startsWith(QLatin1String("libQuarn")) || name.startsWith(QLatin1String("libQt6"))) &&
            !seen.contains(path)) {
            seen.insert(path);
            found << path;
        }
    }
    return found;
}

QString memoryText() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return QStringLiteral("不明");
    return QStringLiteral("%1 MiB").arg(static_cast<qint64>(pages) * size / (qint64{1024} * 1024));
}

} // namespace

QString systemInformation(const QuarnBinder& quarn) {
    QStringList lines;
    lines << QStringLiteral("Tovra %1").arg(QStringLiteral(TOVRA_VERSION))
          << QStringLiteral("Qt %1 (ビルド時 %2)")
                 .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR))
          << QStringLiteral("OS: %1 (%2 %3, %4)")
                 .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                      QSysInfo::currentCpuArchitecture())
          << QStringLiteral("CPU のコア数: %1").arg(QThread::idealThreadCount())
          << QStringLiteral("メモリ: %1").arg(memoryText())
          << QStringLiteral("作業フォルダ: %1").arg(QDir::toNativeSeparators(quarn.workFolder()))
          << QStringLiteral("画像処理ライブラリ: %1").arg(quarn.libraryFile());
    const QStringList loaded = loadedImageLibraries();
    if (!loaded.isEmpty()) lines << QStringLiteral("読み込まれたライブラリ:") << loaded;
    return lines.join(QLatin1Char('\n'));
}

} // namespace tovra
