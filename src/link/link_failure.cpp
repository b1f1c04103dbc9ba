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

std::string BridgeClosedDetail(std::string_view words) {
    std::string detail(kBridgeClosedDetail);
    if (!words.empty()) detail.append(": ").append(words);
    return detail;
}

std::string_view BridgeWords(const LinkFailure& failure) {
    const std::string_view detail = failure.detail;
    if (failure.kind != LinkFailure::Kind::kHungUp || detail.size() <= kBridgeClosedDetail.size() + 2 ||
        detail.substr(0, kBridgeClosedDetail.size()) != kBridgeClosedDetail ||
        detail.substr(kBridgeClosedDetail.size(), 2) != ": ")
        return {};
    return detail.substr(kBridgeClosedDetail.size() + 2);
}

}  // namespace zanth
