#include "base/clock.h"

#include <chrono>

namespace zanth {
namespace {
std::function<std::uint32_t()>& Source() {
    static std::function<std::uint32_t()> source;
    return source;
}
}  // namespace

std::uint32_t TickCount() {
    if (auto& s = Source()) return s();
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTickSource(std::function<std::uint32_t()> source) {
    Source() = std::move(source);
}

}  // namespace zanth
