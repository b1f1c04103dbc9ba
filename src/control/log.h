#pragma once
#include <QLoggingCategory>

// Connects, disconnects and lost ports; the input devices coming and going.
Q_DECLARE_LOGGING_CATEGORY(lcControl)
Q_DECLARE_LOGGING_CATEGORY(lcInput)
