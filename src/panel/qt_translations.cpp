#include "panel/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace zanth {

bool InstallQtTranslations(QCoreApplication& app, Language language) {
    // The desktop's own file chooser speaks the desktop's language, whatever the program's: where the two
    // differ, Qt's own chooser is used, which follows the program.
    const bool japaneseDesktop = QLocale::system().language() == QLocale::Japanese;
    if ((language == Language::kJapanese) != japaneseDesktop)
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    if (language != Language::kJapanese) return false;
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* translator = new QTranslator(&app);
    if (!translator->load(japanese, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace zanth
