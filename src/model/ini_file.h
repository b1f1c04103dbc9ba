#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/text.h"
#include "model/atomic_write.h"

namespace zanth {

// An INI document with the semantics of the classic profile-string functions, kept as the file's own
// lines so that saving writes back every line it does not own unchanged (order, comments, line ends).
//  - Section and key names match without regard to ASCII letter case; spaces around names and around
//    the value are ignored; the first of duplicate sections or keys wins.
//  - Reads of a missing file, section or key give the caller's default.
//  - A write replaces the value of an existing key in place, appends a missing key at the end of its
//    section, appends a missing section at the end of the document.
//  - Texts go in and come out as UTF-8. A file that is not valid UTF-8 was written by the Windows program in
//    CP932: its values are read as CP932, cut on CP932 character boundaries and written back in CP932, so
//    that the Windows program can still read the file. A value CP932 cannot hold turns the whole document
//    into UTF-8 rather than losing a character. Writing a value that reads the same as the stored one leaves
//    the stored bytes as they are.
class IniFile {
  public:
    IniFile() = default;
    // Reads `path`. A missing or unreadable file gives an empty document; `error` (optional) receives the
    // reason when the file exists but cannot be read. Files larger than kMaxFileBytes are not read.
    static IniFile Load(const std::string& path, std::string* error = nullptr);
    static IniFile Parse(std::string_view text);
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

    // Leading decimal integer of the value (optional minus sign; no digits = 0), saturated to int range.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    // The value cut to bufferSize - 1 bytes of the file's encoding on a character boundary, without the
    // blanks the cut may leave at its end (a value read back never ends in one), as UTF-8.
    std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                          std::size_t bufferSize) const;
    // The buffer size that reads a value whole, for a value that is of use only whole (a device path: a cut
    // one names another device). Such a value written back unchanged keeps its bytes.
    static constexpr std::size_t kWholeValue = static_cast<std::size_t>(-1);
    // The value whole, as the file's bytes have it (not read as CP932); "" when the key is absent.
    std::string GetBytes(std::string_view section, std::string_view key) const;
    bool HasKey(std::string_view section, std::string_view key) const;
    // Names of the keys of `section` (its first occurrence), in file order, repeated names included.
    std::vector<std::string> KeyNames(std::string_view section) const;

    // `value` is UTF-8.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInt(std::string_view section, std::string_view key, int value);

    // UTF-8 for a new document, else what the file's bytes say.
    TextEncoding encoding() const { return encoding_; }
    // A document with nothing in it yet (a new file) is written in `encoding`; one read from a file keeps its
    // own.
    void UseEncodingIfNew(TextEncoding encoding) {
        if (head_ == kNone) encoding_ = encoding;
    }
    // The UTF-8 `text` cut so that it takes at most `maxBytes` bytes in this document's encoding.
    std::string Fit(std::string_view text, std::size_t maxBytes) const {
        return CutToEncoded(text, maxBytes, encoding_);
    }

    // The document as text, with the line ending the file had (CRLF or LF; LF for a new document).
    std::string Serialize() const;
    // Writes atomically (WriteFileAtomically).
    SaveResult Save(const std::string& path) const;

  private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    enum class Eol : unsigned char { kNone, kLf, kCrLf };
    enum class Kind : unsigned char { kOther, kSection, kKey };
    // One line of the file as it was read: its text without the line end, and where its name and value lie.
    struct Line {
        std::string text;
        Eol eol = Eol::kLf;
        Kind kind = Kind::kOther;
        std::size_t nameBegin = 0, nameEnd = 0;    // section or key name, trimmed
        std::size_t valueBegin = 0, valueEnd = 0;  // key value, trimmed
        std::size_t next = kNone;                  // the line after this one in the file
        std::string_view name() const {
            return std::string_view(text).substr(nameBegin, nameEnd - nameBegin);
        }
        std::string_view value() const {
            return std::string_view(text).substr(valueBegin, valueEnd - valueBegin);
        }
    };
    // Names compare without regard to ASCII case; lookups take a string_view without a copy.
    struct NoCaseHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const;
    };
    struct NoCaseEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using NameIndex = std::unordered_map<std::string, std::size_t, NoCaseHash, NoCaseEqual>;
    // The first section of each name; later ones of the same name are never looked at.
    struct Section {
        std::size_t last;  // its last key line (its header while it has none): where a new key goes
        NameIndex keys;    // first key line of each name
    };

    static void Classify(Line& line, bool firstLine);
    std::size_t FindSection(std::string_view section) const;
    std::size_t FindKey(std::string_view section, std::string_view key) const;
    std::size_t NewLine(std::string text);
    void AppendAtEnd(std::string text);
    void InsertAfter(std::size_t anchor, std::size_t section, std::string text);
    void IndexLine(std::size_t line, std::size_t& section);
    void Reindex();
    Eol NewLineEol() const { return crlf_ ? Eol::kCrLf : Eol::kLf; }
    void ConvertToUtf8();

    // Every line, in the order it was read or added; the file's order is the chain head_ -> next -> ...,
    // so that a key added inside a section costs no move of the lines after it.
    std::vector<Line> lines_;
    std::size_t head_ = kNone, tail_ = kNone;
    std::vector<Section> sections_;
    NameIndex sectionIndex_;          // name -> position in sections_
    std::size_t endSection_ = kNone;  // the section a line added at the end falls into (kNone: none, or a
                                      // later section of a name seen before)
    bool crlf_ = false;  // line end for lines this class adds: the file's first line end, LF for a new file
    TextEncoding encoding_ = TextEncoding::kUtf8;
};

}  // namespace zanth
