#pragma once
// remote.json beside the settings file: where a script of the same user finds the running server and its
// token. Private to the user (0600), removed at exit; one left by a program that died is replaced.
#include <QString>

#include "remote/remote_server.h"

namespace zanth {

// The file's place beside the settings file `settingsPath`; empty when there is none.
QString RemoteFilePath(const QString& settingsPath);
// Writes the server's address and token for this process. A file of another running process is left
// alone (false, with the reason); one whose process is gone is replaced.
bool WriteRemoteFile(const QString& path, const RemoteStatus& status, QString* why);
// Removes the file if this process wrote it.
void RemoveRemoteFile(const QString& path);

}  // namespace zanth
