// The program as a whole: the state, the library binder, the procedures and the windows, put
// together and started from the command line.
#pragma once

#include "command_line.h"
#include "core/app_state.h"
#include "core/batch.h"
#include "core/dialogs.h"
#include "core/module.h"
#include "core/quarn_binder.h"
#include "core/work_folder.h"
#include "histogram/histogram.h"
#include "hough/editor.h"
#include "hough/simulator.h"
#include "measure/measurement.h"
#include "measure/motion_module.h"
#include "measure/series_module.h"
#include "measure/track_module.h"

#include <QStringList>
#include <array>
#include <memory>

namespace tovra {

class AboutWindow;
class HelpWindow;
class SimulatorWindow;
class EditorWindow;
class MeasurementWindow;
class SeriesWindow;
class TrackWindow;
class MotionWindow;
class HistogramWindow;
class ImageWindow;
class InfoWindow;
class MainWindow;
class ToolboxWindow;

class Application {
public:
    Application(const QString& programFolder, const Options& options);
    ~Application();

    AppState& state() { return state_; }
    Module& module() { return module_; }
    FileDialogs& dialogs() { return dialogs_; }
    MainWindow& mainWindow() { return *main_; }
    ToolboxWindow& toolbox() { return *toolbox_; }
    InfoWindow& info() { return *info_; }
    ImageWindow* imageWindow(int slot) { return images_[slot]; }
    HistogramModule& histogram() { return histogram_; }
    HistogramWindow& histogramWindow() { return *histogramWindow_; }
    BatchRunner& batch() { return batch_; }
    HelpWindow* helpWindow() { return help_.get(); }
    HoughSimulator& simulator() { return simulator_; }
    SimulatorWindow* simulatorWindow() { return simulatorWindow_.get(); }
    HoughEditor& editor() { return editor_; }
    EditorWindow* editorWindow() { return editorWindow_.get(); }
    MeasurementModule& measurement() { return measurement_; }
    MeasurementWindow* measurementWindow() { return measurementWindow_.get(); }
    SeriesModule& series() { return series_; }
    SeriesWindow* seriesWindow() { return seriesWindow_.get(); }
    TrackModule& tracking() { return tracking_; }
    TrackWindow* trackWindow() { return trackWindow_.get(); }
    MotionModule& motion() { return motion_; }
    MotionWindow* motionWindow() { return motionWindow_.get(); }
    AboutWindow* aboutWindow() { return about_.get(); }

    // The start-up sequence: settings file, toolbox, default image window, information window,
    // size 256 x 256, the main window, then the files named on the command line.
    void start();
    // Deletes the work files and ends the program.
    void exit();
    // Runs a batch script behind its progress dialog; says why when the script cannot run.
    void runScript(const QString& path);

private:
    QString programFolder_;
    Options options_;
    WorkFolderChoice workFolder_;
    AppState state_;
    QuarnBinder quarn_;
    FileDialogs dialogs_;
    Module module_;
    HistogramModule histogram_;
    HoughSimulator simulator_;
    HoughEditor editor_;
    MeasurementModule measurement_;
    SeriesModule series_;
    TrackModule tracking_;
    MotionModule motion_;
    BatchRunner batch_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<ToolboxWindow> toolbox_;
    std::unique_ptr<InfoWindow> info_;
    std::unique_ptr<ImageWindow> defaultImage_;
    std::unique_ptr<HistogramWindow> histogramWindow_;
    std::unique_ptr<HelpWindow> help_;
    std::unique_ptr<SimulatorWindow> simulatorWindow_;
    std::unique_ptr<EditorWindow> editorWindow_;
    std::unique_ptr<MeasurementWindow> measurementWindow_;
    std::unique_ptr<SeriesWindow> seriesWindow_;
    std::unique_ptr<TrackWindow> trackWindow_;
    std::unique_ptr<MotionWindow> motionWindow_;
    std::unique_ptr<AboutWindow> about_;
    std::array<ImageWindow*, kSlots> images_{};
};

} // namespace tovra
