#include "input/x11_display.h"

#include <unistd.h>

#include <cerrno>

namespace zanth {

Display* OpenX11Display(const std::string& displayName) {
    Display* display = nullptr;
    for (int attempt = 0; attempt < 10 && !display; ++attempt) {
        errno = 0;
        display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
        if (!display && errno != EAGAIN) break;
        if (!display) usleep(20000);
    }
    return display;
}

}  // namespace zanth
