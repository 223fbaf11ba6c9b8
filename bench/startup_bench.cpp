// What linking the C++ runtime dynamically (as the Debian package does) costs kestrelion-cli at
// start-up: the packaged program and the same program with the runtime linked in, each run 200
// times in a row for --version and for analyze of a 90-minute film (135,000 frames), in 9 rounds
// whose order alternates. Prints each program's median time per run with the lowest and highest
// round, and the difference per run within each round.

#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int kRounds = 9;
constexpr int kRunsPerRound = 200;

// The mean time of one run, in milliseconds, over kRunsPerRound runs: wall time, and the processor
// time of the program (user and system), which other programs on a busy machine disturb less.
struct RunTime {
    double wallMs = 0;
    double cpuMs = 0;
};

double childCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

RunTime meanRun(const std::vector<std::string>& argv)
{
    RunTime total;
    const double cpuBefore = childCpuMs();
    for (int i = 0; i < kRunsPerRound; ++i)
        total.wallMs += bench::timeProgram(argv);
    total.cpuMs = childCpuMs() - cpuBefore;
    return {total.wallMs / kRunsPerRound, total.cpuMs / kRunsPerRound};
}

void print(const char* what, const std::vector<double>& shared, const std::vector<double>& linkedIn)
{
    std::vector<double> extra;
    for (size_t i = 0; i < shared.size(); ++i)
        extra.push_back(shared[i] - linkedIn[i]);
    const bench::Spread s = bench::spreadOf(shared), l = bench::spreadOf(linkedIn),
                        e = bench::spreadOf(extra);
    std::printf("  %s: shared runtime %.2f ms (%.2f .. %.2f), runtime linked in %.2f ms (%.2f .. %.2f); "
                "the shared runtime adds %.2f ms a run (%.2f .. %.2f)\n",
                what, s.median, s.low, s.high, l.median, l.low, l.high, e.median, e.low, e.high);
}

void compare(const char* what, const std::vector<std::string>& arguments)
{
    std::vector<std::string> sharedArgv{KESTRELION_CLI}, linkedInArgv{KESTRELION_CLI_STATIC_RUNTIME};
    sharedArgv.insert(sharedArgv.end(), arguments.begin(), arguments.end());
    linkedInArgv.insert(linkedInArgv.end(), arguments.begin(), arguments.end());
    std::vector<double> sharedWall, linkedInWall, sharedCpu, linkedInCpu;
    for (int round = 0; round < kRounds; ++round) {
        RunTime a, b;
        if (round % 2 == 0) {
            a = meanRun(sharedArgv);
            b = meanRun(linkedInArgv);
        } else {
            b = meanRun(linkedInArgv);
            a = meanRun(sharedArgv);
        }
        sharedWall.push_back(a.wallMs);
        linkedInWall.push_back(b.wallMs);
        sharedCpu.push_back(a.cpuMs);
        linkedInCpu.push_back(b.cpuMs);
    }
    std::printf("%s\n", what);
    print("wall time", sharedWall, linkedInWall);
    print("processor time", sharedCpu, linkedInCpu);
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
