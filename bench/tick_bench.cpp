// One control tick of the real main window (keyboard and gamepad polled, sounds, sticks, frame). Runs on
// Qt's offscreen platform unless DISPLAY is set (then the keyboard is read from that X server).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "base/app_context.h"
#include "control/devices_factory.h"
#include "panel/main_window.h"

namespace {

// Every 22nd tick also searches for a gamepad (there is none here): the figure is the mean over both kinds.
void BM_ControllerTick(benchmark::State& state) {
    QTemporaryDir dir;
    zanth::StartupInfo info{"English", false, dir.path().toStdString(), {}, {}};
    const zanth::AppContext app(info);
    zanth::MainWindow window(app, zanth::MakeSession(app, zanth::LoadSettings(app.configPath)));
    window.show();
    // The keyboard is read only while the window is active; without a window manager, activate it by hand.
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    state.counters["windowActive"] = window.isActiveWindow() ? 1 : 0;
    for (auto _ : state) window.ControllerTick();
    window.reject();
}
BENCHMARK(BM_ControllerTick);

// The fresh sample taken just before each message leaves: the devices read again, folded into a copy.
void BM_SampleFrame(benchmark::State& state) {
    QTemporaryDir dir;
    zanth::StartupInfo info{"English", false, dir.path().toStdString(), {}, {}};
    const zanth::AppContext app(info);
    zanth::MainWindow window(app, zanth::MakeSession(app, zanth::LoadSettings(app.configPath)));
    window.show();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    for (auto _ : state) benchmark::DoNotOptimize(window.session().SampleFrame());
    window.reject();
}
BENCHMARK(BM_SampleFrame);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
