// The command line: options, help and refusals.
#include "shell/command_line.h"
#include "version.h"

#include <gtest/gtest.h>

using namespace tovra;

TEST(CommandLine, OptionsAndHelp) {
    QString message;
    int code = -1;
    auto o = parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--batch"), QStringLiteral("s.tvs"),
                               QStringLiteral("--contrast"), QStringLiteral("5"), QStringLiteral("250"),
                               QStringLiteral("--raw-override")},
                              message, code);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->batchScript, QStringLiteral("s.tvs"));
    EXPECT_EQ(o->contrastLow, QStringLiteral("5"));
    EXPECT_EQ(o->contrastHigh, QStringLiteral("250"));
    EXPECT_TRUE(o->rawOverride);
    EXPECT_FALSE(parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--help")}, message, code));
    EXPECT_EQ(code, 0);
    for (const char* opt : {"--batch", "--workdir", "--threshold", "--contrast", "--raw-override",
                            "--no-auto-draw", "--jobs", "--part"})
        EXPECT_TRUE(message.contains(QLatin1String(opt))) << opt;
    EXPECT_FALSE(parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--bogus")}, message, code));
    EXPECT_EQ(code, 2);
    // A threshold outside the grey levels would make every picture one colour.
    for (const char* t : {"256", "-1", "99999", "x"}) {
        EXPECT_FALSE(
            parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--batch"), QStringLiteral("s.tvs"),
                              QStringLiteral("--threshold"), QLatin1String(t)},
                             message, code))
            << t;
        EXPECT_EQ(code, 2) << t;
    }
    EXPECT_FALSE(parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--batch"),
                                   QStringLiteral("s.tvs"), QStringLiteral("a.mon")},
                                  message, code));
    o = parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("a.mon"), QStringLiteral("b.bmp")}, message,
                         code);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->files.size(), 2);
}

// The series' options: one source of values at a time, the column with its file, a plot that is
// PNG or SVG, and none of them without --measure. A negative first value is a value, not an option.
TEST(CommandLine, SeriesOptions) {
    QString message;
    int code = -1;
    auto o = parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--measure"), QStringLiteral("a.tif"),
                               QStringLiteral("--values"), QStringLiteral("-5,0,5"), QStringLiteral("--plot"),
                               QStringLiteral("p.SVG"), QStringLiteral("--value-unit"), QStringLiteral("mT")},
                              message, code);
    ASSERT_TRUE(o) << message.toStdString();
    EXPECT_EQ(o->values, QStringLiteral("-5,0,5"));
    EXPECT_TRUE(o->series());
    const struct {
        QStringList args;
        const char* said;
    } refused[] = {
        {{QStringLiteral("--values"), QStringLiteral("1"), QStringLiteral("--values-from-name")},
         "one at a time"},
        {{QStringLiteral("--values-column"), QStringLiteral("B")}, "goes with --values-file"},
        {{QStringLiteral("--plot"), QStringLiteral("p.eps")}, "FILE.svg or FILE.pdf"},
        {{QStringLiteral("--language"), QStringLiteral("de")}, "en or ja"},
        {{QStringLiteral("--values"), QString()}, "needs a list"},
    };
    for (const auto& row : refused) {
        EXPECT_FALSE(parseCommandLine(
            QStringList{QStringLiteral("Tovra"), QStringLiteral("--measure"), QStringLiteral("a.tif")}
                << row.args,
            message, code))
            << row.said;
        EXPECT_TRUE(message.contains(QLatin1String(row.said))) << message.toStdString();
        EXPECT_EQ(code, 2);
    }
    EXPECT_FALSE(parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("a.tif"),
                                   QStringLiteral("--table"), QStringLiteral("t.csv")},
                                  message, code));
    EXPECT_TRUE(message.contains(QStringLiteral("go with --measure")));
}

TEST(CommandLine, VersionIsTheBuildsOne) {
    QString message;
    int code = -1;
    EXPECT_FALSE(parseCommandLine({QStringLiteral("Tovra"), QStringLiteral("--version")}, message, code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message, QStringLiteral("Tovra " TOVRA_VERSION));
}
