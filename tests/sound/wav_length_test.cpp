#include "sound/wav_length.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zanth {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Little-endian, `n` bytes.
void Put(Bytes& b, std::uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk declaring the payload's size (or `declared`), followed by the pad byte after an odd payload.
Bytes Chunk(const char* id, Bytes payload, std::int64_t declared = -1, bool pad = true) {
    Bytes b(id, id + 4);
    Put(b, static_cast<std::uint32_t>(declared >= 0 ? declared : static_cast<std::int64_t>(payload.size())));
    b.insert(b.end(), payload.begin(), payload.end());
    if (pad && payload.size() % 2 == 1) b.push_back(0);
    return b;
}

Bytes Fmt(std::uint16_t tag, std::uint32_t avgBytesPerSec, std::size_t size = 16) {
    Bytes p;
    Put(p, tag, 2);
    Put(p, 1, 2);            // channels
    Put(p, avgBytesPerSec);  // samples per second (8-bit mono: same as the byte rate)
    Put(p, avgBytesPerSec);
    Put(p, 1, 2);  // block align
    Put(p, 8, 2);  // bits per sample
    p.resize(size);
    return Chunk("fmt ", p);
}

Bytes Data(std::size_t size) {
    return Chunk("data", Bytes(size, 0x80));
}

Bytes Riff(std::initializer_list<Bytes> chunks, const char* form = "WAVE") {
    Bytes body(form, form + 4);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body);
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class WavFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zanth-wav-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path dir_;
};

TEST_F(WavFiles, LengthOrUnknown) {
    // Declares 100 data bytes, holds 50.
    const Bytes truncated = Riff({Fmt(1, 8000), Chunk("data", Bytes(50), 100)});
    // The data chunk lies beyond the end the RIFF header declares.
    Bytes outside = Riff({Fmt(1, 8000)});
    outside = Cat(outside, Data(10));
    struct Case {
        const char* what;
        Bytes bytes;
        int ms;
    } cases[] = {
        {"2.5 s", Riff({Fmt(1, 176400), Data(441000)}), 2500},
        {"1.133 s truncated to whole ms", Riff({Fmt(1, 88200), Data(100000)}), 1133},
        {"odd payload, padded", Riff({Fmt(1, 3), Data(1)}), 333},
        {"empty data", Riff({Fmt(1, 8000), Data(0)}), 0},
        {"odd-sized chunk and its pad byte before fmt",
         Riff({Chunk("LIST", Bytes(3, 'x')), Fmt(1, 1000), Data(1500)}), 1500},
        {"odd-sized chunk without its pad byte",
         Riff({Chunk("LIST", Bytes(3, 'x'), -1, false), Fmt(1, 1000), Data(10)}), -1},
        {"other chunks before the RIFF chunk", Cat(Chunk("JUNK", Bytes(6)), Riff({Fmt(1, 1000), Data(250)})),
         250},
        {"compressed (ADPCM)", Riff({Fmt(2, 8000), Data(800)}), -1},
        {"data cut short", truncated, -1},
        {"no fmt", Riff({Data(800)}), -1},
        {"data before fmt", Riff({Data(800), Fmt(1, 8000)}), -1},
        {"data outside the RIFF chunk", outside, -1},
        {"fmt too short for the byte rate", Riff({Fmt(1, 8000, 10), Data(800)}), -1},
        {"byte rate 0", Riff({Fmt(1, 0), Data(800)}), -1},
        {"length beyond the int range", Riff({Fmt(1, 1), Data(2200000)}), -1},
        {"not WAVE", Riff({Fmt(1, 8000), Data(800)}, "AVI "), -1},
        {"nothing", Bytes{}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WavLengthFromBytes(c.bytes), c.ms);
        EXPECT_EQ(ReadWavLength(Write("case.wav", c.bytes)), c.ms);
    }
}

TEST_F(WavFiles, PathsThatAreNoWavFile) {
    EXPECT_EQ(ReadWavLength(""), -1);
    EXPECT_EQ(ReadWavLength((dir_ / "missing.wav").string()), -1);
    EXPECT_EQ(ReadWavLength(dir_.string()), -1);
    const std::string text = "RIFF? No, just a line of text.\n";
    EXPECT_EQ(ReadWavLength(Write("notes.txt", Bytes(text.begin(), text.end()))), -1);
    // Opening a FIFO for reading would wait for a writer and hang the dialog.
    const std::string fifo = (dir_ / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadWavLength(fifo), -1);
}

TEST_F(WavFiles, SoxMadeFile) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const fs::path path = dir_ / "tone.wav";
    const std::string command =
        "sox -n -r 8000 -c 1 -b 16 -e signed-integer '" + path.string() + "' synth 0.75 sine 440 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadWavLength(path.string()), 750);
}

}  // namespace
}  // namespace zanth
