#pragma once
#include <QDialog>

class QLabel;

namespace zanth {

class AppContext;

// The About box: icon, version line, one line about the program and the settings file in use.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    AboutDialog(const AppContext& app, QWidget* parent = nullptr);
    QLabel* versionLabel() const { return version_; }
    QLabel* settingsLabel() const { return settings_; }

  private:
    QLabel* version_ = nullptr;
    QLabel* settings_ = nullptr;
};

}  // namespace zanth
