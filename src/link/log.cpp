#include "link/log.h"

namespace zanth {

Q_LOGGING_CATEGORY(lcLink, "zanth.link", QtWarningMsg)

}  // namespace zanth
