// remote.json: private to the user, left alone while another program owns it, replaced when its owner died.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "remote/remote_file.h"

namespace zanth {
namespace {

qint64 OwnerIn(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return QJsonDocument::fromJson(f.readAll()).object().value("pid").toInteger();
}

void Plant(const QString& path, qint64 pid) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{"pid", pid}, {"token", "old"}}).toJson());
}

TEST(RemoteFile, IsPrivateReplacesADeadOwnersFileAndLeavesALiveOnesAlone) {
    QTemporaryDir dir;
    const QString path = RemoteFilePath(dir.filePath("Zanth-Emulator.ini"));
    RemoteStatus status;
    status.port = 8765;
    status.token = QStringLiteral("00112233445566778899aabbccddeeff");
    QString why;

    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    Plant(path, dead);
    ASSERT_TRUE(WriteRemoteFile(path, status, &why)) << why.toStdString();
    EXPECT_EQ(OwnerIn(path), QCoreApplication::applicationPid());
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Plant(path, getppid());
    EXPECT_FALSE(WriteRemoteFile(path, status, &why));
    RemoveRemoteFile(path);  // not ours: stays
    EXPECT_EQ(OwnerIn(path), getppid());

    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(WriteRemoteFile(path, status, &why));
    RemoveRemoteFile(path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(WriteRemoteFile(RemoteFilePath({}), status, &why));
}

}  // namespace
}  // namespace zanth
