#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace zanth {

// Playing length of a PCM WAV file in milliseconds (0 or more), or -1 when it cannot be determined: the file
// cannot be opened or is not a regular file, it is not RIFF/WAVE, it lacks a "fmt " chunk followed by a
// "data" chunk inside the RIFF chunk, its format is not PCM (tag 1), its byte rate is 0, its format chunk is
// shorter than the 12 bytes read from it, or its data payload is not present in full.
//
// Only chunk headers and the first 12 bytes of the format are read; the data payload is checked against the
// file's size, never loaded, and no buffer is sized from a declared chunk size.
int ReadWavLength(const std::string& path);

// The same for a file already in memory.
int WavLengthFromBytes(std::span<const std::uint8_t> bytes);

}  // namespace zanth
