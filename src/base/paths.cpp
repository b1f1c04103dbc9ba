#include "base/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/app_context.h"

#ifndef ZANTH_DOC_DIR
#define ZANTH_DOC_DIR "/usr/local/share/doc/zanth-emulator"
#endif

namespace zanth {
namespace {

bool IsAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

// An XDG base directory: the variable when it holds an absolute path (the XDG rule: relative ones are
// ignored), else the default below the home; empty without either.
std::string XdgHome(const std::string& variable, const std::string& home, const char* fallback) {
    if (IsAbsolute(variable)) return variable;
    if (!IsAbsolute(home)) return {};
    return JoinPath(home, fallback);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (name.empty()) return dir;
    return dir.back() == '/' ? dir + name : dir + '/' + name;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

Locations ResolveLocations(const PathEnv& env, const std::optional<std::string>& configOverride,
                           const FileCheck& isFile, const FileCheck& isLink) {
    Locations where;
    if (configOverride && !configOverride->empty()) {
        where.settingsFile = *configOverride;
        where.portable = true;
    } else {
        const std::string inStart = env.startDir.empty() ? "" : JoinPath(env.startDir, kSettingsFileName);
        const std::string configHome = XdgHome(env.xdgConfigHome, env.home, ".config");
        if (!inStart.empty() && (isFile(inStart) || isLink(inStart))) {
            where.settingsFile = inStart;
            where.portable = true;
        } else if (!configHome.empty()) {
            where.settingsFile = JoinPath(JoinPath(configHome, kAppFolderName), kSettingsFileName);
        } else {
            // No home to keep settings in (a service account, an emptied environment): the start folder.
            where.settingsFile = inStart;
            where.portable = !inStart.empty();
        }
    }
    const std::string dataHome = XdgHome(env.xdgDataHome, env.home, ".local/share");
    if (where.portable)
        where.dataFolder = JoinPath(FolderOf(where.settingsFile), kDataFolderName);
    else if (!dataHome.empty())
        where.dataFolder = JoinPath(JoinPath(dataHome, kAppFolderName), kDataFolderName);
    else
        where.dataFolder = kDataFolderName;  // relative to the current folder, as the original had it
    return where;
}

const char* ManualFileName(Language language) {
    return language == Language::kJapanese ? "Zanthエミュレータ取扱説明書.pdf" : "Zanth-Emulator_10_ENG.pdf";
}

std::string InstalledDocFolder() {
    return ZANTH_DOC_DIR;
}

std::string FindManual(const std::string& settingsDir, Language language, const std::string& docDir,
                       const FileCheck& isFile) {
    for (const std::string& dir : {settingsDir, docDir}) {
        if (dir.empty()) continue;
        std::string path = JoinPath(dir, ManualFileName(language));
        if (isFile(path)) return path;
    }
    return {};
}

namespace {

bool IsWindowsPath(std::string_view p) {
    const bool drive =
        p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
    return drive || p.find('\\') != std::string_view::npos;
}

bool IsDataFolderName(std::string_view name) {
    const std::string_view data = kDataFolderName;
    if (name.size() != data.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(data[i])))
            return false;
    return true;
}

}  // namespace

std::string ResolveStoredPath(std::string_view stored, const std::string& settingsFolder,
                              const std::string& dataFolder, const FileCheck& isFile) {
    if (!IsWindowsPath(stored)) {
        // A portable folder copied elsewhere still names its sounds where they used to be: a missing file
        // is looked for by its name in this run's Data folder.
        std::string path(stored);
        if (path.empty() || isFile(path)) return path;
        const std::size_t slash = path.rfind('/');
        const std::string inData =
            JoinPath(dataFolder, slash == std::string::npos ? path : path.substr(slash + 1));
        return slash + 1 < path.size() && isFile(inData) ? inData : path;
    }
    std::string p(stored);
    std::replace(p.begin(), p.end(), '\\', '/');
    const bool drive = p.size() >= 2 && p[1] == ':';
    const bool absolute = drive || p[0] == '/';
    const std::size_t slash = p.rfind('/');
    const std::string fileName = slash != std::string::npos ? p.substr(slash + 1) : p.substr(drive ? 2 : 0);
    const std::string inData = fileName.empty() ? std::string() : JoinPath(dataFolder, fileName);
    if (absolute) return !inData.empty() && isFile(inData) ? inData : std::string(stored);
    std::string_view rest = p;
    while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
    const std::size_t first = rest.find('/');
    const std::string where = first != std::string_view::npos && IsDataFolderName(rest.substr(0, first))
                                  ? JoinPath(dataFolder, std::string(rest.substr(first + 1)))
                                  : JoinPath(settingsFolder, std::string(rest));
    if (isFile(where) || inData.empty() || !isFile(inData)) return where;
    return inData;
}

std::string MakeFolders(const std::string& folder) {
    if (folder.empty()) return "No folder given";
    std::size_t end = folder.front() == '/' ? 1 : 0;
    while (end <= folder.size()) {
        end = folder.find('/', end);
        if (end == std::string::npos) end = folder.size();
        const std::string part = folder.substr(0, end);
        ++end;
        if (part.empty() || part.back() == '/') continue;  // "//" in the path
        if (::mkdir(part.c_str(), 0700) == 0) continue;
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        return part + ": " + std::strerror(err == EEXIST ? ENOTDIR : err);
    }
    return {};
}

int AccessOf(const std::string& path, int mode) {
    return ::access(path.c_str(), mode) == 0 ? 0 : errno;
}

namespace {

// Why the existing file at `settingsFile` cannot be replaced: the save writes where a link points.
std::string WhyFileCannotBeReplaced(const std::string& settingsFile, const AccessCheck& access) {
    char* resolved = ::realpath(settingsFile.c_str(), nullptr);
    const std::string target = resolved ? resolved : settingsFile;
    std::free(resolved);
    if (const int err = access(target, W_OK)) return target + ": " + std::strerror(err);
    const std::string folder = FolderOf(target);
    if (const int err = access(folder, W_OK | X_OK)) return folder + ": " + std::strerror(err);
    return {};
}

}  // namespace

std::string WhySettingsCannotBeSaved(const std::string& settingsFile, const AccessCheck& access) {
    if (settingsFile.empty()) return {};
    struct stat st {};
    if (::stat(settingsFile.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? WhyFileCannotBeReplaced(settingsFile, access) : std::string();
    // Saving makes the missing folders below the nearest one that exists and writes beside the file.
    for (std::string folder = FolderOf(settingsFile);; folder = FolderOf(folder)) {
        if (::stat(folder.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return folder + ": " + std::strerror(ENOTDIR);
            if (const int err = access(folder, W_OK | X_OK)) return folder + ": " + std::strerror(err);
            return {};
        }
        if (errno != ENOENT && errno != ENOTDIR) return folder + ": " + std::strerror(errno);
        if (FolderOf(folder) == folder) return {};
    }
}

std::string SettingsNameForTitle(const std::string& path, const std::string& defaultPath) {
    if (path == defaultPath) return {};
    auto nameOf = [](const std::string& p) { return p.substr(p.rfind('/') + 1); };
    const std::string name = nameOf(path);
    return name == nameOf(defaultPath) ? path : name;
}

PathEnv PathEnvOfProcess(const std::string& startDir) {
    PathEnv env;
    env.startDir = startDir;
    env.home = Env("HOME");
    if (env.home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) env.home = pw->pw_dir;
    }
    env.xdgConfigHome = Env("XDG_CONFIG_HOME");
    env.xdgDataHome = Env("XDG_DATA_HOME");
    return env;
}

}  // namespace zanth
