#include "batch.h"

#include "busy_cursor.h"
#include "numeric.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tovra {

namespace {

// A line whose value is the number 0 closes a list.
bool closesList(const QString& line) {
    return isNumeric(line) && numericValue(line) == 0;
}

} // namespace

std::optional<Script> parseScript(const QByteArray& text) {
    QList<QByteArray> raw = text.split('\n');
    if (!raw.isEmpty() && raw.back().isEmpty()) raw.removeLast(); // the final line end
    QStringList lines;
    for (QByteArray& l : raw) {
        if (l.endsWith('\r')) l.chop(1);
        lines << QString::fromLocal8Bit(l);
    }
    if (lines.size() < 5) return std::nullopt;
    Script s;
    s.width = lines[0].trimmed();
    s.height = lines[1].trimmed();
    s.slot = lines[2].trimmed();
    s.referenceSlot = int16Or(lines[3]);
    s.referenceName = lines[4].trimmed();
    qsizetype i = 5;
    for (; i < lines.size(); ++i) {
        const auto code = toInt16(lines[i]);
        if (!code) continue;
        if (*code == 0) {
            ++i;
            break;
        }
        s.operations.push_back(*code);
    }
    for (; i < lines.size(); ++i) {
        const QString name = lines[i].trimmed();
        if (name.isEmpty()) continue;
        if (closesList(name)) break;
        s.files << name;
    }
    return s;
}

QString scriptPath(const QString& scriptFolder, const QString& name) {
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(n)) return QDir::cleanPath(n);
    return QDir::cleanPath(scriptFolder + QLatin1Char('/') + n);
}

BatchRunner::Outcome BatchRunner::run(const QString& scriptFile) {
    Outcome outcome;
    BusyCursor busy;
    QFile file(scriptFile);
    std::optional<Script> script;
    if (file.open(QIODevice::ReadOnly)) script = parseScript(file.readAll());
    if (!script) {
        if (onReport) onReport(QStringLiteral("%1: not a batch script that can be read").arg(scriptFile));
        return outcome;
    }
    outcome.scriptRead = true;
    outcome.files = static_cast<int>(script->files.size());
    const QString folder = QFileInfo(scriptFile).absolutePath();
    AppState& st = module_.state();
    st.setMx(script->width);
    st.setMy(script->height);
    st.setId(script->slot);

    Module::ScriptRun running(module_);
    for (int i = 0; i < script->files.size(); ++i) {
        const QString name = script->files[i];
        const QString path = scriptPath(folder, name);
        if (onFile) onFile(i + 1, outcome.files, name);
        // A file that cannot be read is not processed: its result would be the previous file's.
        if (!module_.openImage(path, QFileInfo(path).fileName())) {
            if (onReport) onReport(QStringLiteral("%1: skipped, the image cannot be read").arg(name));
            continue;
        }
        ++outcome.read;
        const QString base = path.left(path.size() - 4);
        QStringList saved;
        bool complete = true;
        for (int16_t code : script->operations) {
            if (!runOperation(code, *script, folder, base, saved, outcome)) {
                complete = false;
                break;
            }
        }
        if (!onReport) continue;
        if (!complete)
            onReport(QStringLiteral("%1: stopped, the reference image %2 cannot be read")
                         .arg(name, script->referenceName));
        else if (saved.isEmpty())
            onReport(QStringLiteral("%1: done, nothing saved").arg(name));
        else
            onReport(QStringLiteral("%1: %2").arg(name, saved.join(QStringLiteral(", "))));
    }
    return outcome;
}

bool BatchRunner::runOperation(int16_t code, const Script& script, const QString& folder, const QString& base,
                               QStringList& saved, Outcome& outcome) {
    AppState& st = module_.state();
    auto save = [&](const QString& extension) {
        const QString path = base + extension;
        const bool ok = module_.saveImage(path);
        if (!ok) ++outcome.savesFailed;
        saved << (ok ? QStringLiteral("saved %1").arg(QFileInfo(path).fileName())
                     : QStringLiteral("could not save %1").arg(QFileInfo(path).fileName()));
    };
    switch (code) {
    case 10:
        module_.doMedian();
        break;
    case 20:
    case 30: {
        // The reference image is loaded afresh for every difference.
        st.setId(QString::number(script.referenceSlot));
        const bool loaded = module_.openImage(scriptPath(folder, script.referenceName),
                                              QFileInfo(scriptPath(folder, script.referenceName)).fileName());
        st.setId(script.slot);
        if (!loaded) return false;
        const QString work = QString::number(module_.currentId()),
                      ref = QString::number(script.referenceSlot);
        if (code == 20)
            st.setDifferenceSources(work, ref);
        else
            st.setDifferenceSources(ref, work);
        module_.doDifference();
        break;
    }
    case 40:
        module_.doBinarize();
        break;
    case 50:
        module_.doOverValueCorrection();
        break;
    case 60:
        module_.doEdge(0);
        break;
    case 65:
        module_.doEdge(1);
        break;
    case 70:
        module_.doDustRemoval();
        break;
    case 80:
        module_.doGradationInvert();
        break;
    case 90:
    case 95:
        if (makeHistogram) makeHistogram(code == 90 ? 0 : 1);
        break;
    case 100:
        if (!st.autoDraw()) module_.drawSlot();
        save(QStringLiteral(".bmp"));
        break;
    case 110:
        save(QStringLiteral(".mon"));
        break;
    case 120:
        save(QStringLiteral(".csv"));
        break;
    case 130:
        module_.doContrast();
        break;
    case 140:
        module_.doAxisFlip(0);
        break;
    case 145:
        module_.doAxisFlip(1);
        break;
    default:
        break; // codes outside the table do nothing
    }
    return true;
}

} // namespace tovra
