#include "panel/remote_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "panel/plain_text.h"
#include "panel/qr_code.h"

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
    lanNote_ = Plain(new QLabel(Tr(Msg::kRemoteLanNote), this));
    lanNote_->setWordWrap(true);
    lanNote_->setStyleSheet("color: #a00000;");
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
    for (QWidget* w :
         {static_cast<QWidget*>(on_), static_cast<QWidget*>(lan_), static_cast<QWidget*>(lanNote_),
          static_cast<QWidget*>(status_), static_cast<QWidget*>(addressCaption_),
          static_cast<QWidget*>(address_), static_cast<QWidget*>(scanCaption_), static_cast<QWidget*>(qr_)})
        layout->addWidget(w);

    layout->addWidget(Caption(Tr(Msg::kRemoteClients), this));
    clients_ = new QTableWidget(0, 4, this);
    clients_->setHorizontalHeaderLabels({Tr(Msg::kRemoteColumnName), Tr(Msg::kRemoteColumnAddress),
                                         Tr(Msg::kRemoteColumnSince), Tr(Msg::kRemoteColumnMessages)});
    clients_->verticalHeader()->hide();
    clients_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    clients_->setSelectionMode(QAbstractItemView::NoSelection);
    clients_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    clients_->horizontalHeader()->setStretchLastSection(true);
    clients_->setMinimumHeight(140);
    layout->addWidget(clients_, 1);
    stopAll_ = new QPushButton(Tr(Msg::kRemoteStopAll), this);
    stopAll_->setStyleSheet("font-weight: bold; padding: 6px 14px;");
    auto* row = new QHBoxLayout;
    row->addWidget(stopAll_);
    row->addStretch(1);
    layout->addLayout(row);
    resize(560, 620);

    connect(on_, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            Start(lan_->isChecked());
        else
            session_.StopRemote();
        Refresh();
    });
    // A change of mode starts the server afresh (a new token): pages opened under the old mode stop working.
    connect(lan_, &QCheckBox::clicked, this, [this](bool lan) {
        if (session_.remoteStatus().running) Start(lan);
        Refresh();
    });
    connect(stopAll_, &QPushButton::clicked, this, [this] { session_.StopAllRemoteInput(); });
    connect(&session_, &ControlSession::remoteChanged, this, [this] {
        if (isVisible()) Refresh();
    });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &RemoteWindow::Refresh);
    Refresh();
}

void RemoteWindow::Start(bool lan) {
    // A change of mode keeps the port the server runs on (--remote=PORT may have chosen it), else the
    // saved one.
    const RemoteStatus now = session_.remoteStatus();
    RemoteOptions options;
    options.port = now.running ? now.port : static_cast<quint16>(session_.remoteSettings().port);
    options.lan = lan;
    session_.StopRemote();
    QString reason;
    session_.StartRemote(options, &reason);  // a failure shows as the status's reason
}

void RemoteWindow::Refresh() {
    const RemoteStatus s = session_.remoteStatus();
    on_->setChecked(s.running);
    lan_->setChecked(s.running ? s.lan : session_.remoteSettings().lan);
    lanNote_->setVisible(lan_->isChecked());
    QString status = s.running             ? Tr(Msg::kRemoteRunning).arg(s.port)
                     : !s.reason.isEmpty() ? Tr(Msg::kRemoteFailed).arg(s.reason)
                                           : Tr(Msg::kRemoteOff);
    // Scripts cannot find the server: said here, not only on stderr (the label shows plain text).
    if (s.running && !s.fileProblem.isEmpty()) status += QLatin1Char('\n') + s.fileProblem;
    if (status_->text() != status) status_->setText(status);

    QStringList links;
    for (const QString& url : s.pageUrls) links << QString("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped());
    const QString addresses = s.running ? links.join("<br>") : QString();
    if (address_->text() != addresses) address_->setText(addresses);
    addressCaption_->setVisible(!addresses.isEmpty());
    address_->setVisible(!addresses.isEmpty());

    // The code is for a phone: only in LAN mode, where a phone can reach the address it holds.
    const QString qr = s.running && s.lan && !s.pageUrls.isEmpty() ? s.pageUrls.first() : QString();
    if (qr != qrText_) {
        qrText_ = qr;
        qr_->setPixmap(QPixmap::fromImage(QrImage(qr, kQrModulePixels)));
    }
    scanCaption_->setVisible(!qr.isEmpty());
    qr_->setVisible(!qr.isEmpty());
    ShowClients(s);
    stopAll_->setEnabled(s.running && !s.clients.isEmpty());
}

void RemoteWindow::ShowClients(const RemoteStatus& s) {
    const auto count = static_cast<int>(s.clients.size());
    if (clients_->rowCount() != count) clients_->setRowCount(count);
    for (int r = 0; r < count; ++r) {
        const RemoteClientView& c = s.clients[r];
        const QString cells[] = {c.name, c.address, QLocale().toString(c.since.time(), "HH:mm:ss"),
                                 QString::number(c.messages)};
        for (int col = 0; col < 4; ++col) {
            QTableWidgetItem* item = clients_->item(r, col);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                if (col == 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                clients_->setItem(r, col, item);
            }
            if (item->text() != cells[col]) item->setText(cells[col]);
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
