// zanth-ini: reads or sets one value of a settings file with the program's own INI rules, so scripts can
// point a COM port at a device without disturbing anything else in the file.
//   zanth-ini FILE SECTION KEY          prints the value (exit 1 when absent)
//   zanth-ini FILE SECTION KEY VALUE    sets it (atomic save)
#include <cstdio>
#include <string>

#include "model/ini_file.h"

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: zanth-ini FILE SECTION KEY [VALUE]\n");
        return 2;
    }
    std::string error;
    zanth::IniFile ini = zanth::IniFile::Load(argv[1], &error);
    if (!error.empty()) {
        std::fprintf(stderr, "zanth-ini: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (argc == 4) {
        if (!ini.HasKey(argv[2], argv[3])) return 1;
        std::printf("%s\n", ini.GetString(argv[2], argv[3], "", 4096).c_str());
        return 0;
    }
    ini.WriteString(argv[2], argv[3], argv[4]);
    const zanth::SaveResult r = ini.Save(argv[1]);
    if (!r.ok) {
        std::fprintf(stderr, "zanth-ini: %s: %s\n", argv[1], r.error.c_str());
        return 1;
    }
    return 0;
}
