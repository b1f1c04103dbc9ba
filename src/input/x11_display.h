#pragma once
// What the X11 back ends share; Xlib's types stay out of every other header.
#include <X11/Xlib.h>

#include <string>

namespace zanth {

// A connection of our own to `displayName` ("" = $DISPLAY), or null. A busy server can refuse a connection
// for a moment (EAGAIN: its listen queue is full): a few short retries, since each back end connects once.
Display* OpenX11Display(const std::string& displayName);

}  // namespace zanth
