// Times opening a 90-minute AVI and building its frame table as a whole process, and Analyze of
// the same file through the batch front end, side by side with ffprobe's packet listing.
#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

int main()
{
    const std::string film = bench::makeFilmAvi("film-135000.avi", 1200);
    constexpr int kRuns = 21;
    const std::vector<std::string> openProgram = {KESTRELION_OPEN_FRAME_TABLE, film};
    const std::vector<std::string> analyzeProgram = {KESTRELION_CLI, "analyze", "--fm", film};
    const std::vector<std::string> ffprobeProgram = {"ffprobe", "-v",          "error", "-select_streams",
                                                     "v",       "-show_entries", "packet=size,flags",
                                                     "-of",     "csv",         film};

    // One untimed run of each warms the page cache.
    bench::timeProgram(openProgram, 1);
    bench::timeProgram(ffprobeProgram, 1);

    const double open = bench::median(bench::timeProgram(openProgram, kRuns));
    const double analyze = bench::median(bench::timeProgram(analyzeProgram, kRuns));
    const double ffprobe = bench::median(bench::timeProgram(ffprobeProgram, 5));

    std::printf("135,000-frame AVI, warm cache, whole processes (median wall time):\n");
    std::printf("  open + frame table:      %8.1f ms  (goal < 30 ms)\n", open);
    std::printf("  kestrelion-cli analyze:  %8.1f ms  (goal < 40 ms)\n", analyze);
    std::printf("  ffprobe packet listing:  %8.1f ms\n", ffprobe);
    std::printf("  ffprobe / open:          %8.1fx    (goal >= 50x)\n", ffprobe / open);
    std::printf("  ffprobe / analyze:       %8.1fx    (goal >= 30x)\n", ffprobe / analyze);
    return 0;
}
