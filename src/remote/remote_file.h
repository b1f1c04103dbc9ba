#pragma once
// The remote file beside the settings file: where a script of the same user finds the running server and
// its token. One per settings file, so that two programs in one folder each have theirs; private to the
// user (0600), removed when the server stops; one left by a program that died is replaced.
//
// Every open is non-blocking and follows no link, and only a small regular file of this user is read: a
// FIFO or a device put in its place (by anyone who may write the folder) never holds the window.
#include <QString>

#include "remote/remote_server.h"

namespace zanth {

// The file's place beside the settings file `settingsPath`: `remote.json` for the usual Zanth-Emulator.ini,
// `remote-NAME.json` for a settings file NAME.ini; empty when there is no settings file.
QString RemoteFilePath(const QString& settingsPath);
// Writes the server's address and token for this process, with the settings file it serves. A file of
// another running process, or anything but a regular file of this user, is left alone (false, with the
// reason).
bool WriteRemoteFile(const QString& path, const QString& settingsPath, const RemoteStatus& status,
                     QString* why);
// Removes the file if this process wrote it.
void RemoveRemoteFile(const QString& path);

}  // namespace zanth
