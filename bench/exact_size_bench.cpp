// Times what follows the settings once the Low Motion AVI exists, on a 90-minute pair (135,000
// frames at 25 fps, 5,400 one-second groups): the exact size of the Final AVI (recomputed on every
// keystroke, goal 5 ms), Fit (goal 100 ms) and verify of the written Final AVI against `cat` of
// as many bytes (goal: 0.80 of cat's speed or more, warm cache).

#include "bench_support.h"
#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/quiet_ui_port.h"
#include "engine/verify.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

constexpr double kPredictGoalMs = 5.0;
constexpr double kFitGoalMs = 100.0;
constexpr double kVerifyGoal = 0.80;

double median(const std::vector<double>& values)
{
    return bench::spreadOf(values).median;
}

// Runs body runs times and returns each run's time in milliseconds.
std::vector<double> timeRuns(int runs, const std::function<void(int)>& body)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        body(run);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times;
}

void printTimes(const char* what, const std::vector<double>& times, double goalMs)
{
    const double middle = median(times);
    std::printf("%s: median %.2f ms, fastest %.2f ms, slowest %.2f ms over %zu runs; goal %.0f ms: %s\n",
                what, middle, times.front(), times.back(), times.size(), goalMs,
                middle < goalMs ? "met" : "MISSED");
}

} // namespace

int main()
{
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.settings.fastMotionPath = bench::makeFilmAvi("fm-exact-135000.avi", 3000);
    job.settings.lowMotionPath = bench::makeFilmAvi("lm-exact-135000.avi", 1000);
    job.settings.finalPath = bench::mediaDir() + "/final-exact.avi";
    job.settings.finalSizeMB = 300;
    engine::SourceTableCache cache;
    engine::QuietUiPort quiet;
    if (!engine::predictFinalSize(job.settings, cache, quiet)) {
        std::fprintf(stderr, "the pair cannot be counted\n");
        return 1;
    }

    // Every keystroke in a number field recomputes the size; each run sees another limit.
    const std::vector<double> predictMs = timeRuns(201, [&](int run) {
        job.settings.highBitrateLimit = 400 + 10 * (run % 200);
        (void)engine::predictFinalSize(job.settings, cache, quiet);
    });
    const std::vector<double> fitMs = timeRuns(21, [&](int run) {
        job.settings.sceneSwitchingSmoother = run % 2 == 0;
        (void)engine::fitLimit(job.settings, cache, quiet);
    });
    job.settings.sceneSwitchingSmoother = true;
    const engine::FitResult fit = engine::fitLimit(job.settings, cache, quiet);
    if (fit.status != engine::FitStatus::Fitted) {
        std::fprintf(stderr, "nothing fits the target\n");
        return 1;
    }
    std::printf(
        "135,000 frames, 5,400 groups; Fit: limit %d Kbps, Final AVI %lld bytes (%lld sample bytes)\n",
        fit.limit, static_cast<long long>(fit.size.fileBytes),
        static_cast<long long>(fit.size.plannedSampleBytes));
    printTimes("exact size", predictMs, kPredictGoalMs);
    printTimes("Fit, smoother on and off", fitMs, kFitGoalMs);

    // The Final AVI at the fitted limit, written once; its size must be the one counted.
    job.settings.highBitrateLimit = fit.limit;
    if (engine::runCreate(job, quiet) != engine::CommandOutcome::Completed) {
        std::fprintf(stderr, "Create failed\n");
        return 1;
    }
    const auto written = static_cast<long long>(std::filesystem::file_size(job.settings.finalPath));
    std::printf("written: %lld bytes, %s\n", written,
                written == fit.size.fileBytes ? "as counted" : "NOT AS COUNTED");

    // Verify reads the Final AVI and as many sample bytes again from the sources: cat of the
    // Final AVI twice reads the same amount. Both run warm, interleaved; the fastest runs show
    // what a machine with nothing else to do gives.
    const std::vector<std::string> cat = {"cat", job.settings.finalPath, job.settings.finalPath};
    (void)bench::timeProgram(cat);
    std::vector<double> verifyMs;
    std::vector<double> catMs;
    bool verified = true;
    for (int run = 0; run < 11; ++run) {
        verifyMs.push_back(timeRuns(1, [&](int) {
            verified = verified &&
                       engine::verifyFinalAvi(job.settings, quiet).status == engine::VerifyStatus::Verified;
        })[0]);
        catMs.push_back(bench::timeProgram(cat));
    }
    std::sort(verifyMs.begin(), verifyMs.end());
    std::sort(catMs.begin(), catMs.end());
    const double megabytes = 2.0 * static_cast<double>(written) / 1048576.0;
    const double ratio = median(catMs) / median(verifyMs);
    std::printf("verify (%s) against cat of the Final AVI twice (%.0f MB), 11 interleaved runs:\n",
                verified ? "verified" : "NOT VERIFIED", megabytes);
    std::printf("  median: verify %.0f ms (%.0f MB/s), cat %.0f ms (%.0f MB/s), ratio %.2f\n",
                median(verifyMs), megabytes / median(verifyMs) * 1000, median(catMs),
                megabytes / median(catMs) * 1000, ratio);
    std::printf("  fastest: verify %.0f ms, cat %.0f ms, ratio %.2f; slowest: verify %.0f ms, cat %.0f ms\n",
                verifyMs.front(), catMs.front(), catMs.front() / verifyMs.front(), verifyMs.back(),
                catMs.back());
    std::printf("verify at %.2f of cat's speed (median); goal %.2f: %s\n", ratio, kVerifyGoal,
                ratio >= kVerifyGoal ? "met" : "MISSED");
    std::filesystem::remove(job.settings.finalPath);
    return 0;
}
