#include "batch.h"

#include "busy_cursor.h"
#include "numeric.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace tovra {

namespace {

// A line whose value is the number 0 closes a list.
bool closesList(const QString& line) {
    return isNumeric(line) && numericValue(line) == 0;
}

// A whole number written as one ("12", " 7 "), not "12.5", "1e3" or "abc".
std::optional<int> wholeNumber(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

QString decodeScript(const QByteArray& text) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString asUtf8 = utf8.decode(text);
    if (!utf8.hasError()) return asUtf8;
    QStringDecoder sjis("Shift_JIS");
    if (sjis.isValid()) {
        QString asSjis = sjis.decode(text);
        if (!sjis.hasError()) return asSjis;
    }
    return asUtf8;
}

} // namespace

bool Script::usesReference() const {
    return std::any_of(operations.begin(), operations.end(), [](int16_t c) {
        return c == kCodeDifferenceWorkFirst || c == kCodeDifferenceReferenceFirst;
    });
}

std::optional<Script> parseScript(const QByteArray& text) {
    QStringList lines = decodeScript(text).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast(); // the final line end
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (lines.size() < 5) return std::nullopt;
    Script s;
    s.width = lines[0].trimmed();
    s.height = lines[1].trimmed();
    s.slot = lines[2].trimmed();
    s.referenceSlot = lines[3].trimmed();
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

std::optional<ScriptRefusal> checkHeader(const Script& s) {
    const auto w = wholeNumber(s.width), h = wholeNumber(s.height);
    if (!w || *w < 1)
        return ScriptRefusal{1, QStringLiteral("the width \"%1\" is not a whole number from 1").arg(s.width),
                             QStringLiteral("幅「%1」が 1 以上の整数ではありません").arg(s.width)};
    if (!h || *h < 1)
        return ScriptRefusal{2,
                             QStringLiteral("the height \"%1\" is not a whole number from 1").arg(s.height),
                             QStringLiteral("高さ「%1」が 1 以上の整数ではありません").arg(s.height)};
    if (static_cast<int64_t>(*w) * *h > kBufferCapacity)
        return ScriptRefusal{
            2,
            QStringLiteral("%1 x %2 is more than the %3 pixels an image may have")
                .arg(*w)
                .arg(*h)
                .arg(kBufferCapacity),
            QStringLiteral("%1 × %2 は画像の上限 %3 画素を超えます").arg(*w).arg(*h).arg(kBufferCapacity)};
    const auto slot = wholeNumber(s.slot), ref = wholeNumber(s.referenceSlot);
    if (!slot || *slot < 0 || *slot >= kSlots)
        return ScriptRefusal{3, QStringLiteral("the working slot \"%1\" is not one of 0 to 7").arg(s.slot),
                             QStringLiteral("作業スロット「%1」が 0～7 ではありません").arg(s.slot)};
    if (!ref || *ref < 0 || *ref >= kSlots)
        return ScriptRefusal{
            4, QStringLiteral("the reference slot \"%1\" is not one of 0 to 7").arg(s.referenceSlot),
            QStringLiteral("参照スロット「%1」が 0～7 ではありません").arg(s.referenceSlot)};
    if (*ref == *slot)
        return ScriptRefusal{4, QStringLiteral("the reference slot is the working slot"),
                             QStringLiteral("参照スロットが作業スロットと同じです")};
    if (s.usesReference() && (s.referenceName.isEmpty() || fileKind(s.referenceName) == QLatin1String("tvs")))
        return ScriptRefusal{
            5, QStringLiteral("the reference image \"%1\" is not an image name").arg(s.referenceName),
            QStringLiteral("参照画像「%1」が画像ファイル名ではありません").arg(s.referenceName)};
    return std::nullopt;
}

QString scriptPath(const QString& scriptFolder, const QString& name) {
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(n)) return QDir::cleanPath(n);
    return QDir::cleanPath(scriptFolder + QLatin1Char('/') + n);
}

QString outputBase(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name; // ".mon" alone is a name, not an extension
    return info.dir().path() + QLatin1Char('/') + base;
}

struct BatchRunner::FileRun {
    QString base;
    QStringList saved;
    QString stopped; // why the file stopped, when it did
};

ScriptReading readScript(const QString& scriptFile) {
    ScriptReading r;
    QFile file(scriptFile);
    // Only a regular file: a FIFO would block the run before it starts.
    if (QFileInfo(scriptFile).isFile() && file.open(QIODevice::ReadOnly))
        r.script = parseScript(file.readAll());
    if (!r.script) {
        r.problem = QStringLiteral("%1: not a batch script that can be read").arg(scriptFile);
        return r;
    }
    std::optional<ScriptRefusal> refused = checkHeader(*r.script);
    // A reference that cannot be read would stop every file only when code 20/30 comes, after
    // the operations before it have saved over their sources.
    if (!refused && r.script->usesReference()) {
        QFile reference(scriptPath(QFileInfo(scriptFile).absolutePath(), r.script->referenceName));
        if (!QFileInfo(reference).isFile() || !reference.open(QIODevice::ReadOnly))
            refused = ScriptRefusal{
                5, QStringLiteral("the reference image \"%1\" cannot be read").arg(r.script->referenceName),
                QStringLiteral("参照画像「%1」を読めません").arg(r.script->referenceName)};
    }
    if (refused) {
        r.problem = QStringLiteral("%1: line %2: %3").arg(scriptFile).arg(refused->line).arg(refused->reason);
        r.refusal = std::move(refused);
        r.script.reset();
    }
    return r;
}

BatchRunner::Outcome BatchRunner::run(const QString& scriptFile) {
    Outcome outcome;
    BusyCursor busy;
    ScriptReading reading = readScript(scriptFile);
    if (!reading.script) {
        report(reading.problem);
        outcome.refusal = std::move(reading.refusal);
        return outcome;
    }
    const std::optional<Script>& script = reading.script;
    outcome.scriptRead = true;
    outcome.files = static_cast<int>(script->files.size());
    const QString folder = QFileInfo(scriptFile).absolutePath();
    AppState& st = module_.state();
    st.setMx(script->width);
    st.setMy(script->height);
    st.setId(script->slot);

    Module::ScriptRun running(module_);
    for (int i = 0; i < script->files.size(); ++i) {
        if (onFile) onFile(i + 1, outcome.files, script->files[i]);
        runFile(*script, folder, script->files[i], outcome);
    }
    return outcome;
}

void BatchRunner::runFile(const Script& script, const QString& folder, const QString& name,
                          Outcome& outcome) {
    const QString path = scriptPath(folder, name);
    const QString kind = fileKind(name);
    // One script runs at a time: a script in the list would run inside this one.
    if (kind == QLatin1String("tvs")) {
        report(QStringLiteral("%1: skipped, a script is not an image").arg(name));
        return;
    }
    // A raw file of another size than the script names would be padded or cut into a wrong image
    // that then replaces its source.
    if (kind == QLatin1String("mon") || module_.state().tool().rawOverride) {
        const int64_t expected = static_cast<int64_t>(module_.currentWidth()) * module_.currentHeight();
        const QFileInfo info(path);
        if (info.isFile() && info.size() != expected) {
            report(QStringLiteral("%1: skipped, its %2 bytes are not the %3 x %4 image the script names")
                       .arg(name)
                       .arg(info.size())
                       .arg(module_.currentWidth())
                       .arg(module_.currentHeight()));
            return;
        }
    }
    // A file that cannot be read is not processed: its result would be the previous file's.
    if (!module_.openImage(path, QFileInfo(path).fileName())) {
        report(QStringLiteral("%1: skipped, the image cannot be read").arg(name));
        return;
    }
    ++outcome.read;
    FileRun run{outputBase(path), {}, {}};
    for (int16_t code : script.operations) {
        if (!runOperation(code, script, folder, run, outcome)) {
            ++outcome.failed;
            QStringList parts = run.saved;
            parts << run.stopped;
            report(QStringLiteral("%1: %2").arg(name, parts.join(QStringLiteral(", "))));
            return;
        }
    }
    if (run.saved.isEmpty())
        report(QStringLiteral("%1: done, nothing saved").arg(name));
    else
        report(QStringLiteral("%1: %2").arg(name, run.saved.join(QStringLiteral(", "))));
}

bool BatchRunner::runOperation(int16_t code, const Script& script, const QString& folder, FileRun& file,
                               Outcome& outcome) {
    AppState& st = module_.state();
    auto save = [&](const QString& extension) {
        const QString path = file.base + extension;
        const bool ok = module_.saveImage(path);
        if (!ok) ++outcome.savesFailed;
        file.saved << (ok ? QStringLiteral("saved %1").arg(QFileInfo(path).fileName())
                          : QStringLiteral("could not save %1").arg(QFileInfo(path).fileName()));
        return true;
    };
    auto check = [&](int32_t status) {
        if (status == kStatusOk) return true;
        file.stopped = QStringLiteral("stopped, operation %1 failed with status %2").arg(code).arg(status);
        return false;
    };
    switch (code) {
    case kCodeMedian:
        return check(module_.doMedian());
    case kCodeDifferenceWorkFirst:
    case kCodeDifferenceReferenceFirst: {
        // The reference image is loaded afresh for every difference.
        const QString reference = scriptPath(folder, script.referenceName);
        st.setId(script.referenceSlot);
        const bool loaded = module_.openImage(reference, QFileInfo(reference).fileName());
        st.setId(script.slot);
        if (!loaded) {
            file.stopped =
                QStringLiteral("stopped, the reference image %1 cannot be read").arg(script.referenceName);
            return false;
        }
        if (code == kCodeDifferenceWorkFirst)
            st.setDifferenceSources(script.slot, script.referenceSlot);
        else
            st.setDifferenceSources(script.referenceSlot, script.slot);
        return check(module_.doDifference());
    }
    case kCodeBinarize:
        return check(module_.doBinarize());
    case kCodeOverValue:
        return check(module_.doOverValueCorrection());
    case kCodeEdgeTwoLevel:
        return check(module_.doEdge(0));
    case kCodeEdgeOrdinary:
        return check(module_.doEdge(1));
    case kCodeDust:
        return check(module_.doDustRemoval());
    case kCodeInvert:
        return check(module_.doGradationInvert());
    case kCodeHistogramPeak:
    case kCodeHistogramMean:
        return !makeHistogram || check(makeHistogram(code == kCodeHistogramPeak ? 0 : 1));
    case kCodeSaveBmp:
        if (!st.autoDraw()) module_.drawSlot();
        return save(QStringLiteral(".bmp"));
    case kCodeSaveRaw:
        return save(QStringLiteral(".mon"));
    case kCodeSaveCsv:
        return save(QStringLiteral(".csv"));
    case kCodeContrast:
        return check(module_.doContrast());
    case kCodeFlipLeftRight:
        return check(module_.doAxisFlip(0));
    case kCodeFlipUpDown:
        return check(module_.doAxisFlip(1));
    default:
        return true; // codes outside the table do nothing
    }
}

} // namespace tovra
