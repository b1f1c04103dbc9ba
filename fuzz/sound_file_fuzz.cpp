// Any bytes as a sound file chosen by the user, read through the file system the way the player reads it:
// it is taken exactly as it is when it looks like a WAV file, and refused with a reason otherwise. The quick
// check for the dialog never lets pass what the player refuses.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sound/sound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("zanth-sound-fuzz", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
    if (size && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    const zanth::SoundFileData file = zanth::ReadSoundFile(path);
    const std::string check = zanth::CheckSoundBytes({data, size});
    if (file.ok() != check.empty()) std::abort();
    if (file.ok() && (file.bytes.size() != size || !std::equal(file.bytes.begin(), file.bytes.end(), data)))
        std::abort();
    if (!file.ok() && (file.error.empty() || !file.bytes.empty())) std::abort();
    if (!file.ok() && zanth::CheckSoundFile(path).empty()) std::abort();
    return 0;
}
