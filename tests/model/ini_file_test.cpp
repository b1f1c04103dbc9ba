#include "model/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zanth {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "zanth-ini-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }
    // Everything in the directory: a failed or finished save must leave no temporary file behind.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

  private:
    fs::path path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

struct ReadCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;  // "<default>" when the key must count as missing
};

TEST(IniFileRead, StringValues) {
    const std::vector<ReadCase> cases = {
        {"names ignore case", "[System]\nport=3\n", "SYSTEM", "PORT", "3"},
        {"spaces around names and =", "  [ SYSTEM ]  \n  PORT  =  7  \n", "SYSTEM", "PORT", "7"},
        {"tabs around names", "[A]\n\tk\t=\tv\t\n", "A", "k", "v"},
        {"CRLF file", "[A]\r\nk=v\r\nj=w\r\n", "A", "j", "w"},
        {"quotes are kept", "[A]\nk=\"a b\"\n", "A", "k", "\"a b\""},
        {"inner spaces kept", "[A]\nk=  v  x \n", "A", "k", "v  x"},
        {"empty value is not missing", "[A]\nk=\n", "A", "k", ""},
        {"value may hold =", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"first duplicate key wins", "[A]\nk=1\nk=2\n", "A", "k", "1"},
        {"first duplicate section wins", "[A]\nk=1\n[B]\n[A]\nk=2\nj=3\n", "A", "k", "1"},
        {"key only in second duplicate is not seen", "[A]\nk=1\n[a]\nj=3\n", "A", "j", "<default>"},
        {"key before any section belongs nowhere", "k=1\n[A]\n", "A", "k", "<default>"},
        {"key of another section", "[A]\nk=1\n[B]\n", "B", "k", "<default>"},
        {"missing section", "[A]\nk=1\n", "C", "k", "<default>"},
        {"line without = is ignored", "[A]\njunk line\nk=1\n", "A", "junk line", "<default>"},
        {"line without = does not end the section", "[A]\njunk line\nk=1\n", "A", "k", "1"},
        {"no final line end", "[A]\nk=v", "A", "k", "v"},
        {"byte-order mark before first header", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
        {"unclosed bracket is no header", "[A]\n[B\nk=v\n", "A", "k", "v"},
        {"text after ] ignored", "[A] trailing\nk=v\n", "A", "k", "v"},
        {"percent signs are plain text", "[S]\n1_FILE=/m/%s%d%n%%.wav\n", "S", "1_file", "/m/%s%d%n%%.wav"},
        {"semicolon is no comment marker", "[A]\n;k=1\nk=2\n", "A", "k", "2"},
        {"NUL bytes are kept in the value", "[A]\nk=a\0b\n"s, "A", "k", "a\0b"s},
        {"empty document", "", "A", "k", "<default>"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const IniFile ini = IniFile::Parse(c.text);
        EXPECT_EQ(ini.GetString(c.section, c.key, "<default>", 64), c.expected);
        EXPECT_EQ(ini.HasKey(c.section, c.key), c.expected != "<default>");
    }
}

TEST(IniFileRead, IntegerValues) {
    const struct {
        const char* value;  // nullptr = key absent
        int expected;
    } cases[] = {
        {nullptr, 77},
        {"12", 12},
        {"12abc", 12},
        {"-150", -150},
        {"007", 7},
        {"4 2", 4},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"--5", 0},
        {"+5", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MAX},
        {"99999999999999", INT_MAX},
        {"-99999999999999", INT_MIN},
        {"99999999999999999999999999999999999999999", INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        const std::string text = c.value ? "[A]\nk=" + std::string(c.value) + "\n" : "[A]\n";
        EXPECT_EQ(IniFile::Parse(text).GetInt("A", "k", 77), c.expected);
    }
}

TEST(IniFileRead, StringsAreCutToTheBufferOnCharacterBoundaries) {
    const IniFile ini = IniFile::Parse("[A]\nascii=abcdef\njp=日本語\n");
    EXPECT_EQ(ini.GetString("A", "ascii", "", 4), "abc");
    EXPECT_EQ(ini.GetString("A", "ascii", "", 7), "abcdef");
    // 9 bytes of three 3-byte characters into a 4-byte text: only whole characters remain.
    EXPECT_EQ(ini.GetString("A", "jp", "", 5), "日");
    EXPECT_EQ(ini.GetString("A", "jp", "", 3), "");
    EXPECT_EQ(ini.GetString("A", "ascii", "", 0), "");
    // The default obeys the same limit.
    EXPECT_EQ(ini.GetString("A", "missing", "defaults", 4), "def");
}

struct Write {
    const char* section;
    const char* key;
    std::string value;
};

struct WriteCase {
    const char* name;
    std::string before;
    std::vector<Write> writes;
    std::string after;
};

TEST(IniFileWrite, EditsKeepEverythingElseByteForByte) {
    const std::vector<WriteCase> cases = {
        {"empty document", "", {{"A", "k", "v"}}, "[A]\nk=v\n"},
        {"replace keeps spelling and spacing of the key",
         "[system]\r\nPort = 1   \r\nother\r\n",
         {{"SYSTEM", "PORT", "2"}},
         "[system]\r\nPort = 2   \r\nother\r\n"},
        {"replace with longer and empty values",
         "[A]\nk=1\nj=2\n",
         {{"A", "k", "12345"}, {"A", "j", ""}},
         "[A]\nk=12345\nj=\n"},
        {"quoted value replaced whole", "[A]\nk=\"old\"\n", {{"A", "k", "new"}}, "[A]\nk=new\n"},
        {"append after last key, before blank lines",
         "[A]\nk=1\n\n[B]\nz=0\n",
         {{"A", "n", "2"}},
         "[A]\nk=1\nn=2\n\n[B]\nz=0\n"},
        {"append before a comment leading into the next section",
         "[A]\nk=1\n; about B\n[B]\n",
         {{"A", "j", "2"}},
         "[A]\nk=1\nj=2\n; about B\n[B]\n"},
        {"append into a section without keys", "[A]\n\n[B]\n", {{"A", "k", "1"}}, "[A]\nk=1\n\n[B]\n"},
        {"keys appended in order of writing",
         "[A]\n",
         {{"A", "x", "1"}, {"A", "y", "2"}, {"A", "z", "3"}},
         "[A]\nx=1\ny=2\nz=3\n"},
        {"missing section appended at the end",
         "[A]\nk=1\n",
         {{"B", "x", "5"}, {"C", "y", "6"}},
         "[A]\nk=1\n[B]\nx=5\n[C]\ny=6\n"},
        {"CRLF file gets CRLF lines",
         "[A]\r\nk=1\r\n",
         {{"B", "x", "1"}, {"A", "j", "2"}},
         "[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n"},
        {"mixed line ends stay as they were",
         "[A]\r\nk=1\nj=2\r\n",
         {{"A", "k", "5"}},
         "[A]\r\nk=5\nj=2\r\n"},
        {"no final line end survives an in-place write", "[A]\nk=1", {{"A", "k", "2"}}, "[A]\nk=2"},
        {"append after an unterminated last line", "[A]\nk=1", {{"A", "j", "2"}}, "[A]\nk=1\nj=2\n"},
        {"append inside keeps the missing final line end",
         "[A]\nk=1\n[B]\nz=0",
         {{"A", "j", "2"}},
         "[A]\nk=1\nj=2\n[B]\nz=0"},
        {"new section after an unterminated header", "[A]", {{"B", "x", "1"}}, "[A]\n[B]\nx=1\n"},
        {"write addresses the first duplicate",
         "[A]\nk=1\nk=2\n[a]\nk=3\n",
         {{"a", "K", "9"}},
         "[A]\nk=9\nk=2\n[a]\nk=3\n"},
        {"key only in second duplicate section goes to the first",
         "[A]\nk=1\n[A]\nj=3\n",
         {{"A", "j", "4"}},
         "[A]\nk=1\nj=4\n[A]\nj=3\n"},
        {"lines without = and garbage untouched",
         "\x01\x02garbage\xff\n[A]\nno equals here\nk=1\n",
         {{"A", "k", "2"}},
         "\x01\x02garbage\xff\n[A]\nno equals here\nk=2\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF[A]\nk=1\n", {{"A", "k", "2"}}, "\xEF\xBB\xBF[A]\nk=2\n"},
        {"line breaks in a value cannot plant keys",
         "[A]\n",
         {{"A", "k", "x\n[SYSTEM]\r\nPORT=9"}},
         "[A]\nk=x [SYSTEM]  PORT=9\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        IniFile ini = IniFile::Parse(c.before);
        for (const Write& w : c.writes) ini.WriteString(w.section, w.key, w.value);
        EXPECT_EQ(ini.Serialize(), c.after);
        // Every write reads back (values are stored trimmed and on one line).
        for (const Write& w : c.writes) {
            if (w.value.find('\n') == std::string::npos) {
                EXPECT_EQ(ini.GetString(w.section, w.key, "<none>", 256), w.value);
            }
        }
    }
    IniFile injected = IniFile::Parse("[A]\n");
    injected.WriteString("A", "k", "x\n[SYSTEM]\nPORT=9");
    EXPECT_FALSE(injected.HasKey("SYSTEM", "PORT"));
}

TEST(IniFileParse, SerializeGivesBackTheExactText) {
    const std::vector<std::string> texts = {
        "",
        "\n",
        "\r\n\r\n",
        "[A]\nk=1",
        "[A]\r\nk=1\nx\r",
        "lone\rcarriage\r\n",
        "\xEF\xBB\xBF[A]\n",
        "[A]\n\0\0=\0\n"s,
        "   \t\n[ A ]\n  k  =  1  \n",
    };
    for (const std::string& text : texts) EXPECT_EQ(IniFile::Parse(text).Serialize(), text);
}

TEST(IniFileParse, RandomBytesNeverBreakReadsOrWrites) {
    std::mt19937 rng(12345);
    // Biased towards the bytes that matter to the parser so that headers and keys actually occur.
    const std::string alphabet = "[]=\r\n \tAk\0\xff\xc3\xa9"s;
    for (int round = 0; round < 50; ++round) {
        std::string text(static_cast<std::size_t>(rng() % 4096), '\0');
        for (char& c : text) c = (rng() % 2) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
        IniFile ini = IniFile::Parse(text);
        ASSERT_EQ(ini.Serialize(), text);
        (void)ini.GetInt("A", "k", 0);
        (void)ini.GetString("A", "k", "", 8);
        ini.WriteString("ZANTH", "KEY", "value");
        ini.WriteInt("A", "k", 42);
        EXPECT_EQ(ini.GetString("ZANTH", "KEY", "", 64), "value");
        EXPECT_EQ(ini.GetInt("A", "k", 0), 42);
        const IniFile again = IniFile::Parse(ini.Serialize());
        EXPECT_EQ(again.GetInt("A", "k", 0), 42);
    }
}

TEST(IniFileLoad, MissingFileOrPathIsAnEmptyDocumentWithoutError) {
    TempDir dir;
    for (const std::string& path : {dir.File("absent.ini"), dir.File("no/such/dir.ini"), std::string()}) {
        std::string error = "stale";
        const IniFile ini = IniFile::Load(path, &error);
        EXPECT_EQ(error, "") << path;
        EXPECT_EQ(ini.GetInt("SYSTEM", "PORT", 4), 4);
        EXPECT_EQ(ini.Serialize(), "");
    }
}

TEST(IniFileLoad, UnreadableFilesGiveAnEmptyDocumentAndAReason) {
    TempDir dir;
    const std::string big = dir.File("big.ini");
    {
        // A valid header first: the document must still come back empty, not half-read.
        std::ofstream out(big, std::ios::binary);
        out << "[SYSTEM]\nPORT=3\n";
        out << std::string(10 * 1024 * 1024, 'x');
    }
    const std::string notFile = dir.File("subdir");
    fs::create_directory(notFile);
    for (const std::string& path : {big, notFile}) {
        std::string error;
        const IniFile ini = IniFile::Load(path, &error);
        EXPECT_NE(error, "") << path;
        EXPECT_EQ(ini.GetInt("SYSTEM", "PORT", -1), -1) << path;
    }
}

TEST(IniFileLoad, ReadsAndSavesCrlfFilesUnchanged) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    const std::string text = "; settings\r\n[SYSTEM]\r\nPORT=2\r\n\r\n[OTHER]\r\nx = y";
    WriteFile(path, text);
    std::string error;
    IniFile ini = IniFile::Load(path, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(ini.GetInt("system", "port", 0), 2);
    ASSERT_TRUE(ini.Save(path).ok);
    EXPECT_EQ(ReadFile(path), text);
    ini.WriteInt("SYSTEM", "PORT", 5);
    ASSERT_TRUE(ini.Save(path).ok);
    EXPECT_EQ(ReadFile(path), "; settings\r\n[SYSTEM]\r\nPORT=5\r\n\r\n[OTHER]\r\nx = y");
}

TEST(IniFileSave, CreatesTheFileAndLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string path = dir.File("new.ini");
    const mode_t old = ::umask(022);
    IniFile ini;
    ini.WriteInt("SYSTEM", "PORT", 1);
    const SaveResult r = ini.Save(path);
    ::umask(old);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(ReadFile(path), "[SYSTEM]\nPORT=1\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"new.ini"});
    // The temporary file starts private; the saved file must not stay so.
    EXPECT_EQ(
        fs::status(path).permissions() & fs::perms::all,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST(IniFileSave, KeepsPermissionBitsOfTheExistingFile) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    WriteFile(path, "[A]\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    IniFile ini = IniFile::Load(path);
    ini.WriteInt("A", "k", 1);
    ASSERT_TRUE(ini.Save(path).ok);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniFileSave, WritesThroughASymbolicLink) {
    TempDir dir;
    const std::string target = dir.File("real.ini");
    const std::string link = dir.File("link.ini");
    WriteFile(target, "[A]\nk=1\n");
    fs::create_symlink(target, link);
    IniFile ini = IniFile::Load(link);
    ini.WriteInt("A", "k", 2);
    ASSERT_TRUE(ini.Save(link).ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[A]\nk=2\n");
}

TEST(IniFileSave, FailuresReturnTheReasonAndLeaveNothingBehind) {
    TempDir dir;
    fs::create_directory(dir.path() / "adir");
    IniFile ini;
    ini.WriteInt("A", "k", 1);

    const SaveResult noDir = ini.Save(dir.File("missing/s.ini"));
    EXPECT_FALSE(noDir.ok);
    EXPECT_EQ(noDir.error, std::strerror(ENOENT));

    const SaveResult isDir = ini.Save(dir.File("adir"));
    EXPECT_FALSE(isDir.ok);
    EXPECT_EQ(isDir.error, std::strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(dir.path() / "adir"));

    const SaveResult noName = ini.Save("");
    EXPECT_FALSE(noName.ok);
    EXPECT_NE(noName.error, "");

    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"adir"});
    EXPECT_TRUE(fs::is_empty(dir.path() / "adir"));
}

}  // namespace
}  // namespace zanth
