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

namespace zanth {
namespace {

constexpr qint64 kFileLimit = 64 * 1024;

QString Reason(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(error)));
}

// What is at the path now.
struct Existing {
    bool present = false;
    bool ours = false;  // a small regular file of this user
    qint64 pid = 0;     // the pid it names
    QString why;        // what is wrong with it, when not ours
};

Existing Look(const QString& path) {
    Existing e;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        e.present = errno != ENOENT;
        if (e.present) e.why = Reason(path, errno);
        return e;
    }
    e.present = true;
    struct stat st {};
    QByteArray bytes;
    if (::fstat(fd, &st) != 0) {
        e.why = Reason(path, errno);
    } else if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size > kFileLimit) {
        e.why = QStringLiteral("%1: not a small regular file of this user").arg(path);
    } else {
        bytes.resize(st.st_size);
        const ssize_t n = ::read(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        bytes.resize(n > 0 ? n : 0);
        e.ours = true;
    }
    ::close(fd);
    if (e.ours) e.pid = QJsonDocument::fromJson(bytes).object().value("pid").toInteger(0);
    return e;
}

bool Alive(qint64 pid) {
    if (pid <= 0 || pid > 0x7fffffff) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Made private before the token is in it, under a name no one else can have taken first.
bool WriteTemp(const QString& path, const QByteArray& bytes, QByteArray* temp, QString* why) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        *temp = QFile::encodeName(path +
                                  QStringLiteral(".%1.%2.tmp")
                                      .arg(QCoreApplication::applicationPid())
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        const int fd = ::open(temp->constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        const bool written =
            ::fchmod(fd, 0600) == 0 &&
            ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
        if (::close(fd) == 0 && written) return true;
        ::unlink(temp->constData());
        break;
    }
    *why = Reason(QString::fromLocal8Bit(*temp), errno);
    return false;
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
    QByteArray temp;
    if (!WriteTemp(path, QJsonDocument(info).toJson(), &temp, why)) return false;
    if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        *why = Reason(path, errno);
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

void RemoveRemoteFile(const QString& path) {
    if (path.isEmpty()) return;
    const Existing existing = Look(path);
    if (existing.ours && existing.pid == QCoreApplication::applicationPid())
        ::unlink(QFile::encodeName(path).constData());
}

}  // namespace zanth
