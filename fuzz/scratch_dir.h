#pragma once
// A folder of the fuzz target's own for the files it saves, made once and removed at exit. It lives in memory
// where there is a RAM disk: every save syncs, and a disk would slow the fuzzer to a crawl.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zanth::fuzz {

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& name) {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        path_ = (base / (name + "-XXXXXX")).string();
        if (!::mkdtemp(path_.data())) std::abort();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace zanth::fuzz
