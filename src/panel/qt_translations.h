#pragma once
#include "base/ui_text.h"

class QCoreApplication;

namespace zanth {

// In Japanese, Qt's own texts (the file chooser, the buttons of message boxes) come from Qt's translations
// (Debian: qt6-translations-l10n), and dates and sizes in the file chooser are written the Japanese way.
// Answers whether Qt's texts are now Japanese; false in English, or when the translations are not installed
// (Qt's texts then stay English, everything else works). Where the desktop speaks another language than the
// program, the file choosers are Qt's own rather than the desktop's, so that they speak the program's.
bool InstallQtTranslations(QCoreApplication& app, Language language);

}  // namespace zanth
