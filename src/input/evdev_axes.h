#pragma once
#include <optional>
#include <string>

#include "input/gamepad_layout.h"

namespace zanth {

// The absolute axes the Linux input device at `path` (/dev/input/eventN) has. Nothing for an empty path, a
// node that cannot be opened or one that is no input device, and on other systems.
std::optional<AbsBits> ReadAbsBits(const std::string& path);

}  // namespace zanth
