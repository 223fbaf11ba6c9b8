#include "engine/source_sound.h"
#include "media/sound_file.h"

#include "media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using engine::SourceSoundStatus;

// Makes dir/name: a tiny moving picture with, unless soundArgs is empty, 3 s of a tone.
std::string makeFilm(const std::string& dir, const std::string& name, const std::string& soundArgs)
{
    const std::string path = dir + "/" + name;
    const std::string sound = soundArgs.empty() ? " -an" : " " + soundArgs;
    int exitCode = 0;
    test_support::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=3 "
                             "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -c:v mpeg4" +
                                 sound + " " + test_support::shellQuote(path),
                             exitCode);
    EXPECT_EQ(exitCode, 0) << name;
    return path;
}

// ffprobe's codec, sample rate, channels, bit rate and duration of the first sound stream.
struct Probed {
    std::string codec;
    int rate = 0, channels = 0;
    int64_t bitRate = 0;
    double seconds = 0;
};

Probed probeSound(const std::string& path)
{
    int exitCode = 0;
    std::string text = test_support::runCommand(
        "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate:"
        "format=duration -of default=nw=1:nk=1 " + test_support::shellQuote(path),
        exitCode);
    std::istringstream in(text);
    Probed p;
    in >> p.codec >> p.rate >> p.channels >> p.bitRate >> p.seconds;
    return p;
}

// The decoded length of the first sound stream in seconds, as ffmpeg counts its samples.
double decodedSeconds(const std::string& path)
{
    int exitCode = 0;
    const std::string bytes = test_support::runCommand(
        "ffmpeg -nostdin -v error -i " + test_support::shellQuote(path) +
            " -map 0:a:0 -ac 1 -ar 48000 -f s16le - | wc -c", exitCode);
    return std::stod(bytes) / 2 / 48000;
}

// A sound an AVI does not carry is encoded to an MP3 of the Kbps asked, 44.1 or 48 kHz, at most two
// channels, as long as the film's sound within one MP3 frame, that the sound file reader takes.
TEST(SourceSound, EncodesRefusedSoundToMp3)
{
    struct Case {
        const char* name;
        const char* soundArgs;
        int kbps, rate, channels;
    } const cases[] = {
        {"opus.mkv", "-c:a libopus -b:a 64k -ac 2", 128, 48000, 2},
        {"aac.mp4", "-c:a aac -ar 22050 -ac 1", 96, 44100, 1},
        {"flac.mkv", "-c:a flac -af aformat=channel_layouts=5.1", 192, 48000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = test_support::freshTempDir(std::string("source_sound_") + c.name);
        const std::string film = makeFilm(dir, c.name, c.soundArgs);
        const std::string work = dir + "/work";
        fs::create_directory(work);
        double last = -1;
        const engine::SourceSound sound = engine::prepareSourceSound(film, c.kbps, work, [&](double done) {
            EXPECT_GE(done, last);
            last = done;
            return true;
        });
        ASSERT_EQ(sound.status, SourceSoundStatus::Encoded) << sound.detail;
        EXPECT_EQ(last, 1.0);
        EXPECT_EQ(fs::path(sound.path).parent_path(), fs::path(work));
        const Probed p = probeSound(sound.path);
        EXPECT_EQ(p.codec, "mp3");
        EXPECT_EQ(p.rate, c.rate);
        EXPECT_EQ(p.channels, c.channels);
        EXPECT_EQ(p.bitRate, c.kbps * 1000);
        EXPECT_NEAR(decodedSeconds(sound.path), decodedSeconds(film), 1152.0 / c.rate);
        const media::OpenedSound opened = media::SoundFile::open(sound.path);
        ASSERT_EQ(opened.status, media::SoundStatus::Ok) << opened.detail;
        EXPECT_NEAR(opened.sound->kbps(), c.kbps, 1.0);
    }
}

// A sound an AVI carries is the film itself; a film without sound has none; an abort or a film that
// does not open leaves nothing in the work folder.
TEST(SourceSound, CopiesNoneAbortsAndFails)
{
    const std::string dir = test_support::freshTempDir("source_sound_other");
    const std::string work = dir + "/work";
    fs::create_directory(work);
    const std::string mp3Film = makeFilm(dir, "mp3.mkv", "-c:a libmp3lame -b:a 128k");
    const std::string silent = makeFilm(dir, "silent.mkv", "");
    const std::string opus = makeFilm(dir, "opus.mkv", "-c:a libopus");

    const engine::SourceSound copied = engine::prepareSourceSound(mp3Film, 128, work);
    EXPECT_EQ(copied.status, SourceSoundStatus::SourceItself);
    EXPECT_EQ(copied.path, mp3Film);
    const engine::SourceSound none = engine::prepareSourceSound(silent, 128, work);
    EXPECT_EQ(none.status, SourceSoundStatus::NoSound);
    EXPECT_TRUE(none.path.empty());
    const engine::SourceSound aborted =
        engine::prepareSourceSound(opus, 128, work, [](double done) { return done < 0.3; });
    EXPECT_EQ(aborted.status, SourceSoundStatus::Aborted);
    const engine::SourceSound missing = engine::prepareSourceSound(dir + "/missing.mkv", 128, work);
    EXPECT_EQ(missing.status, SourceSoundStatus::Failed);
    EXPECT_FALSE(missing.detail.empty());
    EXPECT_TRUE(fs::is_empty(work));
}

} // namespace
