#include "remote/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace zanth {
namespace {

// Made private before anything is in it, under a name no one else can have taken first.
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
    *why = PrivateFileReason(QString::fromLocal8Bit(*temp), errno);
    return false;
}

}  // namespace

QString PrivateFileReason(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(error)));
}

PrivateRead ReadPrivateFile(const QString& path) {
    PrivateRead r;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        r.present = errno != ENOENT;
        if (r.present) r.why = PrivateFileReason(path, errno);
        return r;
    }
    r.present = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        r.why = PrivateFileReason(path, errno);
    } else if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size > kPrivateFileLimit) {
        r.why = QStringLiteral("%1: not a small regular file of this user").arg(path);
    } else {
        r.bytes.resize(st.st_size);
        const ssize_t n = ::read(fd, r.bytes.data(), static_cast<size_t>(r.bytes.size()));
        r.bytes.resize(n > 0 ? n : 0);
        r.ours = true;
    }
    ::close(fd);
    return r;
}

bool WritePrivateFile(const QString& path, const QByteArray& bytes, QString* why) {
    QByteArray temp;
    if (!WriteTemp(path, bytes, &temp, why)) return false;
    if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        *why = PrivateFileReason(path, errno);
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

}  // namespace zanth
