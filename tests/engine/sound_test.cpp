#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/planner.h"
#include "engine/quiet_ui_port.h"
#include "engine/verify.h"
#include "video/avi_reader.h"

#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace m = core::messages;

// Makes dir/name with ffmpeg from a tone of the given length, encoded with codecArgs.
std::string makeSound(const std::string& dir, const std::string& name, double seconds,
                      const std::string& codecArgs)
{
    const std::string path = dir + "/" + name;
    int exitCode = 0;
    test_support::runCommand(
        "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
            std::to_string(seconds) + " " + codecArgs + " " + test_support::shellQuote(path),
        exitCode);
    EXPECT_EQ(exitCode, 0) << name;
    return path;
}

// The first sound stream's packet bytes, one after the other, as ffmpeg copies them.
std::string soundData(const std::string& path)
{
    int exitCode = 0;
    return test_support::runCommand("ffmpeg -nostdin -v error -i " + test_support::shellQuote(path) +
                                        " -map 0:a:0 -c copy -f data -",
                                    exitCode);
}

// One packet as ffprobe lists it, in file order.
struct Packet {
    int stream = 0;
    double pts = 0, duration = 0;
    int64_t pos = 0;
};

std::vector<Packet> probe(const std::string& path)
{
    int exitCode = 0;
    std::istringstream lines(test_support::runCommand(
        "ffprobe -v error -show_entries packet=stream_index,pts_time,duration_time,pos -of csv=p=0 " +
            test_support::shellQuote(path),
        exitCode));
    std::vector<Packet> packets;
    for (std::string line; std::getline(lines, line);) {
        Packet p;
        char comma = 0;
        std::istringstream fields(line);
        fields >> p.stream >> comma >> p.pts >> comma >> p.duration >> comma >> p.pos;
        packets.push_back(p);
    }
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
    return packets;
}

// Create writes the sound: the prediction equals the file, players read both streams in time and the
// sound's packets unchanged, interleaved within a second and cut where the video ends; verify notices
// one changed sound byte.
TEST(Sound, CreateCopiesTheSoundInterleavedAndCountedToTheByte)
{
    const std::string dir = test_support::freshTempDir("sound_create");
    const std::string fm = test_support::fastMotionAvi(1000, 25), lm = test_support::lowMotionAvi(1000, 25);
    const std::string cbr = makeSound(dir, "cbr.mp3", 42, "-ac 2 -c:a libmp3lame -b:a 128k");
    const std::string vbr = makeSound(dir, "vbr.mp3", 42, "-ac 1 -c:a libmp3lame -q:a 4");
    const std::string ac3 = makeSound(dir, "s.ac3", 42, "-ar 48000 -ac 2 -c:a ac3 -b:a 96k");
    const std::string pcm = makeSound(dir, "short.wav", 30, "-ar 22050 -ac 1 -c:a pcm_s16le");
    const video::AviWriterOptions openDml{.partBytes = 300'000};
    struct Case {
        const char* name;
        std::string sound;
        int32_t stopAfter = 0;
        video::AviWriterOptions writer = {};
        bool longer = true; // the sound outlasts the film
    };
    const Case cases[] = {
        {"MP3 CBR, AVI 1.0", cbr},
        {"MP3 CBR, OpenDML", cbr, 0, openDml},
        {"MP3 VBR, OpenDML, stop", vbr, 510, openDml},
        {"AC-3, stop", ac3, 510},
        {"PCM shorter than the film, OpenDML", pcm, 0, openDml, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::Job job;
        core::applyOpeningDefaults(job.settings);
        job.settings.fastMotionPath = fm;
        job.settings.lowMotionPath = lm;
        job.settings.finalPath = dir + "/final.avi";
        job.settings.audioFilePath = c.sound;
        job.settings.highBitrateLimit = 300;
        job.settings.stopAfterEnabled = c.stopAfter > 0;
        job.settings.stopAfterFrames = c.stopAfter;
        engine::SourceTableCache cache;
        engine::QuietUiPort quiet;
        const std::optional<engine::FinalSize> size =
            engine::predictFinalSize(job.settings, cache, quiet, c.writer);
        test_support::RecordingUiPort ui;
        ASSERT_EQ(engine::runCreate(job, ui, {c.writer}), engine::CommandOutcome::Completed);
        EXPECT_EQ(size->fileBytes, static_cast<int64_t>(fs::file_size(job.settings.finalPath)));
        EXPECT_TRUE(test_support::decodeErrors(job.settings.finalPath).empty());

        // Video frame i at i / 25 s; every sound packet within a second of the next video packet.
        const std::vector<Packet> packets = probe(job.settings.finalPath);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.front().stream, 1) << "the sound of the first frame comes first";
        int32_t frames = 0;
        double audioEnd = 0, lastAudioStart = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            const Packet& p = packets[i];
            if (p.stream == 0) {
                EXPECT_NEAR(p.pts, frames++ / 25.0, 1e-6);
                continue;
            }
            auto next = std::find_if(packets.begin() + static_cast<std::ptrdiff_t>(i), packets.end(),
                                     [](const Packet& q) { return q.stream == 0; });
            EXPECT_TRUE(next == packets.end() || std::abs(next->pts - p.pts) <= 1.0) << "sound at " << p.pts;
            audioEnd = std::max(audioEnd, p.pts + p.duration);
            lastAudioStart = std::max(lastAudioStart, p.pts);
        }
        EXPECT_EQ(frames, size->frames);
        const double videoEnd = frames / 25.0;
        const std::string copied = soundData(job.settings.finalPath), source = soundData(c.sound);
        EXPECT_TRUE(source.compare(0, copied.size(), copied) == 0) << "the sound's packets, unchanged";
        // Cut after the last packet that starts before the video ends; a shorter sound stays whole.
        EXPECT_TRUE(c.longer ? lastAudioStart < videoEnd && audioEnd >= videoEnd && audioEnd - videoEnd < 0.04
                             : copied.size() == source.size())
            << lastAudioStart << " " << audioEnd << " " << videoEnd;

        EXPECT_EQ(engine::verifyFinalAvi(job.settings, quiet).status, engine::VerifyStatus::Verified);
        int64_t offset = 0;
        {
            video::AviOpenResult opened = video::AviReader::open(job.settings.finalPath);
            ASSERT_EQ(opened.reader->streamCount(), 2);
            offset = opened.reader->sampleLocation(1, 3).offset;
        }
        std::fstream file(job.settings.finalPath, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(offset);
        const char byte = static_cast<char>(file.get() ^ 0x5A);
        file.seekp(offset);
        file.put(byte);
        file.close();
        const engine::VerifyReport report = engine::verifyFinalAvi(job.settings, quiet);
        ASSERT_EQ(report.differenceCount, 1);
        EXPECT_EQ(std::pair(report.differences[0].kind, report.differences[0].frame),
                  std::pair(core::FinalDifference::Kind::SoundChunk, int64_t{3}));
    }
}

// A sound an AVI does not carry well is refused by name; Fit counts a sound's real bytes.
TEST(Sound, RefusesAacAndFitsWithTheRealSound)
{
    const std::string dir = test_support::freshTempDir("sound_refuse");
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.settings.fastMotionPath = test_support::fastMotionAvi(1000, 25);
    job.settings.lowMotionPath = test_support::lowMotionAvi(1000, 25);
    job.settings.finalPath = dir + "/final.avi";
    job.settings.audioFilePath = makeSound(dir, "s.m4a", 5, "-c:a aac");
    test_support::RecordingUiPort ui;
    EXPECT_EQ(engine::runCreate(job, ui), engine::CommandOutcome::Ended);
    EXPECT_EQ(ui.messages, std::vector{m::soundCodecRefused("aac")});
    EXPECT_FALSE(fs::exists(job.settings.finalPath));

    job.settings.audioFilePath = makeSound(dir, "s.mp3", 40, "-c:a libmp3lame -b:a 320k");
    job.settings.finalSizeMB = 4;
    engine::SourceTableCache cache;
    engine::QuietUiPort quiet;
    const engine::FitResult fit = engine::fitLimit(job.settings, cache, quiet);
    ASSERT_EQ(fit.status, engine::FitStatus::Fitted);
    // 40 s at 320 Kbps: 1.6 MB of sound with its chunk headers and index entries.
    EXPECT_NEAR(static_cast<double>(fit.size.audioReserveBytes), 1.6e6 + 1532 * 24, 1e4);
    EXPECT_LE(fit.size.plannedSampleBytes + fit.size.audioReserveBytes, engine::targetBytes(job.settings));
}

} // namespace
