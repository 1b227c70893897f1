// The in-memory engine against the image slots: random scripts over the same files, run both
// ways, must leave the same files, byte for byte, and the same report lines.
#include "core/batch_engine.h"
#include "histogram/histogram.h"
#include "support/module_fixture.h"

#include <QDirIterator>
#include <QImage>
#include <map>
#include <random>
#include <sys/stat.h>

using namespace tovra;
using namespace tovra_test;

namespace {

using Files = std::map<QString, std::string>;

Files contents(const QString& folder) {
    Files out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out[QDir(folder).relativeFilePath(path)] = testing_support::readBytes(path.toStdString());
    }
    return out;
}

struct WayResult {
    QStringList lines;
    int read = 0, failed = 0, savesFailed = 0;
};

class EngineTest : public ModuleTest {
protected:
    std::mt19937 gen{1234};

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
    std::string bytes(size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(pick(0, 255) / (pick(0, 3) == 0 ? 1 : 64) * (pick(0, 3) == 0 ? 1 : 64));
        return s;
    }

    // The files a script reads, in `folder`: raw images, one too short, a CSV image, a picture,
    // a reference, a folder and a missing name.
    void makeFiles(const QString& folder, int w, int h) {
        QDir().mkpath(folder);
        auto put = [&](const char* name, const std::string& b) {
            testing_support::writeBytes((folder + QLatin1Char('/') + QLatin1String(name)).toStdString(), b);
        };
        const size_t n = static_cast<size_t>(w) * h;
        put("a.mon", bytes(n));
        put("b.mon", bytes(n));
        put("c.mon", bytes(n));
        put("short.mon", bytes(n / 2));
        put("ref.mon", bytes(n));
        std::string csv;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                csv += std::to_string(pick(-40, 300)) + (x + 1 < w ? "," : "\r\n");
        put("d.csv", csv);
        QImage picture(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                picture.setPixel(x, y, qRgb(pick(0, 255), pick(0, 255), pick(0, 255)));
        picture.save(folder + QStringLiteral("/e.bmp"), "BMP");
        QDir().mkpath(folder + QStringLiteral("/dir.mon"));
        // Two more names for a.mon: a link beside it and the same name through a linked folder.
        QFile::link(QStringLiteral("a.mon"), folder + QStringLiteral("/l.mon"));
        QFile::link(QStringLiteral("."), folder + QStringLiteral("/ld"));
    }

    std::string randomScript(int w, int h, bool pictures) {
        static const int16_t codes[] = {10, 20, 30,  40,  50,  60,  65,  70,  80,
                                        90, 95, 100, 110, 120, 130, 140, 145, 15};
        std::string s = std::to_string(w) + "\n" + std::to_string(h) + "\n0\n1\nref.mon\n";
        for (int i = pick(1, 7); i > 0; --i)
            s += std::to_string(codes[pick(0, std::size(codes) - 1)]) + "\n";
        s += "0\n";
        std::vector<const char*> names = {"a.mon",   "b.mon", "c.mon", "short.mon", "missing.mon",
                                          "dir.mon", "d.csv", "l.mon", "ld/a.mon"};
        if (pictures) names.push_back("e.bmp");
        for (int i = pick(1, 6); i > 0; --i)
            s += std::string(names[pick(0, static_cast<int>(names.size()) - 1)]) + "\n";
        return s + "0\n";
    }

    WayResult slotPath(const QString& script, const QString& workFolder, const engine::Settings& s) {
        AppState st;
        QuarnBinder binder(QCoreApplication::applicationDirPath() + QStringLiteral("/Quarn"), workFolder);
        FileDialogs d;
        Module m(st, binder, d);
        HistogramModule histogram(m);
        BatchRunner runner(m);
        st.setSegt(QString::number(s.threshold));
        st.setCt1(QString::number(s.contrastLow));
        st.setCt2(QString::number(s.contrastHigh));
        st.setRawOverride(s.rawOverride);
        st.setAutoDraw(s.autoDraw);
        WayResult r;
        runner.makeHistogram = [&](int mode) { return histogram.makeHistogram(mode); };
        runner.onReport = [&](const QString& line) { r.lines << line; };
        const auto outcome = runner.run(script);
        r.read = outcome.read, r.failed = outcome.failed, r.savesFailed = outcome.savesFailed;
        m.deleteWorkFiles();
        return r;
    }

    WayResult enginePath(const QString& script, engine::Settings s) {
        const ScriptReading reading = readScript(script);
        EXPECT_TRUE(reading.script);
        WayResult r;
        if (!reading.script) return r;
        engine::Callbacks callbacks;
        callbacks.onReport = [&](const std::string& line) { r.lines << QString::fromStdString(line); };
        const auto outcome = engine::run(engineJob(*reading.script, QFileInfo(script).absolutePath()), s,
                                         qtPictureReader(), callbacks);
        r.read = outcome.read, r.failed = outcome.failed, r.savesFailed = outcome.savesFailed;
        return r;
    }
};

} // namespace

TEST_F(EngineTest, RandomScriptsGiveTheSameFilesAndLinesBothWays) {
    for (int round = 0; round < 40; ++round) {
        const int w = pick(1, 3) == 1 ? pick(1, 4) : pick(6, 40), h = pick(1, 30);
        const bool pictures = round % 4 == 0;
        const std::string script = randomScript(w, h, pictures);
        engine::Settings s;
        s.threshold = pick(0, 255);
        s.contrastLow = pick(0, 128), s.contrastHigh = pick(100, 255);
        s.rawOverride = pick(0, 9) == 0;
        s.autoDraw = pick(0, 1) == 1;
        const QString root = data + QStringLiteral("/r%1").arg(round);
        std::map<QString, WayResult> runs;
        std::map<QString, Files> files;
        const std::mt19937 seed = gen;
        for (const char* way : {"slots", "engine", "jobs"}) {
            gen = seed; // the same files each way
            const QString folder = root + QLatin1Char('/') + QLatin1String(way);
            makeFiles(folder + QStringLiteral("/data"), w, h);
            testing_support::writeBytes((folder + QStringLiteral("/data/s.tvs")).toStdString(), script);
            QDir().mkpath(folder + QStringLiteral("/work"));
            s.workFolder = (folder + QStringLiteral("/work")).toStdString();
            s.jobs = QLatin1String(way) == QLatin1String("jobs") ? 3 : 1;
            runs[way] =
                QLatin1String(way) == QLatin1String("slots")
                    ? slotPath(folder + QStringLiteral("/data/s.tvs"), folder + QStringLiteral("/work"), s)
                    : enginePath(folder + QStringLiteral("/data/s.tvs"), s);
            files[way] = contents(folder);
        }
        for (const char* way : {"engine", "jobs"}) {
            EXPECT_EQ(runs[way].lines, runs["slots"].lines) << way << "\n" << script;
            EXPECT_EQ(runs[way].read, runs["slots"].read) << way;
            EXPECT_EQ(runs[way].failed, runs["slots"].failed) << way;
            EXPECT_EQ(runs[way].savesFailed, runs["slots"].savesFailed) << way;
            ASSERT_EQ(files[way].size(), files["slots"].size()) << way << "\n" << script;
            for (const auto& [name, content] : files["slots"]) {
                ASSERT_TRUE(files[way].count(name)) << way << " " << name.toStdString() << "\n" << script;
                EXPECT_TRUE(files[way].at(name) == content) << way << " " << name.toStdString() << "\n"
                                                            << script;
            }
        }
    }
}
