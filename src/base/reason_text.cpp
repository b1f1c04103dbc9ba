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
    std::string english;  // may hold "%1", standing for a number
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
                k.push_back({UiText(static_cast<Msg>(i), 0), static_cast<Msg>(i)});
        std::stable_sort(k.begin(), k.end(),
                         [](const Known& a, const Known& b) { return a.english.size() > b.english.size(); });
        return k;
    }();
    return known;
}

bool SameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Whether `pattern` (with at most one "%1" for a run of digits) stands at the start of `text`, regardless of
// ASCII case. On a match gives the length matched and the digits.
bool MatchAt(std::string_view text, std::string_view pattern, std::size_t& length, std::string& number) {
    const std::size_t hole = pattern.find("%1");
    const std::string_view head = pattern.substr(0, hole);
    if (text.size() < head.size() || !std::equal(head.begin(), head.end(), text.begin(), SameLetter))
        return false;
    if (hole == std::string_view::npos) {
        length = head.size();
        return true;
    }
    std::size_t i = head.size();
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == head.size()) return false;
    number.assign(text.substr(head.size(), i - head.size()));
    const std::string_view tail = pattern.substr(hole + 2);
    const std::string_view rest = text.substr(i);
    if (rest.size() < tail.size() || !std::equal(tail.begin(), tail.end(), rest.begin(), SameLetter))
        return false;
    length = i + tail.size();
    return true;
}

}  // namespace

std::string ReasonText(std::string_view reason, int language) {
    if (language != 1) return std::string(reason);
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
            std::string words = UiText(k.id, 1);
            if (const std::size_t hole = words.find("%1"); hole != std::string::npos)
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
