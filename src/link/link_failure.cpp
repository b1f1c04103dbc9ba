#include "link/link_failure.h"

namespace zanth {

const char* KindName(LinkFailure::Kind kind) {
    switch (kind) {
        case LinkFailure::Kind::kUnplugged:
            return "unplugged";
        case LinkFailure::Kind::kIoError:
            return "i/o error";
        case LinkFailure::Kind::kStalled:
            return "stalled";
        case LinkFailure::Kind::kHungUp:
            return "hung up";
        case LinkFailure::Kind::kGarbage:
            return "garbage";
        case LinkFailure::Kind::kOther:
            break;
    }
    return "other";
}

}  // namespace zanth
