#include "control/log.h"

Q_LOGGING_CATEGORY(lcControl, "zanth.control", QtInfoMsg)
Q_LOGGING_CATEGORY(lcInput, "zanth.input", QtInfoMsg)
