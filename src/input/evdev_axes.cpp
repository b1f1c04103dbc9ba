#include "input/evdev_axes.h"

#ifdef __linux__
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdint>

namespace zanth {

std::optional<AbsBits> ReadAbsBits(const std::string& path) {
#ifdef __linux__
    if (path.empty()) return std::nullopt;
    // Non-blocking: a device node must never hold up the control tick.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::array<std::uint8_t, kAbsCodeCount / 8> bytes{};
    const int got = ::ioctl(fd, EVIOCGBIT(EV_ABS, bytes.size()), bytes.data());
    ::close(fd);
    if (got < 0) return std::nullopt;
    AbsBits bits;
    for (int code = 0; code < kAbsCodeCount; ++code) {
        if (bytes[static_cast<std::size_t>(code / 8)] & (1u << (code % 8)))
            bits.set(static_cast<std::size_t>(code));
    }
    return bits;
#else
    (void)path;
    return std::nullopt;
#endif
}

}  // namespace zanth
