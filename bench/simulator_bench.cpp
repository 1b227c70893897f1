// The simulator's automatic transform of a 256 x 256 black rectangle at step 1 (11.9 million
// votes): as built (votes counted in a table, drawn into the Hough picture in one pass) against
// the same transform done point by point, one colour read per pixel and one plot per vote.
#include "core/app_state.h"
#include "core/dialogs.h"
#include "core/module.h"
#include "core/quarn_binder.h"
#include "hough/palette.h"
#include "hough/simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>

using namespace tovra;

namespace {

struct Setup {
    QTemporaryDir work;
    AppState state;
    QuarnBinder quarn{QCoreApplication::applicationDirPath() + QStringLiteral("/Quarn"), work.path()};
    FileDialogs dialogs;
    Module module{state, quarn, dialogs};
    HoughSimulator sim{module};

    Setup() {
        std::vector<double> black(256 * 256, 0.0);
        quarn.Openxim(256, 256, 0, black.data());
        state.setMx(QStringLiteral("256"));
        state.setMy(QStringLiteral("256"));
        sim.acquireImage();
        state.setHfx1(QStringLiteral("0")), state.setHfy1(QStringLiteral("0"));
        state.setHfx2(QStringLiteral("255")), state.setHfy2(QStringLiteral("255"));
    }
};

// The transform as written step by step: the picture's colour read at every pixel, every vote
// counted and plotted on its own.
void pointByPoint(HoughSimulator& sim, const InfoFields& f, double s) {
    constexpr double pi = HoughSimulator::kPi;
    std::vector<int16_t> votes(1801 * 1801, 0);
    const QColor c = paletteColour(sim.colourIndex());
    for (int y = f.hfy1.toInt(); y <= f.hfy2.toInt(); ++y)
        for (int x = f.hfx1.toInt(); x <= f.hfx2.toInt(); ++x) {
            if ((sim.image().pointColor(x, y) & 0xFF) == 255) continue;
            for (double theta = 0; theta <= 180; theta += s) {
                const int t = static_cast<int>(std::nearbyint(theta / s));
                const double r =
                    std::nearbyint(x * std::cos(theta * pi / 180) + y * std::sin(theta * pi / 180) + 750);
                if (r < 0 || r > 1800) continue;
                int16_t& n = votes[static_cast<size_t>(t) * 1801 + static_cast<size_t>(r)];
                if (n < 32767) ++n;
                sim.hough().point(s * t, r, c);
            }
        }
    int best = votes[0], bt = 0, br = 0;
    for (int r = 1; r <= 1800; ++r)
        for (int t = 1; t <= static_cast<int>(std::nearbyint(180 / s)); ++t)
            if (votes[static_cast<size_t>(t) * 1801 + r] > best)
                best = votes[static_cast<size_t>(t) * 1801 + r], bt = t, br = r;
    double phi = s * bt * pi / 180;
    if (phi == 0) phi = 0.001;
    for (int x = 0; x <= 256; ++x) {
        const double y = std::nearbyint((br - 750) / std::sin(phi) - std::cos(phi) / std::sin(phi) * x);
        if (y >= -32768 && y <= 32767) sim.image().point(x, y, c);
    }
    benchmark::DoNotOptimize(best);
}

void BM_SimulatorAutoTransform(benchmark::State& state) {
    Setup s;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.sim.autoTransform());
}

void BM_SimulatorAutoTransform_plain(benchmark::State& state) {
    Setup s;
    for (auto _ : state)
        pointByPoint(s.sim, s.state.info(), 1.0);
}

} // namespace

BENCHMARK(BM_SimulatorAutoTransform)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatorAutoTransform_plain)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
