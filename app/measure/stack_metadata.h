// What a TIFF stack's description says of its pixels and planes: OME-XML (the pixel size with its
// unit, each plane's DeltaT and the values of the map annotations it refers to) or an ImageJ
// description (its unit applied to the resolution tags, the frame interval). Anything it cannot
// use is said in a note, and the tags' own pixel size stands.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tovra {

struct PlaneMetadata {
    std::optional<double> deltaTS; // seconds since the first plane
    QMap<QString, QString> values; // the map annotations' keys and values
};

struct StackMetadata {
    QString kind;                      // "OME", "ImageJ", or empty where the description is neither
    double pixelSizeUm = 0;            // above 0 where the description gives it
    std::vector<PlaneMetadata> planes; // one a page, in the pages' order (empty: none stated)
    QStringList notes;                 // what could not be used, and why
};

// The description of a stack of `pages` pages, the first page's X resolution (pixels per unit;
// 0 for none) beside it, for an ImageJ description's unit.
StackMetadata stackMetadata(const QByteArray& description, int pages, double xResolution);

} // namespace tovra
