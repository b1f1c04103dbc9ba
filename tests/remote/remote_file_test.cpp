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
#include <cstdio>
#include <functional>

#include "remote/remote_file.h"
#include "remote/remote_key.h"

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
    const QString settings = dir.filePath("Zanth-Emulator.ini");
    const QString path = RemoteFilePath(settings);
    RemoteStatus status;
    status.port = 8765;
    status.token = QStringLiteral("00112233445566778899aabbccddeeff");
    QString why;

    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    Plant(path, dead);
    ASSERT_TRUE(WriteRemoteFile(path, settings, status, &why)) << why.toStdString();
    EXPECT_EQ(OwnerIn(path), QCoreApplication::applicationPid());
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Plant(path, getppid());
    EXPECT_FALSE(WriteRemoteFile(path, settings, status, &why));
    RemoveRemoteFile(path);  // not ours: stays
    EXPECT_EQ(OwnerIn(path), getppid());

    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(WriteRemoteFile(path, settings, status, &why));
    RemoveRemoteFile(path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(WriteRemoteFile(RemoteFilePath({}), {}, status, &why));
}

// Another user may put anything in a folder both may write: nothing but a regular file of ours is opened
// for more than a look that cannot block, read, or replaced.
TEST(RemoteFile, AnythingButARegularFileOfOursIsLeftAloneWithoutWaitingOnIt) {
    QTemporaryDir dir;
    const QString settings = dir.filePath("Zanth-Emulator.ini");
    const QString path = RemoteFilePath(settings);
    const QByteArray name = QFile::encodeName(path);
    const QByteArray target = QFile::encodeName(dir.filePath("elsewhere.json"));
    Plant(dir.filePath("elsewhere.json"), 0);
    struct Case {
        const char* what;
        std::function<int()> make;
    };
    const Case cases[] = {
        {"a FIFO", [&] { return mkfifo(name.constData(), 0666); }},
        {"a link", [&] { return symlink(target.constData(), name.constData()); }},
        {"a folder", [&] { return mkdir(name.constData(), 0700); }},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.make(), 0) << c.what;
        QString why;
        EXPECT_FALSE(WriteRemoteFile(path, settings, RemoteStatus{}, &why)) << c.what;
        EXPECT_FALSE(why.isEmpty()) << c.what;
        RemoveRemoteFile(path);
        struct stat st {};
        EXPECT_EQ(lstat(name.constData(), &st), 0) << c.what;  // still there
        ASSERT_EQ(remove(name.constData()), 0) << c.what;
    }
    EXPECT_EQ(OwnerIn(dir.filePath("elsewhere.json")), 0);
}

TEST(RemoteFile, TwoSettingsFilesInOneFolderHaveAFileEachNamingItsSettings) {
    QTemporaryDir dir;
    RemoteStatus status;
    QStringList paths;
    for (const char* ini : {"Zanth-Emulator.ini", "robot-b.ini"}) {
        const QString settings = dir.filePath(ini);
        const QString path = RemoteFilePath(settings);
        EXPECT_FALSE(paths.contains(path)) << ini;
        paths.append(path);
        QString why;
        ASSERT_TRUE(WriteRemoteFile(path, settings, status, &why)) << why.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QJsonDocument::fromJson(f.readAll()).object().value("settings").toString(), settings)
            << ini;
    }
    EXPECT_TRUE(paths.first().endsWith("/remote.json"));  // where scripts have always looked
}

}  // namespace
}  // namespace zanth

namespace zanth {
namespace {

TEST(RemoteKey, OutlivesARestartIsPrivateAndIsNotFollowedThroughALink) {
    QTemporaryDir dir;
    const QString settings = dir.filePath("Class 3.ini");
    const QString path = RemoteKeyPath(settings);
    EXPECT_TRUE(path.endsWith("remote-Class 3.key"));
    QString why;
    const QString key = KeepRemoteKey(path, &why);
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(KeepRemoteKey(path, &why), key);  // the next start
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(SaveRemoteKey(path, QString(32, 'b'), &why)) << why.toStdString();
    EXPECT_EQ(KeepRemoteKey(path, &why), QString(32, 'b'));

    // A link put in its place leads nowhere: the file it names is neither read nor written.
    const QString elsewhere = dir.filePath("elsewhere");
    Plant(elsewhere, 1);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::link(elsewhere, path));
    why.clear();
    EXPECT_TRUE(KeepRemoteKey(path, &why).isEmpty());
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(SaveRemoteKey(path, QString(32, 'c'), &why));
    EXPECT_EQ(OwnerIn(elsewhere), 1);
    EXPECT_EQ(DefaultRobotName(settings), "Class 3");
}

}  // namespace
}  // namespace zanth
