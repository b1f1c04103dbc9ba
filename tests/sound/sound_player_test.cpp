#include "sound/sound_player.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/sound_rules.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The header of a mono PCM WAV whose data chunk holds `dataBytes`.
void WriteWavHeader(std::ofstream& out, std::uint32_t dataBytes, int rate, int bits) {
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](std::uint16_t v) {
        out.put(static_cast<char>(v & 0xFF));
        out.put(static_cast<char>(v >> 8));
    };
    const auto bytesPerFrame = static_cast<std::uint16_t>(bits / 8);
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * bytesPerFrame);
    u16(bytesPerFrame);
    u16(static_cast<std::uint16_t>(bits));
    out.write("data", 4);
    u32(dataBytes);
}

// A mono 16-bit PCM WAV holding a loud sine tone.
void WriteToneWav(const fs::path& path, double seconds, int rate = 8000, double hz = 440.0) {
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::ofstream out(path, std::ios::binary);
    WriteWavHeader(out, frames * 2, rate, 16);
    auto u16 = [&](std::uint16_t v) {
        out.put(static_cast<char>(v & 0xFF));
        out.put(static_cast<char>(v >> 8));
    };
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double s = std::sin(2.0 * M_PI * hz * i / rate);
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(20000.0 * s)));
    }
}

// Generous: only keeps a broken build from hanging, measures nothing.
constexpr auto kBound = 10s;

// Messages of the sound log while it lives.
class LogCapture {
  public:
    LogCapture() {
        Instance() = this;
        previous_ = qInstallMessageHandler(&Handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        Instance() = nullptr;
    }
    int CountNaming(const std::string& path) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(messages_.begin(), messages_.end(), [&](const QString& m) {
            return m.contains(QString::fromStdString(path));
        }));
    }

  private:
    static LogCapture*& Instance() {
        static LogCapture* instance = nullptr;
        return instance;
    }
    static void Handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        LogCapture* self = Instance();
        if (!self || !context.category || std::strcmp(context.category, "zanth.sound") != 0) return;
        std::lock_guard lock(self->mutex_);
        self->messages_.push_back(message);
    }
    std::mutex mutex_;
    std::vector<QString> messages_;
    QtMessageHandler previous_ = nullptr;
};

class SoundPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zanth-sound-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        longWav_ = (dir_ / "long.wav").string();
        shortWav_ = (dir_ / "short.wav").string();
        WriteToneWav(longWav_, 30.0);
        WriteToneWav(shortWav_, 20.0, 8000, 880.0);
    }
    void TearDown() override {
        player_.Close();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    bool WaitUntilPlaying() {
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        while (!player_.IsPlaying() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        return player_.IsPlaying();
    }

    fs::path dir_;
    std::string longWav_, shortWav_;
    SoundPlayer player_;
};

TEST_F(SoundPlayerTest, NoAudioDeviceMakesEveryCallHarmless) {
    setenv("SDL_AUDIODRIVER", "zanth-no-such-driver", 1);
    EXPECT_FALSE(player_.Open());
    EXPECT_FALSE(player_.available());

    const std::vector<std::string> files{longWav_, "", (dir_ / "missing.wav").string()};
    player_.Preload(files);
    player_.Start(longWav_);
    player_.Retrigger(shortWav_);
    EXPECT_FALSE(player_.IsPlaying());
    player_.Stop();
    player_.ClearCache();

    // The rules run as usual against an unavailable player.
    ControllerModel model;
    model.soundEffectCount = kSoundEffectCount;
    SoundEffect& one = model.soundEffects[0];
    one.item = kItem1;
    one.enabled = 1;
    one.file = longWav_;
    one.repeat = 1;
    model.item(kItem1).keyDown = 1;
    UpdateSounds(model, player_);
    UpdateSounds(model, player_);
    StopSound(model, player_);
    EXPECT_EQ(model.soundEffects[0].playing, 1);

    player_.Close();
    player_.Close();
    EXPECT_FALSE(player_.IsPlaying());
}

TEST_F(SoundPlayerTest, StartRetriggerAndStopOnOneChannel) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(player_.Open());
    ASSERT_TRUE(player_.available());
    EXPECT_TRUE(player_.Open());  // again: still the same device
    const std::vector<std::string> files{longWav_, shortWav_};
    player_.Preload(files);
    ASSERT_TRUE(player_.WaitForLoads(kBound));

    player_.Start(longWav_);
    ASSERT_TRUE(player_.IsPlaying());
    Mix_Chunk* const longChunk = Mix_GetChunk(0);

    // Re-triggering while something plays changes nothing.
    player_.Retrigger(shortWav_);
    EXPECT_TRUE(player_.IsPlaying());
    EXPECT_EQ(Mix_GetChunk(0), longChunk);

    player_.Stop();
    EXPECT_FALSE(player_.IsPlaying());
    player_.Retrigger(shortWav_);
    EXPECT_TRUE(player_.IsPlaying());
    EXPECT_NE(Mix_GetChunk(0), longChunk);

    // A start ends the sound before it, also when its own file plays nothing.
    for (const std::string& silent : {std::string(), (dir_ / "missing.wav").string(), dir_.string()}) {
        SCOPED_TRACE(silent);
        player_.Start(longWav_);
        ASSERT_TRUE(player_.IsPlaying());
        player_.Start(silent);
        ASSERT_TRUE(player_.WaitForLoads(kBound));
        EXPECT_FALSE(player_.IsPlaying());
        player_.Retrigger(silent);
        EXPECT_FALSE(player_.IsPlaying());
    }
}

TEST_F(SoundPlayerTest, AFailedLoadIsRememberedUntilTheCacheIsCleared) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(player_.Open());
    const fs::path later = dir_ / "later.wav";
    player_.Start(later.string());
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    EXPECT_FALSE(player_.IsPlaying());

    fs::copy_file(longWav_, later);
    player_.Start(later.string());
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    EXPECT_FALSE(player_.IsPlaying());

    // A file not decoded before plays once it is ready.
    player_.ClearCache();
    player_.Start(later.string());
    EXPECT_TRUE(WaitUntilPlaying());

    // Closed and opened again, the player works afresh.
    player_.Close();
    EXPECT_FALSE(player_.available());
    player_.Start(longWav_);
    EXPECT_FALSE(player_.IsPlaying());
    ASSERT_TRUE(player_.Open());
    player_.Start(longWav_);
    EXPECT_TRUE(WaitUntilPlaying());
}

TEST_F(SoundPlayerTest, AStopBeforeTheFileIsReadyCancelsItsStart) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(player_.Open());
    player_.Start(longWav_);
    player_.Stop();
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    EXPECT_FALSE(player_.IsPlaying());
}

// OK in the sound settings dialog clears the cache while its preview may be playing.
TEST_F(SoundPlayerTest, ClearingTheCacheNeitherEndsThePlayingSoundNorLosesAWaitingOne) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(player_.Open());
    const std::vector<std::string> files{longWav_};
    player_.Preload(files);
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    player_.Start(longWav_);
    ASSERT_TRUE(player_.IsPlaying());
    Mix_Chunk* const chunk = Mix_GetChunk(0);

    player_.ClearCache();
    EXPECT_TRUE(player_.IsPlaying());
    EXPECT_EQ(Mix_GetChunk(0), chunk);

    player_.Start(shortWav_);
    player_.ClearCache();
    EXPECT_TRUE(WaitUntilPlaying());
    EXPECT_NE(Mix_GetChunk(0), chunk);
}

// Files that used to hang the window at start (a FIFO), eat the memory (/dev/zero) or cost hundreds of MB.
TEST_F(SoundPlayerTest, UnusableFilesReturnAtOnceAndAreNamedOnceInTheLog) {
    const std::string fifo = (dir_ / "fifo.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = (dir_ / "large.wav").string();
    {
        // Sparse: costs no disk, reads as silence.
        std::ofstream out(large, std::ios::binary);
        WriteWavHeader(out, static_cast<std::uint32_t>(kMaxSoundFileBytes), 8000, 16);
    }
    fs::resize_file(large, kMaxSoundFileBytes + 44);
    const std::string lengthy = (dir_ / "lengthy.wav").string();
    {
        // Small on disk, but more than the playing time allowed once decoded.
        constexpr int kRate = 8000;
        const auto bytes = static_cast<std::uint32_t>((kMaxSoundSeconds + 1) * kRate);
        std::ofstream out(lengthy, std::ios::binary);
        WriteWavHeader(out, bytes, kRate, 8);
        out << std::string(bytes, '\x80');
    }
    const std::string text = (dir_ / "notes.wav").string();
    std::ofstream(text) << "not a sound\n";
    const std::vector<std::string> bad{fifo, "/dev/zero", large, lengthy, text};

    LogCapture log;
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(player_.Open());
    // Each call must return at once; a FIFO that blocks is released by opening its other end.
    auto atOnce = [&](std::function<void()> call) {
        auto done = std::async(std::launch::async, std::move(call));
        if (done.wait_for(kBound) == std::future_status::ready) return true;
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        done.wait();
        return false;
    };
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(atOnce([&] { player_.Start(path); }));
        EXPECT_TRUE(atOnce([&] { player_.Preload(std::span(&path, 1)); }));
    }
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        player_.Start(path);
        player_.Retrigger(path);
        EXPECT_FALSE(player_.IsPlaying());
        EXPECT_EQ(log.CountNaming(path), 1);
        // What the sound dialog checks when a file is chosen.
        EXPECT_NE(CheckSoundFile(path), "");
    }
    EXPECT_EQ(CheckSoundFile(longWav_), "");
    // Read afresh after the cache is cleared, still named only once.
    player_.ClearCache();
    player_.Preload(bad);
    ASSERT_TRUE(player_.WaitForLoads(kBound));
    for (const std::string& path : bad) EXPECT_EQ(log.CountNaming(path), 1) << path;
}

// What the disk driver has written so far.
std::vector<char> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Waits until the file holds at least `bytes`. The bound is generous: it only keeps a broken build from
// hanging, it measures nothing.
bool WaitForSize(const fs::path& path, std::uintmax_t bytes) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (fs::file_size(path, ec) >= bytes && !ec) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Largest absolute 16-bit sample in [from, to).
int Peak(const std::vector<char>& raw, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from & ~std::size_t{1}; i + 1 < to && i + 1 < raw.size(); i += 2) {
        std::int16_t s;
        std::memcpy(&s, &raw[i], 2);
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

// The whole way a user meets it: a key press heard through the audio device, then "Sound Stop".
TEST_F(SoundPlayerTest, KeyPressIsHeardAndSoundStopSilencesIt) {
    const fs::path raw = dir_ / "out.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    ASSERT_TRUE(player_.Open());
    int rate = 0, channels = 0;
    Uint16 format = 0;
    ASSERT_NE(Mix_QuerySpec(&rate, &format, &channels), 0);
    ASSERT_EQ(format, AUDIO_S16SYS);
    const std::uintmax_t perSecond = static_cast<std::uintmax_t>(rate) * channels * 2;
    // The mixer may already hold a few buffers when a call returns; skip that much before judging.
    const std::uintmax_t slack = perSecond / 5;

    ControllerModel model;
    model.soundEffectCount = kSoundEffectCount;
    for (int i = 0; i < kSoundEffectCount; ++i) {
        model.soundEffects[i].item = kSoundItems[i];
        model.soundEffects[i].enabled = 1;
    }
    model.soundEffects[6].file = longWav_;  // L1
    player_.Preload(SoundFiles(model));
    ASSERT_TRUE(player_.WaitForLoads(kBound));

    // Nothing pressed: silence.
    ASSERT_TRUE(WaitForSize(raw, perSecond / 4));
    UpdateSounds(model, player_);
    std::uintmax_t mark = fs::file_size(raw);
    EXPECT_EQ(Peak(ReadAll(raw), 0, mark), 0);

    model.item(kItemL1).keyDown = 1;
    UpdateSounds(model, player_);
    ASSERT_TRUE(WaitForSize(raw, mark + slack + perSecond / 2));
    EXPECT_GT(Peak(ReadAll(raw), mark, mark + slack + perSecond / 2), 10000);

    StopSound(model, player_);
    UpdateSounds(model, player_);  // still held: stays silent
    mark = fs::file_size(raw);
    ASSERT_TRUE(WaitForSize(raw, mark + slack + perSecond / 2));
    const std::vector<char> after = ReadAll(raw);
    EXPECT_EQ(Peak(after, mark + slack, after.size()), 0);
}

}  // namespace
}  // namespace zanth
