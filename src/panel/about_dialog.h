#pragma once
#include <QDialog>

class QLabel;

namespace zanth {

class CPadoraApp;

// The About box: icon, version line, one line about the program and the settings file in use.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    CAboutDlg(const CPadoraApp& app, QWidget* parent = nullptr);
    QLabel* versionLabel() const { return version_; }
    QLabel* settingsLabel() const { return settings_; }

  private:
    QLabel* version_ = nullptr;
    QLabel* settings_ = nullptr;
};

}  // namespace zanth
