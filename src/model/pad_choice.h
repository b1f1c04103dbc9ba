#pragma once
#include <string>

namespace zanth {

// Which pad drives this instance. `guid`: SDL's GUID of the model (32 hex digits); empty: none chosen, the
// first pad found drives. `name`: for the user while it is away. `place`: where this very pad is (its
// serial number when it reports one, else the USB socket it is plugged into), which tells twins of one model
// apart; empty when the system names none.
struct PadChoice {
    std::string guid;
    std::string name;
    std::string place;
    bool any() const { return guid.empty(); }
    bool operator==(const PadChoice&) const = default;
};

}  // namespace zanth
