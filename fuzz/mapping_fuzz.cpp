// Any bytes as a mapping file: what loads must save, and load again as the same rows, both into the file it
// came from (which keeps everything else it holds) and into a new file. A name read from a file must never
// change on the way.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "input/mapping.h"

namespace {

// Files go to memory where there is a RAM disk: every save syncs. Removed at exit.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        path = (base / "zanth-mapping-fuzz-XXXXXX").string();
        if (!::mkdtemp(path.data())) std::abort();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::string& Dir() {
    static const ScratchDir dir;
    return dir.path;
}

std::vector<zanth::MappingEntry> LoadOrDie(const std::string& path) {
    std::vector<zanth::MappingEntry> rows;
    if (!zanth::LoadMappingFile(path, rows)) std::abort();
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > zanth::IniFile::kMaxFileBytes) return 0;
    const std::string path = Dir() + "/in.kjd";
    const std::string fresh = Dir() + "/new.kjd";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);

    const std::vector<zanth::MappingEntry> rows = LoadOrDie(path);
    if (!zanth::SaveMappingFile(path, rows).ok) std::abort();
    if (LoadOrDie(path) != rows) std::abort();

    ::unlink(fresh.c_str());
    if (!zanth::SaveMappingFile(fresh, rows).ok) std::abort();
    if (LoadOrDie(fresh) != rows) std::abort();
    return 0;
}
