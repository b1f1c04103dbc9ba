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

#include "base/text.h"
#include "input/mapping.h"
#include "scratch_dir.h"

namespace {

const std::string& Dir() {
    static const zanth::fuzz::ScratchDir dir("zanth-mapping-fuzz");
    return dir.path();
}

std::vector<zanth::MappingEntry> LoadOrDie(const std::string& path, zanth::TextEncoding* encoding = nullptr) {
    std::vector<zanth::MappingEntry> rows;
    const zanth::MappingLoad loaded = zanth::LoadMappingFile(path, rows);
    if (!loaded.ok()) std::abort();
    if (encoding) *encoding = loaded.encoding;
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > zanth::IniFile::kMaxFileBytes) return 0;
    const std::string path = Dir() + "/in.kjd";
    const std::string fresh = Dir() + "/new.kjd";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);

    // A file that is text in neither UTF-8 nor CP932 loads and saves, but its names are bytes no encoding
    // can vouch for: a cut may leave the rest readable as CP932. Only text files must give their names back.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool text = zanth::IsValidUtf8(bytes) || zanth::IsValidCp932(bytes);
    // A file without any mapping section is refused and must change nothing.
    std::vector<zanth::MappingEntry> untouched(1);
    const zanth::MappingLoad first = zanth::LoadMappingFile(path, untouched);
    if (first.outcome == zanth::MappingLoad::kNotMapping) {
        if (untouched.size() != 1 || !(untouched[0] == zanth::MappingEntry{})) std::abort();
        return 0;
    }
    zanth::TextEncoding encoding = zanth::TextEncoding::kUtf8;
    const std::vector<zanth::MappingEntry> rows = LoadOrDie(path, &encoding);
    if (!zanth::SaveMappingFile(path, rows).ok) std::abort();
    // A CP932 file whose only bytes that are not UTF-8 stood in values the save wrote anew reads as UTF-8
    // afterwards (some kana pairs are valid UTF-8): its bytes are kept, the reader's guess of them changes,
    // as for a new file below.
    zanth::TextEncoding again = encoding;
    if (LoadOrDie(path, &again) != rows && text && again == encoding) std::abort();
    // A new file in CP932 is told from UTF-8 by its bytes alone, and a few half-width kana are valid UTF-8
    // too: that guess is the reader's limit, not a fault of the save.
    if (!text || encoding != zanth::TextEncoding::kUtf8) return 0;

    ::unlink(fresh.c_str());
    if (!zanth::SaveMappingFile(fresh, rows, encoding).ok) std::abort();
    if (LoadOrDie(fresh) != rows) std::abort();
    return 0;
}
