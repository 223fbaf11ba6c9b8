// Times whole processes on a 90-minute AVI made with ffmpeg (135,000 frames), warm cache:
// `kestrelion-cli analyze` and `kestrelion-cli probe --json` against ffprobe's packet listing of
// the same file, in pairs run one after the other, and opening the file with its frame table
// alone. Each ratio is taken within a pair, so a machine busy with other work slows both sides.
#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

int main()
{
    const std::string film = bench::makeEncodedFilm("fm-90min-mpeg4.avi", 1020);
    constexpr int kPairs = 9;
    const std::vector<std::string> openProgram = {KESTRELION_OPEN_FRAME_TABLE, film};
    const std::vector<std::string> analyzeProgram = {KESTRELION_CLI, "analyze", "--fm", film};
    const std::vector<std::string> probeProgram = {KESTRELION_CLI, "probe", "--json", film};
    const std::vector<std::string> ffprobeProgram = {"ffprobe", "-v",          "error", "-select_streams",
                                                     "v",       "-show_entries", "packet=size,flags",
                                                     "-of",     "csv",         film};

    // One untimed run of each warms the page cache and the programs' own files.
    for (const auto* program : {&ffprobeProgram, &analyzeProgram, &probeProgram, &openProgram})
        (void)bench::timeProgram(*program);

    std::vector<double> ffprobe, analyze, probe, open, analyzeRatio, probeRatio;
    for (int pair = 0; pair < kPairs; ++pair) {
        ffprobe.push_back(bench::timeProgram(ffprobeProgram));
        analyze.push_back(bench::timeProgram(analyzeProgram));
        probe.push_back(bench::timeProgram(probeProgram));
        open.push_back(bench::timeProgram(openProgram));
        analyzeRatio.push_back(ffprobe.back() / analyze.back());
        probeRatio.push_back(ffprobe.back() / probe.back());
    }

    std::printf("machine: %s\n", bench::machineName().c_str());
    std::printf(
        "135,000-frame MPEG-4 AVI, warm cache, whole processes, %d runs each, median (lowest .. highest):\n",
        kPairs);
    const auto printTime = [](const char* what, const std::vector<double>& times) {
        const bench::Spread s = bench::spreadOf(times);
        std::printf("  %-28s %8.1f ms  (%.1f .. %.1f)\n", what, s.median, s.low, s.high);
    };
    const auto printRatio = [](const char* what, const std::vector<double>& ratios, double goal) {
        const bench::Spread s = bench::spreadOf(ratios);
        std::printf("  %-28s %8.0fx    (%.0f .. %.0f, goal >= %.0fx) %s\n", what, s.median, s.low, s.high,
                    goal, s.median >= goal ? "ok" : "BELOW GOAL");
    };
    printTime("ffprobe packet listing", ffprobe);
    printTime("kestrelion-cli analyze", analyze);
    printTime("kestrelion-cli probe --json", probe);
    printTime("open + frame table", open);
    std::printf("ffprobe's time over ours, per pair:\n");
    printRatio("analyze", analyzeRatio, 100);
    printRatio("probe --json", probeRatio, 50);
    return 0;
}
