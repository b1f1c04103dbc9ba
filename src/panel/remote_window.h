#pragma once
#include <QTimer>
#include <QWidget>

#include "base/app_context.h"
#include "control/session.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QPushButton;
class QTableWidget;

namespace zanth {

// The remote-control server as the user sees it: on and off, LAN mode, the page's address (and, in LAN mode,
// as a QR code for a phone to scan), the clients and a button that lets go of everything they hold. A window
// of its own beside the main window, which keeps it when it is closed; it never drives anything itself.
class RemoteWindow : public QWidget {
    Q_OBJECT
  public:
    RemoteWindow(const AppContext& app, ControlSession& session, QWidget* parent = nullptr);

    QCheckBox* onCheck() const { return on_; }
    QCheckBox* lanCheck() const { return lan_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* addressLabel() const { return address_; }
    QLabel* qrLabel() const { return qr_; }
    QTableWidget* clientTable() const { return clients_; }
    QPushButton* stopAllButton() const { return stopAll_; }
    // Shows the server's state; called when it changes, and while shown once a second for the counts.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QString Tr(Msg id) const { return QString::fromUtf8(app_.Tr(id)); }
    void Start(bool lan, quint16 port);
    void ShowClients(const RemoteStatus& status);
    void ShowAsk(const RemoteStatus& status);
    void ShowCode(const RemoteStatus& status);
    QWidget* BuildSettingsRow();
    QWidget* BuildAskRow();
    void Connect();

    const AppContext& app_;
    ControlSession& session_;
    QCheckBox* on_ = nullptr;
    QCheckBox* lan_ = nullptr;
    bool lanChosen_ = false;  // LAN mode as ticked while the server is off: the next start's
    QLabel* lanNote_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* addressCaption_ = nullptr;
    QLabel* address_ = nullptr;
    QLabel* scanCaption_ = nullptr;
    QLabel* qr_ = nullptr;
    QString qrText_;
    QTableWidget* clients_ = nullptr;
    QPushButton* stopAll_ = nullptr;
    QPushButton* newKey_ = nullptr;
    QPushButton* remove_ = nullptr;
    QCheckBox* ask_ = nullptr;
    QWidget* askRow_ = nullptr;
    QLabel* askQuestion_ = nullptr;
    QPushButton* allow_ = nullptr;
    QPushButton* deny_ = nullptr;
    quint64 asking_ = 0;  // the client the question is about
    QLabel* lanKeyNote_ = nullptr;
    QLineEdit* robot_ = nullptr;
    QSpinBox* port_ = nullptr;
    QComboBox* interface_ = nullptr;
    QLabel* interfaceCaption_ = nullptr;
    QTimer refresh_;
};

}  // namespace zanth
