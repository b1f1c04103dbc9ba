#include "control/log.h"

Q_LOGGING_CATEGORY(lcControl, "zanth.control", QtWarningMsg)
Q_LOGGING_CATEGORY(lcInput, "zanth.input", QtWarningMsg)
