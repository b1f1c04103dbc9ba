// Any bytes as a WAV file: measuring must never crash, read outside the file or allocate from a declared
// size, and must answer either -1 or a length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "sound/wav_length.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy lets the address sanitizer catch a read one byte past the end of the file.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    const int ms = zanth::WavLengthFromBytes(std::span<const std::uint8_t>(copy.get(), size));
    if (ms < -1) std::abort();
    return 0;
}
