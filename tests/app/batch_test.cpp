#include "core/batch.h"
#include "histogram/histogram.h"
#include "support/module_fixture.h"

#include <QFile>
#include <QImage>
#include <QStringEncoder>
#include <sys/stat.h>

using namespace tovra;
using namespace tovra_test;

TEST(ScriptText, ListsAndLineEnds) {
    const auto s =
        parseScript("512\r\n512\r\n0\r\n1\r\nback.mon\r\n20\r\n40\r\n110\r\n0\r\na.mon\r\nb.mon\r\n0\r\n");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, QStringLiteral("512"));
    EXPECT_EQ(s->slot, QStringLiteral("0"));
    EXPECT_EQ(s->referenceSlot, QStringLiteral("1"));
    EXPECT_EQ(s->referenceName, QStringLiteral("back.mon"));
    EXPECT_EQ(s->operations, (std::vector<int16_t>{20, 40, 110}));
    EXPECT_EQ(s->files, (QStringList{QStringLiteral("a.mon"), QStringLiteral("b.mon")}));
    const auto lf = parseScript("8\n8\n2\n3\nr.mon\n10\n0\nx.mon\n0\nignored.mon\n");
    ASSERT_TRUE(lf);
    EXPECT_EQ(lf->files, QStringList{QStringLiteral("x.mon")});
}

TEST(ScriptText, EmptyListsAndMalformedLines) {
    const auto empty = parseScript("8\n8\n0\n1\nr.mon\n0\n0\n");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->operations.empty());
    EXPECT_TRUE(empty->files.empty());
    // A non-numeric operation is skipped; blank lines in the file list too; a name that merely
    // starts with 0 is a name.
    const auto odd = parseScript("8\n8\n0\n1\nr.mon\n10\nmedian\n15\n\n0\n0a.mon\n\n0.0\n");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->operations, (std::vector<int16_t>{10, 15}));
    EXPECT_EQ(odd->files, QStringList{QStringLiteral("0a.mon")});
    // Lists that the text ends before their closing line end there.
    const auto cut = parseScript("8\n8\n0\n1\nr.mon\n10\n40");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->operations, (std::vector<int16_t>{10, 40}));
    EXPECT_TRUE(cut->files.empty());
    const auto cutFiles = parseScript("8\n8\n0\n1\nr.mon\n0\na.mon");
    EXPECT_EQ(cutFiles->files, QStringList{QStringLiteral("a.mon")});
    EXPECT_FALSE(parseScript("8\n8\n0\n1"));
    EXPECT_FALSE(parseScript(""));
}

TEST(ScriptText, NamesTakeEitherSeparator) {
    EXPECT_EQ(scriptPath(QStringLiteral("/data/run"), QStringLiteral("sub\\a.mon")),
              QStringLiteral("/data/run/sub/a.mon"));
    EXPECT_EQ(scriptPath(QStringLiteral("/data/run"), QStringLiteral("b.mon")),
              QStringLiteral("/data/run/b.mon"));
    EXPECT_EQ(scriptPath(QStringLiteral("/data/run"), QStringLiteral("/abs/c.mon")),
              QStringLiteral("/abs/c.mon"));
}

namespace {

class BatchTest : public ModuleTest {
protected:
    HistogramModule histogram{module};
    BatchRunner runner{module};
    QStringList reports;

    BatchTest() {
        runner.makeHistogram = [this](int mode) { return histogram.makeHistogram(mode); };
        runner.onReport = [this](const QString& line) { reports << line; };
    }
    BatchRunner::Outcome run(const std::string& script) {
        return runner.run(writeData(QStringLiteral("s.tvs"), script));
    }
};

std::string image(int n, int seed) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * 37 + seed * 11 + (i / 7) * seed) & 0xFF));
    return s;
}

// Difference then full-range stretch, truncated, then binarized at 128, as the library does.
std::string differenceBinarized(const std::string& a, const std::string& b) {
    std::vector<double> d(a.size());
    double lo = 1e9, hi = -1e9;
    for (size_t i = 0; i < a.size(); ++i) {
        d[i] = static_cast<unsigned char>(a[i]) - static_cast<double>(static_cast<unsigned char>(b[i]));
        lo = std::min(lo, d[i]), hi = std::max(hi, d[i]);
    }
    std::string out;
    for (double v : d) {
        const int stored = static_cast<int>((v - lo) * 255 / (hi - lo));
        out.push_back(stored > 128 ? '\xff' : '\x00');
    }
    return out;
}

} // namespace

TEST_F(BatchTest, ExampleScriptReplacesSourcesByResults) {
    const int n = 512 * 512;
    const std::string back = image(n, 1), a = image(n, 2), b = image(n, 3);
    writeData(QStringLiteral("back.mon"), back);
    writeData(QStringLiteral("a.mon"), a);
    writeData(QStringLiteral("b.mon"), b);
    const auto out =
        run("512\r\n512\r\n0\r\n1\r\nback.mon\r\n20\r\n40\r\n110\r\n0\r\na.mon\r\nb.mon\r\n0\r\n");
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.read, 2);
    EXPECT_EQ(dataBytes("a.mon"), differenceBinarized(a, back));
    EXPECT_EQ(dataBytes("b.mon"), differenceBinarized(b, back));
    EXPECT_EQ(dataBytes("back.mon"), back);
    EXPECT_EQ(state.info().id, QStringLiteral("0"));
    EXPECT_EQ(state.tool().dpcb2[0], QStringLiteral("1"));
    EXPECT_EQ(reports.back(), QStringLiteral("b.mon: saved b.mon"));
}

TEST_F(BatchTest, ReferenceFirstAndUnknownCodes) {
    writeData(QStringLiteral("r.mon"), std::string("\x0a\x0a\x0a", 3));
    writeData(QStringLiteral("a.mon"), std::string("\x0a\x14\x1e", 3));
    const auto out = run("3\n1\n2\n5\nr.mon\n15\n30\n120\n0\na.mon\n0\n");
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(dataBytes("a.csv"), "255,127,0\r\n"); // reference minus image
    EXPECT_EQ(state.tool().dpcb1[0], QStringLiteral("5"));
}

TEST_F(BatchTest, EmptyListsOpenOrDoNothing) {
    writeData(QStringLiteral("a.mon"), "\x01\x02");
    auto out = run("2\n1\n0\n1\nr.mon\n0\na.mon\n0\n");
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(workBytes("0_im.tmp"), "\x01\x02");
    EXPECT_EQ(reports.back(), QStringLiteral("a.mon: done, nothing saved"));
    out = run("2\n1\n3\n1\nr.mon\n10\n0\n0\n");
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.files, 0);
    EXPECT_FALSE(workExists("3_im.tmp"));
}

TEST_F(BatchTest, BmpSaveDrawsFirstWhenAutoDrawIsOff) {
    writeData(QStringLiteral("a.mon"), std::string("\x10\x20\x30\x40", 4));
    for (bool autoDraw : {true, false}) {
        state.setAutoDraw(autoDraw);
        QFile::remove(dataFile("a.bmp"));
        ASSERT_TRUE(run("2\n2\n0\n1\nr.mon\n80\n100\n0\na.mon\n0\n").ok());
        const QImage bmp(dataFile("a.bmp"));
        ASSERT_EQ(bmp.size(), QSize(2, 2)) << autoDraw;
        EXPECT_EQ(qRed(bmp.pixel(1, 1)), 255 - 0x40) << autoDraw;
    }
}

TEST_F(BatchTest, PictureInTheListSetsTheSizeForLaterRawFiles) {
    QImage pic(4, 2, QImage::Format_RGB32);
    pic.fill(qRgb(9, 9, 9));
    ASSERT_TRUE(pic.save(dataFile("p.bmp"), "BMP"));
    writeData(QStringLiteral("q.mon"), std::string(8, '\x05'));
    ASSERT_TRUE(run("256\n256\n0\n1\nr.mon\n110\n0\np.bmp\nq.mon\n0\n").ok());
    EXPECT_EQ(dataBytes("p.mon"), std::string(8, '\x09'));
    EXPECT_EQ(dataBytes("q.mon"), std::string(8, '\x05'));
    EXPECT_EQ(state.info().mx, QStringLiteral("4"));
}

TEST_F(BatchTest, UnreadableFileIsSkippedAndTheOthersDone) {
    writeData(QStringLiteral("a.mon"), std::string("\x01\x02", 2));
    writeData(QStringLiteral("c.mon"), std::string("\x03\x04", 2));
    // A folder would read as an empty file, a FIFO would block the run for ever.
    QDir().mkpath(dataFile("adir.mon"));
    ASSERT_EQ(::mkfifo(dataFile("fifo.mon").toLocal8Bit().constData(), 0600), 0);
    const auto out = run("2\n1\n0\n1\nr.mon\n80\n110\n0\na.mon\nmissing.mon\nadir.mon\nfifo.mon\nc.mon\n0\n");
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(out.read, 2);
    EXPECT_FALSE(QFile::exists(dataFile("missing.mon")));
    EXPECT_TRUE(QFileInfo(dataFile("adir.mon")).isDir());
    for (const char* name : {"adir.mon", "fifo.mon"})
        EXPECT_TRUE(reports.contains(
            QStringLiteral("%1: skipped, the image cannot be read").arg(QLatin1String(name))))
            << name;
    EXPECT_EQ(dataBytes("c.mon"), "\xfc\xfb");
    EXPECT_TRUE(reports.contains(QStringLiteral("missing.mon: skipped, the image cannot be read")));
}

// A reference that cannot be read refuses the script before anything runs: the median and the
// save before code 20 would have replaced every source first.
TEST_F(BatchTest, MissingReferenceRefusesTheScriptBeforeAnyWrite) {
    writeData(QStringLiteral("a.mon"), std::string("\x01\x09", 2));
    const auto out = run("2\n1\n0\n1\nnothere.mon\n10\n110\n20\n0\na.mon\n0\n");
    EXPECT_EQ(dataBytes("a.mon"), "\x01\x09"); // not saved over
    EXPECT_EQ(out.read, 0);
    ASSERT_TRUE(out.refusal);
    EXPECT_EQ(out.refusal->line, 5);
    EXPECT_TRUE(reports.back().contains(QStringLiteral("nothere.mon")));
}

TEST_F(BatchTest, HistogramCodesSetTheThreshold) {
    writeData(QStringLiteral("a.mon"), std::string("\x0a\x14\x14\xc8", 4));
    ASSERT_TRUE(run("4\n1\n0\n1\nr.mon\n95\n40\n110\n0\na.mon\n0\n").ok());
    EXPECT_EQ(state.tool().segt, QStringLiteral("62"));
    EXPECT_EQ(histogram.fields().ht, QStringLiteral("1"));
    EXPECT_EQ(histogram.hist().scaleHeight(), 62);
    EXPECT_EQ(dataBytes("a.mon"), std::string("\x00\x00\x00\xff", 4));
}

TEST_F(BatchTest, FailedSaveIsCounted) {
    writeData(QStringLiteral("a.mon"), std::string("\x01\x02", 2));
    QDir().mkpath(dataFile("a.csv")); // a folder where the result would go
    const auto out = run("2\n1\n0\n1\nr.mon\n120\n0\na.mon\n0\n");
    EXPECT_EQ(out.savesFailed, 1);
    EXPECT_FALSE(out.ok());
}

TEST_F(BatchTest, UnreadableScript) {
    const auto out = runner.run(dataFile("none.tvs"));
    EXPECT_FALSE(out.scriptRead);
    EXPECT_FALSE(out.ok());
    // A FIFO named as a script is refused at once instead of blocking the run for ever.
    ASSERT_EQ(::mkfifo(dataFile("pipe.tvs").toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(runner.run(dataFile("pipe.tvs")).scriptRead);
}

TEST_F(BatchTest, DemoScriptInTheProgram) {
    for (const char* f : {"demo.tvs", "kerr_bg_256.mon", "kerr_a_256.mon", "kerr_b_256.mon"})
        QFile::copy(QString::fromStdString((testing_support::projectSamplesDir() / f).string()),
                    dataFile(QLatin1String(f)));
    module.runScript = [this](const QString& path, const QString&) { runner.run(path); };
    module.openImage(dataFile("demo.tvs"), QStringLiteral("demo.tvs"));
    // The results agree with the ideal binarizations about as well as a model of the kernels does
    // (96.8 % and 94.7 %).
    EXPECT_GE(maskAgreement(QImage(dataFile("kerr_a_256.bmp")), sampleFile("kerr_a_256_mask.png")), 0.96);
    EXPECT_GE(maskAgreement(QImage(dataFile("kerr_b_256.bmp")), sampleFile("kerr_b_256_mask.png")), 0.94);
    EXPECT_EQ(histogram.fields().ht, QStringLiteral("2")); // code 95 once per file
}

TEST_F(BatchTest, OpeningAScriptRunsIt) {
    module.runScript = [this](const QString& path, const QString&) { runner.run(path); };
    writeData(QStringLiteral("a.mon"), std::string("\x01\x02", 2));
    const QString script = writeData(QStringLiteral("go.tvs"), "2\n1\n0\n1\nr.mon\n80\n110\n0\na.mon\n0\n");
    module.openImage(script, QStringLiteral("go.tvs"));
    EXPECT_EQ(dataBytes("a.mon"), "\xfe\xfd");
}

// A header that cannot be run is refused before anything is opened or saved.
TEST(ScriptHeader, RefusedWithTheLineAndTheReason) {
    const struct {
        const char* text;
        int line; // 0: no script at all
    } rows[] = {
        {"abc\n2\n0\n1\nr.mon\n110\n0\na.mon\n0\n", 1},
        {"0\n2\n0\n1\nr.mon\n110\n0\na.mon\n0\n", 1},
        {"12.5\n2\n0\n1\nr.mon\n110\n0\na.mon\n0\n", 1},
        {"2\n-3\n0\n1\nr.mon\n110\n0\na.mon\n0\n", 2},
        {"2000\n2000\n0\n1\nr.mon\n110\n0\na.mon\n0\n", 2},
        {"2\n2\n9\n1\nr.mon\n110\n0\na.mon\n0\n", 3},
        {"2\n2\n0\n16\nr.mon\n110\n0\na.mon\n0\n", 4},
        {"2\n2\n3\n3\nr.mon\n20\n0\na.mon\n0\n", 4},
        {"2\n2\n0\n1\ns.tvs\n20\n0\na.mon\n0\n", 5},
        {"2\n2\n0\n1\n\n30\n0\na.mon\n0\n", 5},
        {"# Tovra\n\nTovra measures micrographs.\n\n## Getting started\n", 1},
        {"\x89PNG\r\n\x1a\n\x00\x00", 0},
    };
    for (const auto& row : rows) {
        const auto script = parseScript(QByteArray(row.text));
        if (row.line == 0) {
            EXPECT_FALSE(script) << row.text;
            continue;
        }
        ASSERT_TRUE(script) << row.text;
        const auto refused = checkHeader(*script);
        ASSERT_TRUE(refused) << row.text;
        EXPECT_EQ(refused->line, row.line) << row.text;
    }
    // No reference image is needed when no operation uses it.
    EXPECT_FALSE(checkHeader(*parseScript("2\n2\n0\n1\n\n110\n0\na.mon\n0\n")));
}

TEST(ScriptHeader, ResultsGoBesideTheListedFileUnderItsOwnName) {
    const struct {
        const char *path, *base;
    } rows[] = {{"/d/run/abc", "/d/run/abc"}, {"/d/img_0001", "/d/img_0001"}, {"/d/a.b.mon", "/d/a.b"},
                {"/d/x.mon", "/d/x"},         {"/d/.mon", "/d/.mon"},         {"/d/v1.2/x", "/d/v1.2/x"}};
    for (const auto& row : rows)
        EXPECT_EQ(outputBase(QLatin1String(row.path)), QLatin1String(row.base)) << row.path;
}

TEST_F(BatchTest, RefusedScriptTouchesNothing) {
    writeData(QStringLiteral("a.mon"), "\x01\x02");
    const auto out = run("abc\n1\n0\n1\nr.mon\n110\n0\na.mon\n0\n");
    EXPECT_FALSE(out.ok());
    ASSERT_TRUE(out.refusal);
    EXPECT_EQ(out.refusal->line, 1);
    EXPECT_EQ(dataBytes("a.mon"), "\x01\x02");
    EXPECT_FALSE(workExists("0_im.tmp"));
}

TEST_F(BatchTest, RawFileOfAnotherSizeIsSkippedNotPadded) {
    writeData(QStringLiteral("a.mon"), std::string(4, '\x10'));
    const auto out = run("3\n1\n0\n1\nr.mon\n110\n0\na.mon\n0\n");
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(dataBytes("a.mon"), std::string(4, '\x10'));
    EXPECT_TRUE(reports.back().contains(QStringLiteral("skipped"))) << reports.back().toStdString();
}

TEST_F(BatchTest, ShortListedNameSavesBesideItself) {
    QDir().mkpath(dataFile("run"));
    writeData(QStringLiteral("run/abc"), "\x01\x02");
    state.setRawOverride(true);
    ASSERT_TRUE(run("2\n1\n0\n1\nr.mon\n120\n0\nrun/abc\n0\n").ok());
    EXPECT_EQ(dataBytes("run/abc.csv"), "1,2\r\n");
    EXPECT_FALSE(QFile::exists(dataFile("run.csv")));
}

TEST_F(BatchTest, FailedOperationStopsTheFileAndIsReported) {
    writeData(QStringLiteral("a.mon"), "\x01\x02");
    QImage ref(3, 3, QImage::Format_RGB32); // a reference of another size: the difference is refused
    ref.fill(qRgb(1, 1, 1));
    ASSERT_TRUE(ref.save(dataFile("r.bmp"), "BMP"));
    const auto out = run("2\n1\n0\n1\nr.bmp\n20\n110\n0\na.mon\n0\n");
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(dataBytes("a.mon"), "\x01\x02");
    EXPECT_EQ(reports.back(), QStringLiteral("a.mon: stopped, operation 20 failed with status 5"));
}

TEST_F(BatchTest, ListedScriptIsSkippedNotRunInside) {
    module.runScript = [this](const QString& path, const QString&) { runner.run(path); };
    const auto out = run("2\n1\n0\n1\nr.mon\n0\ns.tvs\n0\n");
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(reports.back(), QStringLiteral("s.tvs: skipped, a script is not an image"));
}

TEST_F(BatchTest, ShiftJisScriptFindsJapaneseNames) {
    QStringEncoder sjis("Shift_JIS");
    ASSERT_TRUE(sjis.isValid());
    writeData(QStringLiteral("磁区.mon"), "\x01\x02");
    const QByteArray name = sjis.encode(QStringLiteral("磁区.mon"));
    const std::string script = "2\n1\n0\n1\nr.mon\n80\n110\n0\n" + name.toStdString() + "\n0\n";
    ASSERT_TRUE(run(script).ok());
    EXPECT_EQ(dataBytes(QStringLiteral("磁区.mon")), "\xfe\xfd");
}
