// Japanese throughout: Qt's own dialogs, the reasons in error boxes, a manual that nothing can show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGlyphRun>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QTranslator>
#include <fstream>
#include <memory>

#include "base/app_context.h"
#include "base/ui_text.h"
#include "control/devices_factory.h"
#include "panel/japanese_text.h"
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
    std::unique_ptr<MainWindow> Open(Language language, const std::string& settings = "") {
        std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << settings;
        const char* system = language == Language::kJapanese ? "Japanese" : "English";
        StartupInfo info{system, false, dir_.path().toStdString(), {}, {}};
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
    EXPECT_FALSE(InstallQtTranslations(*qApp, Language::kEnglish));
    EXPECT_EQ(qtText(), "Look in:");
    ASSERT_TRUE(InstallQtTranslations(*qApp, Language::kJapanese))
        << "qt6-translations-l10n is not installed";
    EXPECT_FALSE(HasLatinLetter(qtText())) << qtText().toStdString();
    EXPECT_FALSE(HasLatinLetter(QCoreApplication::translate("QPlatformTheme", "Cancel")));
    EXPECT_EQ(QLocale().language(), QLocale::Japanese);
    // A desktop in another language would show its own file chooser in its own language.
    EXPECT_EQ(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs),
              QLocale::system().language() != QLocale::Japanese);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false);
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
    auto w =
        Open(Language::kJapanese, "[PORTS]\nCOM1=/nonexistent/tty\nCOM2=" + notATty.toStdString() + "\n");
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
    for (Language language : {Language::kEnglish, Language::kJapanese}) {
        auto w = Open(language);
        const QString name = QString::fromUtf8(ManualFileName(language));
        std::ofstream(dir_.filePath(name).toStdString()) << "%PDF-1.4\n";
        // The offscreen platform opens nothing, as a desktop without a PDF viewer.
        w->OpenManual();
        EXPECT_TRUE(w->lastMessage().contains(QDir(dir_.path()).absoluteFilePath(name)))
            << w->lastMessage().toStdString();
        QString words = w->lastMessage();
        words.remove(QDir(dir_.path()).absoluteFilePath(name)).remove("PDF");
        EXPECT_EQ(HasLatinLetter(words), language == Language::kEnglish) << w->lastMessage().toStdString();
    }
    QDir::setCurrent(cwd);
}

// A wrapped line of a message never ends in a lone tail such as "い。" or "す:", at any width a box may take;
// the joins that keep it together take no room.
TEST_F(JapaneseTest, WrappedLinesKeepTheirLastWordsTogether) {
    const QFont saved = QApplication::font();
    UseJapaneseFont();
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    EXPECT_EQ(metrics.horizontalAdvance(KeepLineEndsTogether("あいう")), metrics.horizontalAdvance("あいう"));
    EXPECT_EQ(KeepLineEndsTogether("Not connected"), "Not connected");
    for (int id = 0; id < static_cast<int>(Msg::kCount); ++id) {
        const QString text =
            KeepLineEndsTogether(QString::fromUtf8(UiText(static_cast<Msg>(id), Language::kJapanese))
                                     .replace("%1", "60")
                                     .replace("%2", "60"));
        for (const QString& paragraph : text.split('\n')) {
            for (int width = 100; width <= 480; width += 3) {
                QTextLayout layout(paragraph, font);  // wraps at word boundaries, as a label does
                layout.beginLayout();
                QString last;
                int lines = 0;
                for (QTextLine line = layout.createLine(); line.isValid();
                     line = layout.createLine(), ++lines) {
                    line.setLineWidth(width);
                    last = paragraph.mid(line.textStart(), line.textLength()).remove(QChar(0x2060)).trimmed();
                }
                layout.endLayout();
                // A number or a name after a space may stand alone; Japanese may not.
                if (lines > 1 &&
                    std::any_of(last.begin(), last.end(), [](QChar c) { return c.unicode() >= 0x3000; })) {
                    EXPECT_GT(last.size(), 2) << paragraph.toStdString() << " at " << width << " px";
                }
            }
        }
    }
    QApplication::setFont(saved);
}

// Digits and Latin letters in Japanese text are drawn in the font of the kana around them.
TEST_F(JapaneseTest, DigitsUseTheFontOfTheTextAroundThem) {
    const QFont saved = QApplication::font();
    ASSERT_FALSE(UseJapaneseFont().isEmpty()) << "no Japanese font installed";
    QTextLayout layout(QString::fromUtf8("再生時間が 60 秒を超えています (WAV)"), QApplication::font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList families;
    for (const QGlyphRun& run : layout.glyphRuns())
        if (!families.contains(run.rawFont().familyName())) families << run.rawFont().familyName();
    EXPECT_EQ(families.size(), 1) << families.join(", ").toStdString();
    QApplication::setFont(saved);
}

}  // namespace
}  // namespace zanth
