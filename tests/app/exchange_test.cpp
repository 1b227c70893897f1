// Files exchanged with other programs: what an OME-XML or ImageJ description says of a stack, as
// other programs write it and as they get it wrong, and the frames' values taken from it.
#include "measure/series.h"
#include "measure/stack_metadata.h"

#include <gtest/gtest.h>

using namespace tovra;

namespace {

QByteArray ome(const QString& pixels, const QString& planes, const QString& annotations = {}) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><OME "
               "xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\"><Image ID=\"Image:0\">"
               "<Pixels ID=\"Pixels:0\" Type=\"uint8\" SizeX=\"8\" SizeY=\"8\" %1>%2</Pixels></Image>"
               "<StructuredAnnotations>%3</StructuredAnnotations></OME>")
        .arg(pixels, planes, annotations)
        .toUtf8();
}

QString map(int id, const QString& key, const QString& value) {
    return QStringLiteral("<MapAnnotation ID=\"A:%1\"><Value><M K=\"%2\">%3</M></Value></MapAnnotation>")
        .arg(id)
        .arg(key, value);
}

} // namespace

// Each description with the pixel size, the planes' times and values it gives and the note it
// must leave (empty: none).
TEST(StackMetadata, DescriptionsAsWrittenAndAsMangled) {
    const QString tPlanes = QStringLiteral("<Plane TheZ=\"0\" TheC=\"0\" TheT=\"1\" DeltaT=\"500\" "
                                           "DeltaTUnit=\"ms\"><AnnotationRef ID=\"A:1\"/></Plane>"
                                           "<Plane TheZ=\"0\" TheC=\"0\" TheT=\"0\" DeltaT=\"0\" "
                                           "DeltaTUnit=\"ms\"><AnnotationRef ID=\"A:0\"/></Plane>");
    const QString maps = map(0, QStringLiteral("field"), QStringLiteral("-5")) +
                         map(1, QStringLiteral("field"), QStringLiteral("7.5"));
    const struct {
        const char* name;
        QByteArray description;
        int pages;
        double xResolution, pixelUm;
        const char* kind;
        std::vector<double> times; // per page, empty for none
        const char* field;         // page 2's "field", or nullptr for none
        const char* note;
    } rows[] = {
        {"OME in nm, planes out of order",
         ome(QStringLiteral(
                 "SizeT=\"2\" DimensionOrder=\"XYZCT\" PhysicalSizeX=\"250\" PhysicalSizeXUnit=\"nm\""),
             tPlanes, maps),
         2,
         0,
         0.25,
         "OME",
         {0, 0.5},
         "7.5",
         ""},
        {"OME, default unit µm",
         ome(QStringLiteral("SizeT=\"2\" PhysicalSizeX=\"0.5\""), {}),
         2,
         0,
         0.5,
         "OME",
         {},
         nullptr,
         ""},
        {"OME, unknown unit",
         ome(QStringLiteral("PhysicalSizeX=\"2\" PhysicalSizeXUnit=\"furlong\""), {}),
         1,
         0,
         0,
         "OME",
         {},
         nullptr,
         "\"furlong\" is not known"},
        {"OME, more planes than pages",
         ome(QStringLiteral("SizeT=\"5\" PhysicalSizeX=\"1\""), {}),
         3,
         0,
         1,
         "OME",
         {},
         nullptr,
         "counts 5 planes, the file holds 3 pages"},
        {"OME, not square",
         ome(QStringLiteral("PhysicalSizeX=\"1\" PhysicalSizeY=\"2\""), {}),
         1,
         0,
         1,
         "OME",
         {},
         nullptr,
         "not square"},
        {"OME cut short",
         QByteArray("<?xml version=\"1.0\"?><OME><Image><Pixels PhysicalSizeX=\"1\""),
         1,
         0,
         0,
         "",
         {},
         nullptr,
         "cannot be read"},
        {"OME, a negative size",
         ome(QStringLiteral("PhysicalSizeX=\"-1\""), {}),
         1,
         0,
         0,
         "OME",
         {},
         nullptr,
         "no size above 0"},
        {"OME, a plane beyond the pages",
         ome(QStringLiteral("SizeT=\"2\""), tPlanes),
         1,
         0,
         0,
         "OME",
         {},
         nullptr,
         "plane 1 lies beyond"},
        {"ImageJ hyperstack",
         QByteArray("ImageJ=1.53t\nimages=4\nchannels=2\nframes=2\nunit=micron\nfinterval=2\n"),
         4,
         4,
         0.25,
         "ImageJ",
         {0, 0, 2, 2},
         nullptr,
         ""},
        {"ImageJ, µm escaped",
         QByteArray("ImageJ=1.11a\nimages=2\nunit=\\u00B5m\n"),
         2,
         2,
         0.5,
         "ImageJ",
         {},
         nullptr,
         ""},
        {"ImageJ, unknown unit",
         QByteArray("ImageJ=1.53\nunit=parsec\n"),
         1,
         2,
         0,
         "ImageJ",
         {},
         nullptr,
         "\"parsec\" is not known"},
        {"OME, sizes whose product no integer holds",
         ome(QStringLiteral("SizeZ=\"1e9\" SizeC=\"1e9\" SizeT=\"1e9\" PhysicalSizeX=\"1\""),
             QStringLiteral("<Plane TheZ=\"999999999\" TheC=\"999999999\" TheT=\"999999999\"/>")),
         1,
         0,
         1,
         "OME",
         {},
         nullptr,
         "plane 1 lies beyond"},
        {"ImageJ, a count past any integer",
         QByteArray("ImageJ=1.53\nimages=3e57\n"),
         2,
         0,
         0,
         "ImageJ",
         {},
         nullptr,
         "counts 3e+57 images"},
        {"ImageJ, count differs",
         QByteArray("ImageJ=1.53\nimages=9\nunit=nm\n"),
         2,
         0.5,
         2e-3 / 1,
         "ImageJ",
         {},
         nullptr,
         "counts 9 images"},
        {"plain text", QByteArray("made by a camera"), 1, 3, 0, "", {}, nullptr, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const StackMetadata m = stackMetadata(r.description, r.pages, r.xResolution);
        EXPECT_EQ(m.kind, QString::fromUtf8(r.kind));
        EXPECT_NEAR(m.pixelSizeUm, r.pixelUm, 1e-12);
        if (*r.note) {
            EXPECT_TRUE(m.notes.join(u'|').contains(QString::fromUtf8(r.note)))
                << m.notes.join(u'|').toStdString();
        } else {
            EXPECT_TRUE(m.notes.isEmpty()) << m.notes.join(u'|').toStdString();
        }
        for (size_t k = 0; k < r.times.size(); ++k) {
            ASSERT_GT(m.planes.size(), k);
            ASSERT_TRUE(m.planes[k].deltaTS);
            EXPECT_DOUBLE_EQ(*m.planes[k].deltaTS, r.times[k]);
        }
        if (r.field) {
            ASSERT_EQ(m.planes.size(), 2u);
            EXPECT_EQ(m.planes[1].values.value(QStringLiteral("field")), QString::fromUtf8(r.field));
        }
    }
}

// Values from the metadata: a plane without the key, or with text for it, is refused and named.
TEST(StackMetadata, ValuesRefusedWherePlanesLackThem) {
    auto frame = [](int page, std::optional<PlaneMetadata> plane) {
        SeriesFrame f;
        f.file = QStringLiteral("stack.ome.tif"), f.page = page, f.plane = std::move(plane);
        return f;
    };
    PlaneMetadata good, text, timed;
    good.values.insert(QStringLiteral("field"), QStringLiteral(" 12.5 "));
    text.values.insert(QStringLiteral("field"), QStringLiteral("high"));
    timed.deltaTS = 3;
    ValueSource source;
    source.metadataKey = QStringLiteral("field");
    QString error;
    std::vector<SeriesFrame> frames{frame(1, good), frame(2, timed)};
    EXPECT_FALSE(assignValues(frames, source, error));
    EXPECT_TRUE(error.contains(QStringLiteral("page 2 has no value \"field\""))) << error.toStdString();
    frames = {frame(1, good), frame(2, text)};
    EXPECT_FALSE(assignValues(frames, source, error));
    EXPECT_TRUE(error.contains(QStringLiteral("\"high\", not a number"))) << error.toStdString();
    frames = {frame(1, good), frame(2, std::nullopt)};
    EXPECT_FALSE(assignValues(frames, source, error));
    EXPECT_TRUE(error.contains(QStringLiteral("no OME or ImageJ metadata")));
    frames = {frame(1, good), frame(2, good)};
    ASSERT_TRUE(assignValues(frames, source, error));
    EXPECT_EQ(frames[1].value, 12.5);
    source.metadataKey = QStringLiteral("DeltaT");
    frames = {frame(1, timed)};
    ASSERT_TRUE(assignValues(frames, source, error));
    EXPECT_EQ(frames[0].value, 3);
}
