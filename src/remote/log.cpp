#include "remote/log.h"

Q_LOGGING_CATEGORY(lcRemote, "zanth.remote", QtInfoMsg)
