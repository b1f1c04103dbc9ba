#pragma once
// The messages of the remote-control API: JSON text frames, each with "v" (the protocol's version) and
// "type". Parsing and building only; what a message does is up to the server and the session.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/app_context.h"

namespace zanth {

class ControllerModel;

// "v" of every message; a change here breaks older clients. The minor version, said in the program's hello,
// grows with what an older client may ignore (1: the stop and the drive state).
inline constexpr int kRemoteProtocolVersion = 1;
inline constexpr int kRemoteProtocolMinor = 1;

enum class RemoteMessageType { kHello, kPress, kRelease, kSticks, kReleaseAll, kPing, kStop };

// One message of a client. `sticks`: lx, ly, rx, ry as stick bytes (0..255, 128 = centre).
struct RemoteMessage {
    RemoteMessageType type = RemoteMessageType::kPing;
    QString name;   // hello
    QString token;  // hello
    int item = -1;  // press / release: the item's index (ItemIndex)
    std::array<int, 4> sticks{128, 128, 128, 128};
};

// Reads one text frame. Anything that is not a whole, valid message gives none and says why in `error`
// (English, for the client's developer); `otherVersion` tells a message of another protocol version.
std::optional<RemoteMessage> ParseRemoteMessage(const QByteArray& text, QString* error,
                                                bool* otherVersion = nullptr);

// -1.0 .. 1.0 (right and down positive) to the stick byte the robot reads; 0 is the centre, 128.
int StickByteOf(double value);

// What the program tells its clients about the robot and the controller, refreshed by the session.
struct RemoteFeed {
    QString link = QStringLiteral("disconnected");  // disconnected, connecting, connected, reconnecting
    std::optional<int> batteryLevel;
    QString batteryColour = QStringLiteral("grey");  // green, yellow, red, grey
    bool batteryStale = false;
    QString frameHex;  // the frame last sent, 16 hex digits; empty before the first
    QStringList keyboard, gamepad, mouse, remote;  // item names each source holds
    bool operator==(const RemoteFeed&) const = default;
};

// Whether the robot may be driven, and the match, as every client is told. Times are the program's wall
// clock, "19:30:05"; the match's time left as shown, "1:59".
struct RemoteDriveState {
    bool stopped = false;
    std::string stoppedBy;  // who stopped it, in the program's words
    std::string stoppedAt;
    bool enabled = true;
    std::string matchPhase;  // both empty when no match runs
    std::string matchTime;
    bool operator==(const RemoteDriveState&) const = default;
};

// Why the program let go of a client's holds.
enum class RemoteRelease { kStopAll, kDisconnect, kSilence };
// Why a connection is closed after its upgrade: the page shows its own words for each.
enum class RemoteRefused { kFull, kToken, kDenied, kVersion };

// The program's side. `robot` names the robot; `keys` (may be empty) gives each item's key binding a name.
QByteArray BuildRemoteHello(const ControllerModel& model, const QString& version, const QString& robot = {},
                            const std::vector<KeyName>& keys = {});
// The hello as a client is told it now, with the drive state of the moment.
QByteArray WithRemoteDrive(const QByteArray& hello, const RemoteDriveState& drive);
// `mine`: what the client it goes to holds, as the program sees it.
QByteArray BuildRemoteState(const RemoteFeed& feed, int clients, const QStringList& mine = {},
                            const RemoteDriveState& drive = {});
QByteArray BuildRemoteReleased(RemoteRelease why);
QByteArray BuildRemoteRefused(RemoteRefused why, int limit);
QByteArray BuildRemoteWaiting();
QByteArray BuildRemoteError(const QString& reason);
QByteArray BuildRemotePong();

}  // namespace zanth
