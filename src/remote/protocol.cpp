#include "remote/protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cmath>

#include "model/controller_model.h"

namespace zanth {
namespace {

constexpr int kPictureWidth = 800;
constexpr int kPictureHeight = 600;

int ItemByName(const QString& name) {
    for (int i = 0; i < kInputItemCount; ++i)
        if (name == QLatin1String(ItemIniKey(i).data(), static_cast<qsizetype>(ItemIniKey(i).size())))
            return i;
    return -1;
}

std::optional<RemoteMessageType> TypeOf(const QString& type) {
    static const std::pair<const char*, RemoteMessageType> kTypes[] = {
        {"hello", RemoteMessageType::kHello},
        {"press", RemoteMessageType::kPress},
        {"release", RemoteMessageType::kRelease},
        {"sticks", RemoteMessageType::kSticks},
        {"release_all", RemoteMessageType::kReleaseAll},
        {"ping", RemoteMessageType::kPing},
        {"stop", RemoteMessageType::kStop}};
    for (const auto& [name, value] : kTypes)
        if (type == QLatin1String(name)) return value;
    return std::nullopt;
}

bool Fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

bool ReadHello(const QJsonObject& o, RemoteMessage& m, QString* error) {
    if (!o.value("v").isDouble())
        return Fail(error, QStringLiteral("hello must say \"v\":%1").arg(kRemoteProtocolVersion));
    if (!o.value("token").isString()) return Fail(error, QStringLiteral("hello without a token"));
    m.token = o.value("token").toString();
    m.name = o.value("name").toString().left(64).simplified();
    return true;
}

bool ReadSticks(const QJsonObject& o, RemoteMessage& m, QString* error) {
    static const char* const kKeys[] = {"lx", "ly", "rx", "ry"};
    for (std::size_t i = 0; i < 4; ++i) {
        const QJsonValue v = o.value(kKeys[i]);
        if (v.isUndefined()) continue;  // a stick not named is centred
        if (!v.isDouble() || !(std::fabs(v.toDouble()) <= 1.0))
            return Fail(error, QStringLiteral("%1 must be a number from -1 to 1").arg(kKeys[i]));
        m.sticks[i] = StickByteOf(v.toDouble());
    }
    return true;
}

QJsonArray Names(const QStringList& names) {
    return QJsonArray::fromStringList(names);
}

QString KeyNameOf(const std::vector<KeyName>& keys, int code) {
    if (code < 0) return {};
    for (const KeyName& k : keys)
        if (k.scanCode == code) return QString::fromStdString(k.name);
    return {};
}

QByteArray Compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString Text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QJsonObject DriveObject(const RemoteDriveState& d) {
    QJsonObject drive{{"stopped", d.stopped}, {"enabled", d.enabled}};
    if (d.stopped) {
        drive["stopped_by"] = Text(d.stoppedBy);
        drive["stopped_at"] = Text(d.stoppedAt);
    }
    drive["match"] = d.matchPhase.empty() && d.matchTime.empty()
                         ? QJsonValue()
                         : QJsonObject{{"phase", Text(d.matchPhase)}, {"time", Text(d.matchTime)}};
    return drive;
}

}  // namespace

int StickByteOf(double value) {
    if (!(value == value)) return 128;
    value = std::clamp(value, -1.0, 1.0);
    return 128 + static_cast<int>(std::lround(value * (value < 0 ? 128.0 : 127.0)));
}

std::optional<RemoteMessage> ParseRemoteMessage(const QByteArray& text, QString* error, bool* otherVersion) {
    if (otherVersion) *otherVersion = false;
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        Fail(error, QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    if (o.contains("v") && o.value("v").toDouble(-1) != kRemoteProtocolVersion) {
        if (otherVersion) *otherVersion = true;
        Fail(error,
             QStringLiteral("unsupported version; this program speaks \"v\":%1").arg(kRemoteProtocolVersion));
        return std::nullopt;
    }
    const std::optional<RemoteMessageType> type = TypeOf(o.value("type").toString());
    if (!type) {
        Fail(error, QStringLiteral("unknown type"));
        return std::nullopt;
    }
    RemoteMessage m;
    m.type = *type;
    switch (m.type) {
        case RemoteMessageType::kHello:
            if (!ReadHello(o, m, error)) return std::nullopt;
            break;
        case RemoteMessageType::kPress:
        case RemoteMessageType::kRelease:
            m.item = ItemByName(o.value("item").toString());
            if (m.item < 0) {
                Fail(error, QStringLiteral("unknown item"));
                return std::nullopt;
            }
            break;
        case RemoteMessageType::kSticks:
            if (!ReadSticks(o, m, error)) return std::nullopt;
            break;
        case RemoteMessageType::kReleaseAll:
        case RemoteMessageType::kPing:
        case RemoteMessageType::kStop:
            break;
    }
    return m;
}

QByteArray BuildRemoteHello(const ControllerModel& model, const QString& version, const QString& robot,
                            const std::vector<KeyName>& keys) {
    QJsonArray items;
    for (int i = 0; i < kInputItemCount; ++i) {
        const ControllerItem& it = model.item(i);
        const std::string_view key = ItemIniKey(i);
        QJsonObject o;
        o["name"] = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
        o["en"] = QString::fromUtf8(ItemTableName(i, Language::kEnglish));
        o["ja"] = QString::fromUtf8(ItemTableName(i, Language::kJapanese));
        o["rect"] = QJsonArray{it.left, it.top, it.width, it.height};
        o["up"] = it.upBitmapId;
        o["down"] = it.downBitmapId;
        // The program's own binding, so that the page answers the same keys.
        if (const QString key = KeyNameOf(keys, it.keyCode); !key.isEmpty()) o["key"] = key;
        items.append(o);
    }
    const ControllerItem& back = model.items[kItemBackground];
    QJsonObject hello{{"v", kRemoteProtocolVersion},
                      {"type", "hello"},
                      {"program", "Zanth-Emulator"},
                      {"robot", robot.isEmpty() ? QStringLiteral("Zanth-Emulator") : robot},
                      {"version", version},
                      {"minor", kRemoteProtocolMinor},
                      {"items", items},
                      {"background", back.upBitmapId},
                      {"size", QJsonArray{kPictureWidth, kPictureHeight}}};
    return QJsonDocument(hello).toJson(QJsonDocument::Compact);
}

QByteArray WithRemoteDrive(const QByteArray& hello, const RemoteDriveState& drive) {
    QJsonObject o = QJsonDocument::fromJson(hello).object();
    o["drive"] = DriveObject(drive);
    return Compact(o);
}

QByteArray BuildRemoteState(const RemoteFeed& feed, int clients, const QStringList& mine,
                            const RemoteDriveState& drive) {
    QJsonObject battery{{"level", feed.batteryLevel ? QJsonValue(*feed.batteryLevel) : QJsonValue()},
                        {"colour", feed.batteryColour},
                        {"stale", feed.batteryStale}};
    QJsonObject held{{"keyboard", Names(feed.keyboard)},
                     {"gamepad", Names(feed.gamepad)},
                     {"mouse", Names(feed.mouse)},
                     {"remote", Names(feed.remote)}};
    QJsonObject state{{"v", kRemoteProtocolVersion}, {"type", "state"},        {"link", feed.link},
                      {"battery", battery},          {"frame", feed.frameHex}, {"held", held},
                      {"clients", clients},          {"mine", Names(mine)},    {"drive", DriveObject(drive)}};
    return Compact(state);
}

QByteArray BuildRemoteReleased(RemoteRelease why) {
    static const char* const kReasons[] = {"stop_all", "disconnect", "silence"};
    return Compact(
        {{"v", kRemoteProtocolVersion}, {"type", "released"}, {"reason", kReasons[static_cast<int>(why)]}});
}

QByteArray BuildRemoteRefused(RemoteRefused why, int limit) {
    static const char* const kReasons[] = {"full", "token", "denied", "version"};
    return Compact({{"v", kRemoteProtocolVersion},
                    {"type", "refused"},
                    {"reason", kReasons[static_cast<int>(why)]},
                    {"limit", limit}});
}

QByteArray BuildRemoteWaiting() {
    return Compact({{"v", kRemoteProtocolVersion}, {"type", "waiting"}});
}

QByteArray BuildRemoteError(const QString& reason) {
    return QJsonDocument(QJsonObject{{"v", kRemoteProtocolVersion}, {"type", "error"}, {"reason", reason}})
        .toJson(QJsonDocument::Compact);
}

QByteArray BuildRemotePong() {
    return QJsonDocument(QJsonObject{{"v", kRemoteProtocolVersion}, {"type", "pong"}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace zanth
