#include "app/settings_claim.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <cerrno>
#include <cstdio>

#include "base/paths.h"

namespace zanth {
namespace {

QString Tr(const AppContext& app, Msg id) {
    return QString::fromUtf8(app.Tr(id));
}

// The box over no window: true when the user wants to choose another file.
bool AskForAnotherFile(const AppContext& app, const LockHolder& holder) {
    const QString text = Tr(app, Msg::kSettingsInUse) + "\n" +
                         QDir::toNativeSeparators(QString::fromStdString(app.configPath)) + "\n" +
                         QString::fromStdString(DescribeHolder(holder, app.language)) + "\n\n" +
                         Tr(app, Msg::kSettingsInUseAdvice);
    QMessageBox box(QMessageBox::Warning, Tr(app, Msg::kWindowTitle), QString());
    box.setTextFormat(Qt::PlainText);  // the holder's name is the program's own choice
    box.setText(text);
    QPushButton* choose = box.addButton(Tr(app, Msg::kChooseOtherSettings), QMessageBox::AcceptRole);
    QPushButton* quit = box.addButton(Tr(app, Msg::kQuit), QMessageBox::RejectRole);
    box.setDefaultButton(choose);
    box.setEscapeButton(quit);
    box.exec();
    return box.clickedButton() == choose;
}

// A settings file, new or existing; empty when the dialog was cancelled.
std::string ChooseSettingsFile(const AppContext& app) {
    QFileDialog dialog(nullptr, Tr(app, Msg::kChooseSettingsTitle),
                       QString::fromStdString(FolderOf(app.configPath)), Tr(app, Msg::kSettingsFilter));
    // A new robot gets a new file: any name will do, and an existing file is used, not replaced.
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix("ini");
    dialog.setLabelText(QFileDialog::Accept, Tr(app, Msg::kChooseSettingsAccept));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return QFileInfo(dialog.selectedFiles().front()).absoluteFilePath().toStdString();
}

}  // namespace

FileLock::Result ClaimSettingsFile(const std::string& path) {
    if (path.empty()) return {};
    struct stat st {};
    // Only a file that is not there at all is made; a dangling link is left to the save to report.
    const bool missing = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    if (missing) (void)MakeFolders(FolderOf(path));
    return FileLock::Acquire(path, missing);
}

void PrintSettingsInUse(const std::string& path, const LockHolder& holder, Language language) {
    const std::string text = std::string("zanth-emulator: ") + UiText(Msg::kSettingsInUse, language) +
                             "\n  " + path + "\n" + DescribeHolder(holder, language) + "\n" +
                             UiText(Msg::kSettingsInUseOption, language) + "\n";
    std::fputs(text.c_str(), stderr);
}

bool DisplayAvailable() {
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal")) return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

std::optional<int> SettleSettingsFile(StartupInfo& info, std::optional<AppContext>& app,
                                      FileLock::Result& claim, bool choose) {
    for (;;) {
        const bool refused = claim.outcome == FileLock::Outcome::kHeld;
        if (!refused && !choose) return std::nullopt;
        if (refused && !AskForAnotherFile(*app, claim.holder)) return kExitSettingsInUse;
        const std::string path = ChooseSettingsFile(*app);
        if (path.empty()) return refused ? kExitSettingsInUse : 0;
        choose = false;
        info.configOverride = path;
        app.emplace(info);
        claim = ClaimSettingsFile(app->configPath);
        if (claim.outcome == FileLock::Outcome::kHeld)
            PrintSettingsInUse(app->configPath, claim.holder, app->language);
    }
}

}  // namespace zanth
