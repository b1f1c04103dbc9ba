// Any bytes as the robot's reply: the parse must never crash or read past the reply, and a value it
// accepts must be a plain number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy lets the address sanitizer catch a read one byte past the reply.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    const std::optional<int> value = zanth::ParseBatteryReply(copy.get(), size);
    if (value && (size < 2 || copy[0] != 'B' || copy[1] != 'B')) std::abort();
    (void)zanth::ParseBatteryReply(nullptr, 0);
    return 0;
}
