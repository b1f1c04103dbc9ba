// The session's side of remote control: the server's life and what the clients are told. Their input is
// one source of the input mixer's.
#include "base/clock.h"
#include "control/input_mixer.h"
#include "control/link_traffic.h"
#include "control/log.h"
#include "control/session.h"
#include "link/link_worker.h"
#include "remote/remote_file.h"
#include "remote/remote_key.h"

namespace zanth {
namespace {

QString LinkName(LinkState link) {
    switch (link) {
        case LinkState::kConnected:
            return QStringLiteral("connected");
        case LinkState::kConnecting:
            return QStringLiteral("connecting");
        case LinkState::kReconnecting:
            return QStringLiteral("reconnecting");
        case LinkState::kDisconnected:
        case LinkState::kPortLost:
            break;
    }
    return QStringLiteral("disconnected");
}

QStringList Held(const ControllerModel& model, int ControllerItem::*flag) {
    QStringList names;
    for (int i = 0; i < kInputItemCount; ++i)
        if (model.item(i).*flag != 0)
            names.append(
                QString::fromUtf8(ItemIniKey(i).data(), static_cast<qsizetype>(ItemIniKey(i).size())));
    return names;
}

}  // namespace

QByteArray ControlSession::RemoteHello() const {
    return BuildRemoteHello(model_, QString::fromUtf8(Version()), robotName(), app_.keyNames);
}

bool ControlSession::StartRemote(const RemoteOptions& options, QString* reason) {
    remoteSettings_.on = true;
    remoteSettings_.port = options.port;
    remoteSettings_.lan = options.lan;
    remoteTouched_ = true;
    const QString settings = QString::fromStdString(app_.configPath);
    RemoteOptions kept = options;
    kept.ask = remoteSettings_.ask;
    // The key of the settings file, so that a restart or a change of mode orphans no phone. Without it the
    // server keeps its own for this run.
    remoteKeyProblem_.clear();
    kept.key = KeepRemoteKey(RemoteKeyPath(settings), &remoteKeyProblem_);
    if (!remoteKeyProblem_.isEmpty())
        qCWarning(lcControl).noquote() << "remote key not kept:" << remoteKeyProblem_;
    const bool ok = remote_->Start(kept, RemoteHello(), app_.language, reason);
    if (ok) WriteRemoteFileNow();
    return ok;
}

// Non-blocking, and only over a regular file of this user: nothing put in its place can hold us.
void ControlSession::WriteRemoteFileNow() {
    const QString settings = QString::fromStdString(app_.configPath);
    QString why;
    if (!WriteRemoteFile(RemoteFilePath(settings), settings, remote_->status(), &why)) {
        qCWarning(lcControl).noquote() << "remote file not written:" << why;
        remote_->SetFileProblem(why);
    }
}

void ControlSession::NewRemoteKey() {
    const QString key = ::zanth::NewRemoteKey();
    remoteKeyProblem_.clear();
    if (!SaveRemoteKey(RemoteKeyPath(QString::fromStdString(app_.configPath)), key, &remoteKeyProblem_))
        qCWarning(lcControl).noquote() << "remote key not kept:" << remoteKeyProblem_;
    remote_->SetKey(key);
    if (remote_->running()) WriteRemoteFileNow();
}

void ControlSession::SetRemoteAsk(bool ask) {
    remoteSettings_.ask = ask;
    remoteTouched_ = true;
    remote_->SetAsk(ask);
}

QString ControlSession::robotName() const {
    if (!remoteSettings_.name.empty()) return QString::fromStdString(remoteSettings_.name);
    return DefaultRobotName(QString::fromStdString(app_.configPath));
}

void ControlSession::SetRobotName(const QString& name) {
    const QString clean = name.simplified().left(kRobotNameLimit);
    if (clean == robotName()) return;
    remoteSettings_.name = clean.toStdString();
    remoteTouched_ = true;
    remote_->SetHello(RemoteHello());
}

void ControlSession::StopRemote() {
    remoteSettings_.on = false;
    remoteTouched_ = true;
    RemoveRemoteFile(RemoteFilePath(QString::fromStdString(app_.configPath)));
    remote_->Stop();
}

void ControlSession::RemoteForThisRun(std::optional<quint16> port) {
    remoteThisRun_ = port.value_or(static_cast<quint16>(remoteSettings_.port));
}

void ControlSession::StartRemoteAtOpen() {
    if (!remoteThisRun_ && !remoteSettings_.on) return;
    // Started as the settings or the command line say: the saved state stays as it was read.
    const RemoteSettings saved = remoteSettings_;
    const bool touched = remoteTouched_;
    QString reason;
    StartRemote({remoteThisRun_.value_or(static_cast<quint16>(saved.port)), saved.lan}, &reason);
    remoteSettings_ = saved;
    remoteTouched_ = touched;
    if (!reason.isEmpty()) qCWarning(lcControl).noquote() << "remote control:" << reason;
}

void ControlSession::StopRemoteForClose() {
    RemoveRemoteFile(RemoteFilePath(QString::fromStdString(app_.configPath)));
    remote_->Stop();
    InputMixer::LetGoOfRemote(model_);
}

RemoteStatus ControlSession::remoteStatus() const {
    return remote_->status();
}

void ControlSession::StopAllRemoteInput() {
    remote_->ReleaseAll();
    InputMixer::LetGoOfRemote(model_);
    if (linkRunning() && !traffic_->playing()) link_->SetFrame(SampleFrame(), lastInputs_.batteryDisplay);
}

void ControlSession::PublishRemote() {
    state_.remoteClients = remote_->clientCount();
    if (!remote_->running()) return;
    // Once a second is enough for the monitor's list: the message counts move on, nothing else.
    if (++remoteListTicks_ % 20 == 0) traffic_->SetRemoteClients(remote_->status().clients);
    RemoteFeed feed;
    feed.link = LinkName(state_.link);
    if (state_.meterValue != 0) feed.batteryLevel = traffic_->lastLevel();
    if (state_.meterValue == 0 || state_.meterStale) {
        feed.batteryColour = QStringLiteral("grey");
    } else {
        const Rgb c = state_.meterColour;
        feed.batteryColour = c.r == 0   ? QStringLiteral("green")
                             : c.g != 0 ? QStringLiteral("yellow")
                                        : QStringLiteral("red");
    }
    feed.batteryStale = state_.meterStale;
    if (lastSent_)
        feed.frameHex = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(lastSent_->data()),
                                                       static_cast<qsizetype>(lastSent_->size()))
                                                .toHex());
    feed.keyboard = Held(model_, &ControllerItem::keyDown);
    feed.gamepad = Held(model_, &ControllerItem::padDown);
    feed.mouse = Held(model_, &ControllerItem::mouseDown);
    feed.remote = Held(model_, &ControllerItem::remoteDown);
    remote_->Publish(feed);
}

}  // namespace zanth
