#include "panel/remote_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "panel/plain_text.h"
#include "panel/qr_code.h"
#include "remote/remote_key.h"

namespace zanth {
namespace {

constexpr int kRefreshMs = 1000;  // the clients' message counts, while the window is shown
constexpr int kQrModulePixels = 5;

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = Plain(new QLabel(text, parent));
    label->setStyleSheet("font-weight: bold;");
    return label;
}

}  // namespace

RemoteWindow::RemoteWindow(const AppContext& app, ControlSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app), session_(session) {
    setWindowTitle(Tr(Msg::kRemoteTitle));
    auto* layout = new QVBoxLayout(this);
    on_ = new QCheckBox(Tr(Msg::kRemoteOn), this);
    lan_ = new QCheckBox(Tr(Msg::kRemoteLan), this);
    lanChosen_ = session_.remoteSettings().lan;
    lanNote_ = Plain(new QLabel(Tr(Msg::kRemoteLanNote), this));
    lanNote_->setWordWrap(true);
    lanNote_->setStyleSheet("color: #a00000;");
    lanKeyNote_ = Plain(new QLabel(Tr(Msg::kRemoteLanKeyNote), this));
    lanKeyNote_->setWordWrap(true);
    lanKeyNote_->setStyleSheet("color: #a00000;");
    newKey_ = new QPushButton(Tr(Msg::kRemoteNewKey), this);
    newKey_->setToolTip(Tr(Msg::kRemoteNewKeyTip));
    ask_ = new QCheckBox(Tr(Msg::kRemoteAsk), this);
    status_ = Plain(new QLabel(this));
    status_->setWordWrap(true);
    addressCaption_ = Caption(Tr(Msg::kRemoteAddress), this);
    // Links the user can click (the desktop's browser opens the page) and select to copy.
    address_ = new QLabel(this);
    address_->setTextFormat(Qt::RichText);
    address_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    address_->setOpenExternalLinks(true);
    scanCaption_ = Caption(Tr(Msg::kRemoteScan), this);
    qr_ = Plain(new QLabel(this));
    qr_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(lanKeyNote_, 1);
    keyRow->addWidget(newKey_, 0, Qt::AlignTop);
    layout->addWidget(on_);
    layout->addWidget(lan_);
    layout->addWidget(lanNote_);
    layout->addLayout(keyRow);
    layout->addWidget(BuildSettingsRow());
    layout->addWidget(ask_);
    for (QWidget* w :
         {static_cast<QWidget*>(status_), static_cast<QWidget*>(addressCaption_),
          static_cast<QWidget*>(address_), static_cast<QWidget*>(scanCaption_), static_cast<QWidget*>(qr_)})
        layout->addWidget(w);

    layout->addWidget(Caption(Tr(Msg::kRemoteClients), this));
    layout->addWidget(BuildAskRow());
    clients_ = new QTableWidget(0, 4, this);
    clients_->setHorizontalHeaderLabels({Tr(Msg::kRemoteColumnName), Tr(Msg::kRemoteColumnAddress),
                                         Tr(Msg::kRemoteColumnSince), Tr(Msg::kRemoteColumnMessages)});
    clients_->verticalHeader()->hide();
    clients_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    clients_->setSelectionMode(QAbstractItemView::SingleSelection);
    clients_->setSelectionBehavior(QAbstractItemView::SelectRows);
    clients_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    clients_->horizontalHeader()->setStretchLastSection(true);
    clients_->setMinimumHeight(140);
    layout->addWidget(clients_, 1);
    stopAll_ = new QPushButton(Tr(Msg::kRemoteStopAll), this);
    stopAll_->setStyleSheet("font-weight: bold; padding: 6px 14px;");
    remove_ = new QPushButton(Tr(Msg::kRemoteRemove), this);
    auto* row = new QHBoxLayout;
    row->addWidget(stopAll_);
    row->addWidget(remove_);
    row->addStretch(1);
    layout->addLayout(row);
    resize(600, 760);
    Connect();
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &RemoteWindow::Refresh);
    Refresh();
}

// The robot's name, the port, and (with several) the address that goes into the code.
QWidget* RemoteWindow::BuildSettingsRow() {
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    form->setContentsMargins(0, 0, 0, 0);
    robot_ = new QLineEdit(box);
    robot_->setMaxLength(kRobotNameLimit);
    robot_->setText(session_.robotName());
    port_ = new QSpinBox(box);
    port_->setRange(1, 65535);
    port_->setValue(session_.remoteSettings().port);
    interface_ = new QComboBox(box);
    interfaceCaption_ = Plain(new QLabel(Tr(Msg::kRemoteInterface), box));
    form->addRow(Plain(new QLabel(Tr(Msg::kRemoteRobot), box)), robot_);
    form->addRow(Plain(new QLabel(Tr(Msg::kRemotePort), box)), port_);
    form->addRow(interfaceCaption_, interface_);
    return box;
}

// Shown while a client waits for the user: who it is, and the answer.
QWidget* RemoteWindow::BuildAskRow() {
    askRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(askRow_);
    row->setContentsMargins(0, 0, 0, 0);
    askQuestion_ = Plain(new QLabel(askRow_));
    askQuestion_->setWordWrap(true);
    askQuestion_->setStyleSheet("font-weight: bold;");
    allow_ = new QPushButton(Tr(Msg::kRemoteAllow), askRow_);
    deny_ = new QPushButton(Tr(Msg::kRemoteDeny), askRow_);
    row->addWidget(askQuestion_, 1);
    row->addWidget(allow_);
    row->addWidget(deny_);
    return askRow_;
}

void RemoteWindow::Connect() {
    connect(on_, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            Start(lan_->isChecked(), static_cast<quint16>(port_->value()));
        else
            session_.StopRemote();
        Refresh();
    });
    // A change of mode or port starts the server afresh; the key stays, so open pages come back.
    connect(lan_, &QCheckBox::clicked, this, [this](bool lan) {
        lanChosen_ = lan;
        if (session_.remoteStatus().running) Start(lan, session_.remoteStatus().port);
        Refresh();
    });
    connect(port_, &QSpinBox::editingFinished, this, [this] {
        const RemoteStatus s = session_.remoteStatus();
        const auto port = static_cast<quint16>(port_->value());
        if (s.running && s.port != port) Start(s.lan, port);
        Refresh();
    });
    connect(robot_, &QLineEdit::editingFinished, this, [this] { session_.SetRobotName(robot_->text()); });
    connect(interface_, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(ask_, &QCheckBox::clicked, this, [this](bool ask) { session_.SetRemoteAsk(ask); });
    connect(newKey_, &QPushButton::clicked, this, [this] {
        session_.NewRemoteKey();
        Refresh();
    });
    connect(remove_, &QPushButton::clicked, this, [this] {
        const QList<QTableWidgetItem*> chosen = clients_->selectedItems();
        if (!chosen.isEmpty()) session_.RemoveRemoteClient(chosen.first()->data(Qt::UserRole).toULongLong());
    });
    connect(clients_, &QTableWidget::itemSelectionChanged, this,
            [this] { remove_->setEnabled(!clients_->selectedItems().isEmpty()); });
    connect(allow_, &QPushButton::clicked, this, [this] { session_.AnswerRemoteClient(asking_, true); });
    connect(deny_, &QPushButton::clicked, this, [this] { session_.AnswerRemoteClient(asking_, false); });
    connect(stopAll_, &QPushButton::clicked, this, [this] { session_.StopAllRemoteInput(); });
    connect(&session_, &ControlSession::remoteChanged, this, [this] {
        if (isVisible()) Refresh();
    });
}

void RemoteWindow::Start(bool lan, quint16 port) {
    RemoteOptions options;
    options.port = port;
    options.lan = lan;
    session_.StopRemote();
    QString reason;
    session_.StartRemote(options, &reason);  // a failure shows as the status's reason
}

void RemoteWindow::Refresh() {
    const RemoteStatus s = session_.remoteStatus();
    on_->setChecked(s.running);
    if (s.running) lanChosen_ = s.lan;
    lan_->setChecked(lanChosen_);
    lanNote_->setVisible(lan_->isChecked());
    QString status = s.running             ? Tr(Msg::kRemoteRunning).arg(s.port)
                     : !s.reason.isEmpty() ? Tr(Msg::kRemoteFailed).arg(s.reason)
                                           : Tr(Msg::kRemoteOff);
    // Scripts cannot find the server: said here, not only on stderr (the label shows plain text).
    if (s.running && !s.fileProblem.isEmpty()) status += QLatin1Char('\n') + s.fileProblem;
    if (s.running && !session_.remoteKeyProblem().isEmpty())
        status += QLatin1Char('\n') + Tr(Msg::kRemoteKeyNotKept).arg(session_.remoteKeyProblem());
    if (status_->text() != status) status_->setText(status);

    QStringList links;
    for (const QString& url : s.pageUrls) links << QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped());
    const QString addresses = s.running ? links.join("<br>") : QString();
    if (address_->text() != addresses) address_->setText(addresses);
    addressCaption_->setVisible(!addresses.isEmpty());
    address_->setVisible(!addresses.isEmpty());

    ShowCode(s);
    lanKeyNote_->setVisible(lan_->isChecked());
    ask_->setChecked(session_.remoteSettings().ask);
    if (s.running && port_->value() != s.port && !port_->hasFocus()) port_->setValue(s.port);
    ShowAsk(s);
    ShowClients(s);
    stopAll_->setEnabled(s.running && !s.clients.isEmpty());
    remove_->setEnabled(!clients_->selectedItems().isEmpty());
}

// The code is for a phone: only in LAN mode, where a phone can reach the address it holds; with several
// addresses (Wi-Fi and a cable, say) the user picks the one the phones share.
void RemoteWindow::ShowCode(const RemoteStatus& s) {
    const QStringList phones =
        s.running && s.lan ? s.pageUrls.mid(0, std::max<qsizetype>(s.pageUrls.size() - 1, 0)) : QStringList();
    QStringList listed;
    for (int i = 0; i < interface_->count(); ++i) listed << interface_->itemText(i);
    if (listed != phones) {
        const QString chosen = interface_->currentText();
        const QSignalBlocker quiet(interface_);
        interface_->clear();
        interface_->addItems(phones);
        // The same address again after a new key or a restart, if it is still there.
        for (int i = 0; i < phones.size(); ++i)
            if (QUrl(phones[i]).host() == QUrl(chosen).host()) interface_->setCurrentIndex(i);
    }
    interfaceCaption_->setVisible(phones.size() > 1);
    interface_->setVisible(phones.size() > 1);
    const QString qr = phones.isEmpty() ? QString() : phones.value(std::max(interface_->currentIndex(), 0));
    if (qr != qrText_) {
        qrText_ = qr;
        qr_->setPixmap(QPixmap::fromImage(QrImage(qr, kQrModulePixels)));
    }
    scanCaption_->setVisible(!qr.isEmpty());
    qr_->setVisible(!qr.isEmpty());
}

void RemoteWindow::ShowAsk(const RemoteStatus& s) {
    asking_ = 0;
    for (const RemoteClientView& c : s.clients)
        if (c.waiting) {
            asking_ = c.id;
            askQuestion_->setText(Tr(Msg::kRemoteAskQuestion).arg(c.name, c.address));
            break;
        }
    askRow_->setVisible(asking_ != 0);
}

void RemoteWindow::ShowClients(const RemoteStatus& s) {
    const auto count = static_cast<int>(s.clients.size());
    if (clients_->rowCount() != count) clients_->setRowCount(count);
    for (int r = 0; r < count; ++r) {
        const RemoteClientView& c = s.clients[r];
        const QString cells[] = {c.waiting ? Tr(Msg::kRemoteWaiting).arg(c.name) : c.name, c.address,
                                 QLocale().toString(c.since.time(), "HH:mm:ss"), QString::number(c.messages)};
        for (int col = 0; col < 4; ++col) {
            QTableWidgetItem* item = clients_->item(r, col);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                if (col == 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                clients_->setItem(r, col, item);
            }
            if (item->text() != cells[col]) item->setText(cells[col]);
            item->setData(Qt::UserRole, QVariant::fromValue(c.id));
        }
    }
}

void RemoteWindow::showEvent(QShowEvent* event) {
    Refresh();
    refresh_.start();
    QWidget::showEvent(event);
}

void RemoteWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

}  // namespace zanth
