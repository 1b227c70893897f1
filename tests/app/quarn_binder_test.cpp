// The binder: exports found by name, calls bracketed by the work folder.
#include "support/module_fixture.h"

using namespace tovra;
using namespace tovra_test;

TEST(Binder, MissingLibraryMakesEachCallFail) {
    testing_support::TempDir tmp;
    AppState state;
    QuarnBinder quarn(QStringLiteral("/nonexistent/Quarn"), QString::fromStdString(tmp.path().string()));
    FileDialogs dialogs;
    Module module(state, quarn, dialogs);
    std::vector<double> buf(4);
    EXPECT_EQ(quarn.Toutim(0, buf.data()), QuarnBinder::kUnbound);
    module.doMedian();
    module.drawSlot();
    module.redrawAll();
    EXPECT_EQ(state.info().id, QStringLiteral("0"));
}

TEST(Binder, CallsRunInTheWorkFolderAndComeBack) {
    testing_support::TempDir tmp;
    const QString work = QString::fromStdString((tmp.path() / "w").string());
    QDir().mkpath(work);
    QuarnBinder quarn(QCoreApplication::applicationDirPath() + QStringLiteral("/Quarn"), work);
    const QString before = QDir::currentPath();
    std::vector<double> buf{1, 2};
    ASSERT_EQ(quarn.Openxim(2, 1, 5, buf.data()), 0);
    EXPECT_EQ(QDir::currentPath(), before);
    EXPECT_TRUE(QFile::exists(work + "/5_im.tmp"));
    int32_t w = 0, h = 0;
    ASSERT_EQ(quarn.Xyretid(5, &w, &h), 0);
    EXPECT_EQ(w, 2);
}
