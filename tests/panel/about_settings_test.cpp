#include <gtest/gtest.h>

#include <QLabel>

#include "base/app_context.h"
#include "panel/about_dialog.h"

namespace zanth {
namespace {

// With settings either in the start folder or in ~/.config, the About box tells which file this run keeps;
// a long path is shortened in the middle, so the file name stays in sight, and is whole in the tool tip.
TEST(AboutBox, NamesTheSettingsFileInUse) {
    for (const std::string& dir :
         {std::string("/home/op/.config/zanth-emulator"), "/media/op/" + std::string(200, 'x')}) {
        StartupInfo info{"English", false, "/", {}, dir + "/Zanth-Emulator.ini"};
        const AppContext app(info);
        AboutDialog about(app);
        const QString shown = about.settingsLabel()->text();
        EXPECT_TRUE(shown.startsWith("Settings file: /")) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith("/Zanth-Emulator.ini")) << shown.toStdString();
        EXPECT_EQ(about.settingsLabel()->toolTip().toStdString(), app.configPath);
        EXPECT_LE(about.settingsLabel()->fontMetrics().horizontalAdvance(shown),
                  about.settingsLabel()->width());
    }
}

}  // namespace
}  // namespace zanth
