// zanth-link-demo: one round trip over the serial link against the robot simulator: open the simulator's
// pseudo-terminal and run the link on it as the emulator does, send the at-rest frame asking for the
// battery, and show what the simulator decoded and what it answered.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "link/frame.h"
#include "link/link_worker.h"
#include "link/serial_port.h"

extern char** environ;

namespace {

// One line from `fd`, waiting at most `timeoutMs` for each piece. Empty on time-out or end of file.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return {};
        char c;
        ssize_t got = read(fd, &c, 1);
        if (got <= 0) return {};
        if (c == '\n') return line;
        line += c;
    }
}

const char* ColourName(zanth::Rgb c) {
    if (c == zanth::Rgb{255, 0, 0}) return "red";
    if (c == zanth::Rgb{255, 255, 0}) return "yellow";
    if (c == zanth::Rgb{0, 0, 255}) return "blue";
    return "?";
}

}  // namespace

// Runs the link until the first battery reply, a failure or 5 s; the value, if any.
std::optional<int> FirstReply(std::unique_ptr<zanth::SerialPort> port) {
    zanth::LinkWorker link;
    std::optional<int> value;
    QObject::connect(&link, &zanth::LinkWorker::batteryReply, [&](int v) {
        value = v;
        QCoreApplication::quit();
    });
    QObject::connect(&link, &zanth::LinkWorker::linkFailed, [](const zanth::LinkFailure& failure) {
        std::fprintf(stderr, "link failed: %s\n", failure.detail.c_str());
        QCoreApplication::quit();
    });
    QTimer::singleShot(5000, [] { QCoreApplication::quit(); });
    std::string reason;
    if (!link.Start(std::move(port), &reason)) {
        std::fprintf(stderr, "cannot start the link: %s\n", reason.c_str());
        return std::nullopt;
    }
    link.SetFrame(zanth::NeutralFrame(true), true);
    QCoreApplication::exec();
    link.Stop(std::nullopt);
    return value;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string sim;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--sim" && i + 1 < argc) {
            sim = argv[++i];
        } else {
            std::fprintf(stderr, "Usage: zanth-link-demo [--sim PATH-TO-zanth-robot-sim]\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (sim.empty()) {
        std::error_code ec;
        auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        sim = (self.parent_path().parent_path() / "robot_sim" / "zanth-robot-sim").string();
    }

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        std::perror("pipe");
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* simArgv[] = {sim.data(), nullptr};
    pid_t pid = 0;
    int spawnError = posix_spawn(&pid, sim.c_str(), &actions, nullptr, simArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawnError != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", sim.c_str(), std::strerror(spawnError));
        return 1;
    }

    int status = 1;
    std::string device = ReadLine(out[0], 5000);
    std::string reason;
    auto port = device.empty() ? nullptr : zanth::SerialPort::Open(device, &reason);
    if (port == nullptr) {
        std::fprintf(stderr, "cannot open the simulator's line %s: %s\n", device.c_str(),
                     device.empty() ? "it printed no path" : reason.c_str());
    } else {
        std::printf("simulator on %s\n", device.c_str());
        std::optional<int> value = FirstReply(std::move(port));
        std::string decoded = ReadLine(out[0], 2000);
        std::printf("robot saw: %s\n", decoded.empty() ? "(nothing)" : decoded.c_str());
        if (value) {
            std::printf("battery %d (%s)\n", *value, ColourName(zanth::BatteryColour(*value)));
            status = decoded.empty() ? 1 : 0;
        } else {
            std::printf("no battery reply\n");
        }
    }

    kill(pid, SIGTERM);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    close(out[0]);
    return status;
}
