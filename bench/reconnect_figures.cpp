// Figures of a robot lost and found again, measured in the running window (offscreen):
//  - the time from the device coming back to the first message on the wire, over repeated unplug/replug
//    cycles, once for an adapter in a watched device tree (its node and by-id link appear: the hot-plug
//    watcher triggers a try at once) and once for a [PORTS] link switched to a new terminal (found by the
//    tries about once a second alone);
//  - the longest stall of the GUI thread, from a 1 ms probe timer, while devices come and go (scans), while
//    the port is lost and while it is reopened.
// The robot is the simulator on pseudo-terminals; devices live in a tree of this program's own.
//   usage: bench_reconnect_figures [CYCLES] [SIMULATOR]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <poll.h>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/app_context.h"
#include "control/devices_factory.h"
#include "panel/main_window.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string simulator;

// The simulator on a pseudo-terminal of its own; its output lines are the messages it received.
class Robot {
  public:
    Robot() {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char* argv[] = {simulator.data(), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
        path_ = Line(5s);
    }
    ~Robot() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        close(fd_);
    }
    const std::string& path() const { return path_; }
    // The next line, or empty after `limit`.
    std::string Line(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        for (;;) {
            if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return {};
            char chunk[512];
            const ssize_t got = read(fd_, chunk, sizeof chunk);
            if (got <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string path_, buffer_;
};

// The longest gaps of a 1 ms timer on the GUI thread, per phase of the run.
enum Phase { kIdle, kScans, kLoss, kReopen, kClick, kPhases };
const char* const kPhaseNames[] = {"connected, nothing happening", "devices coming and going (scans)",
                                   "port lost, tries under way", "device back until the first message",
                                   "clicks on Connect, closing (*)"};
std::atomic<int> phase{kIdle};
double worstMs[kPhases] = {};
std::vector<double> gapsMs[kPhases];

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
}

class Tree {
  public:
    explicit Tree(fs::path root) : root_(std::move(root)) { fs::create_directories(root_ / "dev"); }
    void Plug(const std::string& name, const std::string& bus, const std::string& target,
              const std::string& id) {
        const fs::path usb = root_ / "sys/devices/usb1" / bus;
        fs::create_directories(usb / (bus + ":1.0") / name);
        Write(usb / "idVendor", "0403");
        Write(usb / "idProduct", "6001");
        Write(usb / "product", "Bench Adapter");
        const fs::path tty = root_ / "sys/class/tty" / name;
        fs::create_directories(tty);
        std::error_code ec;
        fs::create_symlink(fs::relative(usb / (bus + ":1.0") / name, tty), tty / "device", ec);
        if (target.empty())
            Write(root_ / "dev" / name, "");
        else
            fs::create_symlink(target, root_ / "dev" / name);
        if (id.empty()) return;
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../" + name, root_ / "dev/serial/by-id" / id);
    }
    void Unplug(const std::string& name, const std::string& id) {
        std::error_code ec;
        if (!id.empty()) fs::remove(root_ / "dev/serial/by-id" / id, ec);
        fs::remove(root_ / "dev" / name, ec);
        fs::remove_all(root_ / "sys/class/tty" / name, ec);
    }

  private:
    fs::path root_;
};

// The time the GUI thread spends on each event it handles (slot calls from other threads, timers, paints),
// apart from how long the system left it waiting for a core: wall time and the thread's CPU time.
struct Handled {
    double wallMs = 0, cpuMs = 0;
    std::string what;
};
Handled longest[kPhases];

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

class TimedApp : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool r = QApplication::notify(receiver, event);
            --depth_;
            return r;
        }
        const auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        const int type = event->type();
        const bool r = QApplication::notify(receiver, event);
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Handled& worst = longest[phase.load()];
        if (wall > worst.wallMs)
            worst = {wall, ThreadCpuMs() - cpu,
                     std::string(receiver->metaObject()->className()) + " event " + std::to_string(type)};
        --depth_;
        return r;
    }

  private:
    int depth_ = 0;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Point(const fs::path& link, const std::string& target) {
    const fs::path next = link.string() + ".next";
    std::error_code ec;
    fs::remove(next, ec);
    fs::create_symlink(target, next);
    fs::rename(next, link);
}

// Runs `f` on the GUI thread and waits for it.
// (*) a click opens the serial device, or stops the link with its final frame, on the GUI thread as before,
// and closing saves the settings: not part of what is measured here, and kept apart.
template <typename F>
void OnGui(QObject* target, F f) {
    const int was = phase.exchange(kClick);
    QMetaObject::invokeMethod(target, f, Qt::BlockingQueuedConnection);
    phase = was;
}

// Unplug/replug cycles of one adapter: in the watched tree (`inTree`), or behind `link`. The times from the
// device coming back to the first message go to `figures`.
void Cycles(zanth::MainWindow& window, Tree& tree, const fs::path& link, bool inTree, int cycles,
            std::vector<double>& figures) {
    static std::mt19937 random(42);
    std::uniform_int_distribution<int> away(300, 1200);
    const std::string byId = "usb-Bench-if00-port0";
    auto plug = [&](const Robot& robot) {
        if (inTree)
            tree.Plug("ttyUSB0", "1-1", robot.path(), byId);
        else
            Point(link, robot.path());
    };
    auto robot = std::make_unique<Robot>();
    plug(*robot);
    std::this_thread::sleep_for(300ms);  // the list catches up
    OnGui(&window, [&] {
        window.portCombo()->setCurrentIndex(inTree ? 0 : 1);
        window.ConnectOrDisconnect();
    });
    robot->Line(5s);
    for (int i = 0; i < cycles; ++i) {
        std::this_thread::sleep_for(500ms);
        phase = kLoss;
        // The names go first: the number of a closed terminal may soon be another program's.
        if (inTree)
            tree.Unplug("ttyUSB0", byId);
        else
            fs::remove(link);
        robot.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(away(random)));
        robot = std::make_unique<Robot>();
        phase = kReopen;
        plug(*robot);
        const auto back = Clock::now();
        if (!robot->Line(5s).empty()) figures.push_back(Ms(Clock::now() - back));
        phase = kIdle;
    }
    OnGui(&window, [&] { window.ConnectOrDisconnect(); });
    if (inTree) tree.Unplug("ttyUSB0", byId);
}

// Devices coming and going every 50 ms: every change is a scan on the watcher's thread and a new list on the
// GUI thread.
void Churn(Tree& tree) {
    phase = kScans;
    for (int i = 0; i < 100; ++i) {
        const std::string name = "ttyUSB" + std::to_string(1 + i % 4);
        if (i % 8 < 4)
            tree.Plug(name, "2-" + std::to_string(i % 4), "", "");
        else
            tree.Unplug(name, "");
        std::this_thread::sleep_for(50ms);
    }
    phase = kIdle;
}

void Report(const std::vector<double>& watched, const std::vector<double>& timerOnly) {
    auto report = [](const char* what, std::vector<double> v) {
        if (v.empty()) return std::printf("%-58s: no figures\n", what), void();
        std::sort(v.begin(), v.end());
        double sum = 0;
        for (double x : v) sum += x;
        std::printf("%-58s: median %.0f ms, mean %.0f ms, max %.0f ms over %zu (target <= 1600 ms)\n", what,
                    v[v.size() / 2], sum / static_cast<double>(v.size()), v.back(), v.size());
    };
    report("device back -> first message (watched tree, hot-plug)", watched);
    report("device back -> first message ([PORTS] link, tries alone)", timerOnly);
    for (int p = 0; p < kPhases; ++p) {
        std::vector<double>& g = gapsMs[p];
        std::sort(g.begin(), g.end());
        const double p999 = g.empty() ? 0 : g[std::min(g.size() - 1, g.size() * 999 / 1000)];
        std::printf("GUI thread, %-40s: longest 1 ms-timer gap %.1f ms, p99.9 %.1f ms over %zu\n",
                    kPhaseNames[p], worstMs[p], p999, g.size());
    }
    for (int p = 0; p < kPhases; ++p)
        std::printf("GUI thread, %-40s: longest event handled %.2f ms (%.2f ms on the CPU), %s\n",
                    kPhaseNames[p], longest[p].wallMs, longest[p].cpuMs, longest[p].what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    simulator = argc > 2 ? argv[2]
                         : (fs::canonical("/proc/self/exe").parent_path().parent_path() /
                            "tools/robot_sim/zanth-robot-sim")
                               .string();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    std::string pattern = (fs::temp_directory_path() / "zanth-reconnect-XXXXXX").string();
    const fs::path work = mkdtemp(pattern.data());
    const fs::path link = work / "robot-link";
    Tree tree(work / "root");
    setenv("ZANTH_DEVICE_ROOT", (work / "root").c_str(), 1);
    // COM1: the first device of the tree; COM2: a link of the user's own, outside the watched tree.
    Write(work / "Zanth-Emulator.ini", "[PORTS]\nCOM2=" + link.string());

    TimedApp app(argc, argv);
    zanth::AppContext capp(zanth::StartupInfo{"English", false, work.string(), {}, {}});
    zanth::MainWindow window(capp, zanth::MakeSession(capp, zanth::LoadSettings(capp.configPath)));
    window.setMessageBoxesEnabled(false);
    window.show();

    QElapsedTimer sinceLast;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gap = static_cast<double>(sinceLast.nsecsElapsed()) / 1e6;
        sinceLast.restart();
        const int p = phase.load();
        worstMs[p] = std::max(worstMs[p], gap);
        gapsMs[p].push_back(gap);
    });
    sinceLast.start();
    probe.start(1);

    std::vector<double> watched, timerOnly;
    std::thread driver([&] {
        Cycles(window, tree, link, true, cycles, watched);
        Cycles(window, tree, link, false, cycles, timerOnly);
        Churn(tree);
        phase = kClick;
        QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();
    window.reject();
    Report(watched, timerOnly);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
