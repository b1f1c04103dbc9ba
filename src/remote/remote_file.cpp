#include "remote/remote_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "remote/private_file.h"

namespace zanth {
namespace {

// What is at the path now.
struct Existing {
    bool present = false;
    bool ours = false;  // a small regular file of this user
    qint64 pid = 0;     // the pid it names
    QString why;        // what is wrong with it, when not ours
};

Existing Look(const QString& path) {
    const PrivateRead r = ReadPrivateFile(path);
    Existing e{r.present, r.ours, 0, r.why};
    if (e.ours) e.pid = QJsonDocument::fromJson(r.bytes).object().value("pid").toInteger(0);
    return e;
}

bool Alive(qint64 pid) {
    if (pid <= 0 || pid > 0x7fffffff) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

QString RemoteFilePath(const QString& settingsPath) {
    if (settingsPath.isEmpty()) return {};
    const QFileInfo settings(settingsPath);
    const QString name =
        settings.fileName().compare(QLatin1String("Zanth-Emulator.ini"), Qt::CaseInsensitive) == 0
            ? QStringLiteral("remote.json")
            : QStringLiteral("remote-%1.json").arg(settings.completeBaseName());
    return settings.absolutePath() + QLatin1Char('/') + name;
}

bool WriteRemoteFile(const QString& path, const QString& settingsPath, const RemoteStatus& status,
                     QString* why) {
    const qint64 pid = QCoreApplication::applicationPid();
    if (path.isEmpty()) {
        *why = QStringLiteral("no settings folder");
        return false;
    }
    const Existing existing = Look(path);
    if (existing.present && !existing.ours) {
        *why = existing.why;
        return false;
    }
    if (existing.pid != pid && Alive(existing.pid)) {
        *why = QStringLiteral("%1 belongs to the running process %2").arg(path).arg(existing.pid);
        return false;
    }
    const QJsonObject info{{"pid", pid},
                           {"settings", QFileInfo(settingsPath).absoluteFilePath()},
                           {"port", status.port},
                           {"lan", status.lan},
                           {"token", status.token},
                           {"ws", QStringLiteral("ws://127.0.0.1:%1/ws").arg(status.port)},
                           {"urls", QJsonArray::fromStringList(status.pageUrls)}};
    return WritePrivateFile(path, QJsonDocument(info).toJson(), why);
}

void RemoveRemoteFile(const QString& path) {
    if (path.isEmpty()) return;
    const Existing existing = Look(path);
    if (existing.ours && existing.pid == QCoreApplication::applicationPid())
        ::unlink(QFile::encodeName(path).constData());
}

}  // namespace zanth
