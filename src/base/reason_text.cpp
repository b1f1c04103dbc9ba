#include "base/reason_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/ui_text.h"

namespace zanth {
namespace {

struct Known {
    std::string english;  // may hold "%1", standing for a number or a name (the same one each time)
    Msg id;
};

// The system's reasons by error number, then the program's own English reasons, longest first so that "No
// such device or address" is taken before "No such device".
const std::vector<Known>& KnownReasons() {
    static const std::vector<Known> known = [] {
        std::vector<Known> k;
        const std::pair<int, Msg> system[] = {
            {EACCES, Msg::kReasonPermission}, {EPERM, Msg::kReasonPermission},
            {ENOENT, Msg::kReasonNoFile},     {ENODEV, Msg::kReasonNoDevice},
            {ENXIO, Msg::kReasonNoDevice},    {EBUSY, Msg::kReasonBusy},
            {EFBIG, Msg::kReasonTooLarge},    {ENOSPC, Msg::kReasonDiskFull},
            {EDQUOT, Msg::kReasonDiskFull},   {EROFS, Msg::kReasonReadOnly},
            {EISDIR, Msg::kReasonIsFolder},   {ENOTDIR, Msg::kReasonNotFolder},
            {EIO, Msg::kPortIoError},
        };
        for (const auto& [err, id] : system) k.push_back({std::strerror(err), id});
        const std::pair<Msg, Msg> blocks[] = {{Msg::kReasonPermission, Msg::kReasonNoSettingsPath},
                                              {Msg::kReasonPathTooLong, Msg::kReasonBadHost}};
        for (const auto& [first, last] : blocks)
            for (int i = static_cast<int>(first); i <= static_cast<int>(last); ++i)
                k.push_back({UiText(static_cast<Msg>(i), Language::kEnglish), static_cast<Msg>(i)});
        std::stable_sort(k.begin(), k.end(),
                         [](const Known& a, const Known& b) { return a.english.size() > b.english.size(); });
        return k;
    }();
    return known;
}

bool SameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// A number or a name (of a group, say) where a pattern holds "%1".
bool InValue(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

// Whether `pattern` stands at the start of `text`, regardless of ASCII case; each "%1" in it stands for one
// and the same run of value characters. On a match gives the length matched and the value.
bool MatchAt(std::string_view text, std::string_view pattern, std::size_t& length, std::string& value) {
    std::size_t at = 0;  // in text
    bool held = false;
    for (;;) {
        const std::size_t hole = pattern.find("%1");
        const std::string_view head = pattern.substr(0, hole);
        const std::string_view rest = text.substr(at);
        if (rest.size() < head.size() || !std::equal(head.begin(), head.end(), rest.begin(), SameLetter))
            return false;
        at += head.size();
        if (hole == std::string_view::npos) break;
        std::size_t end = at;
        while (end < text.size() && InValue(text[end])) ++end;
        const std::string_view found = text.substr(at, end - at);
        if (found.empty() || (held && found != value)) return false;
        value.assign(found);
        held = true;
        at = end;
        pattern.remove_prefix(hole + 2);
    }
    length = at;
    return true;
}

}  // namespace

std::string ReasonText(std::string_view reason, Language language) {
    if (language != Language::kJapanese) return std::string(reason);
    std::string out;
    std::size_t pos = 0;
    while (pos < reason.size()) {
        bool replaced = false;
        // Reasons start a word, never inside one.
        const bool wordStart = pos == 0 || !std::isalpha(static_cast<unsigned char>(reason[pos - 1]));
        for (const Known& k : wordStart ? KnownReasons() : std::vector<Known>{}) {
            std::size_t length = 0;
            std::string number;
            if (!MatchAt(reason.substr(pos), k.english, length, number)) continue;
            std::string words = UiText(k.id, Language::kJapanese);
            for (std::size_t hole; (hole = words.find("%1")) != std::string::npos;)
                words.replace(hole, 2, number);
            out += words;
            pos += length;
            replaced = true;
            break;
        }
        if (!replaced) out += reason[pos++];
    }
    return out;
}

}  // namespace zanth
