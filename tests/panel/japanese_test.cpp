// Japanese throughout: Qt's own dialogs, the reasons in error boxes, a manual that nothing can show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTranslator>
#include <fstream>
#include <memory>

#include "base/app_context.h"
#include "control/devices_factory.h"
#include "panel/main_window.h"
#include "panel/qt_translations.h"

namespace zanth {
namespace {

bool HasLatinLetter(const QString& text) {
    for (QChar c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return false;
}

class JapaneseTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::unique_ptr<MainWindow> Open(int language, const std::string& settings = "") {
        std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << settings;
        StartupInfo info{language == 1 ? "Japanese" : "English", false, dir_.path().toStdString(), {}, {}};
        app_ = std::make_unique<AppContext>(info);
        auto w = std::make_unique<MainWindow>(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
        w->setMessageBoxesEnabled(false);
        return w;
    }
    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
};

TEST_F(JapaneseTest, QtsOwnTextsFollowTheLanguage) {
    auto qtText = [] { return QCoreApplication::translate("QFileDialog", "Look in:"); };
    EXPECT_FALSE(InstallQtTranslations(*qApp, 0));
    EXPECT_EQ(qtText(), "Look in:");
    ASSERT_TRUE(InstallQtTranslations(*qApp, 1)) << "qt6-translations-l10n is not installed";
    EXPECT_FALSE(HasLatinLetter(qtText())) << qtText().toStdString();
    EXPECT_FALSE(HasLatinLetter(QCoreApplication::translate("QPlatformTheme", "Cancel")));
    EXPECT_EQ(QLocale().language(), QLocale::Japanese);
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
    QLocale::setDefault(QLocale::c());
}

// The connect error's every word is Japanese: ours, and our words for the system's reason.
TEST_F(JapaneseTest, AFailedConnectSaysWhyInJapanese) {
    const QString notATty = dir_.filePath("plain");
    std::ofstream(notATty.toStdString()) << "";
    auto w = Open(1, "[PORTS]\nCOM1=/nonexistent/tty\nCOM2=" + notATty.toStdString() + "\n");
    for (int port : {0, 1}) {
        w->portCombo()->setCurrentIndex(port);
        w->ConnectOrDisconnect();
        QString text = w->lastConnectError();
        text.remove(QString("COM%1").arg(port + 1)).remove(port == 0 ? "/nonexistent/tty" : notATty);
        EXPECT_FALSE(HasLatinLetter(text)) << w->lastConnectError().toStdString();
    }
}

// No program for PDF files on the desktop: the window says so, in the active language.
TEST_F(JapaneseTest, AManualThatNothingCanShowIsReported) {
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    for (int language : {0, 1}) {
        auto w = Open(language);
        const QString name = QString::fromUtf8(ManualFileName(language == 1));
        std::ofstream(dir_.filePath(name).toStdString()) << "%PDF-1.4\n";
        // The offscreen platform opens nothing, as a desktop without a PDF viewer.
        w->OpenManual();
        EXPECT_TRUE(w->lastMessage().contains(QDir(dir_.path()).absoluteFilePath(name)))
            << w->lastMessage().toStdString();
        QString words = w->lastMessage();
        words.remove(QDir(dir_.path()).absoluteFilePath(name)).remove("PDF");
        EXPECT_EQ(HasLatinLetter(words), language == 0) << w->lastMessage().toStdString();
    }
    QDir::setCurrent(cwd);
}

}  // namespace
}  // namespace zanth
