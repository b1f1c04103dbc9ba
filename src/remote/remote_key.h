#pragma once
// The key a page or a script gives in its hello. It belongs to the settings file, not to one start of the
// server: kept private beside the settings file, so that phones that scanned it once keep working after a
// restart or a change of mode, until the user makes a new one.
#include <QString>

namespace zanth {

// `remote.key` beside the usual Zanth-Emulator.ini, `remote-NAME.key` beside NAME.ini; empty without a
// settings file.
QString RemoteKeyPath(const QString& settingsPath);
inline constexpr int kRobotNameLimit = 40;
// The robot's name when none is set: the settings file's name without ".ini"; "Zanth-Emulator" without one.
QString DefaultRobotName(const QString& settingsPath);
// 32 hex digits from the system's source of randomness.
QString NewRemoteKey();
// The key kept at `path`, or a new one written there when there is none (or what is there is no key). Empty,
// with the reason, when the path holds something that is not a regular file of this user (a link, a FIFO):
// it is left alone, and the caller keeps a key of its own for this run.
QString KeepRemoteKey(const QString& path, QString* why);
// Writes `key` over the one kept at `path`.
bool SaveRemoteKey(const QString& path, const QString& key, QString* why);

}  // namespace zanth
