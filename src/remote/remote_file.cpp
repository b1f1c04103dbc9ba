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
#include <cerrno>
#include <csignal>
#include <cstring>

namespace zanth {
namespace {

constexpr qint64 kFileLimit = 64 * 1024;

// The pid the file names; 0 when it names none that can be read.
qint64 OwnerOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kFileLimit) return 0;
    return QJsonDocument::fromJson(file.readAll()).object().value("pid").toInteger(0);
}

bool Alive(qint64 pid) {
    if (pid <= 0 || pid > 0x7fffffff) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

QString RemoteFilePath(const QString& settingsPath) {
    if (settingsPath.isEmpty()) return {};
    return QFileInfo(settingsPath).absolutePath() + QStringLiteral("/remote.json");
}

bool WriteRemoteFile(const QString& path, const RemoteStatus& status, QString* why) {
    const qint64 pid = QCoreApplication::applicationPid();
    if (path.isEmpty()) {
        *why = QStringLiteral("no settings folder");
        return false;
    }
    if (const qint64 owner = OwnerOf(path); owner != pid && Alive(owner)) {
        *why = QStringLiteral("%1 belongs to the running process %2").arg(path).arg(owner);
        return false;
    }
    const QJsonObject info{{"pid", pid},
                           {"port", status.port},
                           {"lan", status.lan},
                           {"token", status.token},
                           {"ws", QStringLiteral("ws://127.0.0.1:%1/ws").arg(status.port)},
                           {"urls", QJsonArray::fromStringList(status.pageUrls)}};
    const QByteArray bytes = QJsonDocument(info).toJson();
    // Made private before the token is in it, and put in place whole.
    const QByteArray temp = QFile::encodeName(path + QStringLiteral(".%1.tmp").arg(pid));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *why = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(temp),
                                            QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        *why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

void RemoveRemoteFile(const QString& path) {
    if (!path.isEmpty() && OwnerOf(path) == QCoreApplication::applicationPid()) QFile::remove(path);
}

}  // namespace zanth
