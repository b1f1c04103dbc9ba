#pragma once
#include <QLoggingCategory>

// Messages of the sound back end, e.g. a sound file that cannot be played. Silence them with
// QT_LOGGING_RULES="zanth.sound.warning=false".
Q_DECLARE_LOGGING_CATEGORY(lcSound)
