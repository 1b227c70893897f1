// Where the work files go, and what is removed from there.
#include "core/work_folder.h"
#include "support/module_fixture.h"

using namespace tovra;
using namespace tovra_test;

// The exit removes only what the program writes; the folder may be the user's own.
TEST_F(ModuleTest, ExitRemovesOnlyTheProgramsWorkFiles) {
    for (const char* name :
         {"0_im.tmp", "16_inf.tmp", "srt.tmp", "hf.tmp", "notes.tmp", "17_im.tmp", "a_im.tmp"})
        testing_support::writeBytes(workFile(QLatin1String(name)).toStdString(), "x");
    module.deleteWorkFiles();
    for (const char* gone : {"0_im.tmp", "16_inf.tmp", "srt.tmp", "hf.tmp"})
        EXPECT_FALSE(workExists(QLatin1String(gone))) << gone;
    for (const char* kept : {"notes.tmp", "17_im.tmp", "a_im.tmp"})
        EXPECT_TRUE(workExists(QLatin1String(kept))) << kept;
}

// A folder that cannot be made or written is replaced by the user's own, and the user is told.
TEST_F(ModuleTest, UnwritableWorkFolderFallsBackToTheUsersFolder) {
    testing_support::writeBytes(dataFile("plain").toStdString(), "a file, not a folder");
    const QString blocked = dataFile("plain/work");
    QString reason;
    EXPECT_FALSE(prepareWorkFolder(blocked, &reason));
    EXPECT_TRUE(reason.contains(blocked));
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataFile("home").toLocal8Bit());
    const WorkFolderChoice choice = chooseWorkFolder(blocked);
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(choice.folder, dataFile("home/Tovra"));
    EXPECT_TRUE(choice.notice.contains(dataFile("home/Tovra")));
    EXPECT_EQ(chooseWorkFolder(data).notice, QString());
    // A binder whose folder cannot be entered writes nothing anywhere else.
    QuarnBinder lost(QCoreApplication::applicationDirPath() + QStringLiteral("/Quarn"), blocked);
    std::vector<double> buf(4, 1.0);
    EXPECT_NE(lost.Openxim(2, 2, 0, buf.data()), kStatusOk);
    EXPECT_FALSE(QFile::exists(QStringLiteral("0_im.tmp")));
}

// An installed program keeps its work files in the user's data folder without a word; one run from
// a build or a copied folder keeps them beside itself.
TEST_F(ModuleTest, InstalledProgramWorksInTheUsersDataFolder) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataFile("home").toLocal8Bit());
    EXPECT_EQ(defaultWorkFolder(data), data);
    testing_support::writeBytes(dataFile(QLatin1String(kInstalledMark)).toStdString(), "");
    EXPECT_EQ(defaultWorkFolder(data), dataFile("home/Tovra"));
    const WorkFolderChoice choice = chooseWorkFolder(defaultWorkFolder(data));
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(choice.folder, dataFile("home/Tovra"));
    EXPECT_TRUE(choice.notice.isEmpty());
}
