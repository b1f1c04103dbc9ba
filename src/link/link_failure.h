#pragma once
#include <QMetaType>
#include <string>

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

}  // namespace zanth

Q_DECLARE_METATYPE(zanth::LinkFailure)
