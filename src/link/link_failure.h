#pragma once
#include <QMetaType>
#include <string>
#include <string_view>

namespace zanth {

// Why a running link gave up, for the user (kind, device) and for the log (detail).
struct LinkFailure {
    enum class Kind {
        kUnplugged,  // the device went away: end of file, hang-up, no such device
        kIoError,    // the driver reported an input/output error
        kStalled,    // output did not leave the port in time (flow control held off, a stuck line)
        kHungUp,     // a network bridge ended or reset the connection
        kGarbage,    // bytes keep coming, but never a battery reply
        kOther,
    };
    Kind kind = Kind::kOther;
    std::string device;
    std::string detail;  // the system's text
};

// "unplugged", "i/o error", "stalled", "other": for log lines.
const char* KindName(LinkFailure::Kind kind);

// The detail of a bridge that ended the connection. A bridge may say why first (ser2net: "Device open
// failure: ..." when the serial device behind it cannot be opened); its words then follow after ": ".
inline constexpr std::string_view kBridgeClosedDetail = "the bridge closed the connection";
std::string BridgeClosedDetail(std::string_view words);
// The words a bridge said before it closed the connection; empty when it said none.
std::string_view BridgeWords(const LinkFailure& failure);

}  // namespace zanth

Q_DECLARE_METATYPE(zanth::LinkFailure)
