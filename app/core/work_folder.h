// The work folder: where the slots' work files and the histogram, profile and interval files
// live. It must be a folder in which files can be created.
#pragma once

#include <QString>
#include <QStringList>

namespace tovra {

// Makes the folder when it is missing and checks that a file can be created in it. False with a
// reason when not.
bool prepareWorkFolder(const QString& folder, QString* reason = nullptr);

// The per-user folder that the program uses when its own cannot be written.
QString userWorkFolder();

struct WorkFolderChoice {
    QString folder; // empty when neither folder can be used
    QString notice; // for the user, when the folder is not the one asked for
};

// The name of the mark an installation leaves beside the program (see packaging/).
inline constexpr char kInstalledMark[] = "tovra-installed";
// Where the work files go when the command line names no folder: the program's own folder where
// it runs from a build or a copied folder, the user's data folder (XDG) where it was installed,
// since an installed program's folder belongs to the system, not to whoever runs it.
QString defaultWorkFolder(const QString& programFolder);

// The program's work folder: `wanted` when it can be used, else the per-user folder.
WorkFolderChoice chooseWorkFolder(const QString& wanted);

// The names of the work files the program writes: the slots' pixel and info files, the crop and
// the Hough transit file. Only these are removed when the program ends.
QStringList workFileNames();

} // namespace tovra
