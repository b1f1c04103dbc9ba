#pragma once
#include <string>
#include <string_view>

#include "base/ui_text.h"

namespace zanth {

// Why something failed, in the active language. The reasons the system gives (its error
// texts) and the program's own are English; in Japanese each one this module knows is replaced by our own
// words wherever it stands in the text, e.g. "Permission denied (the user must be in the dialout group:
// ...)". The common system reasons known: permission denied, no such file or device, device busy, file too
// large, disk full, read-only file system, input/output error. A reason not known stays as it was given.
std::string ReasonText(std::string_view reason, Language language);

}  // namespace zanth
