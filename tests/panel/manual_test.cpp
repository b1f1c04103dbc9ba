// Both user manuals name everything the user picks from: each entry of the main window's menu, each button of
// the link monitor (in each of its states) and each of the monitor's columns, in bold as the program shows it
// in that manual's language. An entry added to the program fails here until the manuals describe it. They
// also say where the settings lie as --help does.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>

#include "base/app_context.h"
#include "control/devices_factory.h"
#include "control/session.h"
#include "panel/link_monitor.h"
#include "panel/main_window.h"

namespace zanth {
namespace {

// A text as shown on screen: a single "&" only marks the shortcut letter, "&&" is an ampersand.
QString Shown(QString text) {
    text.replace("&&", QChar(0x1));
    text.remove('&');
    text.replace(QChar(0x1), '&');
    return text;
}

void AddMenuEntries(const QMenu& menu, QStringList& out) {
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) continue;
        out << Shown(action->text());
        if (action->menu() != nullptr) AddMenuEntries(*action->menu(), out);
    }
}

void AddMonitorTexts(LinkMonitorWindow& monitor, QStringList& out) {
    for (QPushButton* button : monitor.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&monitor)) continue;
        out << Shown(button->text());
        if (!button->isCheckable()) continue;
        // What a button reads while it is down (Pause while paused, say).
        button->toggle();
        out << Shown(button->text());
        button->toggle();
    }
    const QAbstractItemModel* rows = monitor.findChild<QTableView*>()->model();
    for (int c = 0; c < rows->columnCount(); ++c) out << rows->headerData(c, Qt::Horizontal).toString();
}

TEST(Manuals, NameEveryMenuEntryAndMonitorControl) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        Language language;
        const char* manual;
    } manuals[] = {{Language::kEnglish, "manual-en.md"}, {Language::kJapanese, "manual-ja.md"}};
    for (const auto& m : manuals) {
        QFile file(QString(ZANTH_SOURCE_DIR "/docs/") + m.manual);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << m.manual;
        const QString manual = QString::fromUtf8(file.readAll());

        const char* system = m.language == Language::kJapanese ? "Japanese" : "English";
        const AppContext app(StartupInfo{system, false, dir.path().toStdString(), {}, {}});
        MainWindow window(app, MakeSession(app, LoadSettings(app.configPath)));
        window.setMessageBoxesEnabled(false);
        QStringList texts;
        AddMenuEntries(*window.helpMenu(), texts);
        LinkMonitorWindow monitor(app, window.session().traffic());
        AddMonitorTexts(monitor, texts);
        texts.removeDuplicates();
        ASSERT_GE(texts.size(), 2);
        for (const QString& text : texts)
            EXPECT_TRUE(manual.contains("**" + text + "**"))
                << m.manual << " does not name **" << text.toStdString() << "**";
    }
}

// Where the settings and the Data folder lie, as --help says it: every path it names ($XDG_..., ~/...)
// appears in each manual, so that a manual cannot send the user to the start folder alone.
TEST(Manuals, SayWhereTheSettingsLieAsHelpDoes) {
    for (const auto& [language, name] :
         {std::pair{Language::kEnglish, "manual-en.md"}, std::pair{Language::kJapanese, "manual-ja.md"}}) {
        QFile file(QString(ZANTH_SOURCE_DIR "/docs/") + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QString manual = QString::fromUtf8(file.readAll());
        const QString help = QString::fromStdString(HelpText(language));
        QStringList paths;
        for (const QRegularExpressionMatch& m : QRegularExpression(R"([$~][\w./-]*\w)").globalMatch(help))
            paths << m.captured();
        EXPECT_GE(paths.size(), 3) << help.toStdString();
        for (const QString& path : paths)
            EXPECT_TRUE(manual.contains(path)) << name << " does not say " << path.toStdString();
    }
}

}  // namespace
}  // namespace zanth
