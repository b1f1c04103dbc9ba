// Any bytes as the program's arguments (split at NUL bytes): parsing must neither crash nor invent values,
// and the application object must accept whatever the parse gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/app_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t nul = rest.find('\0');
        args.emplace_back(rest.substr(0, nul));
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    const zanth::CommandLine cl = zanth::ParseCommandLine(args);
    if (cl.language && *cl.language != zanth::Language::kEnglish &&
        *cl.language != zanth::Language::kJapanese)
        std::abort();
    if (cl.config && cl.config->empty()) std::abort();
    // A refused argument comes from what was given: a whole argument, an option missing its value, or the
    // value of "--lang=VALUE".
    if (cl.fault != zanth::CommandLine::Fault::kNone) {
        bool given = false;
        for (const std::string& a : args) given = given || a.find(cl.faultArg) != std::string::npos;
        if (!given) std::abort();
        if (zanth::CommandLineFaultText(cl, size % 2 ? zanth::Language::kJapanese : zanth::Language::kEnglish)
                .empty())
            std::abort();
    }

    zanth::StartupInfo info;
    info.languageOverride = cl.language;
    info.configOverride = cl.config;
    info.languageName = size % 2 ? "Japanese" : "";
    info.currentDirectory = args.empty() ? std::string() : args.front();
    const zanth::AppContext app(info);
    // Without a language the set-up stops early (no settings file at all); otherwise --config is the file.
    if (app.localeOk() && cl.config && app.configPath != *cl.config) std::abort();
    return 0;
}
