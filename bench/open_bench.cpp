// Times opening a 90-minute AVI and building its frame table as a whole process, and Analyze of
// the same file through the batch front end, side by side with ffprobe's packet listing.
#include "bench_support.h"

#include <cstdio>
#include <string>

int main()
{
    const std::string film = bench::makeFilmAvi("film-135000.avi", 1200);
    const std::string quoted = bench::shellQuote(film);
    constexpr int kRuns = 15;

    // One untimed run of each warms the page cache.
    const std::string openCommand = std::string(KESTRELION_OPEN_FRAME_TABLE) + " " + quoted + " >/dev/null";
    const std::string analyzeCommand = std::string(KESTRELION_CLI) + " analyze --fm " + quoted + " >/dev/null";
    const std::string ffprobeCommand =
        "ffprobe -v error -select_streams v -show_entries packet=size,flags -of csv " + quoted + " >/dev/null";
    bench::timeCommand(openCommand, 1);
    bench::timeCommand(ffprobeCommand, 1);

    const double open = bench::median(bench::timeCommand(openCommand, kRuns));
    const double analyze = bench::median(bench::timeCommand(analyzeCommand, kRuns));
    const double ffprobe = bench::median(bench::timeCommand(ffprobeCommand, 3));

    std::printf("135,000-frame AVI, warm cache, whole processes (median wall time):\n");
    std::printf("  open + frame table:      %8.1f ms  (goal < 30 ms)\n", open);
    std::printf("  kestrelion-cli analyze:  %8.1f ms  (goal < 40 ms)\n", analyze);
    std::printf("  ffprobe packet listing:  %8.1f ms\n", ffprobe);
    std::printf("  ffprobe / open:          %8.1fx    (goal >= 50x)\n", ffprobe / open);
    std::printf("  ffprobe / analyze:       %8.1fx    (goal >= 30x)\n", ffprobe / analyze);
    return 0;
}
