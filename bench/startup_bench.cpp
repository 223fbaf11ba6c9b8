// What linking the C++ runtime dynamically (as the Debian package does) costs kestrelion-cli at
// start-up: the packaged program and the same program with the runtime linked in, each run 200
// times in a row for --version and for analyze of a 90-minute film (135,000 frames), in 9 rounds
// whose order alternates. Prints each program's median time per run with the lowest and highest
// round, and the difference per run within each round.

#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 9;
constexpr int kRunsPerRound = 200;

// Returns the mean wall time of one run, in milliseconds, over kRunsPerRound runs.
double meanRunMs(const std::vector<std::string>& argv)
{
    double total = 0;
    for (int i = 0; i < kRunsPerRound; ++i)
        total += bench::timeProgram(argv);
    return total / kRunsPerRound;
}

void compare(const char* what, const std::vector<std::string>& arguments)
{
    std::vector<double> shared, linkedIn, extra;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::string> sharedArgv{KESTRELION_CLI}, linkedInArgv{KESTRELION_CLI_STATIC_RUNTIME};
        sharedArgv.insert(sharedArgv.end(), arguments.begin(), arguments.end());
        linkedInArgv.insert(linkedInArgv.end(), arguments.begin(), arguments.end());
        double a = 0, b = 0;
        if (round % 2 == 0) {
            a = meanRunMs(sharedArgv);
            b = meanRunMs(linkedInArgv);
        } else {
            b = meanRunMs(linkedInArgv);
            a = meanRunMs(sharedArgv);
        }
        shared.push_back(a);
        linkedIn.push_back(b);
        extra.push_back(a - b);
    }
    const bench::Spread s = bench::spreadOf(shared), l = bench::spreadOf(linkedIn),
                        e = bench::spreadOf(extra);
    std::printf("%s: shared runtime %.2f ms (%.2f .. %.2f), runtime linked in %.2f ms (%.2f .. %.2f); "
                "the shared runtime adds %.2f ms a run (%.2f .. %.2f)\n",
                what, s.median, s.low, s.high, l.median, l.low, l.high, e.median, e.low, e.high);
}

} // namespace

int main()
{
    std::printf("Machine: %s\n%d rounds of %d runs per program, order alternating\n",
                bench::machineName().c_str(), kRounds, kRunsPerRound);
    const std::string film = bench::makeFilmAvi("startup-135000.avi", 100);
    compare("kestrelion-cli --version", {"--version"});
    compare("kestrelion-cli analyze --fm FILM", {"analyze", "--fm", film});
    return 0;
}
