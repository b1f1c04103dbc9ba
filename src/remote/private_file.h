#pragma once
// Small files private to this user beside the settings file (the remote file, the key). Every open is
// non-blocking and follows no link, and only a small regular file of this user is read: a FIFO, a device
// or a link put in its place (by anyone who may write the folder) never holds the window nor leads elsewhere.
#include <QByteArray>
#include <QString>

namespace zanth {

inline constexpr qint64 kPrivateFileLimit = 64 * 1024;

struct PrivateRead {
    bool present = false;
    bool ours = false;  // a small regular file of this user; `bytes` holds it
    QByteArray bytes;
    QString why;  // what is wrong with it, when present and not ours
};
PrivateRead ReadPrivateFile(const QString& path);

// Written whole under a fresh name (0600, made exclusively, no link followed) and renamed over `path`, so
// that no reader ever sees half of it and the secret is never readable by others, not even for a moment.
bool WritePrivateFile(const QString& path, const QByteArray& bytes, QString* why);

// "path: the system's reason".
QString PrivateFileReason(const QString& path, int error);

}  // namespace zanth
