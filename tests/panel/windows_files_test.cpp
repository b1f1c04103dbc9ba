// A settings file of the Windows program in the window: CP932 names read right, its sound paths are found,
// and closing writes it back as it came.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/app_context.h"
#include "control/devices_factory.h"
#include "panel/main_window.h"
#include "panel/sound_settings_dialog.h"
#include "sound/sound_player.h"

namespace zanth {
namespace {

// 8-bit mono PCM at 1000 bytes per second holding 2500 bytes: 2.5 s.
// The sound player the program's devices gave the window's session.
SoundPlayer& Player(MainWindow& w) {
    return dynamic_cast<SoundPlayer&>(w.session().sound());
}

void WriteWav(const std::string& path) {
    static const char header[] =
        "RIFF\xec\x09\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\xe8\x03\0\0\xe8\x03\0\0\x01\0\x08\0data\xc4\x09\0\0";
    std::ofstream(path, std::ios::binary)
        << std::string(header, sizeof header - 1) << std::string(2500, '\x80');
}

TEST(WindowsFiles, NamesReadRightPathsResolveAndTheFileStaysCp932) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string ini = dir.filePath("Zanth-Emulator.ini").toStdString();
    const std::string horn = "\x83\x7A\x81\x5B\x83\x93";          // "ホーン"
    const std::string sonarWav = "\x83\x5C\x83\x69\x81\x5B.wav";  // "ソナー.wav"
    const std::string settings = "[SOUND]\r\n1_FILE=.\\Data\\" + sonarWav + "\r\n1_NAME=" + horn +
                                 "\r\n2_FILE=C:\\Sounds\\" + sonarWav + "\r\n";
    std::ofstream(ini, std::ios::binary) << settings;
    QDir(dir.path()).mkdir("Data");
    WriteWav(dir.filePath("Data/ソナー.wav").toStdString());

    const AppContext app(StartupInfo{"Japanese", false, dir.path().toStdString(), {}, {}});
    auto w = std::make_unique<MainWindow>(app, MakeSession(app, LoadSettings(app.configPath)));
    QTreeWidget* list = w->soundList();
    EXPECT_EQ(list->topLevelItem(0)->text(2), "ホーン");
    EXPECT_TRUE(list->topLevelItem(0)->toolTip(2).contains("\n  .\\Data\\ソナー.wav\n"))
        << list->topLevelItem(0)->toolTip(2).toStdString();
    EXPECT_EQ(list->topLevelItem(1)->text(2), "ソナー.wav");

    QString name, length[2];
    bool played = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<SoundSettingsDialog*>(QApplication::activeModalWidget());
        if (d == nullptr) return;
        for (int row : {1, 0}) {
            d->list()->setCurrentItem(d->list()->topLevelItem(row));
            length[row] = d->fileLengthEdit()->text();
        }
        name = d->nameEdit()->text();
        d->playButton()->click();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!Player(*w).IsPlaying() && std::chrono::steady_clock::now() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        played = Player(*w).IsPlaying();
        d->okButton()->click();
    });
    w->OnSoundSetting();
    EXPECT_EQ(name, "ホーン");
    EXPECT_EQ(length[0], "2.5");
    EXPECT_EQ(length[1], "2.5");
    EXPECT_TRUE(played);

    w.reset();  // closes: every setting saved
    std::ostringstream saved;
    saved << std::ifstream(ini, std::ios::binary).rdbuf();
    EXPECT_EQ(saved.str().rfind(settings, 0), 0u) << saved.str();
}

}  // namespace
}  // namespace zanth
