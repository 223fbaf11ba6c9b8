// Times Create with a sound file against Create without it on the same 90-minute pair (135,000
// frames at 25 fps, written by the project's own writer: FM about 1,200 Kbps, LM about 500 Kbps)
// and a 90-minute 128 Kbps MP3 made with ffmpeg. Runs alternate between the two, so both see the
// same machine; each run writes a new file (KESTRELION_BENCH_FINAL_DIR names its folder, for example
// /dev/shm to keep the disk's write-back out of the figures). Create's speed is the Final AVI's bytes per second; goal: with the sound at least
// 0.90 of the speed without it (median of the per-pair ratios). The wall times are printed too.

#include "bench_support.h"
#include "engine/commands.h"
#include "engine/quiet_ui_port.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kGoalRatio = 0.90;
constexpr int kPairs = 9;

// Makes (once) the 90-minute MP3; exits the benchmark when ffmpeg fails.
std::string makeSound()
{
    const std::string path = bench::mediaDir() + "/sound-5400-128k.mp3";
    if (std::filesystem::exists(path))
        return path;
    const std::string partial = path + ".part.mp3";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t 5400 "
                                "-ac 2 -c:a libmp3lame -b:a 128k " +
                                bench::shellQuote(partial);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the sound\n");
        std::exit(1);
    }
    std::filesystem::rename(partial, path);
    return path;
}

// Runs Create for settings and returns its wall time in milliseconds; exits when it fails.
double timeCreate(const core::JobSettings& settings)
{
    core::Job job;
    job.settings = settings;
    engine::QuietUiPort quiet;
    std::filesystem::remove(settings.finalPath);
    const auto start = std::chrono::steady_clock::now();
    if (engine::runCreate(job, quiet) != engine::CommandOutcome::Completed) {
        std::fprintf(stderr, "Create failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    core::JobSettings settings;
    core::applyOpeningDefaults(settings);
    settings.fastMotionPath = bench::makeFilmAvi("fm-sound-135000.avi", 6000);
    settings.lowMotionPath = bench::makeFilmAvi("lm-sound-135000.avi", 2500);
    const char* finalDir = std::getenv("KESTRELION_BENCH_FINAL_DIR");
    settings.finalPath = (finalDir != nullptr ? std::string(finalDir) : bench::mediaDir()) + "/final-sound.avi";
    settings.highBitrateLimit = 900;
    core::JobSettings withSound = settings;
    withSound.audioFilePath = makeSound();

    (void)timeCreate(withSound); // warms the cache with every file read
    const auto soundBytes = static_cast<double>(std::filesystem::file_size(settings.finalPath));
    (void)timeCreate(settings);
    const auto plainBytes = static_cast<double>(std::filesystem::file_size(settings.finalPath));
    std::vector<double> ratios, timeRatios, plainMs, soundMs;
    for (int pair = 0; pair < kPairs; ++pair) {
        // The order alternates, so neither side always runs second.
        const bool soundFirst = pair % 2 == 0;
        const double first = timeCreate(soundFirst ? withSound : settings);
        const double second = timeCreate(soundFirst ? settings : withSound);
        plainMs.push_back(soundFirst ? second : first);
        soundMs.push_back(soundFirst ? first : second);
        timeRatios.push_back(soundMs.back() / plainMs.back());
        ratios.push_back((soundBytes / soundMs.back()) / (plainBytes / plainMs.back()));
    }
    const bench::Spread ratio = bench::spreadOf(ratios), timeRatio = bench::spreadOf(timeRatios),
                        plain = bench::spreadOf(plainMs), sound = bench::spreadOf(soundMs);
    std::printf("machine: %s\n", bench::machineName().c_str());
    std::printf("Create without sound: %.0f MB, median %.0f ms (%.0f..%.0f); with a 90-minute 128 Kbps MP3: %.0f MB, "
                "median %.0f ms (%.0f..%.0f)\n",
                plainBytes / 1e6, plain.median, plain.low, plain.high, soundBytes / 1e6, sound.median, sound.low,
                sound.high);
    std::printf("wall time with / without, %d alternating pairs: median %.3f (%.3f..%.3f)\n", kPairs,
                timeRatio.median, timeRatio.low, timeRatio.high);
    std::printf("speed (bytes per second) with / without: median %.3f (%.3f..%.3f); goal >= %.2f: %s\n",
                ratio.median, ratio.low, ratio.high, kGoalRatio, ratio.median >= kGoalRatio ? "met" : "MISSED");
    std::filesystem::remove(settings.finalPath);
    return 0;
}
