#include "model/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "base/text.h"

namespace zanth {
namespace {

constexpr std::size_t kNpos = std::string::npos;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// A line break inside a written name or value would split it into lines of its own and so plant sections
// or keys in the file (a sound name typed as "x\n[SYSTEM]\nPORT=9"); the text stays on one line instead.
// Only LF ends a line here, and a CR only as part of CRLF: a CR elsewhere is kept, so that a value read
// from a file is written back as it was.
std::string OneLine(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n' || (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) out[i] = ' ';
    }
    return out;
}

int ParseLeadingInt(std::string_view v) {
    std::size_t i = 0;
    bool negative = false;
    if (i < v.size() && v[i] == '-') {
        negative = true;
        ++i;
    }
    // Accumulate with a ceiling so that an absurdly long number saturates instead of overflowing.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long acc = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        acc = acc * 10 + (v[i] - '0');
        if (acc > limit) acc = limit;
    }
    return static_cast<int>(negative ? -acc : acc);
}

std::string Reason(int err) {
    return std::strerror(err);
}

}  // namespace

void IniFile::Classify(Line& line, bool firstLine) {
    line.kind = Kind::kOther;
    line.nameBegin = line.nameEnd = line.valueBegin = line.valueEnd = 0;
    std::string_view text = line.text;
    std::size_t start = 0;
    // An editor's byte-order mark would otherwise hide the first section header.
    if (firstLine && text.substr(0, kUtf8Bom.size()) == kUtf8Bom) start = kUtf8Bom.size();
    while (start < text.size() && IsBlank(text[start])) ++start;
    if (start == text.size()) return;

    auto setName = [&](std::size_t begin, std::size_t end) {
        const std::string_view raw = text.substr(begin, end - begin);
        const std::string_view name = Trim(raw);
        line.nameBegin = name.empty() ? begin : static_cast<std::size_t>(name.data() - text.data());
        line.nameEnd = line.nameBegin + name.size();
    };

    if (text[start] == '[') {
        const std::size_t close = text.find(']', start + 1);
        if (close == kNpos) return;  // not a header; ignored like any other line without a key
        line.kind = Kind::kSection;
        setName(start + 1, close);
        return;
    }
    const std::size_t eq = text.find('=', start);
    if (eq == kNpos) return;
    line.kind = Kind::kKey;
    setName(start, eq);
    // Quotes around a value are part of it: a quoted path reads with its quotes, as the file has it.
    std::size_t vb = eq + 1;
    while (vb < text.size() && IsBlank(text[vb])) ++vb;
    std::size_t ve = text.size();
    while (ve > vb && IsBlank(text[ve - 1])) --ve;
    line.valueBegin = vb;
    line.valueEnd = ve;
}

IniFile IniFile::Parse(std::string_view text) {
    IniFile doc;
    doc.encoding_ = DetectEncoding(text);
    bool sawEol = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        Line line;
        if (nl == kNpos) {
            line.text.assign(text.substr(pos));
            line.eol = Eol::kNone;
            pos = text.size();
        } else {
            std::size_t end = nl;
            line.eol = Eol::kLf;
            if (end > pos && text[end - 1] == '\r') {
                --end;
                line.eol = Eol::kCrLf;
            }
            line.text.assign(text.substr(pos, end - pos));
            if (!sawEol) {
                doc.crlf_ = line.eol == Eol::kCrLf;
                sawEol = true;
            }
            pos = nl + 1;
        }
        Classify(line, doc.lines_.empty());
        line.next = doc.lines_.size() + 1;
        doc.lines_.push_back(std::move(line));
    }
    if (!doc.lines_.empty()) {
        doc.head_ = 0;
        doc.tail_ = doc.lines_.size() - 1;
        doc.lines_.back().next = kNone;
    }
    doc.Reindex();
    return doc;
}

IniFile IniFile::Load(const std::string& path, std::string* error) {
    if (error) error->clear();
    if (path.empty()) return IniFile{};
    auto fail = [&](std::string reason) {
        if (error) *error = std::move(reason);
        return IniFile{};
    };
    // O_NONBLOCK keeps a FIFO at this path from hanging the program; it is refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return IniFile{};  // no file yet: every read gives its default
        return fail(Reason(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(Reason(errno));
    if (S_ISDIR(st.st_mode)) return fail(Reason(EISDIR));
    if (!S_ISREG(st.st_mode)) return fail("Not a regular file");
    const std::string tooLarge =
        Reason(EFBIG) + " (> " + std::to_string(kMaxFileBytes / (1024 * 1024)) + " MB)";
    if (static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) return fail(tooLarge);

    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) {
            // The file grew while being read.
            if (data.size() > kMaxFileBytes) return fail(tooLarge);
            data.resize(std::min(data.size() * 2, kMaxFileBytes + 1));
        }
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(Reason(errno));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    if (used > kMaxFileBytes) return fail(tooLarge);
    data.resize(used);
    return Parse(data);
}

std::size_t IniFile::NoCaseHash::operator()(std::string_view s) const {
    std::size_t h = 14695981039346656037ull;  // FNV-1a
    for (const char c : s) {
        h ^= static_cast<unsigned char>(AsciiLower(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool IniFile::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
    return EqualsNoCase(a, b);
}

// One step of reading the file from the top: `section` is the section the lines now fall into.
void IniFile::IndexLine(std::size_t i, std::size_t& section) {
    const Line& line = lines_[i];
    if (line.kind == Kind::kSection) {
        const auto [it, added] = sectionIndex_.try_emplace(std::string(line.name()), sections_.size());
        section = added ? sections_.size() : kNone;
        if (added) sections_.push_back(Section{i, {}});
    } else if (line.kind == Kind::kKey && section != kNone) {
        Section& s = sections_[section];
        s.keys.try_emplace(std::string(line.name()), i);
        s.last = i;
    }
}

void IniFile::Reindex() {
    sections_.clear();
    sectionIndex_.clear();
    endSection_ = kNone;
    for (std::size_t i = head_; i != kNone; i = lines_[i].next) IndexLine(i, endSection_);
}

std::size_t IniFile::FindSection(std::string_view section) const {
    const auto it = sectionIndex_.find(Trim(section));
    return it == sectionIndex_.end() ? kNone : it->second;
}

std::size_t IniFile::FindKey(std::string_view section, std::string_view key) const {
    const std::size_t s = FindSection(section);
    if (s == kNone) return kNone;
    const NameIndex& keys = sections_[s].keys;
    const auto it = keys.find(Trim(key));
    return it == keys.end() ? kNone : it->second;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != kNpos;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    if (FindSection(section) == kNone) return names;
    // Only the first section of the name counts, as for every lookup.
    const NoCaseEqual same;
    bool inside = false, seen = false;
    for (std::size_t i = head_; i != kNone; i = lines_[i].next) {
        const Line& line = lines_[i];
        if (line.kind == Kind::kSection) {
            inside = !seen && same(line.name(), Trim(section));
            seen = seen || inside;
        } else if (inside && line.kind == Kind::kKey) {
            names.emplace_back(line.name());
        }
    }
    return names;
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    const std::size_t i = FindKey(section, key);
    if (i == kNpos) return defaultValue;
    return ParseLeadingInt(lines_[i].value());
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                               std::size_t bufferSize) const {
    if (bufferSize == 0) return {};
    const std::size_t i = FindKey(section, key);
    if (i == kNpos) return std::string(Trim(CutUtf8(defaultValue, bufferSize - 1)));
    // No value ends in a blank once read back, so neither may a cut one: it is what gets saved.
    const std::string_view value = lines_[i].value();
    if (encoding_ == TextEncoding::kCp932) return Cp932ToUtf8(Trim(CutCp932(value, bufferSize - 1)));
    return std::string(Trim(CutUtf8(value, bufferSize - 1)));
}

std::string IniFile::GetBytes(std::string_view section, std::string_view key) const {
    const std::size_t i = FindKey(section, key);
    return i == kNpos ? std::string() : std::string(lines_[i].value());
}

std::size_t IniFile::NewLine(std::string text) {
    Line line;
    line.text = std::move(text);
    line.eol = NewLineEol();
    lines_.push_back(std::move(line));
    return lines_.size() - 1;
}

void IniFile::AppendAtEnd(std::string text) {
    const std::size_t i = NewLine(std::move(text));
    if (tail_ == kNone) {
        head_ = i;
    } else {
        // The file may end without a line break; a line placed after its last one needs one first.
        if (lines_[tail_].eol == Eol::kNone) lines_[tail_].eol = NewLineEol();
        lines_[tail_].next = i;
    }
    tail_ = i;
    Classify(lines_[i], i == head_);
    IndexLine(i, endSection_);
}

void IniFile::InsertAfter(std::size_t anchor, std::size_t section, std::string text) {
    if (anchor == tail_) {
        AppendAtEnd(std::move(text));
        return;
    }
    const std::size_t i = NewLine(std::move(text));
    lines_[i].next = lines_[anchor].next;
    lines_[anchor].next = i;
    Line& line = lines_[i];
    Classify(line, false);
    if (line.kind == Kind::kKey) {
        Section& s = sections_[section];
        s.keys.try_emplace(std::string(line.name()), i);
        s.last = i;
    } else if (line.kind == Kind::kSection) {
        // A key name that reads as a header splits its section; rare enough to index the file afresh.
        Reindex();
    }
}

// The document's lines as UTF-8, for a value that CP932 cannot hold.
void IniFile::ConvertToUtf8() {
    for (std::size_t i = head_; i != kNone; i = lines_[i].next) {
        lines_[i].text = Cp932ToUtf8(lines_[i].text);
        Classify(lines_[i], i == head_);
    }
    encoding_ = TextEncoding::kUtf8;
    Reindex();
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::optional<std::string> encoded[3];
    const std::string_view parts[3] = {section, key, value};
    for (int i = 0; i < 3; ++i) {
        encoded[i] = EncodeText(parts[i], encoding_);
        if (!encoded[i]) {
            ConvertToUtf8();
            return WriteString(section, key, value);
        }
    }
    const std::string sectionName = OneLine(Trim(*encoded[0]));
    const std::string keyName = OneLine(Trim(*encoded[1]));
    const std::string text = OneLine(*encoded[2]);

    const std::size_t s = FindSection(sectionName);
    if (s == kNone) {
        AppendAtEnd("[" + sectionName + "]");
        AppendAtEnd(keyName + "=" + text);
        return;
    }
    const std::size_t found = FindKey(sectionName, keyName);
    if (found != kNone) {
        // The key's own spelling and spacing stay; only the value changes. A value that reads the same stays
        // byte for byte (CP932 has several codes for a few characters).
        Line& line = lines_[found];
        if (encoding_ == TextEncoding::kCp932 && Cp932ToUtf8(line.value()) == Cp932ToUtf8(text)) return;
        line.text = line.text.substr(0, line.valueBegin) + text + line.text.substr(line.valueEnd);
        Classify(line, found == head_);
        return;
    }
    // After the section's last key, so that blank lines and comments that lead into the next section stay
    // in front of it.
    InsertAfter(sections_[s].last, s, keyName + "=" + text);
}

void IniFile::WriteInt(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string IniFile::Serialize() const {
    std::size_t total = 0;
    for (const Line& line : lines_) total += line.text.size() + 2;
    std::string out;
    out.reserve(total);
    for (std::size_t i = head_; i != kNone; i = lines_[i].next) {
        const Line& line = lines_[i];
        out += line.text;
        if (line.eol == Eol::kCrLf) {
            out += "\r\n";
        } else if (line.eol == Eol::kLf) {
            out += '\n';
        }
    }
    return out;
}

SaveResult IniFile::Save(const std::string& path) const {
    if (path.empty()) return SaveResult{false, "No file name given"};
    return WriteFileAtomically(path, Serialize());
}

}  // namespace zanth
