// Any bytes as a settings file: parsing, reading and writing must neither crash nor change a byte of what
// the document does not own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zanth::IniFile ini = zanth::IniFile::Parse(text);
    if (ini.Serialize() != text) std::abort();

    // Names and a value taken from the input itself, so that existing sections and keys get hit.
    const std::size_t cut = size / 3;
    const std::string_view section = text.substr(0, cut % 16);
    const std::string_view key = text.substr(cut, cut % 8);
    (void)ini.GetInt(section, key, 0);
    (void)ini.GetString(section, key, "", size % 70);
    (void)ini.HasKey("SOUND", "1_FILE");
    for (const std::string& name : ini.KeyNames(section)) {
        if (!ini.HasKey(section, name)) std::abort();
    }

    ini.WriteString(section, key, text.substr(2 * cut, 32));
    ini.WriteInt("SYSTEM", "PORT", static_cast<int>(size));
    const std::string written = ini.Serialize();
    const zanth::IniFile again = zanth::IniFile::Parse(written);
    if (again.Serialize() != written) std::abort();
    // What was just written reads back, before and after a round trip through text.
    if (ini.GetInt("SYSTEM", "PORT", -1) != static_cast<int>(size)) std::abort();
    if (again.GetInt("SYSTEM", "PORT", -1) != static_cast<int>(size)) std::abort();
    return 0;
}
