#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zanth {

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 character: the fixed byte limits of the
// stored texts (names 23 or 62 bytes, paths 2043) must never leave half a character behind.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

// The encodings of the settings and mapping files. The program writes UTF-8; the Windows program wrote its
// files in its Japanese code page, CP932 (Shift_JIS with Microsoft's additions).
enum class TextEncoding { kUtf8, kCp932 };

// True when every byte sequence of `bytes` is a CP932 character.
bool IsValidCp932(std::string_view bytes);

// Whether `bytes` are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// A file that is not valid UTF-8 was written by the Windows program: CP932. Plain ASCII counts as UTF-8.
TextEncoding DetectEncoding(std::string_view fileBytes);

// Cuts CP932 bytes to at most `maxBytes` without splitting a two-byte character. The file is read from the
// start, since a CP932 trail byte can look like a lead byte.
std::string CutCp932(std::string_view bytes, std::size_t maxBytes);

// CP932 bytes as UTF-8; a byte sequence that is no CP932 character becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view bytes);
// UTF-8 text as CP932; nothing when a character has no CP932 form (or the text is not UTF-8).
std::optional<std::string> Utf8ToCp932(std::string_view text);

// Bytes of a file in `encoding` as UTF-8, and back. Text that CP932 cannot hold has no CP932 form.
std::string DecodeText(std::string_view bytes, TextEncoding encoding);
std::optional<std::string> EncodeText(std::string_view text, TextEncoding encoding);

// The UTF-8 `text` cut so that its form in `encoding` takes at most `maxBytes` bytes, on a character
// boundary. Text that CP932 cannot hold is measured in UTF-8, the encoding it will be written in.
std::string CutToEncoded(std::string_view text, std::size_t maxBytes, TextEncoding encoding);
// The bytes `text` (UTF-8) takes in `encoding`, by the same rule.
std::size_t EncodedSize(std::string_view text, TextEncoding encoding);

// `text` with every control character but the line break written as an escape ("\r", "\x1b", "\u009b"): a
// name from outside the program (a client's, a device's, a header's) must not move the cursor of the terminal
// that shows the log. Line breaks are the messages' own; a name that may hold one is escaped where it is
// logged.
std::string EscapeControls(std::string_view text);

}  // namespace zanth
