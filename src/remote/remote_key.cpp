#include "remote/remote_key.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "remote/private_file.h"

namespace zanth {
namespace {

bool IsKey(const QString& text) {
    static const QRegularExpression key(QStringLiteral("^[0-9a-f]{32}$"));
    return key.match(text).hasMatch();
}

}  // namespace

QString RemoteKeyPath(const QString& settingsPath) {
    if (settingsPath.isEmpty()) return {};
    const QFileInfo settings(settingsPath);
    const QString name =
        settings.fileName().compare(QLatin1String("Zanth-Emulator.ini"), Qt::CaseInsensitive) == 0
            ? QStringLiteral("remote.key")
            : QStringLiteral("remote-%1.key").arg(settings.completeBaseName());
    return settings.absolutePath() + QLatin1Char('/') + name;
}

QString DefaultRobotName(const QString& settingsPath) {
    const QString name = QFileInfo(settingsPath).completeBaseName();
    return name.isEmpty() ? QStringLiteral("Zanth-Emulator") : name;
}

QString NewRemoteKey() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString key;
    for (quint32 w : words) key += QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
    return key;
}

QString KeepRemoteKey(const QString& path, QString* why) {
    if (path.isEmpty()) {
        *why = QStringLiteral("no settings folder");
        return {};
    }
    const PrivateRead kept = ReadPrivateFile(path);
    if (kept.present && !kept.ours) {
        *why = kept.why;
        return {};
    }
    const QString key = QString::fromLatin1(kept.bytes).trimmed();
    if (kept.ours && IsKey(key)) return key;
    const QString fresh = NewRemoteKey();
    return SaveRemoteKey(path, fresh, why) ? fresh : QString();
}

bool SaveRemoteKey(const QString& path, const QString& key, QString* why) {
    if (path.isEmpty()) {
        *why = QStringLiteral("no settings folder");
        return false;
    }
    // What is in the way and is not ours stays as it is: renaming over a link would be safe, but a user who
    // put a link there meant something by it.
    const PrivateRead there = ReadPrivateFile(path);
    if (there.present && !there.ours) {
        *why = there.why;
        return false;
    }
    return WritePrivateFile(path, key.toLatin1() + '\n', why);
}

}  // namespace zanth
