#pragma once
#include <optional>
#include <string>

#include "base/app_context.h"
#include "model/file_lock.h"

namespace zanth {

// The exit status of a program refused because another one uses its settings file.
inline constexpr int kExitSettingsInUse = 3;

// Locks the settings file at `path` for this process, for as long as it runs. A missing file is made empty
// (with its folder) so that two first starts on one path cannot both run; a file that cannot be locked at all
// (unreadable, no folder for it) is left to the checks that report it.
FileLock::Result ClaimSettingsFile(const std::string& path);

// The refusal as the terminal shows it: the file, who holds it, and how to start with another one.
void PrintSettingsInUse(const std::string& path, const LockHolder& holder, Language language);

// Whether a box can be shown to someone: a display is named and Qt is not told to draw off-screen.
bool DisplayAvailable();

// After the QApplication exists: asks for a settings file while the one in `app` is held by another program
// (offering another file or to quit), or once when `choose` (--choose-config). `info`, `app` and `claim`
// follow the file chosen. Returns the exit status when the program is to end here, else nothing.
std::optional<int> SettleSettingsFile(StartupInfo& info, std::optional<AppContext>& app,
                                      FileLock::Result& claim, bool choose);

}  // namespace zanth
