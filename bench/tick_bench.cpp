// One control tick of the real main window (keyboard and gamepad polled, sounds, sticks, frame). Runs on
// Qt's offscreen platform unless DISPLAY is set (then the keyboard is read from that X server).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "base/app.h"
#include "panel/main_window.h"

namespace {

// With searchForGamepad 0 the gamepad search of every 22nd tick (there is no gamepad here) is kept out, to
// show the cost of an ordinary tick apart from the search.
void BM_ControllerTick(benchmark::State& state) {
    QTemporaryDir dir;
    zanth::StartupInfo info{"English", false, dir.path().toStdString(), {}, {}};
    zanth::CPadoraApp app(info);
    zanth::CPadoraDlg window(app);
    window.show();
    // The keyboard is read only while the window is active; without a window manager, activate it by hand.
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    state.counters["windowActive"] = window.isActiveWindow() ? 1 : 0;
    const bool search = state.range(0) != 0;
    for (auto _ : state) {
        if (!search) app.padRetryTicks = 0;
        window.ControllerTick();
    }
    window.reject();
}
BENCHMARK(BM_ControllerTick)->ArgName("searchForGamepad")->Arg(1)->Arg(0);

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
