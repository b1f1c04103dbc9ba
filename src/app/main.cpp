#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "base/app.h"
#include "base/reason_text.h"
#include "model/settings.h"
#include "panel/main_window.h"
#include "panel/qt_translations.h"
#include "panel/stats.h"

bool LeftShiftHeld();  // main_x11.cpp

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 't';
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT close the window the ordinary way, so the robot gets its last neutral frame and the
// settings are saved, instead of the process vanishing mid-message.
void CloseOnTerminate(zanth::CPadoraDlg& dialog) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &dialog);
    QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog, notifier] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        dialog.Terminate();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

std::string SystemLanguageName() {
    const QLocale::Language lang = QLocale::system().language();
    if (lang == QLocale::Japanese) return "Japanese";
    if (lang == QLocale::C || lang == QLocale::AnyLanguage) return "English";
    return QLocale::languageToString(lang).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    zanth::RunStats::Get().MarkProcessStart();
    std::vector<std::string> args(argv + 1, argv + argc);
    const zanth::CommandLine cl = zanth::ParseCommandLine(args);
    // Help, version and refusals are answered before anything needs a display.
    const int language = cl.language.value_or(SystemLanguageName().rfind("Japanese", 0) == 0 ? 1 : 0);
    if (cl.fault != zanth::CommandLine::Fault::kNone) {
        std::fputs(zanth::CommandLineFaultText(cl, language).c_str(), stderr);
        return 2;
    }
    if (cl.help || cl.version) {
        std::fputs((cl.help ? zanth::HelpText(language) : zanth::VersionText()).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    zanth::StartupInfo info;
    info.languageName = SystemLanguageName();
    info.leftShiftDown = LeftShiftHeld();
    info.currentDirectory = QDir::currentPath().toStdString();
    info.languageOverride = cl.language;
    if (cl.config)
        info.configOverride =
            QDir::current().absoluteFilePath(QString::fromStdString(*cl.config)).toStdString();
    const zanth::PathEnv env = zanth::PathEnvOfProcess(info.currentDirectory);
    info.home = env.home;
    info.xdgConfigHome = env.xdgConfigHome;
    info.xdgDataHome = env.xdgDataHome;
    const zanth::CPadoraApp app(info);

    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Zanth-Emulator");
    // The desktop entry the menu started us from: docks and task bars match the window to its icon.
    QGuiApplication::setDesktopFileName("zanth-emulator");
    zanth::InstallQtTranslations(qapp, app.language);
    if (!app.localeOk()) QMessageBox::critical(nullptr, "ERROR", "Don't get localization!");

    // The settings file is read once here and written once when the window closes.
    const zanth::Settings settings = zanth::LoadSettings(app.configPath);
    zanth::CPadoraDlg dialog(app, settings);
    CloseOnTerminate(dialog);
    dialog.exec();
    const auto& saved = dialog.saveResult();
    if (saved && !saved->ok && !app.configPath.empty())
        QMessageBox::warning(nullptr, QString::fromUtf8(app.Tr(zanth::Msg::kCaptionWarning)),
                             QString::fromUtf8(app.Tr(zanth::Msg::kSaveFailed)) + "\n" +
                                 QString::fromStdString(app.configPath) + "\n" +
                                 QString::fromStdString(zanth::ReasonText(saved->error, app.language)));
    return 0;
}
