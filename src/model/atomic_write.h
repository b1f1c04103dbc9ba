#pragma once
#include <string>
#include <string_view>

namespace zanth {

// Outcome of writing a file: ok, or the reason it failed (shown to the user).
struct SaveResult {
    bool ok = true;
    std::string error;
};

// Replaces the file at `path` (or where it links to) by `data`, all or nothing: the content goes to an
// unnamed file in the target's directory, which is named beside it only once it is on disk and then renamed
// over it, keeping the old file's permission bits. Temporary files that an earlier save left there when it
// was killed are removed first.
SaveResult WriteFileAtomically(const std::string& path, std::string_view data);

}  // namespace zanth
