#include "application.h"

#include "about_window.h"
#include "core/system_info.h"
#include "core/toolbox_window.h"
#include "core/work_folder.h"
#include "help_window.h"
#include "histogram/histogram_window.h"
#include "hough/editor_window.h"
#include "hough/simulator_window.h"
#include "image_window.h"
#include "info_window.h"
#include "main_window.h"
#include "measure/measurement_window.h"
#include "measure/motion_window.h"
#include "measure/series_window.h"
#include "measure/track_window.h"
#include "widgets/screen_fit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QUrl>

// The icon lives in the widget library's resources, which a static library must bring in by
// hand (outside any namespace).
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tovra {

namespace {

// The guide in Japanese like the rest of the program, or the English one where it is missing.
QString guideFile(const QString& folder) {
    const QString japanese = QDir(folder).filePath(QStringLiteral("user-guide.ja.md"));
    return QFileInfo::exists(japanese) ? japanese : QDir(folder).filePath(QStringLiteral("user-guide.md"));
}

} // namespace

namespace {

const QString kMailAddress = QStringLiteral("mailto:tovra-support@tovra.org");

// The progress of a batch run: shown at once, application-modal, with no cancel button, and
// neither Esc nor the window's close button dismisses it.
class RunProgress : public QProgressDialog {
public:
    RunProgress() : QProgressDialog(QStringLiteral("連続処理中…"), QString(), 0, 1) {
        setObjectName(QStringLiteral("batchProgress"));
        setWindowTitle(QStringLiteral("連続処理"));
        setWindowModality(Qt::ApplicationModal);
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setMinimumDuration(0);
        setAutoClose(false);
        setAutoReset(false);
    }
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* e) override { e->ignore(); }
};

} // namespace

Application::Application(const QString& programFolder, const Options& options)
    : programFolder_(programFolder), options_(options),
      workFolder_(chooseWorkFolder(options.workFolder.isEmpty() ? defaultWorkFolder(programFolder)
                                                                : options.workFolder)),
      quarn_(QDir(programFolder).filePath(QStringLiteral("Quarn")), workFolder_.folder),
      module_(state_, quarn_, dialogs_), histogram_(module_), simulator_(module_), editor_(module_),
      measurement_(module_), series_(module_), tracking_(module_), motion_(module_), batch_(module_) {
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tovra/icon.png")));
    ImageWindow::setClosingForExit(false);
    dialogs_.setPlatform([](bool save, const QString& filter,
                            const QString& suggested) -> FileDialogs::Answer {
        const QString qtFilter = FileDialogs::toQtFilter(filter);
        const QString path = filter == FileDialogs::folderFilter() ? QFileDialog::getExistingDirectory()
                             : save ? QFileDialog::getSaveFileName(nullptr, QString(), suggested, qtFilter)
                                    : QFileDialog::getOpenFileName(nullptr, QString(), QString(), qtFilter);
        if (path.isEmpty()) return std::nullopt;
        return path;
    });
    dialogs_.setMessagePlatform([](const QString& text) {
        QMessageBox::information(QApplication::activeWindow(), QStringLiteral("Tovra"), text);
    });
    dialogs_.setQuestionPlatform([](const QString& text) {
        const auto b = QMessageBox::question(QApplication::activeWindow(), QStringLiteral("Tovra"), text,
                                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        return b == QMessageBox::Yes  ? FileDialogs::Reply::Yes
               : b == QMessageBox::No ? FileDialogs::Reply::No
                                      : FileDialogs::Reply::Cancel;
    });

    // Opening a ".tvs" file runs it behind a modal progress dialog that cannot be dismissed, so
    // no other command (not even the exit, which deletes the work files) starts before it ends.
    batch_.makeHistogram = [this](int mode) { return histogram_.makeHistogram(mode); };
    module_.runScript = [this](const QString& path, const QString&) { runScript(path); };

    QObject::connect(&state_, &AppState::imageWindowCreated, [this](int slot) {
        images_[slot] = new ImageWindow(module_, slot);
        images_[slot]->setAttribute(Qt::WA_DeleteOnClose, false);
    });

    MainWindow::Actions actions;
    actions.exit = [this] { exit(); };
    actions.showImage = [this] { module_.showImageWindow(module_.currentId()); };
    actions.showInfo = [this] { info_->show(), info_->raise(); };
    actions.showToolbox = [this] { toolbox_->show(), toolbox_->raise(); };
    actions.openHelp = [this] {
        const bool first = !help_;
        if (first) help_ = std::make_unique<HelpWindow>(guideFile(programFolder_));
        help_->showGuide();
        // Beside the main bar, clear of it and of the toolbox below it.
        if (first) help_->move(main_->frameGeometry().right() + 16, main_->y());
        keepOnScreen(help_.get());
    };
    // Where no program opens mail addresses (a server, a bare desktop) the address is shown.
    actions.mailAuthor = [this] {
        if (!QDesktopServices::openUrl(QUrl(kMailAddress)))
            module_.inform(
                QStringLiteral("メールを開くプログラムが見つかりません。作者のアドレスは %1 です。")
                    .arg(QUrl(kMailAddress).path()));
    };
    actions.showAbout = [this] {
        if (!about_) about_ = std::make_unique<AboutWindow>([this] { return systemInformation(quarn_); });
        about_->show();
        about_->raise();
    };
    main_ = std::make_unique<MainWindow>(module_, actions);
    toolbox_ = std::make_unique<ToolboxWindow>(module_);
    info_ = std::make_unique<InfoWindow>(module_);
    defaultImage_ = std::make_unique<ImageWindow>(module_, -1);
    // The histogram window exists, hidden, from the start: batch scripts use its procedures.
    histogramWindow_ = std::make_unique<HistogramWindow>(histogram_);
    auto showHistogram = [this] {
        histogramWindow_->show(), histogramWindow_->raise();
        keepOnScreen(histogramWindow_.get());
    };
    main_->addWindowItem("chist", QStringLiteral("ヒストグラム"), showHistogram);
    toolbox_->setShowAction("Command13", showHistogram);
    // The Hough windows are made on first use and then only hidden and shown.
    auto showSimulator = [this] {
        if (!simulatorWindow_) simulatorWindow_ = std::make_unique<SimulatorWindow>(simulator_);
        simulatorWindow_->show();
        simulatorWindow_->raise();
        keepOnScreen(simulatorWindow_.get());
    };
    auto showEditor = [this] {
        if (!editorWindow_) editorWindow_ = std::make_unique<EditorWindow>(editor_);
        editorWindow_->show();
        editorWindow_->raise();
        keepOnScreen(editorWindow_.get());
    };
    auto showMeasurement = [this] {
        if (!measurementWindow_) {
            measurementWindow_ = std::make_unique<MeasurementWindow>(measurement_, dialogs_);
            measurement_.measureCurrentSlot(); // a first result at once, of what the user looks at
        }
        measurementWindow_->show();
        measurementWindow_->raise();
        keepOnScreen(measurementWindow_.get());
    };
    editor_.onShowMeasurement = showMeasurement;
    QMenu* hough = main_->addWindowMenu("chf", QStringLiteral("ハフ変換"));
    main_->addMenuItem(hough, "chf1", QStringLiteral("エディッタ"), showEditor);
    main_->addMenuItem(hough, "chf2", QStringLiteral("シミュレータ"), showSimulator);
    toolbox_->setShowAction("Command15", showEditor);
    main_->addWindowItem("cmeasure", QStringLiteral("自動測定"), showMeasurement);
    main_->addWindowItem("cseries", QStringLiteral("系列の測定"), [this] {
        if (!seriesWindow_) seriesWindow_ = std::make_unique<SeriesWindow>(series_, dialogs_);
        seriesWindow_->show();
        seriesWindow_->raise();
        keepOnScreen(seriesWindow_.get());
    });
    main_->addWindowItem("ctrack", QStringLiteral("泡の追跡"), [this] {
        if (!trackWindow_) trackWindow_ = std::make_unique<TrackWindow>(tracking_, dialogs_);
        trackWindow_->show();
        trackWindow_->raise();
        keepOnScreen(trackWindow_.get());
    });
    main_->addWindowItem("cmotion", QStringLiteral("磁壁の運動"), [this] {
        if (!motionWindow_) motionWindow_ = std::make_unique<MotionWindow>(motion_, dialogs_);
        motionWindow_->show();
        motionWindow_->raise();
        keepOnScreen(motionWindow_.get());
    });
    toolbox_->setShowAction("Command14", showSimulator);
}

Application::~Application() {
    ImageWindow::setClosingForExit(true);
    for (ImageWindow*& w : images_) {
        delete w;
        w = nullptr;
    }
}

void Application::start() {
    main_->move(20, 20);
    toolbox_->move(20, 130);
    info_->move(240, 130);
    histogramWindow_->move(240, 480);
    const QPoint origin(400, 130);
    state_.setDefaultWindowPosition(origin);
    defaultImage_->move(origin);

    module_.startUp(programFolder_);
    main_->setWorkFolder(quarn_.workFolder());
    toolbox_->show();
    info_->show();
    main_->show();
    if (!workFolder_.notice.isEmpty()) dialogs_.inform(workFolder_.notice);
    for (int i = 0; i < options_.files.size() && i < kSlots; ++i) {
        const QString path = QFileInfo(options_.files[i]).absoluteFilePath();
        state_.setId(QString::number(i));
        module_.openImage(path, fileTitle(path));
    }
}

void Application::runScript(const QString& path) {
    BatchRunner::Outcome outcome;
    {
        Module::ScriptRun running(module_);
        RunProgress progress;
        batch_.onFile = [&progress](int i, int n, const QString& file) {
            progress.setMaximum(n);
            progress.setLabelText(QStringLiteral("%1 / %2  %3").arg(i).arg(n).arg(file));
            progress.setValue(i - 1);
        };
        outcome = batch_.run(path);
        batch_.onFile = nullptr;
        progress.setValue(progress.maximum());
        // Window activations queued during the run are spent while it still counts as running, so
        // the working slot stays the current one.
        QCoreApplication::processEvents();
    }
    if (outcome.refusal)
        dialogs_.inform(QStringLiteral("連続処理スクリプトを実行できません（%1 行目）: %2\n%3")
                            .arg(outcome.refusal->line)
                            .arg(outcome.refusal->reasonJa, path));
    else if (!outcome.scriptRead)
        dialogs_.inform(QStringLiteral("連続処理スクリプトとして読み込めません。\n%1").arg(path));
}

void Application::exit() {
    if (module_.scriptRunning()) return; // the run's work files are in use
    module_.deleteWorkFiles();
    ImageWindow::setClosingForExit(true);
    QCoreApplication::exit(0);
}

} // namespace tovra
