#include "sound/log.h"

Q_LOGGING_CATEGORY(lcSound, "zanth.sound")
