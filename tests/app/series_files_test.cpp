// What a measurement run reads and writes, against what users hand it: outputs that are its own
// inputs or special files, a closed or full standard output, texts that would break the SVG or
// the table, extreme values on the plot's axes, FIFOs and devices as inputs, BigTIFF and long
// stacks, and the numbers in file names.
#include "measure/series.h"
#include "measure/series_loop.h"
#include "support/loop_frames.h"
#include "support/module_fixture.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <sys/stat.h>
#include <unistd.h>

using namespace tovra;
using namespace tovra_test;

namespace {

class SeriesFilesTest : public ModuleTest {
protected:
    struct Run {
        int code;
        QString out, err;
    };
    Run run(const QStringList& args, const QString& stdoutFile = {}) {
        QProcess p;
        p.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/Tovra"));
        p.setArguments(args);
        if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
        p.start();
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    // Stripes of `period` px, the black share growing with `k`, as a PNG in the data folder.
    QString stripes(const QString& name, int k = 0, int side = 96) {
        QImage img(side, side, QImage::Format_Grayscale8);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                img.setPixel(x, y, (x + y / 3) % 16 < 5 + k % 6 ? qRgb(40, 40, 40) : qRgb(210, 210, 210));
        img.save(dataFile(name));
        return dataFile(name);
    }
};

// TIFF pages of grey bytes, classic or BigTIFF, each one strip.
std::string tiffOf(const std::vector<std::string>& pages, int width, int height, bool big) {
    std::string out =
        big ? std::string("II+\0\x08\0\0\0", 8) + std::string(8, '\0') : std::string("II*\0\0\0\0\0", 8);
    auto put = [&](size_t at, uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            out[at + k] = static_cast<char>(v >> (8 * k));
    };
    const int offset = big ? 8 : 4, entry = big ? 20 : 12, count = big ? 8 : 2;
    size_t link = big ? 8 : 4;
    for (const std::string& page : pages) {
        const size_t data = out.size();
        out += page;
        const size_t ifd = out.size();
        const uint64_t entries[][3] = {{256, 4, static_cast<uint64_t>(width)},
                                       {257, 4, static_cast<uint64_t>(height)},
                                       {258, 3, 8},
                                       {259, 3, 1},
                                       {262, 3, 1},
                                       {273, big ? 16u : 4u, data},
                                       {277, 3, 1},
                                       {278, 4, static_cast<uint64_t>(height)},
                                       {279, big ? 16u : 4u, page.size()}};
        out += std::string(count + entry * std::size(entries) + offset, '\0');
        put(ifd, std::size(entries), count);
        for (size_t e = 0; e < std::size(entries); ++e) {
            const size_t at = ifd + count + entry * e;
            put(at, entries[e][0], 2), put(at + 2, entries[e][1], 2), put(at + 4, 1, offset);
            put(at + 4 + offset, entries[e][2], entries[e][1] == 3 ? 2 : entries[e][1] == 4 ? 4 : 8);
        }
        put(link, ifd, offset);
        link = ifd + count + entry * std::size(entries);
    }
    return out;
}

std::string stripeBytes(int width, int height, int k) {
    std::string px(static_cast<size_t>(width) * height, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[static_cast<size_t>(y) * width + x] = static_cast<char>((x + y / 3) % 16 < 5 + k ? 40 : 210);
    return px;
}

} // namespace

// An output that is one of the run's inputs (by name, through a link, as the values file) or is
// no regular file is refused before anything runs, and every input stays as it was.
TEST_F(SeriesFilesTest, OutputsNeverReplaceInputsOrSpecialFiles) {
    const QString a = stripes(QStringLiteral("a.png"));
    writeData(QStringLiteral("s.csv"), "1,2,3\n4,5,6\n7,8,9\n");
    writeData(QStringLiteral("v.txt"), "1\n");
    ASSERT_EQ(::symlink(a.toLocal8Bit().constData(), dataFile("link.svg").toLocal8Bit().constData()), 0);
    ASSERT_EQ(::mkfifo(dataFile("fifo.csv").toLocal8Bit().constData(), 0600), 0);
    const std::string before = dataBytes(QStringLiteral("a.png"));
    const QString m = QStringLiteral("--measure");
    const struct {
        QStringList args;
        const char* said;
    } rows[] = {
        {{m, a, dataFile("s.csv"), QStringLiteral("--plot"), a}, "is the input"},
        {{m, a, dataFile("s.csv"), QStringLiteral("--table"), dataFile("s.csv")}, "is the input"},
        {{m, a, QStringLiteral("--plot"), dataFile("link.svg")}, "is the input"},
        {{m, a, QStringLiteral("--values-file"), dataFile("v.txt"), QStringLiteral("--table"),
          dataFile("v.txt")},
         "is the input"},
        {{m, a, QStringLiteral("--table"), dataFile("fifo.csv")}, "pipe"},
        {{m, a, QStringLiteral("--table"), data}, "folder"},
    };
    for (const auto& row : rows) {
        const Run r = run(row.args);
        EXPECT_EQ(r.code, 2) << row.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(row.said))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << "nothing is measured: " << r.out.toStdString();
    }
    EXPECT_EQ(dataBytes(QStringLiteral("a.png")), before);
    EXPECT_EQ(dataBytes(QStringLiteral("s.csv")), "1,2,3\n4,5,6\n7,8,9\n");
    EXPECT_EQ(dataBytes(QStringLiteral("v.txt")), "1\n");
    struct stat st {};
    ASSERT_EQ(::stat(dataFile("fifo.csv").toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A reader that goes away or a full standard output: the table and plot are still written, and
// the run exits 1 saying the records were lost.
TEST_F(SeriesFilesTest, StandardOutputThatCannotBeWritten) {
    QStringList frames;
    for (int k = 0; k < 20; ++k)
        frames << stripes(QStringLiteral("f%1.png").arg(k), k);
    const QString table = dataFile("t.csv"), plot = dataFile("p.svg");
    const QStringList args = QStringList{QStringLiteral("--measure")} + frames +
                             QStringList{QStringLiteral("--table"), table, QStringLiteral("--plot"), plot};
    const Run full = run(args, QStringLiteral("/dev/full"));
    EXPECT_EQ(full.code, 1);
    EXPECT_TRUE(full.err.contains(QStringLiteral("standard output could not be written")))
        << full.err.toStdString();
    EXPECT_EQ(dataBytes(QStringLiteral("t.csv")).find("\n20,") != std::string::npos, true);
    EXPECT_TRUE(QFile::exists(plot));
    QFile::remove(table);
    QStringList quoted;
    for (const QString& a : args)
        quoted << QLatin1Char('\'') + a + QLatin1Char('\'');
    QProcess bash;
    bash.start(
        QStringLiteral("bash"),
        {QStringLiteral("-c"), QStringLiteral("'%1/Tovra' %2 | head -c 10 >/dev/null; echo ${PIPESTATUS[0]}")
                                   .arg(QCoreApplication::applicationDirPath(), quoted.join(' '))});
    bash.waitForFinished(60000);
    EXPECT_EQ(QString::fromUtf8(bash.readAllStandardOutput()).trimmed(), QStringLiteral("1"));
    EXPECT_TRUE(dataBytes(QStringLiteral("t.csv")).find("\n20,") != std::string::npos);
}

// Texts from the user or from files reach the SVG escaped and the table's comments on one line.
TEST_F(SeriesFilesTest, TextsCannotBreakTheSvgOrTheTable) {
    const QString odd = dataFile(QStringLiteral("odd\nname.png"));
    QFile::copy(stripes(QStringLiteral("b.png")), odd);
    const QString plot = dataFile("p.svg"), table = dataFile("t.csv");
    const Run r =
        run({QStringLiteral("--measure"), stripes(QStringLiteral("a.png")), odd,
             QStringLiteral("--value-unit"), QStringLiteral("a&b</title><script>alert(1)</script>\nx"),
             QStringLiteral("--plot"), plot, QStringLiteral("--table"), table});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    QFile f(plot);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) {
        xml.readNext();
        EXPECT_NE(xml.name().toString(), QStringLiteral("script"));
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    // Every line above the header row is a comment (a name's line break quoted in a row is CSV's own).
    const QStringList lines = QString::fromUtf8(dataBytes(QStringLiteral("t.csv"))).split('\n');
    const qsizetype header = lines.indexOf(QRegularExpression(QStringLiteral("^frame,.*")));
    ASSERT_GT(header, 0);
    for (qsizetype k = 0; k < header; ++k)
        EXPECT_TRUE(lines[k].startsWith('#')) << lines[k].toStdString();
    EXPECT_TRUE(lines.join('\n').contains(QStringLiteral("odd name.png, ")) ||
                lines.join('\n').contains(QStringLiteral("odd name.png\n")));
}

// Any finite range of values gives an axis: no NaN in the SVG, ticks that are distinct numbers.
TEST_F(SeriesFilesTest, PlotAxesTakeAnyFiniteRange) {
    const QString a = stripes(QStringLiteral("a.png")), b = stripes(QStringLiteral("b.png"), 2);
    for (const char* values : {"1e308,-1e308", "1e16,10000000000000002", "-1.7e308,1.7e308", "5,5"}) {
        const QString plot = dataFile("p.svg");
        const Run r = run({QStringLiteral("--measure"), a, b, QStringLiteral("--values"),
                           QLatin1String(values), QStringLiteral("--plot"), plot});
        EXPECT_EQ(r.code, 0) << values << r.err.toStdString();
        const QString svg = QString::fromUtf8(dataBytes(QStringLiteral("p.svg")));
        EXPECT_FALSE(svg.contains(QStringLiteral("nan"), Qt::CaseInsensitive)) << values;
        EXPECT_FALSE(svg.contains(QStringLiteral("inf"), Qt::CaseInsensitive)) << values;
        QMap<QString, int> labels;
        static const QRegularExpression text(QStringLiteral(">([-+0-9.e]+)</text>"));
        for (auto it = text.globalMatch(svg); it.hasNext();)
            ++labels[it.next().captured(1)];
        EXPECT_GE(labels.size(), 4) << values;
        for (auto it = labels.begin(); it != labels.end(); ++it)
            EXPECT_LE(it.value(), 4) << values << " label " << it.key().toStdString();
    }
}

// FIFOs and devices named as pictures or values are refused at once with the reason; a listed
// one keeps its row.
TEST_F(SeriesFilesTest, SpecialFilesAreRefusedNotWaitedOn) {
    const QString a = stripes(QStringLiteral("a.png"));
    ASSERT_EQ(::mkfifo(dataFile("f.tif").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(dataFile("v.txt").toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dataFile("z.tif").toLocal8Bit().constData()), 0);
    const QString m = QStringLiteral("--measure");
    const struct {
        QStringList args;
        int code;
        const char* said;
    } rows[] = {
        {{m, a, dataFile("f.tif")}, 1, "pipe"},
        {{m, a, dataFile("z.tif")}, 1, "device"},
        {{m, a, QStringLiteral("--values-file"), dataFile("v.txt")}, 2, "pipe"},
        {{m, a, QStringLiteral("--values-file"), QStringLiteral("/dev/zero")}, 2, "device"},
        {{m, a, QStringLiteral("--background"), dataFile("z.tif")}, 2, "device"},
        {{m, a, dataFile("missing.png")}, 1, "no such file"},
    };
    for (const auto& row : rows) {
        const Run r = run(row.args);
        EXPECT_EQ(r.code, row.code) << row.args.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(row.said))) << r.err.toStdString();
    }
    // In a folder, the FIFO is a frame with its reason, and the frames after it keep their numbers.
    QDir().mkpath(dataFile("sweep"));
    QFile::copy(a, dataFile("sweep/h_1.png"));
    ASSERT_EQ(::mkfifo(dataFile("sweep/h_2.png").toLocal8Bit().constData(), 0600), 0);
    QFile::copy(a, dataFile("sweep/h_3.png"));
    QString why;
    const std::vector<SeriesFrame> frames = seriesFrames({dataFile("sweep")}, why);
    ASSERT_EQ(frames.size(), 3u) << why.toStdString();
    double um = 0;
    EXPECT_FALSE(readFrame(frames[1], {}, um, why));
    EXPECT_TRUE(why.contains(QStringLiteral("pipe"))) << why.toStdString();
    EXPECT_TRUE(frames[2].file.endsWith(QStringLiteral("h_3.png")));
}

// BigTIFF's pages are read and checked whole as classic TIFF's are; a page deep in a long stack
// costs what the first does (20,000 pages in well under the minute a walk from the start takes).
TEST_F(SeriesFilesTest, BigTiffAndLongStacks) {
    std::vector<std::string> pages;
    for (int k = 0; k < 5; ++k)
        pages.push_back(stripeBytes(96, 80, k));
    for (const bool big : {false, true}) {
        const std::string tiff = tiffOf(pages, 96, 80, big);
        writeData(QStringLiteral("s.tif"), tiff);
        writeData(QStringLiteral("cut.tif"), tiff.substr(0, tiff.size() * 2 / 3));
        const Run whole = run({QStringLiteral("--measure"), dataFile("s.tif"), QStringLiteral("--format"),
                               QStringLiteral("csv")});
        EXPECT_EQ(whole.code, 0) << big << whole.err.toStdString();
        EXPECT_EQ(whole.out.count(QLatin1Char('\n')), 7)
            << big << whole.out.toStdString(); // provenance, header, five pages
        EXPECT_TRUE(
            whole.out.contains(QStringLiteral("\n\"") + dataFile("s.tif") + QStringLiteral("\",5,")) ||
            whole.out.contains(dataFile("s.tif") + QStringLiteral(",5,")))
            << whole.out.toStdString();
        const Run cut = run({QStringLiteral("--measure"), dataFile("cut.tif")});
        EXPECT_EQ(cut.code, 1) << big;
        EXPECT_TRUE(cut.err.contains(QStringLiteral("cannot be read whole"))) << cut.err.toStdString();
    }
    // A header of a few bytes claiming a page of almost a gigapixel is refused before its pixels
    // are made room for.
    writeData(QStringLiteral("claims.tif"), tiffOf({std::string(16, '\x80')}, 30000, 30000, false));
    const Run claims = run({QStringLiteral("--measure"), dataFile("claims.tif")});
    EXPECT_EQ(claims.code, 1);
    EXPECT_TRUE(claims.err.contains(QStringLiteral("pixels are not in the file")))
        << claims.err.toStdString();
    const std::vector<std::string> many(20000, std::string(1, '\x80'));
    writeData(QStringLiteral("long.tif"), tiffOf(many, 1, 1, true));
    const Run r = run({QStringLiteral("--measure"), dataFile("long.tif"), QStringLiteral("--format"),
                       QStringLiteral("csv")});
    EXPECT_EQ(r.out.count(QLatin1Char('\n')), 20002) << r.err.left(400).toStdString();
}

// The numbers in names, with their exponents; values files that cannot say which column holds
// the values, and lines too long to quote whole.
TEST_F(SeriesFilesTest, NumbersInNamesAndValuesFiles) {
    const struct {
        const char* name;
        std::optional<double> value;
    } names[] = {{"h_1e5.png", 1e5},
                 {"h_2e5.png", 2e5},
                 {"x_2.5E-3.tif", 0.0025},
                 {"H_-2.5mT_010.png", 10},
                 {"B_-20mT.png", -20},
                 {"frame_7e.png", 7},
                 {"h_1e999.png", std::nullopt},
                 {"plain.png", std::nullopt}};
    for (const auto& row : names)
        EXPECT_EQ(lastNumberInName(QLatin1String(row.name)), row.value) << row.name;
    std::vector<SeriesFrame> frames(2);
    QString error;
    writeData(QStringLiteral("dup.csv"), "field,field\n1,2\n3,4\n");
    EXPECT_FALSE(assignValues(frames, {{}, dataFile("dup.csv"), QStringLiteral("field"), {}}, error));
    EXPECT_TRUE(error.contains(QStringLiteral("2 columns named \"field\""))) << error.toStdString();
    writeData(QStringLiteral("long.txt"), "1\n" + std::string(100000, 'x') + "\n");
    EXPECT_FALSE(assignValues(frames, {{}, dataFile("long.txt"), {}, {}}, error));
    EXPECT_LT(error.size(), 300) << error.left(400).toStdString();
}

// A folder of a sweep comes in the order of its fields, minus signs of every kind read as signs
// (after a letter too, which is said); a loop named by its field alone is refused, with how to
// name one.
TEST_F(SeriesFilesTest, FramesInTheOrderOfTheirValues) {
    QStringList names{QStringLiteral("H_50mT"),         QStringLiteral("H_-5mT"),
                      QStringLiteral("H_0mT"),          QStringLiteral("H_-50mT"),
                      QString::fromUtf8("H_\u22127mT"), QString::fromUtf8("H_\uFF0D3mT"),
                      QStringLiteral("H_5mT"),          QStringLiteral("H_-5.5mT"),
                      QStringLiteral("frame_10"),       QStringLiteral("frame_2")};
    std::sort(names.begin(), names.end(), naturallyBefore);
    const QStringList expected{QStringLiteral("frame_2"),        QStringLiteral("frame_10"),
                               QStringLiteral("H_-50mT"),        QString::fromUtf8("H_\u22127mT"),
                               QStringLiteral("H_-5.5mT"),       QStringLiteral("H_-5mT"),
                               QString::fromUtf8("H_\uFF0D3mT"), QStringLiteral("H_0mT"),
                               QStringLiteral("H_5mT"),          QStringLiteral("H_50mT")};
    EXPECT_EQ(names, expected) << names.join(' ').toStdString();
    const struct {
        const char* name;
        double value;
        bool afterLetter;
    } rows[] = {{"H-10mT.png", -10, true},
                {"H_-10mT.png", -10, false},
                {"scan_10-20.png", 20, false},
                {"H_\xe2\x88\x92"
                 "7mT.png",
                 -7, false},
                {"-3.png", -3, false}};
    for (const auto& row : rows) {
        bool afterLetter = false;
        EXPECT_EQ(lastNumberInName(QString::fromUtf8(row.name), &afterLetter), row.value) << row.name;
        EXPECT_EQ(afterLetter, row.afterLetter) << row.name;
    }
    // A loop named by its field alone, from a folder: refused. Listed one by one: the list's order.
    QDir().mkpath(dataFile("loop"));
    for (const char* name : {"up_-5mT.png", "up_5mT.png", "down_-5mT.png"})
        stripes(QStringLiteral("loop/") + QLatin1String(name));
    QString why;
    std::vector<SeriesFrame> frames = seriesFrames({dataFile("loop")}, why);
    ValueSource fromName;
    fromName.fromName = true;
    EXPECT_FALSE(assignValues(frames, fromName, why));
    EXPECT_TRUE(why.contains(QStringLiteral("H_001_-5mT.png"))) << why.toStdString();
    frames = seriesFrames(
        {dataFile("loop/up_-5mT.png"), dataFile("loop/up_5mT.png"), dataFile("loop/down_-5mT.png")}, why);
    EXPECT_TRUE(assignValues(frames, fromName, why)) << why.toStdString();
    const Run r = run({QStringLiteral("--measure"), dataFile("loop/up_5mT.png"),
                       stripes(QStringLiteral("H-10mT.png")), QStringLiteral("--values-from-name")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("H-10mT.png: read as -10"))) << r.err.toStdString();
}

// On a terminal the measurement shows its progress as the batch does; in a pipe it does not.
TEST_F(SeriesFilesTest, ProgressOnATerminalOnly) {
    QStringList quoted;
    for (int k = 0; k < 4; ++k)
        quoted << QLatin1Char('\'') + stripes(QStringLiteral("p%1.png").arg(k), k) + QLatin1Char('\'');
    QProcess p; // script(1) gives the program a terminal
    p.start(QStringLiteral("script"), {QStringLiteral("-qec"),
                                       QStringLiteral("'%1/Tovra' --measure %2 --jobs 1")
                                           .arg(QCoreApplication::applicationDirPath(), quoted.join(' ')),
                                       QStringLiteral("/dev/null")});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("[1/4]")) && out.contains(QStringLiteral("frames/s")) &&
                out.contains(QStringLiteral("left")))
        << out.toStdString();
    QStringList files;
    for (int k = 0; k < 4; ++k)
        files << dataFile(QStringLiteral("p%1.png").arg(k));
    EXPECT_FALSE(
        run(QStringList{QStringLiteral("--measure")} + files).err.contains(QStringLiteral("frames/s")));
}

// A generated loop, coercive fields +8 (up) and -4 (down): the loop's parameters from the
// frames, each within half a field step; a branch that never crosses zero says so.
TEST_F(SeriesFilesTest, LoopParametersFromAGeneratedSweep) {
    std::vector<double> fields;
    for (int h = -30; h <= 30; h += 5)
        fields.push_back(h);
    for (int h = 25; h >= -30; h -= 5)
        fields.push_back(h);
    QStringList args{QStringLiteral("--measure")}, values;
    for (size_t k = 0; k < fields.size(); ++k) {
        const bool up = k <= 12;
        const double m = std::tanh((fields[k] - (up ? 8.0 : -4.0)) / 15), black = 24 * (1 - m) / 2;
        const QImage img = testing_support::loopFrame(black, static_cast<int>(k));
        const QString name = dataFile(QStringLiteral("f%1.png").arg(k, 2, 10, QLatin1Char('0')));
        img.save(name);
        args << name, values << QString::number(fields[k]);
    }
    args << QStringLiteral("--values") << values.join(',') << QStringLiteral("--value-unit")
         << QStringLiteral("mT") << QStringLiteral("--loop") << dataFile("loop.json")
         << QStringLiteral("--table") << dataFile("t.csv");
    const Run r = run(args);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject loop =
        QJsonDocument::fromJson(QByteArray::fromStdString(dataBytes("loop.json"))).object();
    EXPECT_NEAR(loop[QStringLiteral("coercivity")].toDouble(), 6, 2.5);
    EXPECT_NEAR(loop[QStringLiteral("exchange_bias")].toDouble(), 2, 2.5);
    EXPECT_GT(loop[QStringLiteral("coercivity_se")].toDouble(), 0);
    const QJsonArray branches = loop[QStringLiteral("branches")].toArray();
    ASSERT_EQ(branches.size(), 2);
    EXPECT_EQ(branches[0].toObject()[QStringLiteral("direction")].toString(), QStringLiteral("up"));
    const double truths[2] = {8, -4};
    for (int b = 0; b < 2; ++b) { // within half a step, and within three whole errors
        const QJsonObject o = branches[b].toObject();
        const double got = o[QStringLiteral("coercive")].toDouble();
        const double whole = std::hypot(o[QStringLiteral("coercive_se")].toDouble(),
                                        o[QStringLiteral("coercive_sys")].toDouble());
        EXPECT_NEAR(got, truths[b], 2.5);
        EXPECT_LE(std::fabs(got - truths[b]), 3 * whole) << got << " ± " << whole;
    }
    EXPECT_NEAR(branches[0].toObject()[QStringLiteral("remanence")].toDouble(), std::tanh(-8.0 / 15), 0.1);
    EXPECT_TRUE(QString::fromStdString(dataBytes("t.csv")).contains(QStringLiteral("# loop: coercivity ")));
    // Other field steps, straight from the frames' points: within half a step and three whole errors.
    for (const double step : {2.5, 10.0}) {
        std::vector<SeriesPoint> sweep;
        for (int dir = 0; dir < 2; ++dir)
            for (double h = dir == 0 ? -30 : 30; dir == 0 ? h <= 30 : h >= -30;
                 h += dir == 0 ? step : -step) {
                if (dir == 1 && h == 30) continue;
                SeriesPoint p;
                p.value = h, p.pattern = QStringLiteral("stripes"), p.reliable = true;
                p.blackFraction = (1 - std::tanh((h - (dir == 0 ? 8.0 : -4.0)) / 15)) / 2,
                p.blackFractionSe = 0.002;
                sweep.push_back(p);
            }
        const Loop l = loopOf(sweep);
        ASSERT_TRUE(l.coercivity) << step;
        const double whole = std::hypot(*l.coercivitySe, l.loopSys.value_or(0));
        EXPECT_NEAR(*l.coercivity, 6, step / 2) << step;
        EXPECT_NEAR(*l.exchangeBias, 2, step / 2) << step;
        EXPECT_LE(std::fabs(*l.coercivity - 6), 3 * whole + 1e-9) << step << " ± " << whole;
    }
    EXPECT_TRUE(loopOf(std::vector<SeriesPoint>(1)).note.contains(QStringLiteral("two frames")));
    // One branch, never crossing zero.
    std::vector<SeriesPoint> points(3);
    for (size_t k = 0; k < points.size(); ++k)
        points[k].value = static_cast<double>(k), points[k].pattern = QStringLiteral("stripes"),
        points[k].reliable = true, points[k].blackFraction = 0.2;
    const Loop one = loopOf(points);
    ASSERT_EQ(one.branches.size(), 1u);
    EXPECT_FALSE(one.branches[0].coercive);
    EXPECT_TRUE(one.branches[0].note.contains(QStringLiteral("does not cross zero")));
    EXPECT_FALSE(one.coercivity);
}

// The plot for a slide or a paper: the quantity named, the texts in either language, PDF as well.
TEST_F(SeriesFilesTest, PlotsNamedInEitherLanguageAndAsPdf) {
    const QString a = stripes(QStringLiteral("a.png")), b = stripes(QStringLiteral("b.png"), 2);
    const QStringList common{QStringLiteral("--measure"),
                             a,
                             b,
                             QStringLiteral("--values"),
                             QStringLiteral("-5,5"),
                             QStringLiteral("--value-unit"),
                             QStringLiteral("mT"),
                             QStringLiteral("--value-name"),
                             QString::fromUtf8("μ0H")};
    EXPECT_EQ(run(common + QStringList{QStringLiteral("--plot"), dataFile("p.svg")}).code, 0);
    const QString english = QString::fromUtf8(dataBytes(QStringLiteral("p.svg")));
    EXPECT_TRUE(english.contains(QString::fromUtf8("μ0H (mT)")));
    EXPECT_TRUE(english.contains(QStringLiteral("net magnetisation")));
    EXPECT_EQ(run(common + QStringList{QStringLiteral("--language"), QStringLiteral("ja"),
                                       QStringLiteral("--plot"), dataFile("p.svg")})
                  .code,
              0);
    EXPECT_TRUE(QString::fromUtf8(dataBytes(QStringLiteral("p.svg"))).contains(QString::fromUtf8("磁化")));
    EXPECT_EQ(run(common + QStringList{QStringLiteral("--plot"), dataFile("p.pdf")}).code, 0);
    EXPECT_EQ(dataBytes(QStringLiteral("p.pdf")).substr(0, 5), "%PDF-");
}

// The loop's saturated ends: a frame of one colour at the black or the white domains' level of the
// other frames is measured as black fraction 1 or 0, reliable, in the table and the plot; one at
// neither level stays a frame without a pattern.
TEST_F(SeriesFilesTest, SaturatedFramesAreTheLoopsEnds) {
    auto uniform = [&](const QString& name, int grey) {
        QImage img(96, 96, QImage::Format_Grayscale8);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x)
                img.setPixel(x, y, 0x010101 * (grey + (x * 7 + y * 13) % 5 - 2));
        img.save(dataFile(name));
        return dataFile(name);
    };
    const QStringList frames{uniform(QStringLiteral("all_black.png"), 40),
                             stripes(QStringLiteral("s1.png"), 1), stripes(QStringLiteral("s2.png"), 3),
                             uniform(QStringLiteral("all_white.png"), 210),
                             uniform(QStringLiteral("grey.png"), 125)};
    const Run r = run(QStringList{QStringLiteral("--measure")} + frames +
                      QStringList{QStringLiteral("--values"), QStringLiteral("-20,-5,5,20,30"),
                                  QStringLiteral("--table"), dataFile("t.csv"), QStringLiteral("--plot"),
                                  dataFile("p.svg")});
    const QStringList rows = QString::fromUtf8(dataBytes(QStringLiteral("t.csv"))).split('\n');
    auto row = [&](int frame) {
        for (const QString& line : rows)
            if (line.startsWith(QString::number(frame) + QLatin1Char(','))) return line;
        return QString();
    };
    EXPECT_TRUE(row(1).contains(QStringLiteral(",saturated,true,1,0,-1,0,,"))) << row(1).toStdString();
    EXPECT_TRUE(row(4).contains(QStringLiteral(",saturated,true,0,0,1,0,,"))) << row(4).toStdString();
    EXPECT_FALSE(row(5).contains(QStringLiteral("saturated"))) << row(5).toStdString();
    EXPECT_FALSE(QString::fromUtf8(dataBytes(QStringLiteral("p.svg")))
                     .contains(QStringLiteral("nan"), Qt::CaseInsensitive));
    (void)r;
}
