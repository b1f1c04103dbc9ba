#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/fail_safe.h"
#include "app/settings_claim.h"
#include "base/app_context.h"
#include "base/paths.h"
#include "base/reason_text.h"
#include "base/text.h"
#include "base/ui_text.h"
#include "control/devices_factory.h"
#include "control/log.h"
#include "input/virtual_pads.h"
#include "model/settings.h"
#include "panel/japanese_text.h"
#include "panel/main_window.h"
#include "panel/plain_text.h"
#include "panel/qt_translations.h"
#include "panel/stats.h"

bool LeftShiftHeld();                  // main_x11.cpp
void LeaveXlibIoErrorsToTheDisplay();  // main_x11.cpp

namespace {

// Also the status when the display goes away while the window runs.
constexpr int kExitNoDisplay = 1;

// A settings file that exists but could not be read, or one that cannot be saved where it belongs, is named
// at start, not only when closing fails to save: by then the session's settings would be lost.
void SayAtStart(const zanth::AppContext& app, zanth::Msg what, const std::string& reason,
                zanth::MainWindow& dialog) {
    const QString text = QString::fromUtf8(app.Tr(what)) + "\n" + QString::fromStdString(app.configPath) +
                         "\n" + QString::fromStdString(reason);
    qCWarning(lcControl).noquote() << text;
    // Over the window, once it is up: the robot can be driven meanwhile.
    QTimer::singleShot(0, &dialog,
                       [&dialog, text, caption = QString::fromUtf8(app.Tr(zanth::Msg::kCaptionWarning))] {
                           zanth::ShowPlainBox(&dialog, QMessageBox::Warning, caption, text);
                       });
}

// Qt's X11 platform aborts without a display (status 134, "Reinstalling the application may fix this
// problem"). The platform chosen by -platform or QT_QPA_PLATFORM is left to Qt; with neither it is X11
// unless a Wayland display is named.
bool DisplayMissing(const std::vector<std::string>& args) {
    std::string platform = qEnvironmentVariable("QT_QPA_PLATFORM").toStdString();
    bool displayOption = false;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-platform" || args[i] == "--platform") platform = args[i + 1];
        if (args[i] == "-display" || args[i] == "--display") displayOption = true;
    }
    if (platform.empty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return false;
    const bool x11 = platform.empty() || platform.rfind("xcb", 0) == 0;
    return x11 && !displayOption && qEnvironmentVariableIsEmpty("DISPLAY");
}

std::string SystemLanguageName() {
    const QLocale::Language lang = QLocale::system().language();
    if (lang == QLocale::Japanese) return "Japanese";
    if (lang == QLocale::C || lang == QLocale::AnyLanguage) return "English";
    return QLocale::languageToString(lang).toStdString();
}

// Every log line goes out with its control characters escaped: names from outside the program reach the log
// (ports, devices, gamepads, files, clients), and none may rewrite the terminal that shows it.
QtMessageHandler gPlainLog = nullptr;
void EscapedLog(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    gPlainLog(type, context, QString::fromStdString(zanth::EscapeControls(message.toStdString())));
}

}  // namespace

int main(int argc, char** argv) {
    gPlainLog = qInstallMessageHandler(EscapedLog);
    zanth::RunStats::Get().MarkProcessStart();
    std::vector<std::string> args(argv + 1, argv + argc);
    const zanth::CommandLine cl = zanth::ParseCommandLine(args);
    // Help, version and refusals are answered before anything needs a display.
    const zanth::Language language =
        cl.language.value_or(SystemLanguageName().rfind("Japanese", 0) == 0 ? zanth::Language::kJapanese
                                                                            : zanth::Language::kEnglish);
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
    std::optional<zanth::AppContext> context(std::in_place, info);
    // One window per settings file: the lock is held until the process ends, however it ends.
    zanth::FileLock::Result claim = zanth::ClaimSettingsFile(context->configPath);
    if (claim.outcome == zanth::FileLock::Outcome::kHeld) {
        zanth::PrintSettingsInUse(context->configPath, claim.holder, context->language);
        if (!zanth::DisplayAvailable()) return zanth::kExitSettingsInUse;
    }
    if (DisplayMissing(args)) {
        std::fprintf(stderr, "zanth-emulator: %s\n",
                     zanth::UiText(zanth::Msg::kNoDisplay, context->language));
        return kExitNoDisplay;
    }

    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Zanth-Emulator");
    zanth::InstallQtTranslations(qapp, context->language);
    if (context->japanese()) zanth::UseJapaneseFont();
    if (const auto status = zanth::SettleSettingsFile(info, context, claim, cl.chooseConfig)) return *status;
    const zanth::AppContext& app = *context;
    zanth::FailSafe failSafe;
    LeaveXlibIoErrorsToTheDisplay();
    // The desktop entry the menu started us from: docks and task bars match the window to its icon.
    QGuiApplication::setDesktopFileName("zanth-emulator");
    if (!app.localeOk()) QMessageBox::critical(nullptr, "ERROR", "Don't get localization!");

    // Test seam: pads that exist only in this process, worked through a FIFO (input/virtual_pads.h).
    const std::unique_ptr<zanth::VirtualPads> virtualPads = zanth::VirtualPads::FromEnvironment();
    std::unique_ptr<QSocketNotifier> virtualPadInput;
    if (virtualPads) {
        if (const int fd = zanth::VirtualPads::OpenInput(); fd >= 0) {
            virtualPadInput = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(virtualPadInput.get(), &QSocketNotifier::activated,
                             [&virtualPads, fd] { virtualPads->Feed(fd); });
        }
    }

    // The settings file is read once here and written once when the window closes.
    const zanth::Settings settings = zanth::LoadSettings(app.configPath);
    if (settings.readError.empty()) {
        // What the close save compares with, so that an edit made meanwhile by another tool is kept.
        zanth::ControllerModel startModel;
        zanth::BuildModel(startModel, app, settings);
        zanth::RememberSettingsAsRead(app.configPath, settings, startModel);
    }
    // The devices of this machine are built here, once; the window is handed the session that drives them.
    std::unique_ptr<zanth::ControlSession> session = zanth::MakeSession(app, settings);
    if (cl.remote)
        session->RemoteForThisRun(cl.remotePort ? std::optional<quint16>(*cl.remotePort) : std::nullopt);
    zanth::MainWindow dialog(app, std::move(session));
    failSafe.Watch(&dialog);
    if (!settings.readError.empty())
        SayAtStart(app, zanth::Msg::kSettingsUnreadable, settings.readError, dialog);
    else if (const std::string why = zanth::WhySettingsCannotBeSaved(app.configPath); !why.empty())
        SayAtStart(app, zanth::Msg::kSettingsCannotBeSaved, zanth::ReasonText(why, app.language), dialog);
    dialog.exec();
    failSafe.Watch(nullptr);
    const auto& saved = dialog.saveResult();
    if (saved && !saved->ok && !app.configPath.empty()) {
        const QString text = QString::fromUtf8(app.Tr(zanth::Msg::kSaveFailed)) + "\n" +
                             QString::fromStdString(app.configPath) + "\n" +
                             QString::fromStdString(zanth::ReasonText(saved->error, app.language));
        qCWarning(lcControl).noquote() << text;
        // Ended by a signal, nobody is there to press OK.
        if (!failSafe.terminating())
            zanth::ShowPlainBox(nullptr, QMessageBox::Warning,
                                QString::fromUtf8(app.Tr(zanth::Msg::kCaptionWarning)), text);
    }
    return 0;
}
