// Cost of the settings file at start-up and exit: reading a complete file into the model, and saving the
// model back (fresh read, all writes, atomic replace with fsync); and of very large files.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "base/app_context.h"
#include "model/controller_model.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace {

namespace fs = std::filesystem;

struct Fixture {
    Fixture() {
        std::string tmpl = (fs::temp_directory_path() / "zanth-bench-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
        zanth::StartupInfo info;
        info.languageName = "English";
        info.currentDirectory = dir.string();
        app = std::make_unique<zanth::AppContext>(info);
        // A complete file, with every sound effect in use so that the text values are realistic.
        zanth::BuildModel(model, *app, zanth::Settings{});
        for (int i = 0; i < zanth::kSoundEffectCount; ++i) {
            auto& e = model.soundEffects[static_cast<std::size_t>(i)];
            e.file = dir.string() + "/Data/effect_" + std::to_string(i) + ".wav";
            e.name = "effect " + std::to_string(i);
            e.length = 1500;
        }
        zanth::SaveSettings(app->configPath, model, 2);
    }
    ~Fixture() { fs::remove_all(dir); }

    fs::path dir;
    std::unique_ptr<zanth::AppContext> app;
    zanth::ControllerModel model;
};

// What the program does once per run: read the file at start and build the model, save it at exit.
void BM_LoadAndSaveSettingsFile(benchmark::State& state) {
    Fixture f;
    const std::string& path = f.app->configPath;
    for (auto _ : state) {
        const zanth::Settings settings = zanth::LoadSettings(path);
        zanth::ControllerModel model;
        zanth::BuildModel(model, *f.app, settings);
        if (!zanth::SaveSettings(path, model, settings.port).ok) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_LoadAndSaveSettingsFile)->Unit(benchmark::kMicrosecond);

// The same without the file system: parse, read the settings, build the model, write it back and serialise.
void BM_ParseBuildWriteInMemory(benchmark::State& state) {
    Fixture f;
    const std::string text = zanth::IniFile::Load(f.app->configPath).Serialize();
    for (auto _ : state) {
        zanth::IniFile ini = zanth::IniFile::Parse(text);
        const zanth::Settings settings = zanth::ReadSettings(ini);
        zanth::ControllerModel model;
        zanth::BuildModel(model, *f.app, settings);
        zanth::WriteSettings(ini, model, settings.port);
        benchmark::DoNotOptimize(ini.Serialize());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseBuildWriteInMemory)->Unit(benchmark::kMicrosecond);

// A large settings file (hand-edited, or grown by other tools) whose sections each lack a key that is then
// written, so that every write adds a key at the end of its section: parse, write, serialise. Time must grow
// linearly with the file's size (see the BigO line), not with size times the number of keys added.
std::string LargeDocument(std::size_t bytes, int* sections) {
    std::string text;
    *sections = 0;
    while (text.size() < bytes) {
        text += "[SECTION" + std::to_string((*sections)++) + "]\r\n";
        for (int k = 0; k < 16; ++k) text += "KEY" + std::to_string(k) + "=some value of this key\r\n";
        text += "\r\n";
    }
    return text;
}

void BM_AddKeysToLargeDocument(benchmark::State& state) {
    int sections = 0;
    const std::string text = LargeDocument(static_cast<std::size_t>(state.range(0)), &sections);
    for (auto _ : state) {
        zanth::IniFile ini = zanth::IniFile::Parse(text);
        for (int s = 0; s < sections; ++s) ini.WriteString("section" + std::to_string(s), "NEWKEY", "1");
        benchmark::DoNotOptimize(ini.Serialize());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["keys_added"] = sections;
}
BENCHMARK(BM_AddKeysToLargeDocument)
    ->RangeMultiplier(2)
    ->Range(256 << 10, zanth::IniFile::kMaxFileBytes)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The same through the file system at the largest size read: load, add the keys, save atomically.
void BM_SaveLargestFileWithAddedKeys(benchmark::State& state) {
    Fixture f;
    int sections = 0;
    const std::string text = LargeDocument(zanth::IniFile::kMaxFileBytes - (64 << 10), &sections);
    const std::string path = (f.dir / "large.ini").string();
    for (auto _ : state) {
        state.PauseTiming();
        if (!zanth::IniFile::Parse(text).Save(path).ok) state.SkipWithError("save failed");
        state.ResumeTiming();
        zanth::IniFile ini = zanth::IniFile::Load(path);
        for (int s = 0; s < sections; ++s) ini.WriteString("SECTION" + std::to_string(s), "NEWKEY", "1");
        if (!ini.Save(path).ok) state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveLargestFileWithAddedKeys)->Unit(benchmark::kMillisecond);

}  // namespace
