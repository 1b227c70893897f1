// The program run headless, as a user or a cluster job runs it.
#include "shell/command_line.h"
#include "support/module_fixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <cmath>
#include <sys/resource.h>

using namespace tovra;
using namespace tovra_test;

namespace {

class HeadlessTest : public ModuleTest {
protected:
    struct Result {
        int code;
        QString err;
    };
    static QString program() { return QCoreApplication::applicationDirPath() + QStringLiteral("/Tovra"); }
    QProcess* start(const QStringList& args) {
        auto* p = new QProcess;
        p->setProgram(program());
        p->setArguments(args);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY")); // no display at all
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p->setProcessEnvironment(env);
        p->start();
        return p;
    }
    Result finish(QProcess* p) {
        p->waitForFinished(60000);
        Result r{p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1,
                 QString::fromLocal8Bit(p->readAllStandardError())};
        delete p;
        return r;
    }
    Result run(const QStringList& args) { return finish(start(args)); }
    void copySample(const char* name) {
        QFile::copy(QString::fromStdString((testing_support::projectSamplesDir() / name).string()),
                    dataFile(QLatin1String(name)));
    }
};

} // namespace

TEST_F(HeadlessTest, DemoScriptWritesItsTwoResults) {
    for (const char* f : {"demo.tvs", "kerr_bg_256.mon", "kerr_a_256.mon", "kerr_b_256.mon"})
        copySample(f);
    const Result r =
        run({QStringLiteral("--batch"), dataFile("demo.tvs"), QStringLiteral("--workdir"), work});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("kerr_a_256.mon: saved kerr_a_256.bmp")))
        << r.err.toStdString();
    EXPECT_GE(maskAgreement(QImage(dataFile("kerr_a_256.bmp")), sampleFile("kerr_a_256_mask.png")), 0.96);
    EXPECT_GE(maskAgreement(QImage(dataFile("kerr_b_256.bmp")), sampleFile("kerr_b_256_mask.png")), 0.94);
    EXPECT_FALSE(QFile::exists(workFile("0_im.tmp"))); // the work files are cleaned up
}

TEST_F(HeadlessTest, ExitCodes) {
    writeData(QStringLiteral("a.mon"), std::string(4, '\x10'));
    writeData(QStringLiteral("ok.tvs"), "2\n2\n0\n1\nr.mon\n40\n110\n0\na.mon\n0\n");
    writeData(QStringLiteral("gap.tvs"), "2\n2\n0\n1\nr.mon\n110\n0\na.mon\nlost.mon\n0\n");
    EXPECT_EQ(run({QStringLiteral("--batch"), dataFile("ok.tvs"), QStringLiteral("--workdir"), work}).code,
              0);
    EXPECT_EQ(dataBytes("a.mon"), std::string(4, '\x00'));
    const Result gap =
        run({QStringLiteral("--batch"), dataFile("gap.tvs"), QStringLiteral("--workdir"), work});
    EXPECT_EQ(gap.code, 1);
    EXPECT_TRUE(gap.err.contains(QStringLiteral("lost.mon: skipped"))) << gap.err.toStdString();
    EXPECT_EQ(run({QStringLiteral("--batch"), dataFile("none.tvs"), QStringLiteral("--workdir"), work}).code,
              2);
    EXPECT_EQ(run({QStringLiteral("--batch")}).code, 2);
    writeData(QStringLiteral("bad.tvs"), "abc\n2\n0\n1\nr.mon\n110\n0\na.mon\n0\n");
    const Result bad =
        run({QStringLiteral("--batch"), dataFile("bad.tvs"), QStringLiteral("--workdir"), work});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("line 1: the width \"abc\""))) << bad.err.toStdString();
    EXPECT_EQ(run({QStringLiteral("--threshold"), QStringLiteral("x"), QStringLiteral("--batch"),
                   dataFile("ok.tvs")})
                  .code,
              2);
}

// Without --workdir a run keeps to a private folder that it removes, so it never touches the
// slots of a program running from the same folder; a --workdir that cannot be used stops it.
TEST_F(HeadlessTest, WorkFolderIsPrivateOrRefused) {
    const QString sentinel = QCoreApplication::applicationDirPath() + QStringLiteral("/0_im.tmp");
    testing_support::writeBytes(sentinel.toStdString(), "another run's slot");
    writeData(QStringLiteral("a.mon"), "\x01\x02");
    writeData(QStringLiteral("h.tvs"), "2\n1\n0\n1\nr.mon\n90\n80\n110\n0\na.mon\n0\n");
    const Result r = run({QStringLiteral("--batch"), dataFile("h.tvs")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(testing_support::readBytes(sentinel.toStdString()), "another run's slot");
    EXPECT_FALSE(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/0_hdat.csv")));
    QFile::remove(sentinel);
    EXPECT_EQ(dataBytes("a.mon"), "\xfe\xfd");
    writeData(QStringLiteral("plain"), "a file, not a folder");
    const Result refused =
        run({QStringLiteral("--batch"), dataFile("h.tvs"), QStringLiteral("--workdir"), dataFile("plain/w")});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("cannot use the work folder")))
        << refused.err.toStdString();
    EXPECT_EQ(dataBytes("a.mon"), "\xfe\xfd");
}

// A run killed at any moment leaves every result whole or absent and no temporary behind, once
// a later run has saved into the same folders.
TEST_F(HeadlessTest, KilledRunsLeaveNoTemporaries) {
    std::string script = "256\n256\n0\n1\nr.mon\n10\n120\n0\n";
    for (int i = 0; i < 12; ++i) {
        writeData(QStringLiteral("k%1.mon").arg(i), std::string(256 * 256, static_cast<char>(i * 20)));
        script.append("k").append(std::to_string(i)).append(".mon\n");
    }
    writeData(QStringLiteral("k.tvs"), script + "0\n");
    const QStringList args{QStringLiteral("--batch"), dataFile("k.tvs"), QStringLiteral("--workdir"), work};
    for (int kill = 0; kill < 8; ++kill) {
        QProcess* p = start(args);
        p->waitForStarted();
        QThread::msleep(static_cast<unsigned long>(20 + 25 * kill));
        p->kill();
        finish(p);
    }
    for (int i = 0; i < 12; ++i) { // a result is all 256 rows or nothing
        const QString csv = QStringLiteral("k%1.csv").arg(i);
        if (!QFile::exists(dataFile(csv))) continue;
        const std::string text = dataBytes(csv);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 256) << i;
    }
    EXPECT_EQ(run(args).code, 0);
    for (const QString& folder : {data, work})
        EXPECT_EQ(QDir(folder, QStringLiteral("*.part"), QDir::Name, QDir::Files | QDir::Hidden).count(), 0u)
            << folder.toStdString();
}

TEST_F(HeadlessTest, JobsAndPartsOutOfRangeRunNothing) {
    writeData(QStringLiteral("a.mon"), "\x01\x02");
    writeData(QStringLiteral("t.tvs"), "2\n1\n0\n1\nr.mon\n80\n110\n0\na.mon\n0\n");
    for (const auto& [option, value] : {std::pair{"--jobs", "0"},
                                        {"--jobs", "abc"},
                                        {"--jobs", "5000"},
                                        {"--part", "0/2"},
                                        {"--part", "3/2"},
                                        {"--part", "x"},
                                        {"--part", "1/0"},
                                        {"--part", "1-2"}}) {
        const Result r = run({QStringLiteral("--batch"), dataFile("t.tvs"), QLatin1String(option),
                              QLatin1String(value), QStringLiteral("--workdir"), work});
        EXPECT_EQ(r.code, 2) << option << " " << value;
        EXPECT_TRUE(r.err.contains(QLatin1String(option))) << r.err.toStdString();
    }
    EXPECT_EQ(dataBytes("a.mon"), "\x01\x02");
}

// Shares of one list, run side by side in one work folder, do together what one run does, each
// numbering its histogram files as a run of its share alone would.
TEST_F(HeadlessTest, PartsTogetherDoWhatOneRunDoes) {
    std::string list;
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("p%1.mon").arg(i);
        writeData(name, std::string(64, static_cast<char>(i * 40)) +
                            std::string(64, static_cast<char>(200 - i * 30)));
        writeData(QStringLiteral("whole-") + name, dataBytes(name));
        list += name.toStdString() + "\n";
    }
    writeData(QStringLiteral("parts.tvs"), "16\n8\n0\n1\nr.mon\n95\n40\n120\n0\n" + list + "0\n");
    std::string whole = list;
    for (size_t at = 0; (at = whole.find("p", at)) != std::string::npos; at += 7)
        whole.insert(at, "whole-");
    writeData(QStringLiteral("whole.tvs"), "16\n8\n0\n1\nr.mon\n95\n40\n120\n0\n" + whole + "0\n");
    QProcess* one = start({QStringLiteral("--batch"), dataFile("parts.tvs"), QStringLiteral("--part"),
                           QStringLiteral("1/2"), QStringLiteral("--workdir"), work});
    QProcess* two = start({QStringLiteral("--batch"), dataFile("parts.tvs"), QStringLiteral("--part"),
                           QStringLiteral("2/2"), QStringLiteral("--workdir"), work});
    EXPECT_EQ(finish(one).code, 0);
    EXPECT_EQ(finish(two).code, 0);
    EXPECT_EQ(
        run({QStringLiteral("--batch"), dataFile("whole.tvs"), QStringLiteral("--workdir"), work + "/whole"})
            .code,
        0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(dataBytes(QStringLiteral("p%1.csv").arg(i)),
                  dataBytes(QStringLiteral("whole-p%1.csv").arg(i)))
            << i;
    EXPECT_TRUE(workExists("part-1-of-2/2_hdat.csv")); // files 1, 3 and 5
    EXPECT_FALSE(workExists("part-1-of-2/3_hdat.csv"));
    EXPECT_TRUE(workExists("part-2-of-2/1_hdat.csv")); // files 2 and 4
    EXPECT_FALSE(workExists("part-2-of-2/2_hdat.csv"));
    EXPECT_EQ(workBytes("part-2-of-2/0_hdat.csv"), workBytes("whole/1_hdat.csv"));
}

// A disk that fills up: each save that cannot be written is reported, leaves the old file, and
// the run goes on with the other files and exits 1.
TEST_F(HeadlessTest, FullDiskIsReportedAndOldFilesStay) {
    writeData(QStringLiteral("a.mon"), std::string(256 * 256, '\x07'));
    writeData(QStringLiteral("a.csv"), "old");
    writeData(QStringLiteral("f.tvs"), "256\n256\n0\n1\nr.mon\n120\n80\n110\n0\na.mon\n0\n");
    // Files may grow to 100 KB: the raw save fits, the CSV save (about 130 KB) does not.
    QProcess p;
    p.setProgram(QStringLiteral("/bin/bash"));
    p.setArguments(
        {QStringLiteral("-c"),
         QStringLiteral("trap '' XFSZ; ulimit -f 100; exec \"$0\" --batch \"$1\" --workdir \"$2\""),
         program(), dataFile("f.tvs"), work});
    p.start();
    p.waitForFinished(60000);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("a.mon: could not save a.csv, saved a.mon")))
        << err.toStdString();
    EXPECT_EQ(dataBytes("a.csv"), "old");
    EXPECT_EQ(dataBytes("a.mon"), std::string(256 * 256, '\xf8'));
    EXPECT_EQ(QDir(data, QStringLiteral("*.part"), QDir::Name, QDir::Files | QDir::Hidden).count(), 0u);
}

// On a terminal the run shows its progress with the speed and the time left.
TEST_F(HeadlessTest, TerminalShowsSpeedAndTimeLeft) {
    std::string list;
    for (int i = 0; i < 3; ++i) {
        writeData(QStringLiteral("t%1.mon").arg(i), "\x01\x02");
        list += QStringLiteral("t%1.mon\n").arg(i).toStdString();
    }
    writeData(QStringLiteral("t.tvs"), "2\n1\n0\n1\nr.mon\n80\n0\n" + list + "0\n");
    QProcess p; // script(1) gives the program a terminal
    p.setProgram(QStringLiteral("script"));
    p.setArguments(
        {QStringLiteral("-qec"),
         QStringLiteral("'%1' --batch '%2' --workdir '%3' --jobs 1").arg(program(), dataFile("t.tvs"), work),
         QStringLiteral("/dev/null")});
    p.start();
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("[1/3]")) && out.contains(QStringLiteral("files/s")) &&
                out.contains(QStringLiteral("left")))
        << out.toStdString();
}

// --measure: one JSON record per file, in argument order whatever the jobs; a file that cannot
// be measured says so in its record and the exit code.
TEST_F(HeadlessTest, MeasureWritesOneRecordPerFile) {
    copySample("stripes_bin_256.mon");
    copySample("kerr_a_256.mon");
    writeData(QStringLiteral("flat.mon"), std::string(256 * 256, '\x40'));
    QProcess* p = start({QStringLiteral("--measure"), dataFile("stripes_bin_256.mon"), dataFile("flat.mon"),
                         dataFile("kerr_a_256.mon"), QStringLiteral("--size"), QStringLiteral("256"),
                         QStringLiteral("256"), QStringLiteral("--jobs"), QStringLiteral("3"),
                         QStringLiteral("--pixel-size"), QStringLiteral("0.5")});
    p->waitForFinished(60000);
    const QStringList lines = recordLines(p->readAllStandardOutput());
    const int code = p->exitCode();
    delete p;
    EXPECT_EQ(code, 1);
    ASSERT_EQ(lines.size(), 3);
    const QJsonObject stripes = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    EXPECT_TRUE(stripes[QStringLiteral("file")].toString().endsWith(QStringLiteral("stripes_bin_256.mon")));
    EXPECT_EQ(stripes[QStringLiteral("pattern")].toString(), QStringLiteral("stripes"));
    for (const char* key :
         {"width", "height", "black_fraction", "black_width_px", "white_width_px", "period_px",
          "period_fft_px", "orientation_deg", "threshold", "settings", "bands", "black_width_um"})
        EXPECT_TRUE(stripes.contains(QLatin1String(key))) << key;
    EXPECT_NEAR(stripes[QStringLiteral("black_width_um")].toDouble(),
                stripes[QStringLiteral("black_width_px")].toDouble() / 2, 1e-9);
    const QJsonObject band = stripes[QStringLiteral("bands")].toArray().first().toObject();
    for (const char* key : {"position_px", "angle_deg", "width_px", "colour"})
        EXPECT_TRUE(band.contains(QLatin1String(key))) << key;
    EXPECT_TRUE(QJsonDocument::fromJson(lines[1].toUtf8()).object().contains(QStringLiteral("error")));
    EXPECT_EQ(QJsonDocument::fromJson(lines[2].toUtf8()).object()[QStringLiteral("pattern")].toString(),
              QStringLiteral("maze"));
    for (const QStringList& bad :
         {QStringList{QStringLiteral("--measure")},
          QStringList{QStringLiteral("--measure"), dataFile("flat.mon"), QStringLiteral("--format"),
                      QStringLiteral("xml")},
          QStringList{QStringLiteral("--size"), QStringLiteral("2"), QStringLiteral("2")}})
        EXPECT_EQ(run(bad).code, 2) << bad.join(QLatin1Char(' ')).toStdString();
}

// A multi-page TIFF of grey pages of `bits` (8, or 16 little-endian), each with its resolution in
// pixels per `unit` (TIFF's 2 inch, 3 centimetre, 1 none).
std::string tiffPages(const std::vector<std::string>& pages, int side,
                      const std::vector<std::pair<int, int>>& res, uint32_t bits = 8) {
    std::string out("II*\0\0\0\0\0", 8);
    auto put16 = [&](size_t at, uint32_t v) {
        out[at] = static_cast<char>(v), out[at + 1] = static_cast<char>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xffff), put16(at + 2, v >> 16); };
    size_t link = 4; // where the offset of the next directory goes
    for (size_t k = 0; k < pages.size(); ++k) {
        const size_t data = out.size();
        out += pages[k];
        const size_t rational = out.size();
        out += std::string(8, '\0');
        put32(rational, static_cast<uint32_t>(res[k].first)), put32(rational + 4, 1);
        const size_t ifd = out.size();
        const uint32_t entries[][4] = {{256, 3, 1, static_cast<uint32_t>(side)},
                                       {257, 3, 1, static_cast<uint32_t>(side)},
                                       {258, 3, 1, bits},
                                       {259, 3, 1, 1},
                                       {262, 3, 1, 1},
                                       {273, 4, 1, static_cast<uint32_t>(data)},
                                       {277, 3, 1, 1},
                                       {278, 3, 1, static_cast<uint32_t>(side)},
                                       {279, 4, 1, static_cast<uint32_t>(pages[k].size())},
                                       {282, 5, 1, static_cast<uint32_t>(rational)},
                                       {283, 5, 1, static_cast<uint32_t>(rational)},
                                       {296, 3, 1, static_cast<uint32_t>(res[k].second)}};
        out += std::string(2 + 12 * std::size(entries) + 4, '\0');
        put16(ifd, static_cast<uint32_t>(std::size(entries)));
        for (size_t e = 0; e < std::size(entries); ++e) {
            put16(ifd + 2 + 12 * e, entries[e][0]), put16(ifd + 4 + 12 * e, entries[e][1]);
            put32(ifd + 6 + 12 * e, entries[e][2]), put32(ifd + 10 + 12 * e, entries[e][3]);
        }
        put32(link, static_cast<uint32_t>(ifd));
        link = ifd + 2 + 12 * std::size(entries);
    }
    return out;
}

// A multi-page TIFF gives a record for each page with its number, and the pixel size its tags
// state, which --pixel-size overrides; a TIFF cut short is refused whole.
TEST_F(HeadlessTest, MeasureEveryPageOfATiff) {
    const std::string stripes =
        testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon");
    const std::string maze =
        testing_support::readBytes(testing_support::projectSamplesDir() / "kerr_a_256.mon");
    const std::string tiff = tiffPages({stripes, maze, stripes}, 256, {{20000, 3}, {72, 1}, {50800, 2}});
    writeData(QStringLiteral("sweep.tif"), tiff);
    writeData(QStringLiteral("cut.tif"), tiff.substr(0, tiff.size() / 2));
    auto records = [&](QStringList args) {
        QProcess* p = start(args << QStringLiteral("--jobs") << QStringLiteral("2"));
        p->waitForFinished(60000);
        std::vector<QJsonObject> out;
        for (const QString& line : recordLines(p->readAllStandardOutput()))
            out.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        delete p;
        return out;
    };
    const auto pages = records({QStringLiteral("--measure"), dataFile("sweep.tif"), dataFile("cut.tif")});
    ASSERT_EQ(pages.size(), 4u);
    const struct {
        int page;
        const char* pattern;
        double um;
    } rows[] = {{1, "stripes", 0.5}, {2, "maze", 0}, {3, "stripes", 0.5}};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(pages[k][QStringLiteral("page")].toInt(), rows[k].page);
        EXPECT_EQ(pages[k][QStringLiteral("pattern")].toString(), QLatin1String(rows[k].pattern));
        EXPECT_NEAR(pages[k][QStringLiteral("pixel_size_um")].toDouble(), rows[k].um, 1e-12) << k;
    }
    EXPECT_TRUE(pages[3].contains(QStringLiteral("error")));
    const auto given = records({QStringLiteral("--measure"), dataFile("sweep.tif"),
                                QStringLiteral("--pixel-size"), QStringLiteral("0.25")});
    ASSERT_EQ(given.size(), 3u);
    EXPECT_EQ(given[1][QStringLiteral("pixel_size_um")].toDouble(), 0.25);
    EXPECT_NEAR(given[0][QStringLiteral("black_width_um")].toDouble(),
                given[0][QStringLiteral("black_width_px")].toDouble() / 4, 1e-9);
}

// Stripes of 16 bits whose normal points at 30 degrees, period 24 and black bands `black` wide,
// each pixel's grey its white share (4 x 4 samples), with a little noise.
std::string stripes16(int side, double black) {
    std::string out;
    uint32_t seed = 11;
    const double nx = std::sqrt(3.0) / 2, ny = 0.5; // 30 degrees
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            double white = 0;
            for (int i = 0; i < 16; ++i) {
                const double u = std::fmod((x + (i % 4 + 0.5) / 4) * nx + (y + (i / 4 + 0.5) / 4) * ny, 24.0);
                white += (u >= black) / 16.0;
            }
            seed = seed * 1664525 + 1013904223;
            const auto v = static_cast<uint16_t>(9000 + 40000 * white + (seed >> 22));
            out += static_cast<char>(v & 0xff), out += static_cast<char>(v >> 8);
        }
    return out;
}

// A field sweep from the frames to the loop: a 16-bit multi-page TIFF whose black bands narrow
// and widen again, its values from a CSV column, a record each with its page and value, and the
// table and plot in frame order. A page that does not decode is that row's error; the others
// are measured.
TEST_F(HeadlessTest, FieldSweepGivesTableAndPlot) {
    const double truth[] = {6, 9, 12, 15, 12, 9};
    std::vector<std::string> pages;
    for (double b : truth)
        pages.push_back(stripes16(192, b));
    pages.push_back(pages.back());
    std::string tiff = tiffPages(pages, 192, std::vector<std::pair<int, int>>(pages.size(), {72, 1}), 16);
    const std::string plain("\x03\x01\x03\x00\x01\x00\x00\x00\x01\x00", 10); // compression: none
    const size_t last = tiff.rfind(plain);
    ASSERT_NE(last, std::string::npos);
    tiff[last + 8] = 99; // a compression no decoder knows, on the last page
    writeData(QStringLiteral("sweep.tif"), tiff);
    writeData(QStringLiteral("fields.csv"), "step,field_mT\n1,-30\n2,-15\n3,0\n4,15\n5,0\n6,-15\n7,-30\n");
    for (const char* plot : {"loop.png", "loop.svg"}) {
        QProcess* p =
            start({QStringLiteral("--measure"), dataFile("sweep.tif"), QStringLiteral("--values-file"),
                   dataFile("fields.csv"), QStringLiteral("--values-column"), QStringLiteral("field_mT"),
                   QStringLiteral("--value-unit"), QStringLiteral("mT"), QStringLiteral("--table"),
                   dataFile("loop.csv"), QStringLiteral("--plot"), dataFile(QLatin1String(plot)),
                   QStringLiteral("--jobs"), QStringLiteral("2")});
        p->waitForFinished(60000);
        EXPECT_EQ(p->exitCode(), 1) << plot; // one frame failed
        const QStringList records = recordLines(p->readAllStandardOutput());
        delete p;
        ASSERT_EQ(records.size(), 7);
        const QJsonObject third = QJsonDocument::fromJson(records[2].toUtf8()).object();
        EXPECT_EQ(third[QStringLiteral("page")].toInt(), 3);
        EXPECT_EQ(third[QStringLiteral("value")].toDouble(), 0);
    }
    const QStringList table =
        QString::fromStdString(dataBytes("loop.csv")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(table.size(), 8);
    EXPECT_TRUE(table[1].startsWith(QLatin1String("# provenance: {"))) << table[1].toStdString();
    EXPECT_TRUE(table[3].contains(QStringLiteral("field_mT (mT)"))) << table[3].toStdString();
    const QStringList columns = table[table.size() - 8].split(QLatin1Char(','));
    auto at = [&](const QStringList& row, const char* name) {
        return row[columns.indexOf(QLatin1String(name))];
    };
    for (int k = 0; k < 7; ++k) {
        const QStringList row = table[table.size() - 7 + k].split(QLatin1Char(','));
        ASSERT_EQ(row.size(), columns.size()) << k;
        EXPECT_EQ(at(row, "page").toInt(), k + 1);
        const double fields[] = {-30, -15, 0, 15, 0, -15, -30};
        EXPECT_EQ(at(row, "value").toDouble(), fields[k]);
        if (k == 6) {
            EXPECT_TRUE(at(row, "error").contains(QStringLiteral("page 7 cannot be decoded")))
                << row.join(QLatin1Char(',')).toStdString();
            continue;
        }
        EXPECT_EQ(at(row, "reliable"), QStringLiteral("true")) << k;
        const double width = at(row, "black_width_px").toDouble(),
                     se = at(row, "black_width_se_px").toDouble();
        EXPECT_NEAR(width, truth[k], std::max(0.02 * truth[k], 3 * se)) << k;
        EXPECT_NEAR(at(row, "period_px").toDouble(), 24, 0.24) << k;
        EXPECT_NEAR(at(row, "net_magnetisation").toDouble(), 1 - 2 * at(row, "black_fraction").toDouble(),
                    1e-9);
    }
    const QImage png(dataFile("loop.png"));
    EXPECT_EQ(png.size(), QSize(1200, 900));
    EXPECT_NE(dataBytes("loop.svg").find("<svg"), std::string::npos);
}

// Each frame's value from a list, a file of numbers, a CSV column, the names or the frame
// numbers; a folder's pictures in natural order; and every wrong value refused before anything
// is measured, naming the value or the line.
TEST_F(HeadlessTest, SeriesValuesFromEverySource) {
    const std::string stripes =
        testing_support::readBytes(testing_support::projectSamplesDir() / "stripes_bin_256.mon");
    QDir(data).mkpath(QStringLiteral("sweep"));
    QDir(data).mkpath(QStringLiteral("plain"));
    QDir(data).mkpath(QStringLiteral("sizes"));
    for (const char* name :
         {"sweep/frame_10.mon", "sweep/frame_2.mon", "sweep/frame_1.mon", "plain/a.mon", "plain/b2.mon"})
        writeData(QLatin1String(name), stripes);
    copySample("stripes_256.bmp");
    QFile::copy(dataFile("stripes_256.bmp"), dataFile("sizes/a.bmp"));
    QImage(dataFile("stripes_256.bmp")).copy(0, 0, 160, 200).save(dataFile("sizes/b.png"));
    writeData(QStringLiteral("lines.txt"), "# field\n0.5\n\n1.5\r\n2.5\n");
    writeData(QStringLiteral("bad.txt"), "1\n2\nx3\n");
    writeData(QStringLiteral("t.csv"), "frame,\"t_s\"\n1,10\n2,20\n3,30\n");
    // Kerr backgrounds: one a frame, or as many pages as no frame count has.
    const std::string flat(256 * 256, '\xc8');
    writeData(QStringLiteral("bg3.tif"), tiffPages({flat, flat, flat}, 256, {{72, 1}, {72, 1}, {72, 1}}));
    writeData(QStringLiteral("bg2.tif"), tiffPages({flat, flat}, 256, {{72, 1}, {72, 1}}));
    const struct {
        const char* folder;
        QStringList options;
        int code;
        std::vector<double> values; // from the table
        const char* said;           // in the table, or in the refusal
    } rows[] = {
        {"sweep", {QStringLiteral("--values"), QStringLiteral("-5,0,5")}, 0, {-5, 0, 5}, "frame_10.mon"},
        {"sweep", {QStringLiteral("--values"), QStringLiteral("1,abc,3")}, 2, {}, "\"abc\" (value 2)"},
        {"sweep", {QStringLiteral("--values"), QStringLiteral("1,2")}, 2, {}, "2 values for 3 frames"},
        {"sweep", {QStringLiteral("--values-file"), dataFile("lines.txt")}, 0, {0.5, 1.5, 2.5}, "value"},
        {"sweep", {QStringLiteral("--values-file"), dataFile("bad.txt")}, 2, {}, "line 3: \"x3\""},
        {"sweep",
         {QStringLiteral("--values-file"), dataFile("t.csv"), QStringLiteral("--values-column"),
          QStringLiteral("t_s")},
         0,
         {10, 20, 30},
         "# value: t_s"},
        {"sweep",
         {QStringLiteral("--values-file"), dataFile("t.csv"), QStringLiteral("--values-column"),
          QStringLiteral("B")},
         2,
         {},
         "no column \"B\""},
        {"sweep", {QStringLiteral("--values-from-name")}, 0, {1, 2, 10}, "frame_2.mon"}, // natural order
        {"plain", {QStringLiteral("--values-from-name")}, 2, {}, "\"a.mon\" has no number in its name"},
        {"sweep", {}, 0, {1, 2, 3}, "# value: frame"},
        {"sizes", {}, 0, {1, 2}, "different sizes, each measured at its own: 160 x 200, 256 x 256"},
        {"sweep", {QStringLiteral("--background"), dataFile("bg3.tif")}, 0, {1, 2, 3}, "stripes,true"},
        {"sweep",
         {QStringLiteral("--background"), dataFile("bg2.tif")},
         2,
         {},
         "2 background pages for 3 frames"},
    };
    for (const auto& row : rows) {
        QFile::remove(dataFile("t_out.csv"));
        QProcess* p =
            start(QStringList{QStringLiteral("--measure"), dataFile(QLatin1String(row.folder)),
                              QStringLiteral("--size"), QStringLiteral("256"), QStringLiteral("256"),
                              QStringLiteral("--table"), dataFile("t_out.csv")}
                  << row.options);
        p->waitForFinished(60000);
        const QString out = QString::fromUtf8(p->readAllStandardOutput()),
                      err = QString::fromUtf8(p->readAllStandardError());
        const int code = p->exitCode();
        delete p;
        const std::string label = row.options.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(code, row.code) << label << err.toStdString();
        if (row.code == 2) {
            EXPECT_TRUE(err.contains(QLatin1String(row.said))) << label << ": " << err.toStdString();
            EXPECT_TRUE(out.isEmpty()) << label; // refused before anything ran
            EXPECT_FALSE(QFile::exists(dataFile("t_out.csv"))) << label;
            continue;
        }
        const QString table = QString::fromStdString(dataBytes("t_out.csv"));
        EXPECT_TRUE(table.contains(QLatin1String(row.said))) << label << table.toStdString();
        std::vector<double> values;
        for (const QString& line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (line[0].isDigit()) values.push_back(line.split(QLatin1Char(','))[3].toDouble());
        EXPECT_EQ(values, row.values) << label;
    }
}

TEST_F(HeadlessTest, OptionsSetTheToolbox) {
    writeData(QStringLiteral("a.mon"), std::string("\x0a\xc8", 2)); // 10, 200
    writeData(QStringLiteral("t.tvs"), "2\n1\n0\n1\nr.mon\n40\n110\n0\na.mon\n0\n");
    ASSERT_EQ(run({QStringLiteral("--batch"), dataFile("t.tvs"), QStringLiteral("--workdir"), work,
                   QStringLiteral("--threshold"), QStringLiteral("5")})
                  .code,
              0);
    EXPECT_EQ(dataBytes("a.mon"), "\xff\xff");
    writeData(QStringLiteral("a.mon"), std::string("\x0a\xc8", 2));
    writeData(QStringLiteral("c.tvs"), "2\n1\n0\n1\nr.mon\n130\n110\n0\na.mon\n0\n");
    ASSERT_EQ(run({QStringLiteral("--batch"), dataFile("c.tvs"), QStringLiteral("--contrast"),
                   QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("--workdir"), work})
                  .code,
              0);
    EXPECT_EQ(dataBytes("a.mon"), std::string("\x00\xff", 2));
}

TEST_F(HeadlessTest, ConcurrentRunsKeepToTheirWorkFolders) {
    std::string img;
    for (int i = 0; i < 512 * 512; ++i)
        img.push_back(static_cast<char>(i * 7));
    std::string script = "512\n512\n0\n1\nr.mon\n10\n110\n0\n";
    for (int i = 0; i < 6; ++i) {
        writeData(QStringLiteral("f%1.mon").arg(i), img);
        script.append("f").append(std::to_string(i)).append(".mon\n");
    }
    writeData(QStringLiteral("one.tvs"), script + "0\n");
    std::string other = "512\n512\n0\n1\nr.mon\n80\n110\n0\n";
    for (int i = 0; i < 6; ++i) {
        writeData(QStringLiteral("g%1.mon").arg(i), img);
        other.append("g").append(std::to_string(i)).append(".mon\n");
    }
    writeData(QStringLiteral("two.tvs"), other + "0\n");
    QProcess* a =
        start({QStringLiteral("--batch"), dataFile("one.tvs"), QStringLiteral("--workdir"), work + "/a"});
    QProcess* b =
        start({QStringLiteral("--batch"), dataFile("two.tvs"), QStringLiteral("--workdir"), work + "/b"});
    EXPECT_EQ(finish(a).code, 0);
    EXPECT_EQ(finish(b).code, 0);
    std::string inverted = img;
    for (char& c : inverted)
        c = static_cast<char>(255 - static_cast<unsigned char>(c));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dataBytes(QStringLiteral("g%1.mon").arg(i)), inverted) << i;
    const std::string first = dataBytes("f0.mon");
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(dataBytes(QStringLiteral("f%1.mon").arg(i)), first) << i;
    EXPECT_NE(first, img);
}

// A file too large for its size, or for the memory, is that file's error record: the others are
// still measured and nothing ends the run. Records come out as they are done, in order.
TEST_F(HeadlessTest, MeasureRecordsSurviveFilesThatCannotBeHeld) {
    copySample("stripes_256.bmp");
    writeData(QStringLiteral("small.mon"), std::string(1000, '\x40'));
    QProcess* p = start({QStringLiteral("--measure"), dataFile("stripes_256.bmp"), dataFile("small.mon"),
                         QStringLiteral("--size"), QStringLiteral("100000"), QStringLiteral("100000")});
    p->waitForFinished(60000);
    const QStringList lines = recordLines(p->readAllStandardOutput());
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 1);
    delete p;
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(lines[0].toUtf8()).object()[QStringLiteral("pattern")].toString(),
              QStringLiteral("stripes"));
    EXPECT_TRUE(QJsonDocument::fromJson(lines[1].toUtf8()).object().contains(QStringLiteral("error")));

    // The first record is out while a long second file is still being measured.
    std::string noise(3000 * 3000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 24);
    writeData(QStringLiteral("noise.mon"), noise);
    writeData(QStringLiteral("tiny.mon"), std::string(3000 * 3000, '\x10'));
    QProcess* q = start({QStringLiteral("--measure"), dataFile("tiny.mon"), dataFile("noise.mon"),
                         QStringLiteral("--size"), QStringLiteral("3000"), QStringLiteral("3000"),
                         QStringLiteral("--jobs"), QStringLiteral("1")});
    ASSERT_TRUE(q->waitForReadyRead(60000));
    EXPECT_EQ(q->state(), QProcess::Running);
    EXPECT_TRUE(q->readLine().contains("tiny.mon"));
    finish(q);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(HeadlessTest, MeasureRunningOutOfMemoryIsThatFilesRecord) {
    copySample("stripes_256.bmp");
    std::string big(5000 * 5000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 24);
    writeData(QStringLiteral("big.mon"), big);
    QProcess p;
    p.setProgram(program());
    p.setArguments({QStringLiteral("--measure"), dataFile("big.mon"), dataFile("stripes_256.bmp"),
                    QStringLiteral("--size"), QStringLiteral("5000"), QStringLiteral("5000"),
                    QStringLiteral("--jobs"), QStringLiteral("2")});
    p.setChildProcessModifier([] {
        rlimit limit{600ull << 20, 600ull << 20}; // less than 25 million pixels need
        ::setrlimit(RLIMIT_AS, &limit);
    });
    p.start();
    p.waitForFinished(60000);
    const QStringList lines = recordLines(p.readAllStandardOutput());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("memory"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("\"pattern\":\"stripes\"")));
}
#endif

// What a file holds is quoted, never sent raw to the terminal: a script's first line or a CSV
// field with an escape sequence in it.
TEST_F(HeadlessTest, FileContentsReachTheTerminalQuoted) {
    writeData(QStringLiteral("e.tvs"), "\x1b]0;pwned\x07\x1b[2J\n1\n0\n1\nr.mon\n10\n0\na.mon\n0\n");
    const Result script = run({QStringLiteral("--batch"), dataFile("e.tvs")});
    EXPECT_EQ(script.code, 2);
    EXPECT_FALSE(script.err.contains(QChar(0x1b))) << script.err.toStdString();
    EXPECT_TRUE(script.err.contains(QStringLiteral("\\x1b]0;pwned\\x07"))) << script.err.toStdString();
    writeData(QStringLiteral("e.csv"), "1,2\n3,\x1b[31mred\n");
    const Result csv = run({QStringLiteral("--measure"), dataFile("e.csv")});
    EXPECT_EQ(csv.code, 1);
    EXPECT_FALSE(csv.err.contains(QChar(0x1b))) << csv.err.toStdString();
    EXPECT_TRUE(csv.err.contains(QStringLiteral("\\x1b[31mred"))) << csv.err.toStdString();
}
