#include "base/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace zanth {
namespace {

// The name glibc's iconv knows Microsoft's Shift_JIS by.
constexpr const char* kCp932 = "CP932";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsCp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsCp932Trail(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Length of the CP932 character at the start of `bytes`: 2 for a lead byte followed by a trail byte, else 1.
std::size_t Cp932CharLength(std::string_view bytes) {
    if (bytes.size() >= 2 && IsCp932Lead(static_cast<unsigned char>(bytes[0])) &&
        IsCp932Trail(static_cast<unsigned char>(bytes[1])))
        return 2;
    return 1;
}

// Length of the well-formed UTF-8 character at the start of `s`, or 0 when it is not one.
std::size_t Utf8CharLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
        if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0;   // overlong
        if (c == 0xF4 && b(1) >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

// One iconv conversion of a whole text. `lenient`: input it cannot convert becomes U+FFFD (decoding);
// otherwise the conversion fails.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in, bool lenient) {
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::vector<char> buffer(in.size() * 2 + 16);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (!lenient) {
            ok = false;
            break;
        }
        // EILSEQ or EINVAL (a cut-off character at the end): skip one CP932 character.
        out += kReplacement;
        const std::size_t skip = std::min(inLeft, Cp932CharLength(std::string_view(inPtr, inLeft)));
        inPtr += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the lead byte of the character that would be split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = Utf8CharLength(bytes);
        if (n == 0) return false;
        bytes.remove_prefix(n);
    }
    return true;
}

TextEncoding DetectEncoding(std::string_view fileBytes) {
    // Only a file that is whole CP932 is taken for one: bytes that are neither stay as they are, so that
    // saving never has to change a name it could not have decoded.
    if (IsValidUtf8(fileBytes)) return TextEncoding::kUtf8;
    return IsValidCp932(fileBytes) ? TextEncoding::kCp932 : TextEncoding::kUtf8;
}

bool IsValidCp932(std::string_view bytes) {
    return Convert("UTF-8", kCp932, bytes, false).has_value();
}

std::string CutCp932(std::string_view bytes, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < bytes.size()) {
        const std::size_t n = Cp932CharLength(bytes.substr(end));
        if (end + n > maxBytes) break;
        end += n;
    }
    return std::string(bytes.substr(0, end));
}

std::string Cp932ToUtf8(std::string_view bytes) {
    return Convert("UTF-8", kCp932, bytes, true).value_or(std::string());
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
    if (!IsValidUtf8(text)) return std::nullopt;
    return Convert(kCp932, "UTF-8", text, false);
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
    return encoding == TextEncoding::kCp932 ? Cp932ToUtf8(bytes) : std::string(bytes);
}

std::optional<std::string> EncodeText(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::kCp932) return Utf8ToCp932(text);
    return std::string(text);
}

std::string CutToEncoded(std::string_view text, std::size_t maxBytes, TextEncoding encoding) {
    if (encoding == TextEncoding::kCp932) {
        if (const auto bytes = Utf8ToCp932(text)) return Cp932ToUtf8(CutCp932(*bytes, maxBytes));
    }
    return CutUtf8(text, maxBytes);
}

std::size_t EncodedSize(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::kCp932) {
        if (const auto bytes = Utf8ToCp932(text)) return bytes->size();
    }
    return text.size();
}

std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080..U+009F, the C1 controls
            out += "\\u00";
            out += kHex[next >> 4];
            out += kHex[next & 15];
            ++i;
        } else if (c == '\r') {
            out += "\\r";
        } else if ((c < 0x20 && c != '\n') || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace zanth
