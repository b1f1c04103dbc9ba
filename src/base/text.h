#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zanth {

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 character: the fixed byte limits of the
// stored texts (names 23 or 62 bytes, paths 2043) must never leave half a character behind.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace zanth
