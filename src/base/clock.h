#pragma once
#include <cstdint>
#include <functional>

namespace zanth {

// Milliseconds of a steady clock as a wrapping 32-bit counter. Every time comparison in the program uses
// wrapping subtraction, so tests replace the source to run across the wrap.
std::uint32_t TickCount();

// Replaces the clock for tests; an empty function restores the steady clock.
void SetTickSource(std::function<std::uint32_t()> source);

}  // namespace zanth
