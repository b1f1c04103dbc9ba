#pragma once
#include <QLoggingCategory>

// The remote-control server: start and stop, clients arriving and leaving, every refusal with its reason.
Q_DECLARE_LOGGING_CATEGORY(lcRemote)
