// Measures Create on the 90-minute pair (FM and LM made with ffmpeg) against a plain copy of as
// many bytes, `dd bs=2M` to a fresh file, in pairs of whole processes run one after the other,
// each to a fresh file after sync; then Create's peak memory, the bytes it reads from a cold cache
// against the bytes it copies, and that a Final AVI above 1 GB is OpenDML and readable to its
// last frame. The sources are made once and kept in the build tree's bench-media folder, where
// the copies are written too.

#include "bench_support.h"
#include "core/stream_info.h"
#include "video/avi_reader.h"
#include "video/avi_writer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ChildRun {
    bool ok = false;
    double seconds = 0;    // wall clock
    double cpuSeconds = 0; // user and system time of the child
    long maxRssKiB = 0;
    int64_t readBytes = -1; // from storage
    std::string output;     // what it printed
};

int64_t ioField(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ": ", 0) == 0)
            return std::stoll(line.substr(name.size() + 2));
    }
    return -1;
}

// Runs a program after sync and measures it; its standard output is kept, its errors dropped.
ChildRun runProgram(const std::vector<std::string>& argv, const std::string& outputPath)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::sync();
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return run;
    if (pid == 0) {
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    // Wait without reaping, so the child's I/O counters can still be read.
    siginfo_t info{};
    (void)::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    const std::string text((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
    run.readBytes = ioField(text, "read_bytes");
    int status = 0;
    rusage usage{};
    (void)::wait4(pid, &status, 0, &usage);
    run.maxRssKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream printed(outputPath);
    run.output.assign(std::istreambuf_iterator<char>(printed), std::istreambuf_iterator<char>());
    return run;
}

// Reads the whole file once, so it is in the page cache.
void warm(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chunk(2 << 20);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    }
}

// Drops the file's pages from the page cache (the caller syncs first).
void coolDown(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Drops the whole page cache; needs the right to write the kernel setting.
bool dropAllCaches()
{
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, "1\n", 2) == 2;
    ::close(fd);
    return done;
}

// The sample bytes Create reports copying ("Final AVI-size: N"), or -1.
int64_t copiedBytes(const std::string& output)
{
    const std::string label = "Final AVI-size: ";
    const size_t at = output.find(label);
    return at == std::string::npos ? -1 : std::stoll(output.substr(at + label.size()));
}

int32_t frameCount(const std::string& path)
{
    video::AviOpenResult opened = video::AviReader::open(path);
    return opened.reader ? opened.reader->sampleCount(0) : 0;
}

// A high bitrate limit under which about half the FM groups of a plan are taken from FM,
// found by bisection over Analyze's plan.
int32_t limitForHalfTheGroups(const std::string& fmPath, const std::string& outputPath)
{
    int32_t low = 1;
    int32_t high = 1000000;
    while (high - low > 1) {
        const int32_t limit = low + (high - low) / 2;
        const ChildRun run = runProgram(
            {KESTRELION_CLI, "analyze", "--json", "--limit", std::to_string(limit), "--fm", fmPath},
            outputPath);
        size_t fromLm = 0;
        size_t groups = 0;
        for (size_t at = run.output.find("\"choice\": "); at != std::string::npos;
             at = run.output.find("\"choice\": ", at + 1)) {
            ++groups;
            fromLm += run.output.compare(at + 10, 1, "0") == 0 ? 1 : 0;
        }
        if (2 * fromLm < groups)
            low = limit; // mostly FM: a higher limit takes more from LM
        else
            high = limit;
    }
    return high;
}

// Writes an AVI of frames frames of sizeBytes each, a key frame every 25, unless it exists.
bool makeLargeSource(const std::string& path, int32_t frames, int32_t sizeBytes)
{
    if (fs::exists(path))
        return true;
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    const std::string partial = path + ".part";
    video::AviCreateResult created = video::AviWriter::create(partial);
    if (created.status != video::AviStatus::Ok)
        return false;
    core::AviStreamInfo info;
    info.fccType = core::kStreamTypeVideo;
    info.fccHandler = core::fourcc("cvid");
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = {0, 0, 720, 576};
    std::array<uint8_t, 40> format{};
    const auto put32 = [&format](size_t offset, uint32_t value) {
        for (size_t i = 0; i < 4; ++i)
            format[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put32(0, 40);
    put32(4, 720);
    put32(8, 576);
    format[12] = 1;
    format[14] = 24;
    // A codec whose packets ffprobe takes as they are: the sample bytes are made up.
    put32(16, core::fourcc("cvid"));
    if (created.writer->createStream(info) != video::AviStatus::Ok ||
        created.writer->setFormat(format) != video::AviStatus::Ok)
        return false;
    std::vector<uint8_t> data(static_cast<size_t>(sizeBytes));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 131 + i / 251);
    for (int32_t i = 0; i < frames; ++i) {
        std::memcpy(data.data(), &i, sizeof i);
        if (created.writer->writeSample(i, data, i % 25 == 0) != video::AviStatus::Ok)
            return false;
    }
    if (created.writer->finish() != video::AviStatus::Ok)
        return false;
    fs::rename(partial, path);
    return true;
}

// The form types of the file's top-level RIFF chunks ("AVI ", "AVIX", ...).
std::string riffParts(const std::string& path)
{
    std::string parts;
    std::ifstream in(path, std::ios::binary);
    int64_t offset = 0;
    for (;;) {
        std::array<unsigned char, 12> header{};
        in.seekg(offset);
        if (!in.read(reinterpret_cast<char*>(header.data()), 12) ||
            std::memcmp(header.data(), "RIFF", 4) != 0)
            break;
        const uint32_t size =
            header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
        parts +=
            (parts.empty() ? "" : ", ") + std::string(reinterpret_cast<const char*>(header.data() + 8), 4);
        offset += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    return parts;
}

double megabytesPerSecond(int64_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1048576.0 / seconds : 0;
}

} // namespace

int main()
{
    // Single runs vary a lot on a shared machine (write-back of earlier runs): each ratio is taken
    // within a pair, and the median of the pairs is the figure that counts.
    constexpr int kPairs = 9;
    const std::string dir = bench::mediaDir();
    const std::string fmPath = bench::makeEncodedFilm("fm-90min-mpeg4.avi", 1020);
    const std::string lmPath = bench::makeEncodedFilm("lm-90min-mpeg4.avi", 506);
    const std::string finalPath = dir + "/final.avi";
    const std::string ddPath = dir + "/dd.bin";
    const std::string outputPath = dir + "/output.txt";
    const int32_t fmFrames = frameCount(fmPath);
    const int32_t lmFrames = frameCount(lmPath);

    const auto create = [&](const std::vector<std::string>& extra) {
        fs::remove(finalPath);
        std::vector<std::string> args = {KESTRELION_CLI, "create",  "--fm",    fmPath,   "--lm",
                                         lmPath,         "--final", finalPath, "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram(args, outputPath);
    };
    const auto copy = [&](int64_t bytes) {
        fs::remove(ddPath);
        return runProgram({"dd", "if=" + fmPath, "of=" + ddPath, "bs=2M", "count=" + std::to_string(bytes),
                           "iflag=count_bytes", "status=none"},
                          outputPath);
    };

    std::printf("machine: %s\n", bench::machineName().c_str());
    std::printf("sources: FM %.1f MB, LM %.1f MB, %d and %d frames\n", fs::file_size(fmPath) / 1e6,
                fs::file_size(lmPath) / 1e6, fmFrames, lmFrames);

    // Warm cache: Create with the usual settings against dd of as many bytes as the Final AVI
    // holds. One untimed run of each first, so both start equally warmed up.
    warm(fmPath);
    warm(lmPath);
    const ChildRun first = create({});
    if (!first.ok) {
        std::fprintf(stderr, "Create failed: %s\n", first.output.c_str());
        return 1;
    }
    const auto finalSize = static_cast<int64_t>(fs::file_size(finalPath));
    (void)copy(finalSize);
    std::printf("Final AVI: %.1f MB, %.1f MB of them samples\n", finalSize / 1e6,
                copiedBytes(first.output) / 1e6);
    std::vector<double> ratios, createSeconds, ddSeconds, createCpu, ddCpu;
    long peakRss = first.maxRssKiB;
    for (int pair = 1; pair <= kPairs; ++pair) {
        // The order alternates, so neither always runs right after the other's writes.
        ChildRun created, copied;
        if (pair % 2 == 1) {
            created = create({});
            copied = copy(finalSize);
        } else {
            copied = copy(finalSize);
            created = create({});
        }
        if (!created.ok || !copied.ok) {
            std::fprintf(stderr, "pair %d failed\n", pair);
            return 1;
        }
        ratios.push_back(copied.seconds / created.seconds);
        createSeconds.push_back(created.seconds);
        ddSeconds.push_back(copied.seconds);
        createCpu.push_back(created.cpuSeconds);
        ddCpu.push_back(copied.cpuSeconds);
        peakRss = std::max(peakRss, created.maxRssKiB);
        std::printf(
            "pair %d: Create %.3f s (%.0f MB/s, CPU %.3f s), dd %.3f s (%.0f MB/s, CPU %.3f s): %.0f %%\n",
            pair, created.seconds, megabytesPerSecond(finalSize, created.seconds), created.cpuSeconds,
            copied.seconds, megabytesPerSecond(finalSize, copied.seconds), copied.cpuSeconds,
            100 * ratios.back());
    }
    const bench::Spread ratio = bench::spreadOf(ratios);
    const bench::Spread createTime = bench::spreadOf(createSeconds);
    const bench::Spread ddTime = bench::spreadOf(ddSeconds);
    std::printf("warm cache, %d pairs: Create runs at %.0f %% of dd's throughput, median (%.0f .. %.0f %%), "
                "goal >= 90 %% %s\n",
                kPairs, 100 * ratio.median, 100 * ratio.low, 100 * ratio.high,
                ratio.median >= 0.9 ? "ok" : "BELOW GOAL");
    std::printf("  median times: Create %.3f s (%.3f .. %.3f), dd %.3f s (%.3f .. %.3f)\n", createTime.median,
                createTime.low, createTime.high, ddTime.median, ddTime.low, ddTime.high);
    std::printf("  median CPU time: Create %.3f s, dd %.3f s\n", bench::spreadOf(createCpu).median,
                bench::spreadOf(ddCpu).median);

    // Cold cache, with a plan that takes about half the groups from each source, so groups are
    // skipped in both: bytes read from storage against the sample bytes copied.
    const int32_t limit = limitForHalfTheGroups(fmPath, outputPath);
    ::sync();
    const bool dropped = dropAllCaches();
    coolDown(fmPath);
    coolDown(lmPath);
    const ChildRun cold = create({"--limit", std::to_string(limit)});
    const int64_t coldCopied = copiedBytes(cold.output);
    if (!cold.ok || coldCopied <= 0)
        return 1;
    peakRss = std::max(peakRss, cold.maxRssKiB);
    const double readRatio = static_cast<double>(cold.readBytes) / static_cast<double>(coldCopied);
    std::printf("cold cache (%s), --limit %d (groups from FM and LM in turn): %.1f MB read from storage for "
                "%.1f MB copied: %.3f x, goal <= 1.1 %s; %.0f MB/s\n",
                dropped ? "caches dropped" : "source pages dropped with POSIX_FADV_DONTNEED", limit,
                cold.readBytes / 1e6, coldCopied / 1e6, readRatio, readRatio <= 1.1 ? "ok" : "OVER",
                megabytesPerSecond(static_cast<int64_t>(fs::file_size(finalPath)), cold.seconds));

    const double budgetMiB = 16.0 + 32.0 * (fmFrames + lmFrames) / 1048576.0;
    std::printf("peak memory of Create: %.1f MiB, goal <= %.1f MiB (16 MiB + 32 B x %d source frames) %s\n",
                peakRss / 1024.0, budgetMiB, fmFrames + lmFrames,
                peakRss / 1024.0 <= budgetMiB ? "ok" : "OVER");
    fs::remove(ddPath);

    // A Final AVI above 1 GB: every frame of a large source.
    const std::string bigPath = dir + "/large-30000.avi";
    constexpr int32_t kBigFrames = 30000;
    if (!makeLargeSource(bigPath, kBigFrames, 40000))
        return 1;
    warm(bigPath);
    fs::remove(finalPath);
    const ChildRun big = runProgram(
        {KESTRELION_CLI, "create", "--fm", bigPath, "--lm", bigPath, "--final", finalPath, "--quiet"},
        outputPath);
    const ChildRun packets =
        runProgram({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "v", "-show_entries",
                    "stream=nb_read_packets", "-of", "csv=p=0", finalPath},
                   outputPath);
    std::printf("large Final AVI: %s, %.1f MB, RIFF parts: %s; ffprobe counts %s of %d frames\n",
                big.ok ? "written" : "FAILED", fs::file_size(finalPath) / 1e6, riffParts(finalPath).c_str(),
                packets.output.empty() ? "nothing"
                                       : packets.output.substr(0, packets.output.find('\n')).c_str(),
                kBigFrames);
    fs::remove(finalPath);
    fs::remove(outputPath);
    return 0;
}
