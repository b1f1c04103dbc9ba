#pragma once
#include <QLoggingCategory>

namespace zanth {

// The link's log: starts, stops and failures of the serial link.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

}  // namespace zanth
