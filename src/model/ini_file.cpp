#include "model/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

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
std::string OneLine(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c == '\n' || c == '\r') c = ' ';
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

mode_t CurrentUmask() {
    // umask() can only be read by setting it, which would race with other threads creating files;
    // the kernel reports it here instead.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

std::string Reason(int err) {
    return std::strerror(err);
}

SaveResult Failed(int err) {
    return SaveResult{false, Reason(err)};
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == kNpos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The new content goes to a temporary file beside the target and is renamed over it once it is safely on
// disk, so a crash or a full disk mid-write leaves the old file whole.
SaveResult WriteFileAtomically(const std::string& path, std::string_view data) {
    std::string target = path;
    struct stat st {};
    // Renaming over a symbolic link would replace the link by a plain file; write where it points.
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) return Failed(errno);
        target = resolved;
        std::free(resolved);
    }

    mode_t mode = 0;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
        if (!S_ISREG(st.st_mode)) return SaveResult{false, "Not a regular file"};
        // Rename would replace a file the user made read-only; honour the protection as a plain write would.
        if (::access(target.c_str(), W_OK) != 0) return Failed(errno);
        mode = st.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = 0666 & ~CurrentUmask();
    } else {
        return Failed(errno);
    }

    std::string temp = target + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return Failed(errno);
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return Failed(err);
    };
    if (!WriteAll(fd, data)) return fail(errno);
    // mkstemp creates the file 0600; give it the old file's bits (or the usual ones for a new file).
    (void)::fchmod(fd, mode);
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Failed(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Failed(err);
    }
    // Make the rename itself durable; the data is already safe, so a failure here is not reported.
    const int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return SaveResult{};
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
        if (line.kind == Kind::kSection) doc.sections_.push_back(doc.lines_.size());
        doc.lines_.push_back(std::move(line));
    }
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
        "File too large (more than " + std::to_string(kMaxFileBytes / (1024 * 1024)) + " MB)";
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

std::size_t IniFile::FindSection(std::string_view section) const {
    section = Trim(section);
    for (const std::size_t i : sections_) {
        if (EqualsNoCase(lines_[i].name(), section)) return i;
    }
    return kNpos;
}

std::size_t IniFile::SectionEnd(std::size_t header) const {
    const auto next = std::upper_bound(sections_.begin(), sections_.end(), header);
    return next == sections_.end() ? lines_.size() : *next;
}

std::size_t IniFile::FindKey(std::string_view section, std::string_view key) const {
    const std::size_t header = FindSection(section);
    if (header == kNpos) return kNpos;
    key = Trim(key);
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::kKey && EqualsNoCase(lines_[i].name(), key)) return i;
    }
    return kNpos;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != kNpos;
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
    return CutUtf8(i == kNpos ? defaultValue : lines_[i].value(), bufferSize - 1);
}

void IniFile::InsertLine(std::size_t at, std::string text) {
    // The file may end without a line break; a line placed after its last one needs one first.
    if (at == lines_.size() && at > 0 && lines_[at - 1].eol == Eol::kNone) lines_[at - 1].eol = NewLineEol();
    Line line;
    line.text = std::move(text);
    line.eol = NewLineEol();
    Classify(line, at == 0);
    const bool isSection = line.kind == Kind::kSection;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    auto pos = std::lower_bound(sections_.begin(), sections_.end(), at);
    for (auto it = pos; it != sections_.end(); ++it) ++*it;
    if (isSection) sections_.insert(pos, at);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName = OneLine(Trim(section));
    const std::string keyName = OneLine(Trim(key));
    const std::string text = OneLine(value);

    const std::size_t header = FindSection(sectionName);
    if (header == kNpos) {
        InsertLine(lines_.size(), "[" + sectionName + "]");
        InsertLine(lines_.size(), keyName + "=" + text);
        return;
    }
    const std::size_t found = FindKey(sectionName, keyName);
    if (found != kNpos) {
        // The key's own spelling and spacing stay; only the value changes.
        Line& line = lines_[found];
        line.text = line.text.substr(0, line.valueBegin) + text + line.text.substr(line.valueEnd);
        Classify(line, found == 0);
        return;
    }
    // After the section's last key, so that blank lines and comments that lead into the next section stay
    // in front of it.
    const std::size_t end = SectionEnd(header);
    std::size_t at = header + 1;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Kind::kKey) at = i + 1;
    }
    InsertLine(at, keyName + "=" + text);
}

void IniFile::WriteInt(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

std::string IniFile::Serialize() const {
    std::size_t total = 0;
    for (const Line& line : lines_) total += line.text.size() + 2;
    std::string out;
    out.reserve(total);
    for (const Line& line : lines_) {
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
