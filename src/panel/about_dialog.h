#pragma once
#include <QDialog>

class QLabel;

namespace zanth {

class CPadoraApp;

// The About box: icon, version line and one line about the program.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    CAboutDlg(const CPadoraApp& app, QWidget* parent = nullptr);
    QLabel* versionLabel() const { return version_; }

  private:
    QLabel* version_ = nullptr;
};

}  // namespace zanth
